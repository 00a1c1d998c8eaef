#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <ostream>

#include "workspace/Connection.h"

class Relay;

// Texts read as text in failure output.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

// The throwaway server that scripts/test.sh starts (PGHOST, PGPORT, PGUSER). A test that needs
// it fails when it cannot be reached; it never skips.
namespace TestServer {

// Parameters of the superuser login to the test server's postgres database (or `database`).
LoginParameters superuserLogin(const QString& database = {});
// The same with another user (and password) and optionally another database.
LoginParameters loginAs(const QString& user, const QString& password = {},
                        const QString& database = {});
// The superuser login through a relay in front of the test server.
LoginParameters loginThrough(const Relay& relay);

// A superuser connection speaking UTF-8; the test fails (ADD_FAILURE) when it is bad.
std::unique_ptr<Connection> connect();
std::unique_ptr<Connection> connect(const LoginParameters& p);

// Runs a statement that must succeed (set-up and clean-up of tests).
void run(Connection& conn, const QString& statement);

// The first value of the first row `query` answers ("" when it answers no row); the test fails
// when the query is refused.
QString value(Connection& conn, const QString& query);

// Reads `query` (one value) until it is `expected`, or a generous while has passed (a guard,
// not a measurement); the value last read.
QString waitForValue(Connection& conn, const QString& query, const QString& expected);

// Ends the session of backend `pid` (of `victim`) from another session and waits until the
// server let it go, so that the next statement on it finds the session lost.
void endSession(int pid);
void endSession(Connection& victim);
// The same for every session that `condition` (an expression over pg_stat_activity) picks,
// other than the one asking; how many it ended.
int endSessions(const QString& condition);

// Restarts the test server on its port (scripts/pgcluster.sh restart), ending every session, as
// an operator's server restarts under the program. The cluster comes from KESTREL_TEST_CLUSTER,
// which scripts/test.sh and scripts/test-matrix.sh set; without it the test fails.
void restart();

// A name as the set-up statements of tests write it: always between double quotes.
QString quoted(const QString& name);

// Drops a database when it exists, ending its sessions first (DROP DATABASE refuses while
// anyone is connected; its FORCE option needs 13 or later).
void dropDatabase(Connection& conn, const QString& name);
// Drops a role when it exists, with what it owns and the rights it holds in `conn`'s database.
void dropRole(Connection& conn, const QString& name);

// The group whose members log in with their password (the test cluster's pg_hba asks them);
// cluster-wide, made when missing and kept.
QString passwordRole();

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
