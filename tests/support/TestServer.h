#pragma once

#include <QString>
#include <QStringList>
#include <memory>

#include "workspace/Connection.h"

// The throwaway server that scripts/test.sh starts (PGHOST, PGPORT, PGUSER). A test that needs
// it fails when it cannot be reached; it never skips.
namespace TestServer {

// Parameters of the superuser login to the test server's postgres database.
LoginParameters superuserLogin();
// The same with another user (and password) and optionally another database.
LoginParameters loginAs(const QString& user, const QString& password = {},
                        const QString& database = {});

// A superuser connection speaking UTF-8; the test fails (ADD_FAILURE) when it is bad.
std::unique_ptr<Connection> connect();
std::unique_ptr<Connection> connect(const LoginParameters& p);

// Runs a statement that must succeed (set-up and clean-up of tests).
void run(Connection& conn, const QString& statement);

// Ends the session of backend `pid` from another session and waits until the server let it go.
void endSession(int pid);

// Restarts the test server on its port (scripts/pgcluster.sh restart), ending every session, as
// an operator's server restarts under the program. The cluster comes from KESTREL_TEST_CLUSTER,
// which scripts/test.sh and scripts/test-matrix.sh set; without it the test fails.
void restart();

// Drops a database when it exists, ending its sessions first (DROP DATABASE refuses while
// anyone is connected; its FORCE option needs 13 or later).
void dropDatabase(Connection& conn, const QString& name);

}  // namespace TestServer

// Records every statement a connection sends, in order.
class StatementLog {
public:
    explicit StatementLog(Connection& conn);
    ~StatementLog();
    const QStringList& statements() const { return m_statements; }
    void clear() { m_statements.clear(); }

private:
    Connection& m_conn;
    QStringList m_statements;
};
