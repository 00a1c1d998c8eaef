#pragma once

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <memory>

#include "support/DialogDriver.h"
#include "support/ServerFixture.h"

// The tool's connection (`conn`, a superuser) beside the administrator's for set-up and checks.
// Every role and database a test names through role() and database() is dropped before it is
// used and again at the end.
class AccountsFixture : public ServerFixture {
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        passwordRole = TestServer::passwordRole();
        conn = TestServer::connect();
        TestServer::run(*conn, QStringLiteral("SET client_min_messages TO error"));
    }
    void TearDown() override
    {
        conn.reset();
        ServerFixture::TearDown();
    }

    QString literal(const QString& v) const { return u'\'' + admin->escapeValue(v) + u'\''; }

    // One column of pg_authid for a role ("" when the role is missing or the value null).
    QString roleValue(const QString& name, const QString& expression)
    {
        return value(QStringLiteral("select %1 from pg_authid where rolname = %2").arg(expression, literal(name)));
    }
    bool canLogIn(const QString& user, const QString& password)
    {
        return !Connection::login(TestServer::loginAs(user, password))->isBad();
    }

    static QCheckBox* check(QDialog& d, const char* name) { return control<QCheckBox>(d, name); }
    static QListWidget* list(QDialog& d, const char* name) { return control<QListWidget>(d, name); }
    // A double-click on the icon of `row`, or on empty space for -1.
    static void doubleClickRow(QListWidget* list, int row)
    {
        QWidget* port = list->viewport();
        doubleClick(list, row >= 0 ? list->visualItemRect(list->item(row)).center()
                                   : QPoint(port->width() - 2, port->height() - 2));
    }
    static int rowOf(QListWidget* list, const QString& text) { return int(itemTexts(list).indexOf(text)); }

    // Members of this group must log in with their password (the test cluster's pg_hba).
    QString passwordRole;
    std::unique_ptr<Connection> conn;
};
