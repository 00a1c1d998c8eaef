#pragma once

#include <QAbstractButton>
#include <QComboBox>
#include <QString>
#include <functional>
#include <memory>

#include "support/ServerFixture.h"

// The dialogs' superuser connection (`conn`) beside the administrator's. Tests name their own
// objects with the prefix kd_; a fixture drops them in cleanUp().
class DesignTest : public ServerFixture {
protected:
    void SetUp() override
    {
        // The cases use fixed object names; when ctest runs them side by side, a session-level
        // advisory lock held until the test ends lets one case at a time touch them.
        m_lock = TestServer::connect();
        TestServer::run(*m_lock, QStringLiteral("select pg_advisory_lock(hashtext('kestrel_design_tests'))"));
        ServerFixture::SetUp();
        conn = TestServer::connect();
        ASSERT_FALSE(conn->isBad());
    }
    void sql(const QString& statement) { TestServer::run(*conn, statement); }
    // Read on the dialogs' session, so that a transaction a dialog left open there shows.
    QString value(const QString& query) { return TestServer::value(*conn, query); }

    std::unique_ptr<Connection> m_lock;
    std::unique_ptr<Connection> conn;
};
