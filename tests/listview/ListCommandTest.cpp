#include "ListViewFixture.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>

#include "listview/CRecordDlg.h"
#include "listview/RecordEditing.h"

namespace {

class ListCommandTest : public ListViewFixture {
protected:
    void press(int key)
    {
        QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(view.get(), &down);
    }
};

TEST_F(ListCommandTest, CopiesSelectedRowsAsTabAndLineFeedText)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText(QStringLiteral("before"));
    TestServer::run(*admin, QStringLiteral("UPDATE \"LvRec\" SET \"order\" = NULL WHERE id = 3"));
    select(3, QStringLiteral("lv_rec_v"), kViewsFolder);
    view->runCommand(Cmd::Copy);  // nothing selected
    EXPECT_EQ(clipboard->text(), QStringLiteral("before"));
    selectRows({5, 0});  // the updated row is last now
    view->runCommand(Cmd::Copy);
    EXPECT_EQ(clipboard->text(), QStringLiteral("1\tn1\to1\n3\tn3\t"));
    EXPECT_EQ(view->contentsColumnCount(), 3);
}

TEST_F(ListCommandTest, ContextMenuAndCommandsFollowTheBrowseState)
{
    auto enabled = [this] {
        std::unique_ptr<QMenu> menu = view->createContextMenu();
        QString out;
        for (QAction* a : menu->actions())
            if (!a->isSeparator()) out += a->isEnabled() ? u'1' : u'0';
        return out;
    };
    selectFolder(kTablesFolder);
    EXPECT_EQ(enabled(), QStringLiteral("00101"));  // add, edit, delete | detail | refresh
    EXPECT_FALSE(view->commandEnabled(Cmd::RecordEdit));
    select(3, QStringLiteral("LvRec"), kTablesFolder);
    EXPECT_EQ(enabled(), QStringLiteral("11111"));
    EXPECT_TRUE(view->commandEnabled(Cmd::TableDetail));

    doc.superUser = 0;
    view->runCommand(Cmd::UserCreate);
    view->runCommand(Cmd::DatabaseCreate);
    EXPECT_EQ(prompts.messages(), (QStringList{"権限がありません", "権限がありません"}));
    EXPECT_EQ(prompts.shown()[0].kind, BoxKind::Window);
    doc.superUser = 1;
    QString opened;
    onNextModal([&](QDialog& d) {
        opened = d.windowTitle();
        d.reject();
    });
    view->runCommand(Cmd::UserCreate);
    EXPECT_EQ(opened, QStringLiteral("ユーザ登録"));
    EXPECT_EQ(prompts.shown().size(), 2);
}

TEST_F(ListCommandTest, EnterAndDeleteKeysActOnTableRowsOnly)
{
    select(3, QStringLiteral("lv_rec_v"), kViewsFolder);
    view->setCurrentIndex(view->model()->index(1, 0));
    press(Qt::Key_Delete);
    press(Qt::Key_Return);
    EXPECT_TRUE(prompts.shown().isEmpty());

    select(3, QStringLiteral("LvRec"), kTablesFolder);
    view->setCurrentIndex(view->model()->index(1, 0));
    QString opened;
    onNextModal([&](QDialog& dlg) {
        if (auto* record = qobject_cast<CRecordDlg*>(&dlg)) opened = record->rowValues().value(0);
        dlg.reject();
    });
    press(Qt::Key_Enter);
    EXPECT_EQ(opened, QStringLiteral("(0,2)"));
    prompts.answer(false);
    press(Qt::Key_Delete);
    EXPECT_EQ(prompts.texts(), QStringList{kRowsDeleteQuestion});
    EXPECT_EQ(rows(), 6);
}

}  // namespace
