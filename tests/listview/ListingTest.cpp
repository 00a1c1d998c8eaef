#include "ListViewFixture.h"

#include "app/CommandTarget.h"

namespace {

class ListingTest : public ListViewFixture {
protected:
    void SetUp() override
    {
        ListViewFixture::SetUp();
        TestServer::run(*admin, QStringLiteral("DROP VIEW IF EXISTS lv_page_v"));
        TestServer::run(*admin, QStringLiteral("DROP TABLE IF EXISTS lv_page, \"Lv Mixed\", \"order\""));
        TestServer::run(*admin, QStringLiteral("CREATE TABLE lv_page (id int, name text)"));
        TestServer::run(*admin, QStringLiteral("CREATE INDEX lv_page_idx ON lv_page (id)"));
        TestServer::run(*admin, QStringLiteral(
            "INSERT INTO lv_page SELECT g, 'n' || g FROM generate_series(1, 5) g"));
        TestServer::run(*admin, QStringLiteral("CREATE VIEW lv_page_v AS SELECT name, id FROM lv_page"));
        TestServer::run(*admin, QStringLiteral("CREATE TABLE \"Lv Mixed\" (\"Value\" text)"));
        TestServer::run(*admin, QStringLiteral("INSERT INTO \"Lv Mixed\" VALUES ('m')"));
        TestServer::run(*admin, QStringLiteral("CREATE TABLE \"order\" (x int)"));
    }
    void TearDown() override
    {
        TestServer::run(*admin, QStringLiteral("DROP VIEW IF EXISTS lv_page_v"));
        TestServer::run(*admin, QStringLiteral("DROP TABLE IF EXISTS lv_page, \"Lv Mixed\", \"order\""));
    }
};

TEST_F(ListingTest, TableRowsPageByPage)
{
    StatementLog log(*doc.connection());
    doc.pageIndex = 2;
    doc.nodeDepth = 3;
    doc.parentCaption = kTablesFolder;
    doc.nodeCaption = doc.objectName = QStringLiteral("lv_page");
    view->onUpdate();
    selectTable(QStringLiteral("lv_page"));
    EXPECT_EQ(log.statements(),
              (QStringList{"select ctid,* from lv_page Limit 1000 OFFSET 2000",
                           "select ctid,* from lv_page Limit 1000"}));
    EXPECT_EQ(heading(0), QStringLiteral("ctid"));
    EXPECT_EQ(column(1), (QStringList{"1", "2", "3", "4", "5"}));
    EXPECT_EQ(view->contentsColumnCount(), 3);

    doc.pageLength = 2;
    log.clear();
    view->runCommand(Cmd::PreviousPage);  // on page 0: nothing
    EXPECT_TRUE(log.statements().isEmpty());
    view->runCommand(Cmd::NextPage);
    view->runCommand(Cmd::NextPage);
    EXPECT_EQ(doc.pageIndex, 2);
    EXPECT_EQ(column(1), QStringList{"5"});
    view->runCommand(Cmd::NextPage);  // past the last row: an empty page
    EXPECT_EQ(rows(), 0);
    view->runCommand(Cmd::PreviousPage);
    EXPECT_EQ(column(1), QStringList{"5"});
    EXPECT_EQ(log.statements().last(), QStringLiteral("select ctid,* from lv_page Limit 2 OFFSET 4"));

    // A new selection starts at the first page again.
    selectTable(QStringLiteral("lv_page"));
    EXPECT_EQ(column(1), (QStringList{"1", "2"}));

    // Names that are not plain lower-case identifiers are quoted.
    selectTable(QStringLiteral("Lv Mixed"));
    EXPECT_EQ(column(1), QStringList{"m"});
    selectTable(QStringLiteral("order"));
    EXPECT_EQ(columns(), 2);
    EXPECT_EQ(log.statements().mid(log.statements().size() - 2),
              (QStringList{"select ctid,* from \"Lv Mixed\" Limit 2",
                           "select ctid,* from \"order\" Limit 2"}));

    // Paging does nothing while no table or view rows are shown.
    selectFolder(kTablesFolder);
    log.clear();
    view->runCommand(Cmd::NextPage);
    EXPECT_TRUE(log.statements().isEmpty());
    EXPECT_EQ(doc.pageIndex, 0);
}

TEST_F(ListingTest, ViewAndCatalogueRowsHaveNoRowIdentity)
{
    StatementLog log(*doc.connection());
    selectView(QStringLiteral("lv_page_v"));
    EXPECT_EQ(log.statements(), QStringList{"select * from lv_page_v Limit 1000"});
    EXPECT_EQ(heading(0), QStringLiteral("name"));
    EXPECT_EQ(rowWith(1, QStringLiteral("3")), (QStringList{"n3", "3"}));

    select(2, QStringLiteral("pg_am"), kCatalogueNode);
    EXPECT_EQ(log.statements().last(), QStringLiteral("select * from pg_am Limit 1000"));
    EXPECT_EQ(heading(0), QStringLiteral("oid"));
    EXPECT_FALSE(rowWith(1, QStringLiteral("btree")).isEmpty());
}

TEST_F(ListingTest, CatalogueSummariesWithTheirTranslations)
{
    StatementLog log(*doc.connection());
    selectFolder(kTablesFolder);
    EXPECT_EQ(heading(0), QStringLiteral("テーブル名"));
    EXPECT_EQ(rowWith(0, QStringLiteral("lv_page")),
              (QStringList{"lv_page", "postgres", "True", "False", "False"}));

    // The users listing is reached from the host's node and from the database's folder.
    select(1, kUsersNode, QStringLiteral("ホスト(127.0.0.1)"));
    const QStringList fromHost = rowWith(0, QStringLiteral("postgres"));
    selectFolder(kUsersNode);
    EXPECT_EQ(rowWith(0, QStringLiteral("postgres")), fromHost);
    ASSERT_EQ(fromHost.size(), 7);
    EXPECT_EQ(fromHost.mid(2, 4),
              (QStringList{"作成可能", "トレース不可", "スーパユーザ", "修正不可"}));
    EXPECT_EQ(heading(3), QStringLiteral("トレース"));

    selectFolder(kIndexesFolder);
    EXPECT_EQ(rowWith(1, QStringLiteral("lv_page_idx")).value(0), QStringLiteral("lv_page"));
    selectFolder(kViewsFolder);
    EXPECT_EQ(rowWith(0, QStringLiteral("lv_page_v")).value(1), QStringLiteral("postgres"));

    selectFolder(kTypesFolder);
    EXPECT_EQ(heading(0), QStringLiteral("デ－タ型名"));
    const QStringList int4 = rowWith(0, QStringLiteral("int4"));
    ASSERT_EQ(int4.size(), 8);
    EXPECT_EQ(int4[2], QStringLiteral("4"));
    EXPECT_EQ(int4[3], QStringLiteral("値渡し"));
    EXPECT_EQ(int4[4], QStringLiteral("0"));  // the delimiter ","
    EXPECT_EQ(int4[7], QStringLiteral("INT alignment"));
    const QStringList text = rowWith(0, QStringLiteral("text"));
    EXPECT_EQ(text.value(2), QStringLiteral("可変長"));
    EXPECT_EQ(text.value(3), QStringLiteral("参照渡し"));
    EXPECT_EQ(rowWith(0, QStringLiteral("float8")).value(7), QStringLiteral("DOUBLE alignment"));
    EXPECT_EQ(rowWith(0, QStringLiteral("int2")).value(7), QStringLiteral("SHORT alignment"));
    EXPECT_EQ(rowWith(0, QStringLiteral("bool")).value(7), QStringLiteral("CHAR alignment"));

    // Folders without a listing show nothing and send nothing.
    log.clear();
    selectFolder(QStringLiteral("ファンクション"));
    EXPECT_EQ(columns(), 0);
    EXPECT_TRUE(log.statements().isEmpty());
    EXPECT_TRUE(prompts.shown().isEmpty());
}

TEST_F(ListingTest, FailedTablesListingShowsTheServerText)
{
    selectFolder(kTablesFolder);
    TestServer::run(*admin, QStringLiteral("select pg_terminate_backend(%1)")
                                .arg(doc.connection()->backendPid()));
    view->runCommand(Cmd::Refresh);
    EXPECT_EQ(columns(), 0);
    ASSERT_EQ(prompts.shown().size(), 1);
    EXPECT_EQ(prompts.shown()[0].kind, BoxKind::Application);
    EXPECT_EQ(prompts.shown()[0].text, doc.connection()->errorMessage());
    EXPECT_FALSE(prompts.shown()[0].text.isEmpty());
}

// Three sequences in a database of their own, so no other sequence joins the listing.
class SequenceListingTest : public ListViewFixture {
protected:
    void SetUp() override
    {
        auto setup = TestServer::connect();
        TestServer::run(*setup, QStringLiteral("DROP DATABASE IF EXISTS lv_seqdb WITH (FORCE)"));
        TestServer::run(*setup, QStringLiteral("CREATE DATABASE lv_seqdb"));
        login = TestServer::loginAs(login.userName, {}, QStringLiteral("lv_seqdb"));
        ListViewFixture::SetUp();
        auto db = TestServer::connect(login);
        TestServer::run(*db, QStringLiteral("CREATE SEQUENCE lv_a"));
        TestServer::run(*db, QStringLiteral("CREATE SEQUENCE \"Lv B\" INCREMENT 5"));
        TestServer::run(*db, QStringLiteral("CREATE SEQUENCE lv_c START 42"));
        TestServer::run(*db, QStringLiteral("select nextval('lv_a')"));
    }
    void TearDown() override
    {
        view.reset();
        TestServer::run(*admin, QStringLiteral("DROP DATABASE IF EXISTS lv_seqdb WITH (FORCE)"));
    }
};

TEST_F(SequenceListingTest, OneRowFromEachSequence)
{
    selectFolder(kSequencesFolder);
    ASSERT_EQ(rows(), 3);
    EXPECT_EQ(heading(0), QStringLiteral("sequence_name"));
    EXPECT_EQ(heading(2), QStringLiteral("increment_by"));
    EXPECT_EQ(columns(), 9);
    EXPECT_EQ(rowWith(0, QStringLiteral("lv_a")).value(1), QStringLiteral("1"));
    EXPECT_EQ(rowWith(0, QStringLiteral("Lv B")).value(2), QStringLiteral("5"));
    EXPECT_EQ(rowWith(0, QStringLiteral("lv_c")).value(1), QStringLiteral("42"));

    // Back to a listing over a single result.
    selectFolder(kTablesFolder);
    EXPECT_EQ(heading(0), QStringLiteral("テーブル名"));
}

}  // namespace
