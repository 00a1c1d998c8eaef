#include "ListViewFixture.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>

#include "app/CommandTarget.h"
#include "listview/CRecordDlg.h"
#include "listview/RecordEditing.h"
#include "support/DialogDriver.h"
#include "workspace/Settings.h"

namespace {

class ListCommandTest : public ListViewFixture {
protected:
    void SetUp() override
    {
        ListViewFixture::SetUp();
        TestServer::run(*admin, QStringLiteral("DROP VIEW IF EXISTS lv_copy_v"));
        TestServer::run(*admin, QStringLiteral("DROP TABLE IF EXISTS lv_copy"));
        TestServer::run(*admin, QStringLiteral("CREATE TABLE lv_copy (a int, b text, c text)"));
        TestServer::run(*admin, QStringLiteral(
            "INSERT INTO lv_copy VALUES (1, 'x', 'y'), (2, 'p', 'q'), (3, 'z', NULL)"));
        TestServer::run(*admin, QStringLiteral("CREATE VIEW lv_copy_v AS SELECT * FROM lv_copy"));
    }
    void TearDown() override
    {
        TestServer::run(*admin, QStringLiteral("DROP VIEW IF EXISTS lv_copy_v"));
        TestServer::run(*admin, QStringLiteral("DROP TABLE IF EXISTS lv_copy"));
    }
    void press(int key)
    {
        QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(view.get(), &down);
    }
    QAction* entry(QMenu& menu, int id)
    {
        return menu.findChild<QAction*>(QStringLiteral("command%1").arg(id));
    }
};

TEST_F(ListCommandTest, CopiesSelectedRowsAsTabAndLineFeedText)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("before"));
    selectView(QStringLiteral("lv_copy_v"));
    view->runCommand(Cmd::Copy);  // nothing selected: the clipboard keeps its text
    EXPECT_EQ(clipboard->text(), QStringLiteral("before"));

    selectRows({2, 0});
    view->runCommand(Cmd::Copy);
    EXPECT_EQ(clipboard->text(), QStringLiteral("1\tx\ty\n3\tz\t"));
    EXPECT_EQ(view->contentsColumnCount(), 3);

    // A listing gathered from several results copies the same way.
    selectFolder(kTablesFolder);
    const int row = int(column(0).indexOf(QStringLiteral("lv_copy")));
    ASSERT_GE(row, 0);
    selectRows({row});
    view->runCommand(Cmd::Copy);
    EXPECT_EQ(clipboard->text(), QStringLiteral("lv_copy\tpostgres\tFalse\tFalse\tFalse"));
}

TEST_F(ListCommandTest, ContextMenuFollowsTheTableFlag)
{
    selectFolder(kTablesFolder);
    std::unique_ptr<QMenu> menu = view->createContextMenu();
    for (int id : {int(Cmd::RecordAdd), int(Cmd::RecordEdit), int(Cmd::TableDetail)})
        EXPECT_FALSE(entry(*menu, id)->isEnabled()) << id;
    EXPECT_TRUE(entry(*menu, Cmd::RecordDelete)->isEnabled());
    EXPECT_TRUE(entry(*menu, Cmd::Refresh)->isEnabled());
    EXPECT_FALSE(view->commandEnabled(Cmd::RecordEdit));

    selectTable(QStringLiteral("lv_copy"));
    menu = view->createContextMenu();
    for (int id : {int(Cmd::RecordAdd), int(Cmd::RecordEdit), int(Cmd::TableDetail)})
        EXPECT_TRUE(entry(*menu, id)->isEnabled()) << id;
    EXPECT_TRUE(view->commandEnabled(Cmd::TableDetail));

    // Its refresh entry runs on the view: the rows are read again.
    TestServer::run(*admin, QStringLiteral("INSERT INTO lv_copy VALUES (4, 'r', 's')"));
    entry(*menu, Cmd::Refresh)->trigger();
    EXPECT_EQ(rows(), 4);
}

TEST_F(ListCommandTest, AdministrationCommandsNeedTheSuperuserFlag)
{
    doc.superUser = 0;
    view->runCommand(Cmd::UserCreate);
    view->runCommand(Cmd::DatabaseCreate);
    EXPECT_EQ(prompts.messages(), (QStringList{"権限がありません", "権限がありません"}));
    EXPECT_EQ(prompts.shown()[0].kind, BoxKind::Window);
    prompts.clear();
    doc.superUser = 1;
    view->runCommand(Cmd::UserCreate);
    EXPECT_TRUE(prompts.shown().isEmpty());
}

TEST_F(ListCommandTest, EnterAndDeleteKeysActOnTableRowsOnly)
{
    // With a view listed the keys keep their ordinary meaning.
    selectView(QStringLiteral("lv_copy_v"));
    view->setCurrentIndex(view->model()->index(1, 0));
    press(Qt::Key_Delete);
    press(Qt::Key_Return);
    EXPECT_TRUE(prompts.shown().isEmpty());

    selectTable(QStringLiteral("lv_copy"));
    view->setCurrentIndex(view->model()->index(1, 0));
    QString title, ctid;
    onNextModal([&](QDialog& dlg) {
        auto* record = qobject_cast<CRecordDlg*>(&dlg);
        ASSERT_NE(record, nullptr);
        ctid = record->rowValues().value(0);
        title = dlg.windowTitle();
        dlg.reject();
    });
    press(Qt::Key_Enter);
    EXPECT_EQ(title, QStringLiteral("レコード明細"));
    EXPECT_EQ(ctid, view->cellText(1, 0));

    prompts.answer(false);
    press(Qt::Key_Delete);
    EXPECT_EQ(prompts.texts(), QStringList{kRowsDeleteQuestion});
    EXPECT_EQ(rows(), 3);
}

TEST_F(ListCommandTest, InitialUpdateListsThenReadsThePageLength)
{
    Settings::setPageLength(250);
    doc.pageLength = 7;
    doc.nodeDepth = 3;
    doc.parentCaption = kTablesFolder;
    doc.nodeCaption = doc.objectName = QStringLiteral("lv_copy");
    StatementLog log(*doc.connection());
    view->initialUpdate();
    EXPECT_EQ(log.statements(), QStringList{"select ctid,* from lv_copy Limit 7"});
    EXPECT_EQ(doc.pageLength, 250);
}

}  // namespace
