#include "AccountsFixture.h"

#include <QAbstractButton>
#include <QCalendarWidget>
#include <QCheckBox>

#include "accounts/CUserEditDlg.h"

namespace {

// acc_edit logs in with a password, may not create databases, expires on 6 May 2031 and
// belongs to acc_g1 (after acc_other) and kestrel_pw; "Acc Grp 日本" is another group.
class UserEditTest : public AccountsFixture {
protected:
    void SetUp() override
    {
        AccountsFixture::SetUp();
        for (const char* r : {"acc_edit", "acc_other", "acc_g1", "Acc Grp 日本", "Acc Mixed", "acc_newgrp"})
            role(QString::fromUtf8(r));
        for (const char* sql :
             {"CREATE ROLE acc_g1 NOLOGIN", "CREATE ROLE \"Acc Grp 日本\" NOLOGIN",
              "CREATE ROLE acc_other LOGIN IN ROLE acc_g1",
              "CREATE ROLE acc_edit LOGIN PASSWORD 'secret1' NOCREATEDB NOSUPERUSER "
              "VALID UNTIL '2031-05-06 07:08:09' IN ROLE acc_g1, kestrel_pw",
              "CREATE ROLE \"Acc Mixed\" LOGIN"})
            TestServer::run(*admin, QString::fromUtf8(sql));
        // The expiry must not depend on how the session writes dates.
        TestServer::run(*conn, QStringLiteral("SET DateStyle = 'SQL, DMY'"));
    }
    static QStringList accountGroups(QDialog& d, const char* name)
    {
        QStringList names = itemTexts(list(d, name)).filter(QRegularExpression(QStringLiteral("^(acc|Acc|kestrel_pw)")));
        names.sort();
        return names;
    }
    bool member(const QString& user, const QString& group)
    {
        return value(QStringLiteral("select pg_has_role(%1, %2, 'MEMBER')::text").arg(literal(user), literal(group))) ==
               u"true";
    }
    // Statements from the last BEGIN on.
    static QStringList lastTransaction(const StatementLog& log)
    {
        const QStringList& s = log.statements();
        return s.mid(s.lastIndexOf(QStringLiteral("BEGIN"))).filter(QRegularExpression(QStringLiteral("^(?!select)")));
    }
};

TEST_F(UserEditTest, OpensOnTheUserAndSendsNothingUnpressed)
{
    StatementLog log(*conn);
    CUserEditDlg dlg(*conn, QStringLiteral("acc_edit"));
    const int rc = runModal(dlg, [&](QDialog& d) {
        EXPECT_EQ(lineEdit(d, "userNameBox")->text(), u"acc_edit");
        EXPECT_EQ(lineEdit(d, "sysIdBox")->text(), roleValue(QStringLiteral("acc_edit"), QStringLiteral("oid::text")));
        EXPECT_EQ(lineEdit(d, "passwordEdit")->text(), u"********");
        EXPECT_EQ(lineEdit(d, "confirmEdit")->text(), u"********");
        EXPECT_FALSE(check(d, "createDbCheck")->isChecked());
        EXPECT_FALSE(check(d, "superUserCheck")->isChecked());
        EXPECT_FALSE(check(d, "catalogueCheck")->isEnabled());
        EXPECT_FALSE(check(d, "traceCheck")->isEnabled());
        EXPECT_EQ(d.findChild<QCalendarWidget*>("expiryCalendar")->selectedDate(), QDate(2031, 5, 6));
        EXPECT_EQ(accountGroups(d, "memberOfList"), (QStringList{"acc_g1", "kestrel_pw"}));
        EXPECT_EQ(accountGroups(d, "otherGroupsList"), QStringList{QStringLiteral("Acc Grp 日本")});
        EXPECT_FALSE(button(d, "updateButton")->isEnabled());
        button(d, "cancelButton")->click();
    });
    EXPECT_EQ(rc, QDialog::Rejected);
    EXPECT_TRUE(log.statements().filter(QRegularExpression(QStringLiteral("^(?!select)"))).isEmpty())
        << log.statements().join(u'\n').toStdString();

    CUserEditDlg unknown(*conn, QStringLiteral("acc_nobody"));
    runModal(unknown, [&](QDialog& d) {
        EXPECT_EQ(lineEdit(d, "userNameBox")->text(), u"acc_nobody");
        EXPECT_EQ(lineEdit(d, "sysIdBox")->text() + lineEdit(d, "passwordEdit")->text(), QString());
        EXPECT_EQ(list(d, "memberOfList")->count() + list(d, "otherGroupsList")->count(), 0);
        button(d, "cancelButton")->click();
    });
    EXPECT_TRUE(prompts.messages().isEmpty());
}

TEST_F(UserEditTest, SendsOnlyWhatWasChangedAndThePasswordOnlyWhenTyped)
{
    const QString verifier = roleValue(QStringLiteral("acc_edit"), QStringLiteral("rolpassword"));
    StatementLog log(*conn);
    CUserEditDlg dlg(*conn, QStringLiteral("acc_edit"));
    runModal(dlg, [&](QDialog& d) {
        // Twice is still a change; the mask in the password fields is not one.
        check(d, "createDbCheck")->click();
        check(d, "createDbCheck")->click();
        EXPECT_TRUE(button(d, "updateButton")->isEnabled());
        button(d, "updateButton")->click();
        EXPECT_EQ(lastTransaction(log), (QStringList{"BEGIN", "ALTER USER acc_edit NOCREATEDB", "COMMIT"}));
        EXPECT_FALSE(button(d, "updateButton")->isEnabled());
        EXPECT_EQ(roleValue(QStringLiteral("acc_edit"), QStringLiteral("rolpassword")), verifier);
        EXPECT_TRUE(canLogIn(QStringLiteral("acc_edit"), QStringLiteral("secret1")));

        // A typed password waits for the next change that enables "更新".
        typeOver(lineEdit(d, "passwordEdit"), QStringLiteral("N'ew pw"));
        typeOver(lineEdit(d, "confirmEdit"), QStringLiteral("N'ew pw"));
        EXPECT_FALSE(button(d, "updateButton")->isEnabled());
        check(d, "superUserCheck")->click();
        check(d, "superUserCheck")->click();
        d.findChild<QCalendarWidget*>("expiryCalendar")->setSelectedDate(QDate(2032, 2, 3));
        button(d, "updateButton")->click();
        const QStringList sent = lastTransaction(log);
        ASSERT_EQ(sent.size(), 5) << sent.join(u'\n').toStdString();
        EXPECT_EQ(sent.mid(0, 3), (QStringList{"BEGIN", "ALTER USER acc_edit NOSUPERUSER",
                                               "ALTER USER acc_edit VALID UNTIL '2032-02-03 00:00:00'"}));
        EXPECT_TRUE(sent[3].startsWith(QStringLiteral("ALTER USER acc_edit WITH PASSWORD '")));
        EXPECT_FALSE(sent[3].contains(QStringLiteral("ew pw")));  // a blank is in no verifier
        EXPECT_EQ(sent[4], u"COMMIT");
        EXPECT_EQ(lineEdit(d, "passwordEdit")->text(), u"********");
        button(d, "cancelButton")->click();
    });
    EXPECT_EQ(prompts.messages(), (QStringList{"修正が完了しました", "修正が完了しました"}));
    EXPECT_TRUE(canLogIn(QStringLiteral("acc_edit"), QStringLiteral("N'ew pw")));
    EXPECT_FALSE(canLogIn(QStringLiteral("acc_edit"), QStringLiteral("secret1")));
    EXPECT_EQ(roleValue(QStringLiteral("acc_edit"), QStringLiteral("to_char(rolvaliduntil, 'YYYY-MM-DD HH24:MI:SS')")),
              u"2032-02-03 00:00:00");
}

TEST_F(UserEditTest, MismatchOrAFailedStepRollsBackEveryChange)
{
    StatementLog log(*conn);
    CUserEditDlg dlg(*conn, QStringLiteral("acc_edit"));
    runModal(dlg, [&](QDialog& d) {
        check(d, "createDbCheck")->click();
        typeOver(lineEdit(d, "passwordEdit"), QStringLiteral("abc"));
        typeOver(lineEdit(d, "confirmEdit"), QStringLiteral("abd"));
        button(d, "updateButton")->click();
        EXPECT_EQ(lastTransaction(log), (QStringList{"BEGIN", "ALTER USER acc_edit CREATEDB", "ROLLBACK"}));
        EXPECT_FALSE(check(d, "createDbCheck")->isChecked());
        EXPECT_EQ(lineEdit(d, "passwordEdit")->text(), u"********");
        EXPECT_FALSE(button(d, "updateButton")->isEnabled());
        EXPECT_EQ(prompts.messages(), (QStringList{"２のパスワードが一致しません",
                                                   "修正を中断しました。（トランザクションは破棄されました)"}));
        prompts.clear();

        // A step that fails while the user exists: the reloaded mask is not a typed password.
        typeOver(lineEdit(d, "passwordEdit"), QStringLiteral("typed1"));
        typeOver(lineEdit(d, "confirmEdit"), QStringLiteral("typed1"));
        check(d, "createDbCheck")->click();
        TestServer::run(*admin, QStringLiteral("BEGIN"));
        TestServer::run(*admin, QStringLiteral("ALTER ROLE acc_edit CONNECTION LIMIT 5"));
        TestServer::run(*conn, QStringLiteral("SET lock_timeout = '200ms'"));
        button(d, "updateButton")->click();
        TestServer::run(*admin, QStringLiteral("ROLLBACK"));
        EXPECT_EQ(lastTransaction(log), (QStringList{"BEGIN", "ALTER USER acc_edit CREATEDB", "ROLLBACK"}));
        EXPECT_EQ(prompts.messages(), (QStringList{"データベース作成権限の変更を行うことができませんでした",
                                                   "修正を中断しました。（トランザクションは破棄されました)"}));
        prompts.clear();
        check(d, "createDbCheck")->click();
        check(d, "createDbCheck")->click();
        button(d, "updateButton")->click();
        EXPECT_EQ(lastTransaction(log), (QStringList{"BEGIN", "ALTER USER acc_edit NOCREATEDB", "COMMIT"}));
        EXPECT_TRUE(canLogIn(QStringLiteral("acc_edit"), QStringLiteral("secret1")));
        prompts.clear();

        // The user goes away while the dialog is open: the first step fails.
        TestServer::run(*admin, QStringLiteral("DROP ROLE acc_edit"));
        check(d, "superUserCheck")->click();
        button(d, "updateButton")->click();
        EXPECT_EQ(lastTransaction(log), (QStringList{"BEGIN", "ALTER USER acc_edit SUPERUSER", "ROLLBACK"}));
        EXPECT_EQ(prompts.messages(), (QStringList{"ユーザ作成権限の変更を行うことができませんでした",
                                                   "修正を中断しました。（トランザクションは破棄されました)"}));
        button(d, "cancelButton")->click();
    });
    EXPECT_EQ(value(QStringLiteral("select count(*) from pg_authid where rolname = 'acc_edit'")), u"0");
}

TEST_F(UserEditTest, GroupsMoveBetweenTheListsAndEmptySpaceFails)
{
    const QString user = QStringLiteral("Acc Mixed");
    const QString group = QStringLiteral("Acc Grp 日本");
    StatementLog log(*conn);
    CUserEditDlg dlg(*conn, user);
    runModal(dlg, [&](QDialog& d) {
        doubleClickRow(list(d, "otherGroupsList"), rowOf(list(d, "otherGroupsList"), group));
        EXPECT_EQ(lastTransaction(log),
                  (QStringList{"BEGIN", "alter group \"Acc Grp 日本\" add user \"Acc Mixed\"", "COMMIT"}));
        EXPECT_EQ(accountGroups(d, "memberOfList"), QStringList{group});
        EXPECT_TRUE(member(user, group));

        doubleClickRow(list(d, "memberOfList"), 0);
        EXPECT_EQ(lastTransaction(log),
                  (QStringList{"BEGIN", "alter group \"Acc Grp 日本\" drop user \"Acc Mixed\"", "COMMIT"}));
        EXPECT_TRUE(accountGroups(d, "memberOfList").isEmpty());
        EXPECT_GE(rowOf(list(d, "otherGroupsList"), group), 0);
        EXPECT_FALSE(member(user, group));
        EXPECT_TRUE(prompts.messages().isEmpty());

        doubleClickRow(list(d, "otherGroupsList"), -1);
        EXPECT_EQ(lastTransaction(log), (QStringList{"BEGIN", "alter group \"\" add user \"Acc Mixed\"", "ROLLBACK"}));
        EXPECT_EQ(prompts.messages(), (QStringList{"グループに追加できませんでした。",
                                                   "修正を中断しました。（トランザクションは破棄されました)"}));

        onNextModal([](QDialog& g) {
            lineEdit(g, "groupNameEdit")->setText(QStringLiteral("Acc_NewGrp"));
            button(g, "createButton")->click();
        });
        button(d, "groupCreateButton")->click();
        EXPECT_GE(rowOf(list(d, "otherGroupsList"), QStringLiteral("acc_newgrp")), 0);
        button(d, "cancelButton")->click();
    });
}

}  // namespace
