#include <gtest/gtest.h>

#include "workspace/BrowseRules.h"
#include "workspace/CKestrelDoc.h"

using namespace Browse;

namespace {

const QString kDb = QStringLiteral("データベース(shop)");

// folder, table, catalogue, view
std::array<int, 4> flagsOf(const CKestrelDoc& doc)
{
    return {doc.folderFlag, doc.tableFlag, doc.catalogueFlag, doc.viewFlag};
}

}  // namespace

TEST(BrowseRules, SelectionsWriteFlagsAndKeepTheLastObjectName)
{
    CKestrelDoc doc;
    struct Step {
        NodePlace node;
        NodeKind kind;
        std::array<int, 4> flags;
        const char* objectName;
    };
    const Step steps[] = {
        {{QStringLiteral("items"), kTablesFolder, 3, 8}, NodeKind::Table, {0, 1, 0, 0}, "items"},
        {{QStringLiteral("インデックス"), kDb, 2, 4}, NodeKind::Other, {0, 0, 0, 0}, "items"},
        {{kViewsFolder, kDb, 2, 4}, NodeKind::ObjectFolder, {1, 0, 0, 0}, "items"},
        {{QStringLiteral("v1"), kViewsFolder, 3, 6}, NodeKind::View, {0, 0, 0, 1}, "v1"},
        {{QStringLiteral("pg_class"), kCatalogueNode, 2, 2}, NodeKind::CatalogueRelation,
         {0, 0, 1, 0}, "pg_class"},
        // Only the database node holds object folders; the host's "ユーザ" is no folder either.
        {{kTablesFolder, kOtherDatabasesNode, 2, 4}, NodeKind::Other, {0, 0, 0, 0}, "pg_class"},
        {{kUsersNode, QStringLiteral("ホスト(db1)"), 1, 0}, NodeKind::Other, {0, 0, 0, 0}, "pg_class"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.node.caption.toStdString());
        doc.pageIndex = 3;
        EXPECT_EQ(RecordSelection(doc, s.node), s.kind);
        EXPECT_EQ(flagsOf(doc), s.flags);
        EXPECT_EQ(doc.objectName, QString::fromUtf8(s.objectName));
        EXPECT_EQ(doc.nodeCaption, s.node.caption);
        EXPECT_EQ(doc.parentCaption, s.node.parentCaption);
        EXPECT_EQ(doc.nodeDepth, s.node.depth);
        EXPECT_EQ(doc.nodeImage, s.node.image);
        EXPECT_EQ(doc.pageIndex, 0);
    }

    // A double click records the node but leaves flags and paging alone.
    RecordSelection(doc, {QStringLiteral("items"), kTablesFolder, 3, 8});
    doc.pageIndex = 3;
    RecordNode(doc, {QStringLiteral("インデックス"), kDb, 2, 4});
    EXPECT_EQ(doc.nodeCaption, QStringLiteral("インデックス"));
    EXPECT_EQ(flagsOf(doc), (std::array<int, 4>{0, 1, 0, 0}));
    EXPECT_EQ(doc.pageIndex, 3);
    EXPECT_TRUE(OpensTableDetail({QStringLiteral("pg_class"), kCatalogueNode, 2, 2}));
    EXPECT_FALSE(OpensTableDetail({kTablesFolder, kDb, 2, 4}));
}

TEST(BrowseRules, OwnerImageComparesExactly)
{
    EXPECT_EQ(ObjectImage(QStringLiteral("postgres")), 6);
    for (const char* other : {"Postgres", "postgres ", "", "alice"})
        EXPECT_EQ(ObjectImage(QString::fromLatin1(other)), 8) << other;
}
