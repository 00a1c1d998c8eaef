#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "support/ScriptedPrompter.h"
#include "support/TestFiles.h"
#include "support/TestServer.h"
#include "workspace/CKestrelDoc.h"

namespace {

struct StatusCapture {
    explicit StatusCapture(CKestrelDoc& doc)
    {
        QObject::connect(&doc, &CKestrelDoc::statusPanesChanged,
                         [this](const QString& a, const QString& b, const QString& c) {
                             panes = {a, b, c};
                         });
    }
    QStringList panes;
};

}  // namespace

TEST(Connect, RecordsStartDirectoryOnceAndReturnsToItBeforeEveryLogin)
{
    WorkingDirectory guard;  // back where the process was after the test
    ScriptedPrompter prompts;
    QTemporaryDir start, elsewhere;
    const QString startPath = QDir(start.path()).canonicalPath();
    QDir::setCurrent(startPath);

    CKestrelDoc doc;
    QString cwdAtLogin;
    doc.setLoginRunner([&] {
        cwdAtLogin = QDir::currentPath();
        return std::optional<LoginParameters>(TestServer::superuserLogin());
    });
    ASSERT_EQ(doc.Connect(), 0);
    EXPECT_EQ(doc.startDirectory, startPath);
    EXPECT_EQ(doc.superUser, 1);

    // A file dialog moved the working directory; the next login happens back in the start one.
    QDir::setCurrent(elsewhere.path());
    ASSERT_EQ(doc.Connect(), 0);
    EXPECT_EQ(cwdAtLogin, startPath);
    EXPECT_EQ(doc.startDirectory, startPath);
    EXPECT_TRUE(prompts.shown().isEmpty());
}

TEST(Connect, CancelledLoginShowsLoginFailedAndKeepsEverything)
{
    ScriptedPrompter prompts;
    CKestrelDoc doc;
    doc.setLoginRunner([] { return std::optional<LoginParameters>(); });
    EXPECT_EQ(doc.Connect(), -1);
    EXPECT_EQ(doc.connection(), nullptr);
    EXPECT_EQ(doc.superUser, 0);
    ASSERT_EQ(prompts.shown().size(), 1);
    EXPECT_EQ(prompts.shown()[0].text, QStringLiteral("ログイン失敗"));
    EXPECT_EQ(prompts.shown()[0].kind, BoxKind::Application);
}

TEST(Connect, RefusedLoginShowsServerTextAndKeepsStatusTexts)
{
    ScriptedPrompter prompts;
    CKestrelDoc doc;
    StatusCapture status(doc);
    LoginParameters good = TestServer::superuserLogin();
    std::optional<LoginParameters> next = good;
    doc.setLoginRunner([&] { return next; });
    ASSERT_EQ(doc.Connect(), 0);
    const QStringList before = status.panes;
    ASSERT_EQ(before.size(), 3);

    next = TestServer::loginAs(QStringLiteral("no_such_role_kestrel"));
    EXPECT_EQ(doc.Connect(), -1);
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].contains(QStringLiteral("no_such_role_kestrel")))
        << prompts.messages()[0].toStdString();
    EXPECT_EQ(doc.connection()->isBad(), true);  // the failed handle is the connection now
    EXPECT_EQ(status.panes, before);
    EXPECT_EQ(doc.superUser, 0);
}

TEST(Connect, StatusPaneTextsAndClientEncoding)
{
    ScriptedPrompter prompts;
    auto admin = TestServer::connect();
    TestServer::dropRole(*admin, QStringLiteral("abc"));
    TestServer::run(*admin, QStringLiteral("CREATE ROLE abc LOGIN"));

    CKestrelDoc doc;
    StatusCapture status(doc);
    // The host is named db1; the address comes in through the database text, which libpq
    // reads as connection settings when it holds an '=' sign.
    LoginParameters p = TestServer::loginAs(QStringLiteral("abc"));
    p.hostName = QStringLiteral("db1");
    p.databaseName = QStringLiteral("dbname=postgres hostaddr=%1")
                         .arg(qEnvironmentVariable("PGHOST", QStringLiteral("127.0.0.1")));
    doc.setLoginRunner([&] { return std::optional<LoginParameters>(p); });
    ASSERT_EQ(doc.Connect(), 0) << prompts.texts().join(u'\n').toStdString();
    EXPECT_EQ(status.panes, (QStringList{QStringLiteral("ログイン名　abc"),
                                         QStringLiteral("ホスト名　db1"),
                                         QStringLiteral("検索スピード")}));
    EXPECT_EQ(TestServer::value(*doc.connection(), QStringLiteral("show client_encoding")), QStringLiteral("UTF8"));

    // Empty fields: libpq falls back to the environment; the host pane names the host the
    // session reached, never a typed text.
    p = LoginParameters{};
    ASSERT_EQ(doc.Connect(), 0) << prompts.texts().join(u'\n').toStdString();
    EXPECT_EQ(status.panes, (QStringList{QStringLiteral("ログイン名　"),
                                         QStringLiteral("ホスト名　") + doc.connection()->hostName(),
                                         QStringLiteral("検索スピード")}));
    doc.setLoginRunner({});
    TestServer::dropRole(*admin, QStringLiteral("abc"));
}

TEST(Connect, ASessionThatCannotSpeakUtf8IsAFailedLogin)
{
    // The server has no conversion between UTF8 and MULE_INTERNAL: it refuses the switch.
    ScriptedPrompter prompts;
    auto admin = TestServer::connect();
    const QString db = QStringLiteral("kestrel_mule");
    TestServer::dropDatabase(*admin, db);
    TestServer::run(*admin, QStringLiteral("CREATE DATABASE %1 ENCODING 'MULE_INTERNAL' "
                                           "TEMPLATE template0 LC_COLLATE 'C' LC_CTYPE 'C'").arg(db));
    CKestrelDoc doc;
    StatusCapture status(doc);
    LoginParameters p = TestServer::superuserLogin();
    p.databaseName = db;
    doc.setLoginRunner([&] { return std::optional<LoginParameters>(p); });
    EXPECT_EQ(doc.Connect(), -1);
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].startsWith(
        QStringLiteral("クライアントの文字コードを UTF8 に設定できませんでした。\n")));
    EXPECT_TRUE(prompts.messages()[0].contains(QStringLiteral("MULE_INTERNAL")))
        << prompts.messages()[0].toStdString();
    EXPECT_EQ(doc.connection(), nullptr);  // the session is not used at all
    EXPECT_EQ(doc.superUser, 0);
    EXPECT_TRUE(status.panes.isEmpty());
    doc.setLoginRunner({});
    TestServer::dropDatabase(*admin, db);
}
