#include "ListViewFixture.h"

#include <QSet>

#include "workspace/Catalogue.h"

namespace {

// lv_page holds ids 1..N in slot order; another session (admin) changes it between steps.
class PagingTest : public ListViewFixture {
protected:
    void SetUp() override
    {
        ListViewFixture::SetUp();
        if (HasFatalFailure()) return;
        TestServer::run(*admin, QStringLiteral("CREATE TABLE lv_page (id int, pad text)"));
        byPosition = doc.connection()->serverVersion() >= Catalogue::kTidRangeScanVersion;
    }
    void cleanUp() override
    {
        ListViewFixture::cleanUp();
        TestServer::run(*admin, QStringLiteral("DROP TABLE IF EXISTS lv_page"));
    }
    void fill(int rows)
    {
        TestServer::run(*admin, QStringLiteral("INSERT INTO lv_page SELECT g, repeat('x', 200) "
                                               "FROM generate_series(1, %1) g").arg(rows));
    }
    void change(const QString& sql) { TestServer::run(*admin, sql); }
    QStringList ids() const { return rows() ? column(1).split(u',') : QStringList(); }
    QString firstIdOfTable() { return value(QStringLiteral("select id::text from lv_page where ctid = (select min(ctid) from lv_page)")); }

    bool byPosition = false;
};

// Walks forward to the empty page past the end, then back to page 0, while another session
// deletes rows ahead of and behind the page shown and inserts rows (after a VACUUM, into the
// freed slots too). Every row present throughout shows exactly once on each walk, none twice.
TEST_F(PagingTest, ForwardAndBackWhileAnotherSessionInsertsAndDeletes)
{
    fill(400);
    doc.pageLength = 25;
    StatementLog log(*doc.connection());
    select(3, QStringLiteral("lv_page"), kTablesFolder);
    QSet<int> deleted;
    int nextInserted = 10000;
    auto disturb = [&](int step) {
        const int ahead = 37 + step * 29, behind = 3 + step * 11;
        for (int id : {ahead, behind}) {
            change(QStringLiteral("DELETE FROM lv_page WHERE id = %1").arg(id));
            deleted << id;
        }
        if (step % 4 == 0) change(QStringLiteral("VACUUM lv_page"));
        change(QStringLiteral("INSERT INTO lv_page SELECT g, 'new' FROM generate_series(%1, %2) g")
                   .arg(nextInserted).arg(nextInserted + 4));
        nextInserted += 5;
    };
    auto checkWalk = [&](const QList<QStringList>& pages) {
        QMap<int, int> seen;
        for (const QStringList& page : pages)
            for (const QString& id : page) ++seen[id.toInt()];
        for (auto it = seen.cbegin(); it != seen.cend(); ++it)
            EXPECT_EQ(it.value(), 1) << "id " << it.key() << " shown twice";
        for (int id = 1; id <= 400; ++id)
            if (!deleted.contains(id)) EXPECT_TRUE(seen.contains(id)) << "id " << id << " left out";
    };

    QList<QStringList> forward{ids()};
    int step = 0;
    while (!forward.last().isEmpty()) {
        disturb(step++);
        view->runCommand(Cmd::NextPage);
        ASSERT_EQ(doc.pageIndex, step);
        forward << ids();
        ASSERT_LT(step, 40);
    }
    if (!byPosition) {
        // Before 14 the pages are read by their number, as always.
        EXPECT_EQ(log.statements().value(1),
                  QStringLiteral("select ctid,*,tableoid,xmin from lv_page Limit 25 OFFSET 25"));
        return;
    }
    checkWalk(forward);
    EXPECT_TRUE(log.statements().value(2).startsWith(
        QStringLiteral("select ctid,*,tableoid,xmin from lv_page where ctid > '(")))
        << log.statements().value(2).toStdString();

    QList<QStringList> backward;
    while (doc.pageIndex > 0) {
        const int index = doc.pageIndex;
        disturb(step++);
        view->runCommand(Cmd::PreviousPage);
        // One page back; page 0 is the page that starts the table, and only that one.
        if (doc.pageIndex != 0) EXPECT_EQ(doc.pageIndex, std::max(1, index - 1));
        backward.prepend(ids());
        ASSERT_FALSE(backward.first().isEmpty());
        ASSERT_LT(step, 90);
    }
    EXPECT_EQ(backward.first().value(0), firstIdOfTable());
    checkWalk(backward);
    log.clear();
    view->runCommand(Cmd::PreviousPage);  // page 0: nothing is sent
    EXPECT_TRUE(log.statements().isEmpty());
}

// A previous page whose rows lie far before the page shown (a long run of deleted rows in
// between) is still the page of rows just before it, and the page number goes down by one.
TEST_F(PagingTest, PreviousPageReachesOverDeletedRows)
{
    fill(2000);
    doc.pageLength = 10;
    select(3, QStringLiteral("lv_page"), kTablesFolder);
    doc.pageIndex = 149;
    view->runCommand(Cmd::Refresh);  // a page number set in the bar: read by its number
    ASSERT_EQ(ids().value(0), QStringLiteral("1491"));
    change(QStringLiteral("DELETE FROM lv_page WHERE id BETWEEN 1200 AND 1490"));
    view->runCommand(Cmd::PreviousPage);
    EXPECT_EQ(doc.pageIndex, 148);
    // By number the page would hold ids 1781..1790 now that 291 rows before it are gone.
    EXPECT_EQ(column(1), byPosition ? QStringLiteral("1190,1191,1192,1193,1194,1195,1196,1197,1198,1199")
                                    : QStringLiteral("1772,1773,1774,1775,1776,1777,1778,1779,1780,1781"));
    view->runCommand(Cmd::NextPage);
    EXPECT_EQ(ids().value(0), byPosition ? QStringLiteral("1491") : QStringLiteral("1782"));
}

// Where rows cannot be found by their slot alone (a view; a parent whose children's slots
// repeat its own), pages are read by their number on every server, as before.
TEST_F(PagingTest, ViewsAndParentsOfOtherTablesPageByNumber)
{
    TestServer::run(*admin, QStringLiteral("CREATE TABLE lv_parent (id int, v text)"));
    TestServer::run(*admin, QStringLiteral("CREATE TABLE lv_child () INHERITS (lv_parent)"));
    TestServer::run(*admin, QStringLiteral("INSERT INTO lv_parent VALUES (1,'p'),(2,'p'),(3,'p'); "
                                           "INSERT INTO lv_child VALUES (4,'c'),(5,'c'),(6,'c')"));
    doc.pageLength = 2;
    struct Case {
        QString relation, parent;
        QStringList pages;  // the first column of pages 2 and 3 (ctid comes first in a table's)
        int idColumn;
    };
    const QList<Case> cases = {
        {QStringLiteral("lv_rec_v"), kViewsFolder, {"3,4", "5,6"}, 0},
        {QStringLiteral("lv_parent"), kTablesFolder, {"3,4", "5,6"}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.relation.toStdString());
        select(3, c.relation, c.parent);
        StatementLog log(*doc.connection());
        view->runCommand(Cmd::NextPage);
        EXPECT_EQ(column(c.idColumn), c.pages.value(0));
        view->runCommand(Cmd::NextPage);
        EXPECT_EQ(column(c.idColumn), c.pages.value(1));
        view->runCommand(Cmd::PreviousPage);
        EXPECT_EQ(column(c.idColumn), c.pages.value(0));
        EXPECT_EQ(doc.pageIndex, 1);
        const QString head = c.idColumn ? QStringLiteral("select ctid,*,tableoid,xmin from %1")
                                        : QStringLiteral("select * from %1");
        QStringList pageStatements;
        for (const QString& s : log.statements())
            if (!s.contains(u"pg_class")) pageStatements << s;
        EXPECT_EQ(pageStatements, (QStringList{head.arg(c.relation) + " Limit 2 OFFSET 2",
                                               head.arg(c.relation) + " Limit 2 OFFSET 4",
                                               head.arg(c.relation) + " Limit 2 OFFSET 2"}));
    }
}

TEST(PagePositionStatements, SlotsAndTheirStatements)
{
    EXPECT_EQ(ParseRowSlot(QStringLiteral("(12,3)"))->text(), QStringLiteral("(12,3)"));
    EXPECT_EQ(ParseRowSlot(QStringLiteral("(4294967295,65535)"))->block, 4294967295LL);
    for (const char* bad : {"", "(1,)", "1,2", "(a,1)", "(1,2) "})
        EXPECT_FALSE(ParseRowSlot(QString::fromUtf8(bad))) << bad;
    EXPECT_TRUE(RowSlot({2, 9}) < RowSlot({10, 1}));
    EXPECT_FALSE(RowSlot({2, 9}) < RowSlot({2, 9}));
    const ObjectName table{QStringLiteral("s"), QStringLiteral("My T"), false};
    EXPECT_EQ(NextPageStatement(table, {7, 40}, 1000),
              QStringLiteral("select ctid,*,tableoid,xmin from s.\"My T\" where ctid > '(7,40)' Limit 1000"));
    EXPECT_EQ(PreviousPageStatement(table, 3, {7, 1}, 1000),
              QStringLiteral("select * from (select ctid,*,tableoid,xmin from s.\"My T\" where ctid >= "
                             "'(3,0)' and ctid < '(7,1)' order by ctid desc Limit 1001) p order by ctid"));
}

}  // namespace

namespace {

// A scan of a big table would otherwise start where the last scan of any session stopped, and
// a page by number (the first page too) would hold other rows each time it is read.
TEST_F(PagingTest, PagesByNumberAreReadFromTheTableStart)
{
    EXPECT_EQ(value(QStringLiteral("show synchronize_seqscans")), QStringLiteral("on"));
    EXPECT_EQ(TestServer::value(conn(), QStringLiteral("show synchronize_seqscans")), QStringLiteral("off"));
}

}  // namespace
