#include "support/TestServer.h"

#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

namespace TestServer {

LoginParameters superuserLogin()
{
    LoginParameters p;
    p.hostName = qEnvironmentVariable("PGHOST", QStringLiteral("127.0.0.1"));
    p.port = qEnvironmentVariable("PGPORT", QStringLiteral("5432"));
    p.userName = qEnvironmentVariable("PGUSER", QStringLiteral("postgres"));
    p.databaseName = QStringLiteral("postgres");
    return p;
}

LoginParameters loginAs(const QString& user, const QString& password, const QString& database)
{
    LoginParameters p = superuserLogin();
    p.userName = user;
    p.password = password;
    if (!database.isEmpty()) p.databaseName = database;
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

void endSession(int pid)
{
    auto killer = connect();
    run(*killer, QStringLiteral("select pg_terminate_backend(%1)").arg(pid));
    const QString alive = QStringLiteral("select count(*) from pg_stat_activity where pid = %1").arg(pid);
    for (int i = 0; i < 500 && killer->exec(alive).value(0, 0) != u"0"; ++i) QThread::msleep(10);
}

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

void dropDatabase(Connection& conn, const QString& name)
{
    run(conn, QStringLiteral("select pg_terminate_backend(pid) from pg_stat_activity "
                             "where datname = '%1' and pid <> pg_backend_pid()")
                  .arg(conn.escapeValue(name)));
    run(conn, QStringLiteral("DROP DATABASE IF EXISTS \"%1\"").arg(name));
}

}  // namespace TestServer

StatementLog::StatementLog(Connection& conn) : m_conn(conn)
{
    m_conn.setObserver([this](const QString& s) { m_statements << s; });
}

StatementLog::~StatementLog() { m_conn.setObserver({}); }
