#include <gtest/gtest.h>

#include <array>

#include "browser/TreeCommands.h"
#include "widgets/CommandTarget.h"
#include "workspace/CKestrelDoc.h"

using namespace Browse;

TEST(BrowseRules, TreeCommandsEnabledFromFlags)
{
    struct Case {
        std::array<int, 4> flags;  // folder, table, catalogue, view
        bool create, edit, drop;
    };
    const Case cases[] = {
        {{0, 0, 0, 0}, false, false, false}, {{1, 0, 0, 0}, true, false, false},
        {{0, 1, 0, 0}, true, true, true},    {{0, 0, 0, 1}, false, true, false},
        {{0, 0, 1, 0}, false, true, false},
    };
    for (const Case& c : cases) {
        CKestrelDoc doc;
        doc.folderFlag = c.flags[0];
        doc.tableFlag = c.flags[1];
        doc.catalogueFlag = c.flags[2];
        doc.viewFlag = c.flags[3];
        SCOPED_TRACE(testing::PrintToString(c.flags));
        EXPECT_EQ(TreeCommandEnabled(Cmd::TableCreate, doc), c.create);
        EXPECT_EQ(TreeCommandEnabled(Cmd::TableEdit, doc), c.edit);
        EXPECT_EQ(TreeCommandEnabled(Cmd::CsvExport, doc), c.edit);
        EXPECT_EQ(TreeCommandEnabled(Cmd::TableDrop, doc), c.drop);
        EXPECT_TRUE(TreeCommandEnabled(Cmd::DatabaseCreate, doc));
        EXPECT_TRUE(TreeCommandEnabled(Cmd::CsvImport, doc));
    }
}
