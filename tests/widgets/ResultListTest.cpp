#include <gtest/gtest.h>

#include "support/TestServer.h"
#include "widgets/ResultList.h"

TEST(ResultModel, ShowsColumnsRowsAndNulls)
{
    auto conn = TestServer::connect();
    ResultList list;
    FillListFromResult(&list, conn->exec(QStringLiteral("select 1 as a, 'x'::text as b, null::int as c where false")));
    ResultModel* m = list.resultModel();
    EXPECT_EQ(m->columnCount(), 3);
    EXPECT_EQ(m->rowCount(), 0);
    EXPECT_EQ(m->headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("c"));
    EXPECT_EQ(list.columnWidth(0), 100);

    FillListFromResult(&list, conn->exec(QStringLiteral(
        "select g as n, case when g % 2 = 0 then null else 'v' || g end as v from generate_series(1, 6) g")));
    EXPECT_EQ(m->rowCount(), 6);
    EXPECT_EQ(m->text(0, 1), QStringLiteral("v1"));
    EXPECT_EQ(m->text(1, 1), QString());  // null shows empty
    EXPECT_EQ(m->data(m->index(1, 1), Qt::TextAlignmentRole).toInt(), int(Qt::AlignLeft | Qt::AlignVCenter));

    // Rows removed and cells overwritten after the fact.
    m->removeRowsAt({4, 1});
    ASSERT_EQ(m->rowCount(), 4);
    EXPECT_EQ(m->text(0, 0), QStringLiteral("1"));
    EXPECT_EQ(m->text(1, 0), QStringLiteral("3"));
    EXPECT_EQ(m->text(3, 0), QStringLiteral("6"));
    m->setText(1, 1, QStringLiteral("changed"));
    EXPECT_EQ(m->text(1, 1), QStringLiteral("changed"));
    m->removeRowsAt({0});
    EXPECT_EQ(m->text(0, 1), QStringLiteral("changed"));

    // A failed query leaves the list without columns.
    FillListFromResult(&list, conn->exec(QStringLiteral("select * from no_such_table")));
    EXPECT_EQ(m->columnCount(), 0);
    EXPECT_EQ(m->rowCount(), 0);
}

TEST(ResultModel, TranslatesCells)
{
    auto conn = TestServer::connect();
    ResultList list;
    FillListFromResult(&list, conn->exec(QStringLiteral("select 'a' as x, true as y")),
                       [](int col, const QString& v) {
                           return col == 1 ? (v == QLatin1String("t") ? QStringLiteral("True")
                                                                      : QStringLiteral("False"))
                                           : v;
                       });
    EXPECT_EQ(list.resultModel()->text(0, 0), QStringLiteral("a"));
    EXPECT_EQ(list.resultModel()->text(0, 1), QStringLiteral("True"));
}
