// A table exported by several sessions at once: the same file as one session writes, one
// snapshot for all of them, and a lost session is a failed export.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include "ExportFixture.h"
#include "transfer/CsvExport.h"

namespace {

class ExportSplit : public ExportFixture {
protected:
    void cleanUp() override
    {
        TestServer::run(*admin, QStringLiteral("drop table if exists kexp_split, kexp_snap, kexp_lost"));
    }
    // Whether the server copies block ranges cheaply (TID range scans), so that tables are
    // shared out; older ones are copied by one session.
    bool splits() { return conn().serverVersion() >= 140000; }

    // Exports the table with the given split; the job's failure (empty after a success), the
    // sessions it used and the ranges each of them copied.
    QString exportWith(const QString& tableName, const QString& file, int sessions, int blocks,
                       qsizetype held = CsvExportJob::kDefaultHeldLimit, int* used = nullptr,
                       std::vector<int>* ranges = nullptr)
    {
        CsvExportJob job(conn());
        job.setTableSplit(sessions, blocks, held);
        const CsvSettings settings{QStringLiteral(","), QStringLiteral("\""), true};
        EXPECT_TRUE(job.start(ExportSource{table(tableName), QString()}, path(file), settings))
            << job.failure().toStdString();
        job.runToEnd();
        if (used) *used = job.sessionsUsed();
        if (ranges) *ranges = job.rangesCopied();
        EXPECT_FALSE(conn().inTransaction());
        return job.failure();
    }
};

TEST_F(ExportSplit, SessionsWriteWhatOneSessionWritesInTheTablesOrder)
{
    // Rows spread over many blocks, with every kind of value the row writer treats apart.
    run(QStringLiteral(
        "create table kexp_split (id int, v text, at timestamp) "
        "with (fillfactor = 10);"
        "insert into kexp_split select g, case g % 7 when 0 then E'tab\\there' when 1 then null "
        "when 2 then '名前 \"q\", ''s''' when 3 then E'back\\\\slash' when 4 then E'line\\nfeed' "
        "when 5 then '' else 'plain ' || g end, timestamp '2024-01-31 12:00' + g * interval '1 hour' "
        "from generate_series(1, 3000) g"));
    // A setting of the workspace's session shapes the values; the other sessions take it over.
    run(QStringLiteral("set DateStyle = 'SQL, DMY'"));
    ASSERT_TRUE(exportWith(QStringLiteral("kexp_split"), QStringLiteral("one.csv"), 1, 1).isEmpty());
    const QByteArray one = readFile(path(QStringLiteral("one.csv")));
    EXPECT_TRUE(one.contains("\"31/01/2024 13:00:00\"")) << one.left(200).constData();
    EXPECT_EQ(one.count("\r\n"), 3001);  // the 429 line-feed values keep their line feed as it is
    EXPECT_EQ(one.count("\n"), 3001 + 429);

    // The table was really cut: the block ranges, every n-th one to each of n sessions, each
    // copied to its end by the session it fell to.
    const qint64 tableBlocks = TestServer::value(conn(), QStringLiteral("select pg_relation_size('kexp_split') / "
                                                                        "current_setting('block_size')::int8"))
                                   .toLongLong();
    ASSERT_GT(tableBlocks, 100);
    const auto expectCut = [&](const std::vector<int>& ranges, int sessions, int blocks) {
        const int count = int((tableBlocks + blocks - 1) / blocks);
        std::vector<int> expected{1};
        if (splits()) {
            expected.assign(size_t(sessions), 0);
            for (int r = 0; r < count; ++r) ++expected[size_t(r % sessions)];
        }
        EXPECT_EQ(ranges, expected) << sessions << " sessions, ranges of " << blocks << " blocks";
    };
    int used = 0;
    std::vector<int> ranges;
    // Ranges of two blocks and a limit of one byte held: every session waits for its turn.
    ASSERT_TRUE(exportWith(QStringLiteral("kexp_split"), QStringLiteral("three.csv"), 3, 2, 1, &used,
                           &ranges)
                    .isEmpty());
    EXPECT_EQ(used, splits() ? 3 : 1);
    expectCut(ranges, 3, 2);
    EXPECT_EQ(readFile(path(QStringLiteral("three.csv"))), one);
    ASSERT_TRUE(exportWith(QStringLiteral("kexp_split"), QStringLiteral("two.csv"), 2, 7,
                           CsvExportJob::kDefaultHeldLimit, &used, &ranges)
                    .isEmpty());
    EXPECT_EQ(used, splits() ? 2 : 1);
    expectCut(ranges, 2, 7);
    EXPECT_EQ(readFile(path(QStringLiteral("two.csv"))), one);

    // Inside the operator's transaction only the workspace's session sees its work.
    run(QStringLiteral("begin; insert into kexp_split values (0, 'mine, not yet committed', null)"));
    {
        CsvExportJob job(conn());
        job.setTableSplit(3, 2);
        ASSERT_TRUE(job.start(ExportSource{table(QStringLiteral("kexp_split")), QString()},
                              path(QStringLiteral("txn.csv")), CsvSettings{QStringLiteral(","), QStringLiteral("\""), true}));
        EXPECT_TRUE(job.runToEnd());
        EXPECT_EQ(job.sessionsUsed(), 1);
        EXPECT_TRUE(conn().inTransaction());
    }
    EXPECT_TRUE(readFile(path(QStringLiteral("txn.csv"))).contains("mine, not yet committed"));
    run(QStringLiteral("rollback"));

    // A value CP932 cannot hold, held by a later session, is named with its row as one
    // session names it.
    run(QStringLiteral("update kexp_split set v = '〜' where id = 2900"));
    const QString alone = exportWith(QStringLiteral("kexp_split"), QStringLiteral("bad1.csv"), 1, 1);
    EXPECT_TRUE(alone.contains(QStringLiteral("件目のレコードの列「v」"))) << alone.toStdString();
    EXPECT_EQ(exportWith(QStringLiteral("kexp_split"), QStringLiteral("bad3.csv"), 3, 2, 1), alone);
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("bad3.csv"))));
}

TEST_F(ExportSplit, EverySessionReadsTheSnapshotOfTheExportsStart)
{
    // Full blocks: an updated row moves to a block at the end, the last session's range.
    run(QStringLiteral("create table kexp_snap (id int, v text);"
                       "insert into kexp_snap select g, 'before ' || g from generate_series(1, 4000) g"));
    ASSERT_TRUE(exportWith(QStringLiteral("kexp_snap"), QStringLiteral("before.csv"), 1, 1).isEmpty());

    // Once the first COPY is on its way, another session changes, adds and deletes rows.
    std::unique_ptr<Connection> other = TestServer::connect();
    bool changed = false;
    conn().setObserver([&](const QString& statement) {
        if (changed || !statement.startsWith(QStringLiteral("COPY"))) return;
        changed = true;
        TestServer::run(*other, QStringLiteral(
                                    "update kexp_snap set v = 'after' where id % 2 = 0;"
                                    "insert into kexp_snap select g, 'new' from generate_series(4001, 4100) g;"
                                    "delete from kexp_snap where id <= 100"));
    });
    int used = 0;
    ASSERT_TRUE(exportWith(QStringLiteral("kexp_snap"), QStringLiteral("during.csv"), 3, 2, 1, &used)
                    .isEmpty());
    conn().setObserver({});
    EXPECT_TRUE(changed);
    EXPECT_EQ(used, splits() ? 3 : 1);
    const QByteArray during = readFile(path(QStringLiteral("during.csv")));
    if (splits()) {
        EXPECT_EQ(during, readFile(path(QStringLiteral("before.csv"))));
    } else {
        // One session's COPY takes its snapshot when it runs, after the change.
        ASSERT_TRUE(exportWith(QStringLiteral("kexp_snap"), QStringLiteral("after.csv"), 1, 1).isEmpty());
        EXPECT_EQ(during, readFile(path(QStringLiteral("after.csv"))));
    }
}

TEST_F(ExportSplit, AnEndedOrLostSessionLeavesNoFileAndTheWorkspaceUsable)
{
    // Large enough that no session is sent its whole range before the event loop runs: a
    // session ended below after its last block came would leave nothing lost.
    run(QStringLiteral("create table kexp_lost (id int, v text);"
                       "insert into kexp_lost select g, 'row ' || g from generate_series(1, 200000) g"));
    const CsvSettings settings{QStringLiteral(","), QStringLiteral("\""), true};
    {
        // An export ended early (the dialog closed) leaves no file and nothing open.
        CsvExportJob early(conn());
        early.setTableSplit(3, 1, 1);
        ASSERT_TRUE(early.start(ExportSource{table(QStringLiteral("kexp_lost")), QString()},
                                path(QStringLiteral("early.csv")), settings));
        // (ended before the event loop ran: a small table could otherwise be written whole
        // within one turn of it)
        ASSERT_TRUE(early.running());
    }
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("early.csv"))));
    EXPECT_FALSE(conn().inTransaction());
    // (a closed session's server process takes a moment to leave)
    const QString copying = QStringLiteral("select count(*) from pg_stat_activity where pid <> pg_backend_pid() "
                                           "and state = 'active' and query like '%from public.kexp_lost%'");
    EXPECT_EQ(TestServer::waitForValue(conn(), copying, QStringLiteral("0")), QStringLiteral("0"));

    CsvExportJob job(conn());
    job.setTableSplit(3, 1, 1);  // nobody gets far before the event loop runs
    ASSERT_TRUE(job.start(ExportSource{table(QStringLiteral("kexp_lost")), QString()},
                          path(QStringLiteral("lost.csv")), settings));
    if (job.sessionsUsed() > 1) {
        // The sessions the export opened, ended from outside.
        const QString sessions = QStringLiteral("pid <> %1 and query like 'COPY (select * from public.kexp_lost%'")
                                     .arg(conn().backendPid());
        int ended = 0;
        QElapsedTimer waited;
        waited.start();
        while (ended < job.sessionsUsed() - 1 && waited.elapsed() < 10000) {
            ended += TestServer::endSessions(sessions);
            QThread::msleep(20);
        }
        ASSERT_EQ(ended, job.sessionsUsed() - 1);
        EXPECT_FALSE(job.runToEnd());
        EXPECT_FALSE(job.failure().isEmpty());
        EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("lost.csv"))));
    } else {
        EXPECT_TRUE(job.runToEnd());
    }
    EXPECT_FALSE(conn().inTransaction());
    EXPECT_TRUE(conn().exec(QStringLiteral("select count(*) from kexp_lost")).tuplesOk());
}

}  // namespace
