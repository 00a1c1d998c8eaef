#pragma once

#include <gtest/gtest.h>

#include <QStringList>
#include <memory>

#include "support/ScriptedPrompter.h"
#include "support/TestServer.h"

// A test against the test server: the scripted prompter, an administrator's session for set-up
// and checks, and what the test makes on the server, dropped before the test (what an earlier
// run left) and after it: the fixture's own objects by cleanUp(), the roles and databases named
// through role() and database().
class ServerFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Drops what the fixture's tests make (tables, schemas, functions ...), on `admin`.
    virtual void cleanUp() {}

    // What the administrator's session reads.
    QString value(const QString& query) { return TestServer::value(*admin, query); }
    // A role or database the test makes: dropped now and when the test ends (databases first).
    QString role(const QString& name);
    QString database(const QString& name);

    ScriptedPrompter prompts;
    std::unique_ptr<Connection> admin;  // a superuser on postgres; client_min_messages warning

private:
    QStringList m_roles;
    QStringList m_databases;
};
