#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QSplitter>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidgetItemIterator>

#include "app/AppIcon.h"
#include "app/CAboutDlg.h"
#include "app/CKestrelApp.h"
#include "app/CMainFrame.h"
#include "browser/CLeftView.h"
#include "console/CDebugView.h"
#include "listview/CKestrelView.h"
#include "support/DialogDriver.h"
#include "support/Relay.h"
#include "support/ScriptedPrompter.h"
#include "support/TestServer.h"
#include "workspace/CKestrelDoc.h"

namespace {

// The application's own commands, served as CKestrelApp serves them.
class AppCommands : public CommandTarget {
public:
    bool handlesCommand(int id) const override
    {
        return id == Cmd::NewConnection || id == Cmd::PrintSetup || id == Cmd::About;
    }
    void runCommand(int id) override { ran << id; }
    QList<int> ran;
};

// The labels of a menu, a dash for a separator, with the command numbers in brackets.
QStringList menuItems(QMenu* menu)
{
    QStringList out;
    for (QAction* a : menu->actions())
        out << (a->isSeparator() ? QStringLiteral("-")
                                 : QStringLiteral("%1 (%2)").arg(a->text()).arg(a->data().toInt()));
    return out;
}

struct Frame {
    Frame()
    {
        doc.setLoginRunner([this] {
            ++logins;
            return login;
        });
        frame = std::make_unique<CMainFrame>(doc, &app);
    }
    ScriptedPrompter prompts;
    CKestrelDoc doc;
    AppCommands app;
    std::optional<LoginParameters> login;
    int logins = 0;
    std::unique_ptr<CMainFrame> frame;
};

}  // namespace

TEST(MainFrame, TitleMenusToolBarAndStatusBar)
{
    Frame f;
    EXPECT_EQ(f.frame->windowTitle(), QStringLiteral("マーロウKestrel"));

    QList<QMenu*> menus;
    QStringList titles;
    for (QAction* a : f.frame->menuBar()->actions()) {
        menus << a->menu();
        titles << a->text();
    }
    EXPECT_EQ(titles, (QStringList{"ﾌｧｲﾙ(&F)", "編集(&E)", "表示(&V)", "ﾍﾙﾌﾟ(&H)"}));
    EXPECT_EQ(menuItems(menus[0]),
              (QStringList{"新規接続 (57600)", "-", "CSVファイルのインポート (32780)", "-",
                           "印刷(&P)...\tCtrl+P (57607)", "印刷ﾌﾟﾚﾋﾞｭｰ(&V) (57609)",
                           "ﾌﾟﾘﾝﾀの設定(&R)... (57606)", "-", "最近使ったﾌｧｲﾙ (57616)", "-",
                           "ｱﾌﾟﾘｹｰｼｮﾝの終了(&X) (57665)"}));
    EXPECT_EQ(menuItems(menus[1]),
              (QStringList{"元に戻す(&U)\tCtrl+Z (57643)", "-", "切り取り(&T)\tCtrl+X (57635)",
                           "ｺﾋﾟｰ(&C)\tCtrl+C (57634)", "貼り付け(&P)\tCtrl+V (57637)",
                           "削除(&D)\tDel (32797)", "-", "ユーザ登録 (32772)",
                           "新規データベース作成 (32773)"}));
    EXPECT_EQ(menuItems(menus[2]), (QStringList{"ﾂｰﾙ ﾊﾞｰ(&T) (59392)", "ｽﾃｰﾀｽ ﾊﾞｰ(&S) (59393)",
                                                "-", "ＳＱＬ発行画面 (32771)"}));
    EXPECT_EQ(menuItems(menus[3]), QStringList{"マーロウKestrel のﾊﾞｰｼﾞｮﾝ情報(&A)... (57664)"});

    auto* bar = f.frame->findChild<QToolBar*>(QStringLiteral("toolBar"));
    ASSERT_NE(bar, nullptr);
    QList<int> order;
    for (QAction* a : bar->actions()) order << (a->isSeparator() ? 0 : a->data().toInt());
    EXPECT_EQ(order, (QList<int>{57600, 32772, 32773, 32771, 0, 57635, 57634, 57637, 0, 57607, 0,
                                 32792, 32793, 32794, 0, 57664}));
    EXPECT_EQ(bar->iconSize(), QSize(18, 18));
    EXPECT_EQ(f.frame->commandAction(Cmd::NewConnection)->statusTip(),
              QStringLiteral("新規に接続を行う。"));
    EXPECT_EQ(f.frame->commandAction(Cmd::UserCreate)->statusTip(),
              QStringLiteral("新規ユーザを登録します"));
    for (QAction* a : bar->actions())
        if (!a->isSeparator()) EXPECT_FALSE(a->toolTip().isEmpty()) << a->data().toInt();

    QStringList panes;
    for (int i = 0; i < 5; ++i) panes << f.frame->statusPane(i)->text();
    EXPECT_EQ(panes, (QStringList{"ﾚﾃﾞｨ", "ｶﾅ", "CAP", "NUM", "SCRL"}));

    // Tree on the left; list above log on the right.
    auto* main = qobject_cast<QSplitter*>(f.frame->centralWidget());
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(main->orientation(), Qt::Horizontal);
    EXPECT_EQ(main->widget(0), f.frame->leftView());
    auto* right = qobject_cast<QSplitter*>(main->widget(1));
    ASSERT_NE(right, nullptr);
    EXPECT_EQ(right->orientation(), Qt::Vertical);
    EXPECT_EQ(right->widget(0), f.frame->listView());
    EXPECT_EQ(right->widget(1), f.frame->debugView());
}

TEST(MainFrame, CommandsFollowTheActiveView)
{
    Frame f;
    auto enabled = [&](int id) { return f.frame->commandAction(id)->isEnabled(); };
    const int treeAndListOnly[] = {Cmd::SqlWindow, Cmd::UserCreate, Cmd::DatabaseCreate,
                                   Cmd::CsvImport};
    const int paging[] = {Cmd::PageSetting, Cmd::NextPage, Cmd::PreviousPage};

    f.frame->setActiveView(f.frame->debugView());
    for (int id : treeAndListOnly) EXPECT_FALSE(enabled(id)) << id;
    for (int id : paging) EXPECT_FALSE(enabled(id)) << id;
    EXPECT_TRUE(enabled(Cmd::Copy));
    // The log pane serves cut, paste and undo, but it is read-only: they stay disabled.
    EXPECT_FALSE(enabled(Cmd::Cut));
    EXPECT_FALSE(enabled(Cmd::Undo));

    f.frame->setActiveView(f.frame->leftView());
    for (int id : paging) EXPECT_FALSE(enabled(id)) << id;
    EXPECT_FALSE(enabled(Cmd::Copy));
    EXPECT_FALSE(enabled(Cmd::RecordDelete));
    EXPECT_FALSE(enabled(Cmd::Cut));
    for (int id : treeAndListOnly) EXPECT_TRUE(enabled(id)) << id;

    f.frame->setActiveView(f.frame->listView());
    for (int id : paging) EXPECT_TRUE(enabled(id)) << id;
    EXPECT_TRUE(enabled(Cmd::Copy));
    EXPECT_TRUE(enabled(Cmd::RecordDelete));
    EXPECT_FALSE(enabled(Cmd::Paste));

    // Whatever is active: print never, the application's and the frame's own commands always.
    for (KestrelView* v : {static_cast<KestrelView*>(f.frame->leftView()),
                           static_cast<KestrelView*>(f.frame->listView()),
                           static_cast<KestrelView*>(f.frame->debugView())}) {
        f.frame->setActiveView(v);
        EXPECT_FALSE(enabled(Cmd::Print));
        EXPECT_FALSE(enabled(Cmd::PrintPreview));
        EXPECT_FALSE(enabled(Cmd::RecentFile));
        EXPECT_TRUE(enabled(Cmd::NewConnection));
        EXPECT_TRUE(enabled(Cmd::About));
        EXPECT_TRUE(enabled(Cmd::PrintSetup));
        EXPECT_TRUE(enabled(Cmd::ViewToolBar));
        EXPECT_TRUE(enabled(Cmd::Exit));
    }

    // Routing: the application's command reaches the application; a disabled one goes nowhere.
    f.frame->routeCommand(Cmd::About);
    f.frame->routeCommand(Cmd::Print);
    EXPECT_EQ(f.app.ran, QList<int>{Cmd::About});

    // Focus decides the active view.
    f.frame->show();
    f.frame->debugView()->setFocus();
    QApplication::processEvents();
    if (QApplication::focusWidget() == f.frame->debugView()) {
        EXPECT_EQ(f.frame->activeView(), static_cast<KestrelView*>(f.frame->debugView()));
        EXPECT_FALSE(enabled(Cmd::SqlWindow));
    }
}

TEST(MainFrame, ViewToggles)
{
    Frame f;
    f.frame->show();
    auto* bar = f.frame->findChild<QToolBar*>(QStringLiteral("toolBar"));
    auto* dialogBar = f.frame->findChild<QToolBar*>(QStringLiteral("dialogBar"));
    ASSERT_NE(dialogBar, nullptr);
    f.frame->routeCommand(Cmd::ViewToolBar);
    EXPECT_TRUE(bar->isHidden());
    EXPECT_FALSE(dialogBar->isHidden());  // the tool bar band alone
    EXPECT_FALSE(f.frame->commandAction(Cmd::ViewToolBar)->isChecked());
    f.frame->routeCommand(Cmd::ViewToolBar);
    EXPECT_FALSE(bar->isHidden());
    f.frame->routeCommand(Cmd::ViewStatusBar);
    EXPECT_FALSE(f.frame->commandAction(Cmd::ViewStatusBar)->isChecked());
}

TEST(MainFrame, LoginLabelsStatusPanesAndCancelKeepsTreeEmpty)
{
    Frame f;
    f.frame->initialUpdateViews();  // the first login is cancelled
    EXPECT_EQ(f.logins, 1);
    EXPECT_EQ(f.prompts.messages(), QStringList{"ログイン失敗"});
    EXPECT_EQ(f.frame->leftView()->topLevelItemCount(), 0);
    EXPECT_EQ(f.frame->statusPane(1)->text(), QStringLiteral("ｶﾅ"));

    // "新規接続" initialises the views again on the same workspace: a new login.
    f.login = TestServer::superuserLogin();
    f.frame->routeCommand(Cmd::NewConnection);  // served by the application double here
    EXPECT_EQ(f.app.ran, QList<int>{Cmd::NewConnection});
    f.frame->initialUpdateViews();
    EXPECT_EQ(f.logins, 2);
    ASSERT_NE(f.doc.connection(), nullptr);
    EXPECT_FALSE(f.doc.connection()->isBad());
    EXPECT_EQ(f.frame->statusPane(1)->text(), QStringLiteral("ログイン名　%1").arg(f.login->userName));
    EXPECT_EQ(f.frame->statusPane(2)->text(), QStringLiteral("ホスト名　%1").arg(f.login->hostName));
    EXPECT_EQ(f.frame->statusPane(3)->text(), QStringLiteral("検索スピード"));
    EXPECT_EQ(f.frame->statusPane(1)->width(), 150);
    EXPECT_EQ(f.frame->statusPane(3)->width(), 170);
    // The last pane tells how the session stands.
    EXPECT_EQ(f.frame->statusPane(4)->text(), QStringLiteral("暗号化なし"));
}

TEST(KestrelApp, LoginDialogComesBeforeTheWindowWhichOpensEvenAfterCancel)
{
    CKestrelApp app;
    bool windowVisibleAtLogin = true;
    QString loginTitle, failureText, aboutTitle;
    onNextModal([&](QDialog& login) {
        loginTitle = login.windowTitle();
        windowVisibleAtLogin = app.mainFrame() && app.mainFrame()->isVisible();
        onNextModal([&](QDialog& box) {
            if (auto* mb = qobject_cast<QMessageBox*>(&box)) failureText = mb->text();
            box.accept();
        });
        login.reject();
    });
    ASSERT_TRUE(app.InitInstance());
    EXPECT_EQ(loginTitle, QStringLiteral("ログイン画面"));
    EXPECT_FALSE(windowVisibleAtLogin);
    EXPECT_EQ(failureText, QStringLiteral("ログイン失敗"));
    EXPECT_TRUE(app.mainFrame()->isVisible());
    EXPECT_TRUE(app.mainFrame()->windowState() & Qt::WindowMaximized);
    EXPECT_EQ(app.mainFrame()->windowTitle(), QStringLiteral("マーロウKestrel"));
    EXPECT_EQ(app.mainFrame()->leftView()->topLevelItemCount(), 0);

    QString versionText;
    onNextModal([&](QDialog& about) {
        aboutTitle = about.windowTitle();
        if (auto* l = about.findChild<QLabel*>(QStringLiteral("versionText"))) versionText = l->text();
        about.accept();
    });
    app.mainFrame()->routeCommand(Cmd::About);
    EXPECT_EQ(aboutTitle, QStringLiteral("マーロウKestrelのﾊﾞｰｼﾞｮﾝ情報"));
    EXPECT_EQ(versionText, QStringLiteral("マーロウKestrel Version 0.10ベータ版"));
}

TEST(MainFrame, EveryCommandIsSafeWithoutAConnection)
{
    // After a cancelled first login there is no connection at all: nothing the operator can
    // reach may crash or report success. Dialogs that open are closed again at once.
    Frame f;
    f.frame->initialUpdateViews();
    ASSERT_EQ(f.doc.connection(), nullptr);
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget())) dlg->reject();
    });
    closer.start(20);
    f.prompts.answer(true);  // "テーブルを削除してもよろしいですか？", asked before anything is checked
    for (KestrelView* v : {static_cast<KestrelView*>(f.frame->leftView()),
                           static_cast<KestrelView*>(f.frame->listView()),
                           static_cast<KestrelView*>(f.frame->debugView())}) {
        f.frame->setActiveView(v);
        for (int id : {Cmd::SqlWindow, Cmd::UserCreate, Cmd::DatabaseCreate, Cmd::CsvImport,
                       Cmd::TableCreate, Cmd::TableEdit, Cmd::TableDrop, Cmd::CsvExport,
                       Cmd::TableDetail, Cmd::Refresh, Cmd::PageSetting, Cmd::NextPage,
                       Cmd::PreviousPage, Cmd::RecordEdit, Cmd::RecordDelete, Cmd::Copy, Cmd::Cut,
                       Cmd::Paste, Cmd::Undo}) {
            f.frame->routeCommand(id);
            v->runCommand(id);  // also the ones the menus would show disabled
        }
        v->onUpdate();
    }
    // Only refusals may have been said; nothing claims a change was made.
    const QStringList refusals{QStringLiteral("ログイン失敗"), QStringLiteral("権限がありません"),
                               QStringLiteral("テーブルが選択されていません")};
    for (const QString& text : f.prompts.messages())
        EXPECT_TRUE(refusals.contains(text)) << text.toStdString();
    EXPECT_FALSE(f.prompts.answersLeft());
}

TEST(MainFrame, AServerGoneForGoodIsReportedNeverTakenForSuccess)
{
    Frame f;
    auto relay = std::make_unique<Relay>(qEnvironmentVariableIntValue("PGPORT"));
    f.login = TestServer::loginThrough(*relay);
    f.frame->initialUpdateViews();
    ASSERT_NE(f.doc.connection(), nullptr);
    // The link ends and nothing listens there any more: no new session can be opened.
    relay.reset();

    // Every node of the tree selected in turn, with the server out of reach.
    QList<QTreeWidgetItem*> nodes;
    for (QTreeWidgetItemIterator it(f.frame->leftView()); *it; ++it) nodes << *it;
    ASSERT_GT(nodes.size(), 15);
    for (QTreeWidgetItem* node : nodes) f.frame->leftView()->setCurrentItem(node);
    f.frame->setActiveView(f.frame->listView());
    for (int id : {Cmd::Refresh, Cmd::NextPage, Cmd::Copy}) f.frame->routeCommand(id);

    // Said once, with libpq's reason; nothing succeeded, and no new login was asked for.
    ASSERT_EQ(f.prompts.messages().size(), 1) << f.prompts.messages().join(u'\n').toStdString();
    EXPECT_TRUE(f.prompts.messages()[0].startsWith(QStringLiteral("サーバーに接続できないため")));
    EXPECT_GT(f.prompts.messages()[0].size(), 30);
    EXPECT_EQ(f.frame->listView()->model()->rowCount(), 0);
    EXPECT_EQ(f.logins, 1);
}

TEST(MainFrame, WindowAndAboutBoxShowTheApplicationIcon)
{
    Frame f;
    const QImage own = ApplicationIcon().pixmap(32, 32).toImage();
    ASSERT_FALSE(own.isNull());
    EXPECT_EQ(f.frame->windowIcon().pixmap(32, 32).toImage(), own);
    CAboutDlg about;
    auto* icon = about.findChild<QLabel*>(QStringLiteral("appIcon"));
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon->pixmap().toImage(), own);
}
