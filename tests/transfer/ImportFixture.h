#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <memory>
#include <ostream>

#include "support/ScriptedPrompter.h"
#include "support/TestServer.h"
#include "workspace/Connection.h"

// A superuser connection, a folder for the CSV files and the error log, and the tables of the
// import tests (all named imp_*), dropped before and after each test.
class ImportFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        admin = TestServer::connect();
        conn = TestServer::connect();
        TestServer::run(*admin, QStringLiteral("SET client_min_messages TO warning"));
        dropAll();
    }
    void TearDown() override { dropAll(); }
    void dropAll()
    {
        TestServer::run(*admin, QStringLiteral("DROP VIEW IF EXISTS imp_v"));
        TestServer::run(*admin, QStringLiteral("DROP TABLE IF EXISTS imp_t, imp_t2, imp_new, \"ImpMixed\" CASCADE"));
        TestServer::run(*admin, QStringLiteral("DROP SCHEMA IF EXISTS imp_s CASCADE"));
        TestServer::run(*admin, QStringLiteral("DROP FUNCTION IF EXISTS imp_die() CASCADE"));
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    QString write(const QString& name, const QByteArray& bytes) const
    {
        QFile f(path(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        return path(name);
    }
    QString value(const QString& sql) const
    {
        Result r = admin->exec(sql);
        EXPECT_TRUE(r.tuplesOk()) << sql.toStdString() << r.errorMessage().toStdString();
        return r.value(0, 0);
    }
    QByteArray readLog(const QString& name = QStringLiteral("ImportError.log")) const
    {
        QFile f(path(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir dir;
    std::unique_ptr<Connection> admin;
    std::unique_ptr<Connection> conn;
    ScriptedPrompter prompts;
};
