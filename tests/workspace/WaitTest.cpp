#include <gtest/gtest.h>

#include <poll.h>

#include "support/ServerFixture.h"
#include "workspace/Transaction.h"
#include "workspace/Waiter.h"

namespace {

const QString kCancelState = QStringLiteral("57014");
const QString kFail = QStringLiteral("データを更新することが出来ませんでした");

// Waits on the socket as the UI's waiter does, without a window: when `cancelNow` says so,
// cancels once the server runs the statement (a cancel that reaches a session still reading
// its statement is ignored), and tries a statement of its own meanwhile when asked to.
class ScriptedWaiter : public Waiter {
public:
    std::function<bool()> cancelNow = [] { return false; };
    Connection* intruder = nullptr;  // sends on this connection while waiting
    int waitedPid = 0;
    int waits = 0;
    int cancels = 0;
    bool intruderRefused = false;

    void wait(WaitingStatement& s) override
    {
        ++waits;
        if (cancelNow()) {
            auto watcher = TestServer::connect();
            const QString running = QStringLiteral(
                "select count(*) from pg_stat_activity where pid = %1 and state = 'active'")
                                        .arg(waitedPid);
            EXPECT_EQ(TestServer::waitForValue(*watcher, running, QStringLiteral("1")),
                      QStringLiteral("1"));
            ++cancels;
            s.cancel();
        }
        if (intruder) intruderRefused = !intruder->exec(QStringLiteral("select 1")).exists();
        while (!s.advance()) {
            pollfd fd{s.socket(), POLLIN, 0};
            ::poll(&fd, 1, -1);
        }
    }
};

// The tool's connection (`conn`), waiting in the scripted waiter, beside the administrator's,
// and the table wait_t.
class WaitTest : public ServerFixture {
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        if (HasFatalFailure()) return;
        TestServer::run(*admin, QStringLiteral("CREATE TABLE wait_t (id int PRIMARY KEY)"));
        conn = TestServer::connect();
        conn->setFailureSink([this](const QString& text) { failures << text; });
        conn->setWaiter(&waiter);
        waiter.waitedPid = conn->backendPid();
    }
    void cleanUp() override { TestServer::run(*admin, QStringLiteral("DROP TABLE IF EXISTS wait_t")); }
    int rowCount() { return value(QStringLiteral("select count(*) from wait_t")).toInt(); }

    ScriptedWaiter waiter;
    QStringList failures;
    std::unique_ptr<Connection> conn;
};

}  // namespace

// Through the waiter every kind of answer comes back as the blocking call gave it.
TEST_F(WaitTest, AnswersAsWithoutAWaiter)
{
    Result last = conn->exec(QStringLiteral("select 1; select 2 as two, pg_sleep(0.05)"));
    ASSERT_TRUE(last.tuplesOk());
    EXPECT_EQ(last.value(0, 0), QStringLiteral("2"));

    Result failed = conn->exec(QStringLiteral("select 1; select * from wait_no_such; select 3"));
    EXPECT_EQ(failed.status(), PGRES_FATAL_ERROR);
    ASSERT_EQ(failures.size(), 1);
    EXPECT_TRUE(failures[0].contains(QStringLiteral("wait_no_such"))) << failures[0].toStdString();

    Result copy = conn->exec(QStringLiteral("COPY wait_t FROM STDIN"));
    ASSERT_EQ(copy.status(), PGRES_COPY_IN);
    ASSERT_TRUE(conn->putCopyData("7\n", 2));
    EXPECT_TRUE(conn->endCopy().commandOk());

    Result single = conn->execSingle(QStringLiteral("select id from wait_t"));
    ASSERT_TRUE(single.tuplesOk());
    EXPECT_EQ(single.value(0, 0), QStringLiteral("7"));
    EXPECT_EQ(conn->execSingle(QStringLiteral("select 1; select 2")).status(), PGRES_FATAL_ERROR);

    Result described = conn->describe(QStringLiteral("select id, 'x' as label from wait_t"));
    ASSERT_TRUE(described.commandOk());
    EXPECT_EQ(described.fieldName(1), QStringLiteral("label"));
    EXPECT_EQ(conn->tryExec(QStringLiteral("select 5")).value(0, 0), QStringLiteral("5"));
}

// "中止": the statement fails with the server's cancel text, told to the failure sink, and the
// session answers the next statement.
TEST_F(WaitTest, CancelledStatementFailsAndTheSessionGoesOn)
{
    waiter.cancelNow = [] { return true; };
    Result r = conn->exec(QStringLiteral("select pg_sleep(60)"));
    EXPECT_EQ(r.status(), PGRES_FATAL_ERROR);
    EXPECT_EQ(r.sqlState(), kCancelState);
    EXPECT_GE(waiter.cancels, 1);
    ASSERT_EQ(failures.size(), 1);
    EXPECT_EQ(failures[0], r.errorMessage().trimmed());

    waiter.cancelNow = [] { return false; };
    Result next = conn->exec(QStringLiteral("select 42"));
    ASSERT_TRUE(next.tuplesOk());
    EXPECT_EQ(next.value(0, 0), QStringLiteral("42"));
    EXPECT_EQ(failures.size(), 1);
}

// A cancel request sent just as its statement ended (an export stopped while its last rows
// came) reaches an idle session, never the statement sent after it, waited for or streamed.
TEST_F(WaitTest, ACancelTooLateForItsStatementStopsNotTheNextOne)
{
    const QString sleep = QStringLiteral("select pg_sleep(0.05)");
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(conn->requestCancel());
        EXPECT_TRUE(conn->exec(sleep).tuplesOk()) << i;
        ASSERT_TRUE(conn->requestCancel());
        ASSERT_TRUE(conn->startStream(sleep));
        for (Result r = conn->nextResult(); r.exists(); r = conn->nextResult())
            EXPECT_NE(r.status(), PGRES_FATAL_ERROR) << i;
    }
    EXPECT_TRUE(failures.isEmpty()) << failures.join(u'\n').toStdString();
}

// A step of a confirmed transaction stopped by the operator takes the transaction's failure
// path: rolled back, its messages shown, nothing committed, the session usable.
TEST_F(WaitTest, CancelledStepRollsTheTransactionBack)
{
    QString sending;
    conn->setObserver([&](const QString& s) { sending = s; });
    waiter.cancelNow = [&] { return sending.contains(QStringLiteral("pg_sleep")); };
    EXPECT_FALSE(RunConfirmedTransaction(
        *conn,
        {QStringLiteral("insert into wait_t values (1)"),
         QStringLiteral("insert into wait_t select 2 from pg_sleep(60)"),
         QStringLiteral("insert into wait_t values (3)")},
        kFail));
    EXPECT_EQ(prompts.messages(), (QStringList{kFail, kAbortMessage}));
    EXPECT_EQ(sending, QStringLiteral("ROLLBACK"));
    EXPECT_FALSE(conn->inTransaction());
    EXPECT_EQ(rowCount(), 0);
    EXPECT_TRUE(conn->exec(QStringLiteral("select 1")).tuplesOk());
}

// While a statement is waited on, nothing else is sent on its session; the waited statement
// still gets its own answer.
TEST_F(WaitTest, NothingElseIsSentWhileWaiting)
{
    QStringList sent;
    conn->setObserver([&](const QString& s) { sent << s; });
    waiter.intruder = conn.get();
    Result r = conn->exec(QStringLiteral("select 9 from pg_sleep(0.2)"));
    ASSERT_GE(waiter.waits, 1);
    EXPECT_TRUE(waiter.intruderRefused);
    ASSERT_TRUE(r.tuplesOk());
    EXPECT_EQ(r.value(0, 0), QStringLiteral("9"));
    EXPECT_EQ(sent, QStringList{QStringLiteral("select 9 from pg_sleep(0.2)")});
    EXPECT_FALSE(failures.isEmpty());
}
