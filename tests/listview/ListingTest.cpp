#include "ListViewFixture.h"

#include "workspace/Catalogue.h"

namespace {

using ListingTest = ListViewFixture;

TEST_F(ListingTest, TableRowsPageByPage)
{
    StatementLog log(*doc.connection());
    select(3, QStringLiteral("LvRec"), kTablesFolder);
    doc.pageIndex = 2;
    view->runCommand(Cmd::Refresh);
    EXPECT_EQ(log.statements(), (QStringList{"select ctid,*,tableoid,xmin from \"LvRec\" Limit 1000",
                                             "select ctid,*,tableoid,xmin from \"LvRec\" Limit 1000 OFFSET 2000"}));

    select(3, QStringLiteral("LvRec"), kTablesFolder);
    EXPECT_EQ(heading(0), QStringLiteral("ctid"));
    EXPECT_EQ(view->contentsColumnCount(), 4);
    doc.pageLength = 2;
    log.clear();
    view->runCommand(Cmd::PreviousPage);  // on the first page: nothing is sent
    EXPECT_TRUE(log.statements().isEmpty());
    view->runCommand(Cmd::NextPage);
    view->runCommand(Cmd::NextPage);
    EXPECT_EQ(column(1), QStringLiteral("5,6"));
    view->runCommand(Cmd::NextPage);  // past the last row
    EXPECT_EQ(rows(), 0);
    view->runCommand(Cmd::PreviousPage);
    // From 14 on the rows before the end are read by their position, before by number.
    if (doc.connection()->serverVersion() >= Catalogue::kTidRangeScanVersion)
        EXPECT_TRUE(log.statements().last().startsWith(
            QStringLiteral("select * from (select ctid,*,tableoid,xmin from \"LvRec\" where ctid >= ")));
    else
        EXPECT_EQ(log.statements().last(), QStringLiteral("select ctid,*,tableoid,xmin from \"LvRec\" Limit 2 OFFSET 4"));
    EXPECT_EQ(column(1), QStringLiteral("5,6"));
    EXPECT_EQ(doc.pageIndex, 2);
    select(3, QStringLiteral("LvRec"), kTablesFolder);  // a new selection starts at page 0
    EXPECT_EQ(column(1), QStringLiteral("1,2"));
}

TEST_F(ListingTest, ViewAndCatalogueRowsHaveNoRowIdentity)
{
    StatementLog log(*doc.connection());
    select(3, QStringLiteral("lv_rec_v"), kViewsFolder);
    select(2, QStringLiteral("pg_am"), kCatalogueNode);
    EXPECT_EQ(log.statements(), (QStringList{"select * from lv_rec_v Limit 1000",
                                             "select * from pg_am Limit 1000"}));
    EXPECT_NE(heading(0), QStringLiteral("ctid"));
    int amname = 0;  // after oid from 12 on, first before
    while (amname < columns() && heading(amname) != QLatin1String("amname")) ++amname;
    EXPECT_FALSE(rowWith(amname, QStringLiteral("btree")).isEmpty());
    select(3, QStringLiteral("lv_rec_v"), kViewsFolder);
    EXPECT_EQ(rowWith(0, QStringLiteral("3")), (QStringList{"3", "n3", "o3"}));
}

TEST_F(ListingTest, CatalogueSummariesWithTheirTranslations)
{
    selectFolder(kTablesFolder);
    EXPECT_EQ(heading(0), QStringLiteral("テーブル名"));
    EXPECT_EQ(rowWith(0, QStringLiteral("LvRec")), (QStringList{"LvRec", "postgres", "False", "False", "False"}));

    // Users: from the host's node and from the database's folder alike.
    select(1, kUsersNode, QStringLiteral("ホスト(127.0.0.1)"));
    const QStringList fromHost = rowWith(0, QStringLiteral("postgres"));
    selectFolder(kUsersNode);
    EXPECT_EQ(rowWith(0, QStringLiteral("postgres")), fromHost);
    EXPECT_EQ(fromHost.mid(2, 4), (QStringList{"作成可能", "トレース不可", "スーパユーザ", "修正不可"}));

    selectFolder(kViewsFolder);
    EXPECT_EQ(rowWith(0, QStringLiteral("lv_rec_v")).value(1), QStringLiteral("postgres"));
    selectFolder(kTypesFolder);
    EXPECT_EQ(heading(0), QStringLiteral("デ－タ型名"));
    EXPECT_EQ(rowWith(0, QStringLiteral("int4")).mid(2),
              (QStringList{"4", "値渡し", "0", "int4in", "int4out", "INT alignment"}));
    EXPECT_EQ(rowWith(0, QStringLiteral("text")).mid(2, 2), (QStringList{"可変長", "参照渡し"}));
    EXPECT_EQ(rowWith(0, QStringLiteral("float8")).value(7), QStringLiteral("DOUBLE alignment"));
    EXPECT_EQ(rowWith(0, QStringLiteral("int2")).value(7), QStringLiteral("SHORT alignment"));
    EXPECT_EQ(rowWith(0, QStringLiteral("bool")).value(7), QStringLiteral("CHAR alignment"));

    selectFolder(QStringLiteral("ファンクション"));  // no listing of its own
    EXPECT_EQ(columns(), 0);
    EXPECT_TRUE(prompts.shown().isEmpty());
}

TEST_F(ListingTest, FailedTablesListingShowsTheServerText)
{
    selectFolder(kTablesFolder);
    // The catalogue is locked by another session and the listing gives up waiting for it.
    TestServer::run(*doc.connection(), QStringLiteral("SET lock_timeout = '100ms'"));
    TestServer::run(*admin, QStringLiteral("BEGIN"));
    TestServer::run(*admin, QStringLiteral("LOCK TABLE pg_catalog.pg_class IN ACCESS EXCLUSIVE MODE"));
    view->runCommand(Cmd::Refresh);
    TestServer::run(*admin, QStringLiteral("ROLLBACK"));
    EXPECT_EQ(columns(), 0);
    ASSERT_EQ(prompts.shown().size(), 1);
    EXPECT_EQ(prompts.shown()[0].kind, BoxKind::Application);
    EXPECT_TRUE(prompts.shown()[0].text.contains(QStringLiteral("lock timeout"))) << prompts.shown()[0].text.toStdString();
}

// In a database of their own, so that no other sequence joins the listing.
class SequenceListingTest : public ListViewFixture {
protected:
    void prepare() override
    {
        TestServer::run(*admin, QStringLiteral("CREATE DATABASE ") + database(QStringLiteral("lv_seqdb")));
        login = TestServer::superuserLogin(QStringLiteral("lv_seqdb"));
        auto db = TestServer::connect(login);
        TestServer::run(*db, QStringLiteral("CREATE SEQUENCE lv_a; CREATE SEQUENCE \"Lv B\" INCREMENT 5; "
                                            "CREATE SEQUENCE lv_c START 42"));
    }
};

TEST_F(SequenceListingTest, OneRowFromEachSequence)
{
    selectFolder(kSequencesFolder);
    EXPECT_EQ(rows(), 3);
    EXPECT_EQ(columns(), 9);
    EXPECT_EQ(heading(2), QStringLiteral("increment_by"));
    EXPECT_EQ(rowWith(0, QStringLiteral("Lv B")).value(2), QStringLiteral("5"));
    EXPECT_EQ(rowWith(0, QStringLiteral("lv_c")).value(1), QStringLiteral("42"));
    selectFolder(kTablesFolder);  // back to a listing over one result
    EXPECT_EQ(heading(0), QStringLiteral("テーブル名"));
}

}  // namespace

namespace {

// A sequence outside the search path is listed too, and one that cannot be read is left out
// without hiding those after it.
TEST_F(SequenceListingTest, SequencesOfEverySchemaAndNoStopAtAnUnreadableOne)
{
    const QString reader = role(QStringLiteral("lv_seq_reader"));
    auto db = TestServer::connect(login);
    TestServer::run(*admin, QStringLiteral("CREATE ROLE %1 LOGIN").arg(reader));
    TestServer::run(*db, QStringLiteral("CREATE SCHEMA lv_out; CREATE SEQUENCE lv_out.lv_a START 9; "
                                        "GRANT USAGE ON SCHEMA lv_out TO %1; "
                                        "GRANT SELECT ON lv_a, lv_out.lv_a TO %1").arg(reader));
    ASSERT_TRUE(logIn(doc, TestServer::loginAs(reader, {}, login.databaseName)));
    selectFolder(kSequencesFolder);
    QStringList shown;
    for (int r = 0; r < rows(); ++r) {
        const ObjectName o = view->listedSequence(r);
        shown << view->cellText(r, 0) + u'/' + view->cellText(r, 1) + u'/' + o.caption();
    }
    shown.sort();
    EXPECT_EQ(shown, (QStringList{"lv_a/1/lv_a", "lv_out.lv_a/9/lv_out.lv_a"}));
}

}  // namespace
