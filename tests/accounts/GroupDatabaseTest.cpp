#include "AccountsFixture.h"

#include <QAbstractButton>
#include <QTableView>

#include "accounts/CDatabaseCreateDlg.h"
#include "accounts/CGroupCreateDlg.h"
#include "app/FeatureWiring.h"
#include "app/SharedCommands.h"
#include "listview/CKestrelView.h"
#include "support/WorkspaceFixture.h"
#include "widgets/CommandTarget.h"
#include "workspace/BrowseRules.h"

namespace {

using GroupDatabaseTest = AccountsFixture;

TEST_F(GroupDatabaseTest, GroupCreationOpensDisabledAndRollsBackRefusedNames)
{
    role(QStringLiteral("acc_g1"));
    role(QStringLiteral("acc_new"));
    TestServer::run(*admin, QStringLiteral("CREATE ROLE acc_g1 NOLOGIN"));
    StatementLog log(*conn);
    const QStringList abort{QStringLiteral("新規グループを作成することができませんでした。"),
                            QStringLiteral("修正を中断しました。（トランザクションは破棄されました)")};
    CGroupCreateDlg dlg(*conn);
    const int rc = runModal(dlg, [&](QDialog& d) {
        QListWidget* groups = list(d, "groupList");
        EXPECT_GE(rowOf(groups, QStringLiteral("acc_g1")), 0);
        EXPECT_GE(rowOf(groups, passwordRole), 0);
        EXPECT_FALSE(button(d, "createButton")->isEnabled());
        typeOver(lineEdit(d, "groupNameEdit"), QStringLiteral("x"));
        typeOver(lineEdit(d, "groupNameEdit"), QString());
        EXPECT_TRUE(button(d, "createButton")->isEnabled());
        button(d, "createButton")->click();
        EXPECT_EQ(log.statements().mid(1), (QStringList{"BEGIN", "CREATE GROUP \"\"", "ROLLBACK"}));
        EXPECT_EQ(prompts.messages(), abort);
        prompts.clear();
        log.clear();

        doubleClickRow(groups, rowOf(groups, QStringLiteral("acc_g1")));
        EXPECT_EQ(lineEdit(d, "groupNameEdit")->text(), u"acc_g1");
        button(d, "createButton")->click();
        EXPECT_EQ(log.statements(), (QStringList{"BEGIN", "CREATE GROUP acc_g1", "ROLLBACK"}));
        EXPECT_EQ(prompts.messages(), abort);
        EXPECT_TRUE(d.isVisible());
        EXPECT_TRUE(button(d, "createButton")->isEnabled());
        prompts.clear();
        log.clear();

        lineEdit(d, "groupNameEdit")->setText(QStringLiteral("Acc_New"));
        button(d, "createButton")->click();
    });
    EXPECT_EQ(rc, QDialog::Accepted);
    EXPECT_EQ(log.statements(), (QStringList{"BEGIN", "CREATE GROUP acc_new", "COMMIT"}));
    EXPECT_TRUE(prompts.messages().isEmpty());
    EXPECT_EQ(roleValue(QStringLiteral("acc_new"), QStringLiteral("rolcanlogin::text")), u"false");
}

TEST_F(GroupDatabaseTest, DatabaseCreationClosesOnSuccessAndShowsTheServersText)
{
    const QString name = database(QStringLiteral("acc_db"));
    StatementLog log(*conn);
    CDatabaseCreateDlg first(*conn);
    EXPECT_EQ(runModal(first, [](QDialog& d) {
                  lineEdit(d, "databaseNameEdit")->setText(QStringLiteral("Acc_Db"));
                  button(d, "createButton")->click();
              }),
              QDialog::Accepted);
    EXPECT_EQ(log.statements(), QStringList{QStringLiteral("Create Database acc_db ")});
    EXPECT_EQ(value(QStringLiteral("select count(*) from pg_database where datname = 'acc_db'")), u"1");
    EXPECT_TRUE(prompts.messages().isEmpty());

    CDatabaseCreateDlg second(*conn);
    EXPECT_EQ(runModal(second, [&](QDialog& d) {
                  lineEdit(d, "databaseNameEdit")->setText(name);
                  button(d, "createButton")->click();
                  EXPECT_TRUE(d.isVisible());
                  button(d, "cancelButton")->click();
              }),
              QDialog::Rejected);
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].contains(QStringLiteral("database \"acc_db\" already exists")))
        << prompts.messages()[0].toStdString();
}

TEST_F(GroupDatabaseTest, CommandsNeedASuperuserAndAUserRowOpensItsDialog)
{
    role(QStringLiteral("Acc Row"));
    TestServer::run(*admin, QStringLiteral("CREATE ROLE \"Acc Row\" LOGIN"));
    CKestrelDoc doc;
    ASSERT_TRUE(logIn(doc));

    doc.superUser = 0;
    RunSharedViewCommand(Cmd::UserCreate, doc, nullptr);
    RunSharedViewCommand(Cmd::DatabaseCreate, doc, nullptr);
    EXPECT_EQ(prompts.messages(), (QStringList{Browse::kNoPermission, Browse::kNoPermission}));

    doc.superUser = 1;
    QStringList titles;
    for (int command : {int(Cmd::UserCreate), int(Cmd::DatabaseCreate)}) {
        onNextModal([&](QDialog& d) {
            titles << d.windowTitle();
            d.reject();
        });
        RunSharedViewCommand(command, doc, nullptr);
    }
    EXPECT_EQ(titles, (QStringList{"ユーザ登録", "新規データベースの作成"}));

    CKestrelView view(doc, nullptr);
    view.setFeatureDialogs(AppFeatureDialogs());
    view.resize(800, 600);
    doc.nodeDepth = 1;
    doc.nodeCaption = Browse::kUsersNode;
    view.onUpdate();
    int row = -1;
    for (int r = 0; r < view.model()->rowCount(); ++r)
        if (view.cellText(r, 0) == u"Acc Row") row = r;
    ASSERT_GE(row, 0);
    QString shown;
    onNextModal([&](QDialog& d) {
        shown = d.windowTitle() + u'|' + lineEdit(d, "userNameBox")->text();
        d.reject();
    });
    doubleClick(&view, view.visualRect(view.model()->index(row, 0)).center());
    EXPECT_EQ(shown, u"ユーザ変更|Acc Row");
}

}  // namespace
