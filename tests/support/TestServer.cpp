#include "support/TestServer.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include "support/Relay.h"

namespace TestServer {

namespace {

// How long a test waits at the most for the server to show what it waits for.
constexpr int kPatienceMs = 60000;

}  // namespace

LoginParameters superuserLogin(const QString& database)
{
    LoginParameters p;
    p.hostName = qEnvironmentVariable("PGHOST", QStringLiteral("127.0.0.1"));
    p.port = qEnvironmentVariable("PGPORT", QStringLiteral("5432"));
    p.userName = qEnvironmentVariable("PGUSER", QStringLiteral("postgres"));
    p.databaseName = database.isEmpty() ? QStringLiteral("postgres") : database;
    return p;
}

LoginParameters loginAs(const QString& user, const QString& password, const QString& database)
{
    LoginParameters p = superuserLogin(database);
    p.userName = user;
    p.password = password;
    return p;
}

LoginParameters loginThrough(const Relay& relay)
{
    LoginParameters p = superuserLogin();
    p.hostName = QStringLiteral("127.0.0.1");
    p.port = QString::number(relay.port());
    return p;
}

std::unique_ptr<Connection> connect(const LoginParameters& p)
{
    auto c = Connection::login(p);
    if (c->isBad()) {
        ADD_FAILURE() << "test server not reachable (" << p.hostName.toStdString() << ":"
                      << p.port.toStdString() << "): " << c->errorMessage().toStdString();
    }
    return c;
}

std::unique_ptr<Connection> connect() { return connect(superuserLogin()); }

void run(Connection& conn, const QString& statement)
{
    Result r = conn.exec(statement);
    EXPECT_TRUE(r.commandOk() || r.tuplesOk())
        << statement.toStdString() << ": " << r.errorMessage().toStdString();
}

QString value(Connection& conn, const QString& query)
{
    const Result r = conn.exec(query);
    EXPECT_TRUE(r.tuplesOk()) << query.toStdString() << ": " << r.errorMessage().toStdString();
    return r.value(0, 0);
}

QString waitForValue(Connection& conn, const QString& query, const QString& expected)
{
    QElapsedTimer waited;
    waited.start();
    QString seen = value(conn, query);
    while (seen != expected && waited.elapsed() < kPatienceMs) {
        QThread::msleep(10);
        seen = value(conn, query);
    }
    return seen;
}

int endSessions(const QString& condition)
{
    auto killer = connect();
    const Result ended = killer->exec(
        QStringLiteral("select pid from (select pid, pg_terminate_backend(pid) as ended from "
                       "pg_stat_activity where pid <> pg_backend_pid() and (%1)) s where ended")
            .arg(condition));
    EXPECT_TRUE(ended.tuplesOk()) << condition.toStdString() << ": " << ended.errorMessage().toStdString();
    QStringList pids;
    for (int row = 0; row < ended.rows(); ++row) pids << ended.value(row, 0);
    if (pids.isEmpty()) return 0;
    const QString alive =
        QStringLiteral("select count(*) from pg_stat_activity where pid in (%1)").arg(pids.join(u','));
    EXPECT_EQ(waitForValue(*killer, alive, QStringLiteral("0")), QStringLiteral("0"))
        << "the server did not let sessions " << pids.join(u',').toStdString() << " go";
    return int(pids.size());
}

void endSession(int pid) { endSessions(QStringLiteral("pid = %1").arg(pid)); }

void endSession(Connection& victim) { endSession(victim.backendPid()); }

void restart()
{
    const QString cluster = qEnvironmentVariable("KESTREL_TEST_CLUSTER");
    ASSERT_FALSE(cluster.isEmpty()) << "KESTREL_TEST_CLUSTER names no cluster to restart";
    QProcess p;
    p.start(QStringLiteral(KESTREL_SOURCE_DIR "/scripts/pgcluster.sh"),
            {QStringLiteral("restart"), cluster});
    ASSERT_TRUE(p.waitForFinished(90000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
}

QString quoted(const QString& name)
{
    return u'"' + QString(name).replace(u'"', QStringLiteral("\"\"")) + u'"';
}

void dropDatabase(Connection& conn, const QString& name)
{
    endSessions(QStringLiteral("datname = '%1'").arg(conn.escapeValue(name)));
    run(conn, QStringLiteral("DROP DATABASE IF EXISTS ") + quoted(name));
}

void dropRole(Connection& conn, const QString& name)
{
    const QString exists =
        QStringLiteral("select count(*) from pg_roles where rolname = '%1'").arg(conn.escapeValue(name));
    if (value(conn, exists) != u"1") return;
    run(conn, QStringLiteral("DROP OWNED BY %1; DROP ROLE %1").arg(quoted(name)));
}

QString passwordRole()
{
    const QString role = QStringLiteral("kestrel_pw");
    auto admin = connect();
    run(*admin, QStringLiteral("SET client_min_messages TO warning"));
    run(*admin, QStringLiteral("DO $$BEGIN CREATE ROLE %1 NOLOGIN; EXCEPTION WHEN "
                               "duplicate_object OR unique_violation THEN NULL; END$$")
                    .arg(role));
    return role;
}

}  // namespace TestServer

StatementLog::StatementLog(Connection& conn) : m_conn(conn)
{
    m_conn.setObserver([this](const QString& s) { m_statements << s; });
}

StatementLog::~StatementLog() { m_conn.setObserver({}); }
