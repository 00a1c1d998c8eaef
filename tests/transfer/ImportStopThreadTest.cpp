#include "ImportFixture.h"

#include <poll.h>

#include <thread>

#include "transfer/CsvImport.h"
#include "workspace/Transaction.h"
#include "workspace/Waiter.h"

namespace {

// The waiter of the UI thread; the worker that is handed the session must never reach it.
class UiThreadWaiter : public Waiter {
public:
    std::thread::id uiThread = std::this_thread::get_id();
    bool calledElsewhere = false;
    void wait(WaitingStatement& s) override
    {
        if (std::this_thread::get_id() != uiThread) calledElsewhere = true;
        while (!s.advance()) {
            pollfd fd{s.socket(), POLLIN, 0};
            ::poll(&fd, 1, -1);
        }
    }
};

class ImportStopThread : public ImportFixture {
protected:
    // Whether the session `pid` comes to wait on a lock within a generous while.
    bool waitsOnLock(int pid)
    {
        const QString waiting = QStringLiteral("select count(*) from pg_stat_activity where pid = %1 "
                                               "and wait_event_type = 'Lock'").arg(pid);
        return TestServer::waitForValue(*admin, waiting, QStringLiteral("1")) == u"1";
    }
};

}  // namespace

// "中断" while the batch waits on a row another session holds: the statement in flight is
// cancelled, the run ends without logging the cancelled lines, nothing of it is committed,
// and the lock holder's transaction goes on untouched.
TEST_F(ImportStopThread, StopEndsABatchWaitingOnALock)
{
    TestServer::run(*admin, QStringLiteral("CREATE TABLE imp_t (id int PRIMARY KEY, name text)"));
    auto holder = TestServer::connect();
    TestServer::run(*holder, QStringLiteral("BEGIN"));
    TestServer::run(*holder, QStringLiteral("INSERT INTO imp_t VALUES (5, 'held')"));

    UiThreadWaiter waiter;
    conn->setWaiter(&waiter);
    QByteArray file;
    for (int i = 1; i <= 10; ++i) file += QByteArray::number(i) + ",n\n";
    ImportSettings s;
    s.fileName = write(QStringLiteral("l.csv"), file);
    s.table = {QString(), QStringLiteral("imp_t"), true};
    s.delimiter = QStringLiteral(",");
    s.quote = QStringLiteral("\"");
    s.fields = {{QStringLiteral("id"), QStringLiteral("int"), QString()},
                {QStringLiteral("name"), QStringLiteral("text"), QString()}};
    s.fieldNamesExact = true;
    s.logPath = path(QStringLiteral("ImportError.log"));
    ASSERT_TRUE(BeginImport(*conn, s));

    ImportJob job;
    ImportOutcome outcome;
    job.start(*conn, s, {}, [&](ImportOutcome o) { outcome = std::move(o); });
    const bool waited = waitsOnLock(conn->backendPid());
    job.requestStop();
    job.join();
    ASSERT_TRUE(waited);

    EXPECT_FALSE(waiter.calledElsewhere);
    EXPECT_FALSE(outcome.lostMessage.has_value());
    EXPECT_FALSE(outcome.stopMessage.has_value());
    EXPECT_EQ(job.state().errors.load(), 0);
    EXPECT_TRUE(readLog().isEmpty()) << readLog().constData();
    EXPECT_FALSE(FinishImport(*conn, job.state(), outcome));
    EXPECT_EQ(prompts.messages(), QStringList{kStoppedFormat.arg(0)});
    EXPECT_FALSE(conn->inTransaction());

    EXPECT_TRUE(holder->inTransaction());
    TestServer::run(*holder, QStringLiteral("COMMIT"));
    EXPECT_EQ(value(QStringLiteral("select string_agg(id || ':' || name, ',') from imp_t")),
              QStringLiteral("5:held"));
    EXPECT_TRUE(conn->exec(QStringLiteral("select 1")).tuplesOk());
    conn->setWaiter(nullptr);
}
