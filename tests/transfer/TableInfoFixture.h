#pragma once

#include <QEventLoop>
#include <QTimer>

#include "support/DialogDriver.h"
#include "support/ServerFixture.h"
#include "workspace/TableRowCounter.h"

// The dialogs' superuser connection (`conn`), on which run() and value() act, beside the
// administrator's; the tables, schema and role of these tests (all named ti_...) are dropped
// before and after each test.
class TableInfoFixture : public ServerFixture {
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        conn = TestServer::connect();
        TestServer::run(*conn, QStringLiteral("SET client_min_messages TO warning"));
    }
    void cleanUp() override
    {
        for (const char* sql :
             {"DROP SCHEMA IF EXISTS ti_s CASCADE",
              "DROP TABLE IF EXISTS ti_mix, ti_fixed, \"TiKeys\", ti_m, ti_r, ti_renamed, ti_f, "
              "ti_notseq CASCADE",
              "DROP SEQUENCE IF EXISTS ti_seq", "DROP ROLE IF EXISTS ti_nobody"})
            TestServer::run(*admin, QString::fromUtf8(sql));
    }
    void run(const QString& sql) { TestServer::run(*conn, sql); }
    QString value(const QString& sql) { return TestServer::value(*conn, sql); }

    // Lets the event loop run until the exact count has arrived (or failed); a watchdog ends
    // the wait so that a count that never comes fails the test instead of hanging it.
    static bool waitForCount(TableRowCounter* counter)
    {
        if (!counter->running()) return false;
        QEventLoop loop;
        bool answered = false;
        QObject::connect(counter, &TableRowCounter::counted, &loop, [&] { answered = true; loop.quit(); });
        QObject::connect(counter, &TableRowCounter::failed, &loop, [&] { answered = true; loop.quit(); });
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        loop.exec();
        return answered;
    }

    std::unique_ptr<Connection> conn;
};
