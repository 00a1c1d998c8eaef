// The workspace's session as the operator meets it over a real link: a relay in front of the
// test server that the test makes silent, closes or cuts, a server restarted under the program,
// a session terminated, and the operator's own transaction in the SQL window.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QTableWidget>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>
#include <functional>

#include "app/CMainFrame.h"
#include "browser/CLeftView.h"
#include "console/CDebugView.h"
#include "console/QueryConsole.h"
#include "listview/CKestrelView.h"
#include "support/DialogDriver.h"
#include "support/Relay.h"
#include "support/ServerFixture.h"
#include "transfer/TableDetail.h"
#include "widgets/CommandTarget.h"
#include "widgets/QtWaiter.h"
#include "workspace/CKestrelDoc.h"
#include "workspace/Transaction.h"

namespace {

const QString kRestoredLine = QStringLiteral("新しいセッションで接続し直しました");

void spin(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

// The main window logged in through a relay to the test server, waiting on the server as the
// application does, with two tables of its own.
class SessionTest : public ServerFixture {
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        if (HasFatalFailure()) return;
        for (const char* sql :
             {"CREATE TABLE ses_t (id int PRIMARY KEY, name text)",
              "INSERT INTO ses_t SELECT g, 'n' || g FROM generate_series(1, 5) g",
              "CREATE TABLE ses_u (a int)", "CREATE SEQUENCE ses_runs",
              "CREATE FUNCTION ses_count() RETURNS trigger LANGUAGE plpgsql AS "
              "$$ BEGIN PERFORM nextval('ses_runs'); RETURN new; END $$",
              "CREATE TRIGGER ses_count BEFORE UPDATE ON ses_t FOR EACH ROW EXECUTE PROCEDURE ses_count()"})
            TestServer::run(*admin, QString::fromUtf8(sql));
        relay = std::make_unique<Relay>(qEnvironmentVariableIntValue("PGPORT"));
        login = TestServer::loginThrough(*relay);
        doc.setWaiter(&waiter);
        doc.setLoginRunner([this] {
            ++logins;
            return std::optional<LoginParameters>(login);
        });
        frame = std::make_unique<CMainFrame>(doc, nullptr);
        frame->initialUpdateViews();
        ASSERT_NE(doc.connection(), nullptr);
        ASSERT_FALSE(doc.connection()->isBad());
    }
    void TearDown() override
    {
        frame.reset();
        relay.reset();
        ServerFixture::TearDown();
    }
    void cleanUp() override
    {
        TestServer::run(*admin, QStringLiteral("DROP TABLE IF EXISTS ses_t, ses_u CASCADE"));
        TestServer::run(*admin, QStringLiteral("DROP FUNCTION IF EXISTS ses_count()"));
        TestServer::run(*admin, QStringLiteral("DROP SEQUENCE IF EXISTS ses_runs"));
    }

    // Selects a table in the tables folder, as the operator clicks it: its rows are listed.
    void showTable(const QString& table)
    {
        QTreeWidgetItem* folder = findNode(*frame->leftView(), Browse::kTablesFolder);
        frame->leftView()->setCurrentItem(folder);
        QTreeWidgetItem* t = child(folder, table);
        ASSERT_NE(t, nullptr) << table.toStdString();
        frame->leftView()->setCurrentItem(t);
    }
    CKestrelView* list() const { return frame->listView(); }
    CDebugView* logView() const { return frame->debugView(); }
    int listed() const { return list()->model()->rowCount(); }
    void refresh() { list()->runCommand(Cmd::Refresh); }
    Connection& conn() { return *doc.connection(); }
    int sessionPid() { return conn().backendPid(); }
    QStringList messages() const { return prompts.messages(); }
    bool told(const QString& part) const
    {
        for (const QString& m : prompts.messages())
            if (m.contains(part)) return true;
        return false;
    }
    // "中止" in the visible wait of the next statement, once it has waited `afterMs`.
    void stopNextWait(int afterMs)
    {
        onNextModal([afterMs](QDialog& wait) {
            QTimer::singleShot(afterMs, &wait, [&wait] {
                if (QAbstractButton* stop = button(wait, "waitStop")) stop->click();
            });
        });
    }

    std::unique_ptr<Relay> relay;
    LoginParameters login;
    QtWaiter waiter;
    CKestrelDoc doc;
    int logins = 0;
    std::unique_ptr<CMainFrame> frame;
};

}  // namespace

// However the session ends under the program, the next command opens a new one like it: the same
// tree, the same node, its rows listed again, one line in the log pane and no new login.
TEST_F(SessionTest, ASessionThatEndedIsRestoredInPlaceAndTheListingSentAgain)
{
    struct Ending {
        const char* how;
        int sinceServer;
        std::function<void()> end;
    };
    const Ending endings[] = {
        {"terminated", 0, [this] { TestServer::endSession(sessionPid()); }},
        {"link closed", 0, [this] { relay->closeAll(); }},
        {"server restarted", 0, [this] {
             TestServer::restart();
             admin = TestServer::connect();
         }},
        {"idle timeout", 140000, [this] {
             conn().exec(QStringLiteral("SET idle_session_timeout = 300"));
             spin(1000);
         }},
    };
    showTable(QStringLiteral("ses_t"));
    ASSERT_EQ(listed(), 5);
    const int treeNodes = frame->leftView()->topLevelItem(0)->childCount();
    for (const Ending& e : endings) {
        if (conn().serverVersion() < e.sinceServer) continue;
        SCOPED_TRACE(e.how);
        logView()->clear();
        const int generation = conn().generation();
        e.end();
        spin(300);
        refresh();
        EXPECT_EQ(listed(), 5);
        EXPECT_EQ(conn().generation(), generation + 1);
        EXPECT_EQ(frame->leftView()->currentItem()->text(0), QStringLiteral("ses_t"));
        EXPECT_EQ(frame->leftView()->topLevelItem(0)->childCount(), treeNodes);
        spin(600);  // the log pane's tick
        EXPECT_EQ(logView()->toPlainText().count(kRestoredLine), 1) << logView()->toPlainText().toStdString();
        // A statement that only reads is sent again without a word.
        EXPECT_TRUE(messages().isEmpty()) << messages().join(u'\n').toStdString();
    }
    EXPECT_EQ(logins, 1);
    // Every session is named, and the settings of the login are made on each new one.
    EXPECT_EQ(value(QStringLiteral("select application_name from pg_stat_activity where pid = %1")
                         .arg(sessionPid())),
              QStringLiteral("kestrel"));
    EXPECT_EQ(conn().read(QStringLiteral("show synchronize_seqscans")).value(0, 0), QStringLiteral("off"));
}

// A listing waiting on a link gone silent: the window keeps turning, "中止" gives the session up
// within moments and says what that means; once the link is back, the next command works.
TEST_F(SessionTest, StopOnASilentLinkGivesTheSessionUpAndNothingFreezes)
{
    showTable(QStringLiteral("ses_t"));
    relay->setSilent(true);
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(20);
    stopNextWait(700);
    refresh();
    ticker.stop();
    // The event loop turned all along: the wait showed after 0.3 s and "中止" came at 1 s.
    EXPECT_GT(ticks, 25);
    EXPECT_TRUE(told(QStringLiteral("サーバーが応答しないため、接続を切断しました"))) << messages().join(u'\n').toStdString();
    EXPECT_TRUE(conn().isLost());
    EXPECT_EQ(doc.sessionStateText(), QStringLiteral("接続切断"));

    prompts.clear();
    relay->setSilent(false);
    refresh();
    EXPECT_EQ(listed(), 5);
    EXPECT_FALSE(conn().isLost());
    EXPECT_TRUE(messages().isEmpty()) << messages().join(u'\n').toStdString();

    // A login through a silent link: "中止" returns without a session; the earlier one stays.
    relay->setSilent(true);
    stopNextWait(400);
    EXPECT_EQ(doc.Connect(), -1);
    EXPECT_TRUE(told(QStringLiteral("接続を中止しました"))) << messages().join(u'\n').toStdString();
    EXPECT_EQ(logins, 2);
    relay->setSilent(false);
}

// An UPDATE whose COMMIT reached the server but whose answer never came back: the server ran it
// once, the program sends it no second time, and says that it may have been committed.
TEST_F(SessionTest, AChangeWhoseAnswerNeverCameIsNeverSentAgain)
{
    showTable(QStringLiteral("ses_t"));
    StatementLog log(conn());
    relay->cutAfter("COMMIT");
    list()->setCurrentIndex(list()->model()->index(0, 0));
    onNextModal([this](QDialog& d) {
        d.findChild<QTableWidget*>(QStringLiteral("fieldList"))->setCurrentCell(1, 0);
        lineEdit(d, "dataBox")->setText(QStringLiteral("changed"));
        prompts.answer(true);
        button(d, "updateButton")->click();
        d.reject();
    });
    list()->runCommand(Cmd::RecordEdit);
    EXPECT_EQ(relay->cuts(), 1);
    EXPECT_EQ(value(QStringLiteral("select last_value from ses_runs")), QStringLiteral("1"));
    EXPECT_EQ(value(QStringLiteral("select name from ses_t where id = 1")), QStringLiteral("changed"));
    EXPECT_EQ(log.statements().filter(QStringLiteral("UPDATE")).size(), 1) << log.statements().join(u'\n').toStdString();
    EXPECT_TRUE(told(QStringLiteral("コミットされたかどうか分かりません"))) << messages().join(u'\n').toStdString();
    for (const QString& m : messages()) EXPECT_FALSE(m.contains(QStringLiteral("破棄されました"))) << m.toStdString();
    refresh();
    EXPECT_EQ(listed(), 5);
}

// The operator's transaction goes with its session: the next statement says so and is not
// sent, so nothing the operator meant for the transaction runs outside it unnoticed.
TEST_F(SessionTest, TheOperatorsTransactionLostWithItsSessionIsReported)
{
    QueryConsole console(doc);
    EXPECT_EQ(console.execute(QStringLiteral("BEGIN")).response, QStringLiteral("BEGIN"));
    console.execute(QStringLiteral("INSERT INTO ses_t VALUES (100, 'x')"));
    EXPECT_TRUE(doc.sessionStateText().contains(QStringLiteral("トランザクション中")));
    TestServer::endSession(sessionPid());
    spin(300);
    const QString insert = QStringLiteral("INSERT INTO ses_t VALUES (101, 'y')");
    const ConsoleAnswer lost = console.execute(insert);
    EXPECT_TRUE(lost.response.contains(QStringLiteral("トランザクションは失われました"))) << lost.response.toStdString();
    EXPECT_EQ(value(QStringLiteral("select count(*) from ses_t where id >= 100")), QStringLiteral("0"));
    // Sent again by the operator, knowing the transaction is gone, it runs on its own.
    EXPECT_EQ(console.execute(insert).response, QStringLiteral("INSERT 0 1"));
    EXPECT_EQ(value(QStringLiteral("select count(*) from ses_t where id >= 100")), QStringLiteral("1"));
    EXPECT_EQ(logins, 1);
}

// While the operator holds a transaction open, a change of the program asks first, runs inside
// it under a savepoint and says it is not committed; another session sees nothing of it until
// the operator commits. A failed transaction is offered a rollback once.
TEST_F(SessionTest, ChangesInsideTheOperatorsTransactionWaitForItsCommit)
{
    QueryConsole console(doc);
    console.execute(QStringLiteral("BEGIN"));
    console.execute(QStringLiteral("INSERT INTO ses_t VALUES (100, 'x')"));

    showTable(QStringLiteral("ses_t"));
    list()->setCurrentIndex(list()->model()->index(0, 0));
    onNextModal([this](QDialog& d) {
        d.findChild<QTableWidget*>(QStringLiteral("fieldList"))->setCurrentCell(1, 0);
        lineEdit(d, "dataBox")->setText(QStringLiteral("changed"));
        prompts.answer(true);  // 更新を行ってもよろしいですか？
        prompts.answer(true);  // inside the operator's transaction
        button(d, "updateButton")->click();
        d.reject();
    });
    list()->runCommand(Cmd::RecordEdit);
    EXPECT_TRUE(prompts.texts().contains(kInsideOperatorsQuestion));
    EXPECT_TRUE(told(kNotYetCommitted));

    showTable(QStringLiteral("ses_u"));
    prompts.answer(true);  // テーブルを削除してもよろしいですか？
    prompts.answer(true);  // inside the operator's transaction
    frame->leftView()->runCommand(Cmd::TableDrop);
    EXPECT_TRUE(told(Browse::kDropped + u'\n' + kNotYetCommitted)) << messages().join(u'\n').toStdString();
    EXPECT_FALSE(prompts.answersLeft());

    // Another session sees none of it yet.
    EXPECT_EQ(value(QStringLiteral("select count(*) from ses_t where id = 100 or name = 'changed'")),
              QStringLiteral("0"));
    EXPECT_EQ(value(QStringLiteral("select count(*) from pg_class where relname = 'ses_u'")), QStringLiteral("1"));
    EXPECT_TRUE(conn().operatorTransaction());
    EXPECT_EQ(console.execute(QStringLiteral("COMMIT")).response, QStringLiteral("COMMIT"));
    EXPECT_EQ(value(QStringLiteral("select count(*) from ses_t where id = 100 or name = 'changed'")),
              QStringLiteral("2"));
    EXPECT_EQ(value(QStringLiteral("select count(*) from pg_class where relname = 'ses_u'")), QStringLiteral("0"));

    // A failed transaction: the first command that meets it offers the rollback, once.
    console.execute(QStringLiteral("BEGIN"));
    console.execute(QStringLiteral("select 1/0"));
    EXPECT_TRUE(doc.sessionStateText().contains(QStringLiteral("トランザクション失敗")));
    prompts.clear();
    prompts.answer(true);
    showTable(QStringLiteral("ses_t"));
    EXPECT_EQ(listed(), 6);
    EXPECT_FALSE(conn().inTransaction());
    EXPECT_EQ(prompts.texts().size(), 1) << prompts.texts().join(u'\n').toStdString();
}

// A connection string in the database field: the names shown and used are the session's own.
TEST_F(SessionTest, AConnectionStringInTheDatabaseFieldNamesTheRealDatabase)
{
    TestServer::run(*admin, QStringLiteral("CREATE DATABASE ") + database(QStringLiteral("ses_cs")));
    login.databaseName = QStringLiteral("dbname=ses_cs application_name=operator_app keepalives_idle=30");
    frame->initialUpdateViews();
    ASSERT_FALSE(conn().isBad());
    EXPECT_NE(findNode(*frame->leftView(), QStringLiteral("データベース(ses_cs)")), nullptr);
    EXPECT_EQ(doc.sessionDatabase(), QStringLiteral("ses_cs"));
    EXPECT_EQ(doc.sessionStateText(), QStringLiteral("暗号化なし"));
    // The operator's own settings win over the program's.
    EXPECT_EQ(conn().read(QStringLiteral("select current_setting('application_name')")).value(0, 0),
              QStringLiteral("operator_app"));
    const SessionSettings settings = SettingsOf(conn().raw());
    const auto keepalivesIdle = std::find_if(settings.begin(), settings.end(),
                                             [](const auto& s) { return s.first == "keepalives_idle"; });
    ASSERT_NE(keepalivesIdle, settings.end());
    EXPECT_EQ(keepalivesIdle->second, QByteArray("30"));

    TestServer::run(*admin, QStringLiteral("SET client_min_messages TO warning"));
    auto db = TestServer::connect(TestServer::superuserLogin(QStringLiteral("ses_cs")));
    TestServer::run(*db, QStringLiteral("CREATE TABLE ses_cs_t (a int)"));
    const TableDetail detail = LoadTableDetail(conn(), ObjectName{QStringLiteral("public"), QStringLiteral("ses_cs_t"), true},
                                               doc.sessionDatabase());
    ASSERT_TRUE(detail.databaseRead);
    EXPECT_FALSE(detail.database.oid.value_or(QString()).isEmpty());
    EXPECT_EQ(detail.database.encoding.value_or(QString()), QStringLiteral("UTF8"));
    EXPECT_EQ(detail.database.ownerName.value_or(QString()), QStringLiteral("postgres"));
}
