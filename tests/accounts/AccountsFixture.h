#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <memory>
#include <ostream>

#include "support/DialogDriver.h"
#include "support/ScriptedPrompter.h"
#include "support/TestServer.h"

// Members of this group must log in with their password (the test cluster's pg_hba); it is
// cluster-wide and kept.
inline const QString kPasswordRole = QStringLiteral("kestrel_pw");

// The tool's connection (`conn`, a superuser) and an administrator's for set-up and checks.
// Every role and database a test names through role() and database() is dropped before it is
// used and again at the end.
class AccountsFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        admin = TestServer::connect();
        TestServer::run(*admin, QStringLiteral("SET client_min_messages TO warning"));
        TestServer::run(*admin, QStringLiteral(
                                    "DO $$BEGIN CREATE ROLE kestrel_pw NOLOGIN; EXCEPTION WHEN "
                                    "duplicate_object OR unique_violation THEN NULL; END$$"));
        conn = TestServer::connect();
        TestServer::run(*conn, QStringLiteral("SET client_min_messages TO error"));
    }
    void TearDown() override
    {
        conn.reset();
        for (const QString& d : m_databases) dropDatabase(d);
        for (const QString& r : m_roles) TestServer::run(*admin, QStringLiteral("DROP ROLE IF EXISTS ") + quoted(r));
    }

    static QString quoted(QString name) { return u'"' + name.replace(u'"', QStringLiteral("\"\"")) + u'"'; }
    QString literal(const QString& v) const { return u'\'' + admin->escapeValue(v) + u'\''; }

    QString role(const QString& name)
    {
        TestServer::run(*admin, QStringLiteral("DROP ROLE IF EXISTS ") + quoted(name));
        m_roles << name;
        return name;
    }
    QString database(const QString& name)
    {
        dropDatabase(name);
        m_databases << name;
        return name;
    }
    void dropDatabase(const QString& name)
    {
        TestServer::run(*admin, QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                                               "WHERE datname = %1").arg(literal(name)));
        TestServer::run(*admin, QStringLiteral("DROP DATABASE IF EXISTS ") + quoted(name));
    }
    QString value(const QString& sql)
    {
        Result r = admin->exec(sql);
        EXPECT_TRUE(r.tuplesOk()) << sql.toStdString() << ": " << r.errorMessage().toStdString();
        return r.value(0, 0);
    }
    // One column of pg_authid for a role ("" when the role is missing or the value null).
    QString roleValue(const QString& name, const QString& expression)
    {
        return value(QStringLiteral("select %1 from pg_authid where rolname = %2").arg(expression, literal(name)));
    }
    bool canLogIn(const QString& user, const QString& password)
    {
        return !Connection::login(TestServer::loginAs(user, password))->isBad();
    }

    // Types over the whole text of a box, as the operator does: key presses, so the box
    // tells of an edit.
    static void typeOver(QLineEdit* box, const QString& text)
    {
        box->selectAll();
        if (text.isEmpty()) {
            QKeyEvent del(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
            QApplication::sendEvent(box, &del);
        }
        for (QChar c : text) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
            QApplication::sendEvent(box, &press);
        }
    }
    // A double-click on the icon of `row`, or on empty space for -1.
    static void doubleClick(QListWidget* list, int row)
    {
        QWidget* port = list->viewport();
        const QPoint at = row >= 0 ? list->visualItemRect(list->item(row)).center()
                                   : QPoint(port->width() - 2, port->height() - 2);
        QMouseEvent press(QEvent::MouseButtonPress, at, port->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, port->mapToGlobal(at), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QMouseEvent dbl(QEvent::MouseButtonDblClick, at, port->mapToGlobal(at), Qt::LeftButton,
                        Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(port, &press);
        QApplication::sendEvent(port, &release);
        QApplication::sendEvent(port, &dbl);
    }
    static QStringList items(QListWidget* list)
    {
        QStringList out;
        for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
        return out;
    }
    static int rowOf(QListWidget* list, const QString& text) { return int(items(list).indexOf(text)); }

    std::unique_ptr<Connection> admin;
    std::unique_ptr<Connection> conn;
    ScriptedPrompter prompts;

private:
    QStringList m_roles;
    QStringList m_databases;
};
