#pragma once

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTimer>
#include <ostream>

#include "support/DialogDriver.h"
#include "support/ScriptedPrompter.h"
#include "support/TestServer.h"
#include "workspace/TableRowCounter.h"

// A superuser connection to the test server; the tables, schema and role of these tests
// (all named ti_...) are dropped before and after each test.
class TableInfoFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        conn = TestServer::connect();
        TestServer::run(*conn, QStringLiteral("SET client_min_messages TO warning"));
        dropAll();
    }
    void TearDown() override
    {
        conn->exec(QStringLiteral("RESET ROLE"));
        dropAll();
    }
    void dropAll()
    {
        for (const char* sql :
             {"DROP SCHEMA IF EXISTS ti_s CASCADE",
              "DROP TABLE IF EXISTS ti_mix, ti_fixed, \"TiKeys\", ti_m, ti_r, ti_renamed, ti_f, "
              "ti_notseq CASCADE",
              "DROP SEQUENCE IF EXISTS ti_seq", "DROP ROLE IF EXISTS ti_nobody"})
            TestServer::run(*conn, QString::fromUtf8(sql));
    }
    void run(const char* sql) { TestServer::run(*conn, QString::fromUtf8(sql)); }
    QString value(const char* sql)
    {
        const Result r = conn->exec(QString::fromUtf8(sql));
        EXPECT_TRUE(r.tuplesOk()) << sql << ": " << r.errorMessage().toStdString();
        return r.value(0, 0);
    }

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
    ScriptedPrompter prompts;
};
