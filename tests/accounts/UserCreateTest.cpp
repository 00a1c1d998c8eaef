#include "AccountsFixture.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QCryptographicHash>
#include <QDateEdit>
#include <QTimeEdit>

#include "accounts/CUserCreateDlg.h"

namespace {

class UserCreateTest : public AccountsFixture {
protected:
    // Fills the form and presses "作成"; returns whether the dialog is still open.
    static bool create(QDialog& d, const QString& name, const QString& password,
                       const QString& confirmation)
    {
        lineEdit(d, "userNameEdit")->setText(name);
        lineEdit(d, "passwordEdit")->setText(password);
        lineEdit(d, "confirmEdit")->setText(confirmation);
        button(d, "createButton")->click();
        return d.isVisible();
    }
};

TEST_F(UserCreateTest, AllowAllSendsTheVerifierNotThePasswordAndCreatesTheDatabase)
{
    const QString name = role(QStringLiteral("acc_taro"));
    database(name);
    TestServer::run(*conn, QStringLiteral("SET password_encryption = 'md5'"));
    StatementLog log(*conn);
    CUserCreateDlg dlg(*conn);
    const int rc = runModal(dlg, [&](QDialog& d) {
        button(d, "allowAllButton")->click();
        EXPECT_TRUE(check(d, "traceCheck")->isChecked());
        EXPECT_FALSE(check(d, "traceCheck")->isEnabled());
        d.findChild<QDateEdit*>("expiryDate")->setDate(QDate(2002, 12, 31));
        d.findChild<QTimeEdit*>("expiryTime")->setTime(QTime(18, 30, 0));
        EXPECT_FALSE(create(d, QStringLiteral("Acc_Taro"), QStringLiteral("O'Brien"), QStringLiteral("O'Brien")));
    });
    EXPECT_EQ(rc, QDialog::Accepted);
    // md5 verifiers are md5 of the password followed by the role name, as the server keeps it.
    const QString verifier = QStringLiteral("md5") +
        QString::fromLatin1(QCryptographicHash::hash("O'Brienacc_taro", QCryptographicHash::Md5).toHex());
    EXPECT_EQ(log.statements(),
              (QStringList{QStringLiteral("Create User acc_taro WITH PASSWORD '%1' CREATEDB SUPERUSER "
                                          "VALID UNTIL '2002-12-31 18:30:00'").arg(verifier),
                           QStringLiteral("Create Database acc_taro ")}));
    EXPECT_EQ(prompts.messages(), QStringList{QStringLiteral("ユーザを登録しました")});
    EXPECT_EQ(roleValue(name, QStringLiteral("rolcreatedb::text || rolsuper::text || rolpassword || "
                                             "to_char(rolvaliduntil, ' YYYY-MM-DD HH24:MI:SS')")),
              QStringLiteral("truetrue") + verifier + QStringLiteral(" 2002-12-31 18:30:00"));
    EXPECT_EQ(value(QStringLiteral("select count(*) from pg_database where datname = 'acc_taro'")), u"1");
}

TEST_F(UserCreateTest, StoredVerifierTakesTheTypedPasswordAndRefusesAnother)
{
    const QString password = QStringLiteral("O'Brien 日本 \\'");
    for (const QString encryption : {QStringLiteral("md5"), QStringLiteral("scram-sha-256")}) {
        SCOPED_TRACE(encryption.toStdString());
        const QString name = role(QStringLiteral("acc_pw_") + encryption.left(3));
        database(name);
        TestServer::run(*conn, QStringLiteral("SET password_encryption = '%1'").arg(encryption));
        StatementLog log(*conn);
        CUserCreateDlg dlg(*conn);
        runModal(dlg, [&](QDialog& d) { create(d, name, password, password); });
        ASSERT_EQ(log.statements().size(), 2);
        EXPECT_TRUE(log.statements()[0].startsWith(QStringLiteral("Create User %1 WITH PASSWORD '%2")
                                                       .arg(name, encryption == u"md5" ? u"md5" : u"SCRAM-SHA-256$")))
            << log.statements()[0].toStdString();
        EXPECT_TRUE(log.statements()[0].endsWith(QStringLiteral("' NOCREATEDB NOSUPERUSER")));
        EXPECT_FALSE(log.statements()[0].contains(QStringLiteral("日本")));  // no verifier holds it
        TestServer::run(*admin, QStringLiteral("GRANT kestrel_pw TO %1").arg(name));
        EXPECT_TRUE(canLogIn(name, password));
        EXPECT_FALSE(canLogIn(name, QStringLiteral("O'Brien")));
    }
}

TEST_F(UserCreateTest, EmptyPasswordQuotedNameAndTheIgnoredBoxes)
{
    const QString name = role(QStringLiteral("Acc \"Mixed\" O'Neil"));
    database(name);
    StatementLog log(*conn);
    CUserCreateDlg dlg(*conn);
    const int rc = runModal(dlg, [&](QDialog& d) {
        EXPECT_TRUE(create(d, QString(), QStringLiteral("a"), QStringLiteral("a")));
        EXPECT_TRUE(log.statements().isEmpty());
        EXPECT_TRUE(prompts.messages().isEmpty());
        EXPECT_TRUE(create(d, name, QStringLiteral("secret"), QStringLiteral("Secret")));
        EXPECT_TRUE(log.statements().isEmpty());
        EXPECT_EQ(prompts.messages(), QStringList{QStringLiteral("パスワードを確認してください")});
        prompts.clear();

        button(d, "allowAllButton")->click();
        button(d, "ordinaryButton")->click();
        for (const char* box : {"createDbCheck", "createUserCheck", "traceCheck", "expiryCheck"})
            EXPECT_FALSE(check(d, box)->isChecked()) << box;
        check(d, "createDbCheck")->click();
        d.findChild<QDateEdit*>("expiryDate")->setDate(QDate(2030, 1, 1));
        EXPECT_FALSE(create(d, name, QString(), QString()));
    });
    EXPECT_EQ(rc, QDialog::Accepted);
    EXPECT_EQ(log.statements(),
              (QStringList{QStringLiteral("Create User \"Acc \"\"Mixed\"\" O'Neil\" WITH PASSWORD '' CREATEDB NOSUPERUSER"),
                           QStringLiteral("Create Database \"Acc \"\"Mixed\"\" O'Neil\" ")}));
    EXPECT_EQ(roleValue(name, QStringLiteral("rolcreatedb::text || coalesce(rolpassword, 'none') || "
                                             "coalesce(rolvaliduntil::text, 'none')")),
              QStringLiteral("truenonenone"));
    EXPECT_EQ(value(QStringLiteral("select count(*) from pg_database where datname = %1").arg(literal(name))), u"1");
}

TEST_F(UserCreateTest, FailingCreateDatabaseLeavesTheUserAndKeepsTheDialog)
{
    const QString name = role(QStringLiteral("acc_dup"));
    TestServer::run(*admin, QStringLiteral("CREATE DATABASE ") + database(name));
    StatementLog log(*conn);
    CUserCreateDlg dlg(*conn);
    const int rc = runModal(dlg, [&](QDialog& d) {
        EXPECT_TRUE(create(d, name, QStringLiteral("pw"), QStringLiteral("pw")));
        EXPECT_TRUE(create(d, name, QStringLiteral("pw"), QStringLiteral("pw")));
        button(d, "cancelButton")->click();
    });
    EXPECT_EQ(rc, QDialog::Rejected);
    EXPECT_EQ(log.statements().size(), 3);
    EXPECT_EQ(log.statements().value(1), QStringLiteral("Create Database acc_dup "));
    ASSERT_EQ(prompts.messages().size(), 2);
    EXPECT_TRUE(prompts.messages()[0].contains(QStringLiteral("database \"acc_dup\" already exists")))
        << prompts.messages()[0].toStdString();
    EXPECT_TRUE(prompts.messages()[1].contains(QStringLiteral("role \"acc_dup\" already exists")))
        << prompts.messages()[1].toStdString();
    EXPECT_EQ(roleValue(name, QStringLiteral("rolname")), name);
}

}  // namespace
