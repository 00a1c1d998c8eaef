#include "TableInfoFixture.h"

#include <QTableWidget>

#include "transfer/CTableInfoDlg.h"

namespace {

class IndexKeysTest : public TableInfoFixture {};

// The key columns of every index of a table come from one statement however many indexes and
// key positions there are; an index's keys end at its first expression, as they always did.
TEST_F(IndexKeysTest, OneStatementGivesTheKeysOfEveryIndex)
{
    run("CREATE SCHEMA ti_s");
    run("CREATE TABLE ti_s.ti_m (gone int, a int, b int, \"Mixed Col\" int, d int, e text)");
    run("ALTER TABLE ti_s.ti_m DROP COLUMN gone");
    struct Case {
        const char* index;
        const char* definition;  // after "CREATE INDEX <index> ON ti_s.ti_m "
        const char* keys;        // "対象フィールド"
        bool unique;
    };
    const std::vector<Case> cases = {
        {"ti_m_1", "(a, b)", "a  b  ", false},
        {"ti_m_2", "(\"Mixed Col\", d, a)", "Mixed Col  d  a  ", true},
        {"ti_m_3", "(lower(e), a)", "", false},
        {"ti_m_4", "(a, lower(e), b)", "a  ", false},
        {"ti_m_5", "(d) WHERE d > 0", "d  ", false},
        {"ti_m_6", "(b, (d + 1), \"Mixed Col\")", "b  ", false},
        {"ti_m_7", "(e)", "e  ", false},
    };
    for (const Case& c : cases)
        run(QStringLiteral("CREATE %1INDEX %2 ON ti_s.ti_m %3").arg(c.unique ? "UNIQUE " : "", c.index, c.definition));

    StatementLog log(*conn);
    CTableInfoDlg dlg(*conn, ObjectName{"ti_s", "ti_m", false}, QStringLiteral("postgres"));
    auto* list = dlg.findChild<QTableWidget*>("indexList");
    ASSERT_EQ(list->rowCount(), int(cases.size()));
    for (int row = 0; row < list->rowCount(); ++row) {
        const Case& c = cases[row];
        SCOPED_TRACE(c.index);
        EXPECT_EQ(list->item(row, 0)->text(), QString::fromUtf8(c.index));
        EXPECT_EQ(list->item(row, list->columnCount() - 1)->text(), QString::fromUtf8(c.keys));
    }
    // Each column bears the mark of the last index (by name) whose keys name it: "Mixed Col"
    // stays unique since ti_m_6's keys end at its expression.
    QList<int> images;
    for (int r = 0; r < 5; ++r) images << dlg.columnImage(r);
    EXPECT_EQ(images, (QList<int>{3, 3, 2, 3, 3}));
    EXPECT_EQ(log.statements().filter(QStringLiteral("indkey")).size(), 1)
        << log.statements().join(u'\n').toStdString();
}

}  // namespace
