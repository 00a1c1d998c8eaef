#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QString>
#include <functional>
#include <memory>
#include <ostream>

#include "support/ScriptedPrompter.h"
#include "support/TestServer.h"

// A superuser connection to the test server and a scripted prompter. Tests name their own
// objects with the prefix kd_ and drop them.
class DesignTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The cases use fixed object names; when ctest runs them side by side, a session-level
        // advisory lock held until the test ends lets one case at a time touch them.
        m_lock = TestServer::connect();
        TestServer::run(*m_lock, QStringLiteral("select pg_advisory_lock(hashtext('kestrel_design_tests'))"));
        conn = TestServer::connect();
        ASSERT_FALSE(conn->isBad());
    }
    void sql(const QString& statement) { TestServer::run(*conn, statement); }
    QString value(const QString& query)
    {
        Result r = conn->exec(query);
        EXPECT_TRUE(r.tuplesOk()) << query.toStdString() << ": " << r.errorMessage().toStdString();
        return r.rows() > 0 ? r.value(0, 0) : QString();
    }

    // Ends the server session of `victim` from another connection and waits until the server
    // has let it go, so its next statement finds the connection lost.
    static void dropConnection(Connection& victim)
    {
        auto killer = TestServer::connect();
        const int pid = victim.backendPid();
        TestServer::run(*killer, QStringLiteral("select pg_terminate_backend(%1)").arg(pid));
        for (;;) {
            Result r = killer->exec(
                QStringLiteral("select count(*) from pg_stat_activity where pid = %1").arg(pid));
            ASSERT_TRUE(r.tuplesOk());
            if (r.value(0, 0) == QLatin1String("0")) break;
            killer->exec(QStringLiteral("select pg_sleep(0.01)"));
        }
    }

    std::unique_ptr<Connection> m_lock;
    std::unique_ptr<Connection> conn;
    ScriptedPrompter prompts;
};
