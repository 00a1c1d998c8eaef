#include "support/ServerFixture.h"

void ServerFixture::SetUp()
{
    admin = TestServer::connect();
    ASSERT_FALSE(admin->isBad());
    TestServer::run(*admin, QStringLiteral("SET client_min_messages TO warning"));
    cleanUp();
}

void ServerFixture::TearDown()
{
    if (!admin || admin->isBad()) return;
    cleanUp();
    for (const QString& d : m_databases) TestServer::dropDatabase(*admin, d);
    for (const QString& r : m_roles) TestServer::dropRole(*admin, r);
}

QString ServerFixture::role(const QString& name)
{
    TestServer::dropRole(*admin, name);
    if (!m_roles.contains(name)) m_roles << name;
    return name;
}

QString ServerFixture::database(const QString& name)
{
    TestServer::dropDatabase(*admin, name);
    if (!m_databases.contains(name)) m_databases << name;
    return name;
}
