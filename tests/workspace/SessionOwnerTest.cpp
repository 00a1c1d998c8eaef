// One owner at a time: a session still answering a stream, or lent to a worker thread, refuses
// every other statement with the reason, and is itself again once the owner is done.

#include <gtest/gtest.h>

#include <thread>

#include "support/TestServer.h"

TEST(SessionOwnerThread, AStreamOrALoanRefusesEveryOtherStatementWithItsReason)
{
    std::unique_ptr<Connection> conn = TestServer::connect();
    QStringList refusals;
    conn->setFailureSink([&refusals](const QString& text) { refusals << text; });
    const QString other = QStringLiteral("select 1");

    // A stream under way: nothing else is sent until its last result was taken.
    ASSERT_TRUE(conn->startStream(QStringLiteral("select g from generate_series(1, 1000) g")));
    EXPECT_FALSE(conn->exec(other).exists());
    EXPECT_FALSE(conn->read(other).exists());
    EXPECT_FALSE(conn->send(other));
    ASSERT_EQ(refusals.size(), 3);
    EXPECT_TRUE(refusals[0].contains(QStringLiteral("受け取っている途中"))) << refusals[0].toStdString();
    int rows = 0;
    for (Result r = conn->nextResult(); r.exists(); r = conn->nextResult())
        rows += r.status() == PGRES_SINGLE_TUPLE ? 1 : 0;
    EXPECT_EQ(rows, 1000);
    EXPECT_EQ(conn->exec(other).value(0, 0), QStringLiteral("1"));

    // Lent to a worker: refused everywhere but on the thread that holds it, until it is back.
    refusals.clear();
    {
        SessionLoan loan(*conn, QStringLiteral("CSVインポート"));
        EXPECT_FALSE(conn->exec(other).exists());
        QString onWorker;
        std::thread worker([&] {
            conn->holdOnThisThread();
            onWorker = conn->exec(QStringLiteral("select 'worker'")).value(0, 0);
        });
        worker.join();
        EXPECT_EQ(onWorker, QStringLiteral("worker"));
        EXPECT_FALSE(conn->tryExec(other).exists());
    }
    ASSERT_EQ(refusals.size(), 2);
    EXPECT_TRUE(refusals[0].contains(QStringLiteral("CSVインポートで使用中"))) << refusals[0].toStdString();
    EXPECT_EQ(conn->exec(other).value(0, 0), QStringLiteral("1"));
}
