// Stopping a running export: every session it uses is cancelled and closed, the unfinished
// file is removed, the operator is told, and the workspace's session goes on.

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

#include <signal.h>

#include "ExportFixture.h"
#include "transfer/CsvExport.h"
#include "widgets/QtWaiter.h"

namespace {

// A server process of the test server (which runs on this machine) frozen: it answers
// nothing, not even a cancel, until it is let go.
class Frozen {
public:
    explicit Frozen(int pid) : m_pid(pid), m_frozen(pid > 0 && ::kill(pid, SIGSTOP) == 0) {}
    ~Frozen()
    {
        if (m_frozen) ::kill(m_pid, SIGCONT);
    }
    bool frozen() const { return m_frozen; }

private:
    int m_pid;
    bool m_frozen;
};

class ExportStop : public ExportFixture {
protected:
    void cleanUp() override
    {
        TestServer::run(*admin, QStringLiteral("drop table if exists kexp_stop; "
                                               "drop function if exists kexp_slow()"));
    }
    // Client sessions of the database other than the administrator's, once their count is
    // `expected` again (a closed session's server process takes a moment to leave); the count
    // last seen.
    QString sessionsSettleAt(const QString& expected)
    {
        return TestServer::waitForValue(*admin, kOtherSessions, expected);
    }
    void expectWorkspaceUsable()
    {
        EXPECT_FALSE(conn().inTransaction());
        EXPECT_FALSE(conn().isWaiting());
        EXPECT_EQ(TestServer::value(conn(), QStringLiteral("select 41 + 1")), QStringLiteral("42"));
    }

    const QString kOtherSessions = QStringLiteral(
        "select count(*) from pg_stat_activity where pid <> pg_backend_pid() and "
        "datname = current_database() and backend_type = 'client backend'");
};

}  // namespace

// With the operator's waiter the further sessions are opened inside its wait and set up in
// it; without one, libpq blocks for them as before. Either way all of them go at the stop.
TEST_F(ExportStop, ATableSharedOutOverThreeSessionsStops)
{
    run(QStringLiteral("create table kexp_stop (id int, v text) with (fillfactor = 10); "
                       "insert into kexp_stop select g, 'row ' || g from generate_series(1, 3000) g"));
    const QString before = value(kOtherSessions);
    const QString file = path(QStringLiteral("stopped.csv"));
    QtWaiter waiter;
    for (Waiter* w : {static_cast<Waiter*>(nullptr), static_cast<Waiter*>(&waiter)}) {
        conn().setWaiter(w);
        {
            CsvExportJob job(conn());
            job.setTableSplit(3, 1, 1);  // nobody gets far before the event loop runs
            ASSERT_TRUE(job.start(ExportSource{table(QStringLiteral("kexp_stop")), QString()}, file,
                                  CsvSettings{QStringLiteral(","), QStringLiteral("\""), true}));
            // Older servers copy a table by one session.
            EXPECT_EQ(job.sessionsUsed(), conn().serverVersion() >= 140000 ? 3 : 1);
            job.cancel();
            EXPECT_FALSE(job.runToEnd());
            EXPECT_FALSE(job.running());
            EXPECT_EQ(job.failure(), kExportStopped);
            // Neither the file nor the temporary file it was being written to is left.
            EXPECT_TRUE(QDir(QFileInfo(file).path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
            expectWorkspaceUsable();
        }
        EXPECT_EQ(sessionsSettleAt(before), before);
    }
    conn().setWaiter(nullptr);
}

// SQL mode: "ｷｬﾝｾﾙ" stops the export while the rows stream, as closing the dialog does.
// The dialog stays, saying so, and leaves no file.
TEST_F(ExportStop, AStreamingQueryStopsByCancelOrClosing)
{
    QtWaiter waiter;
    conn().setWaiter(&waiter);
    const QString file = path(QStringLiteral("sql.csv"));
    CCsvExportDlg dlg(conn(), QStringLiteral("select g, 'row ' || g from generate_series(1, 5000000) g"));
    dlg.show();
    lineEdit(dlg, "fileNameEdit")->setText(file);
    for (bool byClosing : {false, true}) {
        prompts.clear();
        QSignalSpy ended(&dlg, &CCsvExportDlg::exportFinished);
        button(dlg, "outputButton")->click();
        ASSERT_TRUE(dlg.exporting());
        ASSERT_TRUE(button(dlg, "cancelButton")->isEnabled());
        if (byClosing)
            dlg.reject();
        else
            button(dlg, "cancelButton")->click();
        ASSERT_TRUE(ended.wait(60000));
        EXPECT_FALSE(ended.first().first().toBool());
        EXPECT_TRUE(dlg.isVisible());
        EXPECT_EQ(sample(dlg), kExportStopped);
        EXPECT_EQ(prompts.messages(), QStringList{kExportStopped});
        EXPECT_FALSE(QFileInfo::exists(file));
        expectWorkspaceUsable();
    }
    conn().setWaiter(nullptr);
}

// SQL mode, stopped while the statement has not sent its first row: through COPY (a query
// outside a transaction), through single-row mode (a statement no cursor takes, a query inside
// the operator's transaction). The stop comes at once, before the server may have begun the
// statement; the dialog says so, no file is left, and the session answers the next statement,
// inside the operator's transaction too, which stays open and usable.
TEST_F(ExportStop, AStatementStopsBeforeItsFirstRow)
{
    QtWaiter waiter;
    conn().setWaiter(&waiter);
    const QString before = value(kOtherSessions);
    const QString file = path(QStringLiteral("first.csv"));
    struct Case {
        const char* sql;
        bool inTransaction;
    };
    for (const Case c : {Case{"select pg_sleep(600), 1 as a", false},
                         Case{"explain analyze select pg_sleep(600)", false},
                         Case{"select x, pg_sleep(case when x = 1 then 600 else 0 end) "
                              "from generate_series(1, 3) x", true}}) {
        const QString sql = QString::fromLatin1(c.sql);
        if (c.inTransaction) run(QStringLiteral("BEGIN"));
        prompts.clear();
        CCsvExportDlg dlg(conn(), sql);
        dlg.show();
        lineEdit(dlg, "fileNameEdit")->setText(file);
        QSignalSpy ended(&dlg, &CCsvExportDlg::exportFinished);
        button(dlg, "outputButton")->click();
        ASSERT_TRUE(dlg.exporting()) << c.sql;
        EXPECT_TRUE(sample(dlg).startsWith(QStringLiteral("出力中"))) << c.sql;
        button(dlg, "cancelButton")->click();
        ASSERT_TRUE(ended.wait(120000)) << c.sql;
        EXPECT_FALSE(ended.first().first().toBool());
        EXPECT_EQ(sample(dlg), kExportStopped) << c.sql;
        EXPECT_EQ(prompts.messages(), QStringList{kExportStopped}) << c.sql;
        EXPECT_TRUE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty()) << c.sql;
        EXPECT_EQ(conn().inTransaction(), c.inTransaction) << c.sql;
        EXPECT_EQ(TestServer::value(conn(), QStringLiteral("select 41 + 1")), QStringLiteral("42"))
            << c.sql;
        if (c.inTransaction) run(QStringLiteral("ROLLBACK"));
        expectWorkspaceUsable();
        EXPECT_EQ(sessionsSettleAt(before), before);
    }
    conn().setWaiter(nullptr);
}

// The server does not answer the stop (its process frozen): the export ends all the same, the
// window's event loop turning meanwhile. A frozen session the export opened is closed at the
// stop and the workspace's session goes on; the workspace's own session frozen is given up once
// the stop limit has passed, and the operator told so: never left in the middle of an answer.
TEST_F(ExportStop, ASessionThatDoesNotAnswerTheStopIsClosedOrGivenUp)
{
    // More rows than the sockets hold: no session has sent all of its ranges before the stop.
    run(QStringLiteral("create table kexp_stop (id int, v text); "
                       "insert into kexp_stop select g, repeat('x', 100) from generate_series(1, 300000) g"));
    const QString file = path(QStringLiteral("frozen.csv"));
    for (const bool workspace : {false, true}) {
        prompts.clear();
        CsvExportJob job(conn());
        job.setTableSplit(3, 8, 1);
        job.setStopLimit(300);
        ASSERT_TRUE(job.start(ExportSource{table(QStringLiteral("kexp_stop")), QString()}, file,
                              CsvSettings{QStringLiteral(","), QStringLiteral("\""), true}));
        // Older servers copy a table by one session, the workspace's.
        if (!workspace && job.sessionsUsed() == 1) continue;
        int pid = conn().backendPid();
        for (QElapsedTimer waited; !workspace && (!waited.isValid() || waited.elapsed() < 10000);
             QThread::msleep(10)) {
            if (!waited.isValid()) waited.start();
            pid = value(QStringLiteral("select pid from pg_stat_activity where pid <> %1 and "
                                       "query like 'COPY (select * from public.kexp_stop%' limit 1")
                            .arg(conn().backendPid()))
                      .toInt();
            if (pid) break;
        }
        const Frozen frozen(pid);
        ASSERT_TRUE(frozen.frozen()) << "the test freezes a process of the test server: run it as root";
        int turns = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] { ++turns; });
        tick.start(10);
        job.cancel();
        EXPECT_FALSE(job.runToEnd());
        EXPECT_TRUE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
        if (workspace) {
            EXPECT_GT(turns, 0);
            EXPECT_EQ(job.failure(), kExportStopped + QStringLiteral("\n\n") + kExportSessionGivenUp);
            EXPECT_TRUE(conn().isBad());
        } else {
            EXPECT_EQ(job.failure(), kExportStopped);
            expectWorkspaceUsable();
        }
    }
}
