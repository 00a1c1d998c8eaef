#include <QAbstractButton>
#include <QDir>
#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>
#include <functional>

#include "HostsTestDir.h"
#include "hosts/CLoginDlg.h"
#include "hosts/FolderFile.h"
#include "hosts/HostFile.h"
#include "hosts/HostTreePictures.h"
#include "support/DialogDriver.h"
#include "support/ScriptedPrompter.h"
#include "support/TestServer.h"
#include "workspace/CKestrelDoc.h"

namespace {

const char* const kFormFields[] = {"userEdit", "passwordEdit", "hostEdit", "databaseEdit",
                                   "portEdit", "optionsEdit",  "ttyEdit"};

// The seven form texts, in the form's order.
QStringList formTexts(QWidget& dlg)
{
    QStringList out;
    for (const char* name : kFormFields) out << lineEdit(dlg, name)->text();
    return out;
}

void typeForm(QWidget& dlg, const QStringList& texts)
{
    for (int i = 0; i < 7; ++i) lineEdit(dlg, kFormFields[i])->setText(texts[i]);
}

QStringList formOf(const HostEntry& e)
{
    return {e.user, e.password, e.host, e.database, e.port, e.options, e.tty};
}

QStringList formOf(const LoginParameters& p)
{
    return {p.userName, p.password, p.hostName, p.databaseName, p.port, p.options, p.tty};
}

HostEntry host(const QString& name)
{
    return {name,
            QStringLiteral("h_") + name,
            QStringLiteral("u_") + name,
            QStringLiteral("p_") + name,
            QStringLiteral("d_") + name,
            QStringLiteral("54") + name.left(2),
            QStringLiteral("t_") + name,
            QStringLiteral("o_") + name};
}

QTreeWidget* treeOf(QWidget& dlg)
{
    return dlg.findChild<QTreeWidget*>(QStringLiteral("hostTree"));
}

QTreeWidgetItem* itemNamed(QWidget& dlg, const QString& name)
{
    const auto found = treeOf(dlg)->findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
    return found.value(0);
}

int itemCount(QWidget& dlg)
{
    return int(treeOf(dlg)->findItems(QString(), Qt::MatchContains | Qt::MatchRecursive).size());
}

void select(QWidget& dlg, const QString& name)
{
    QTreeWidgetItem* item = itemNamed(dlg, name);
    ASSERT_NE(item, nullptr) << name.toStdString();
    treeOf(dlg)->setCurrentItem(item);
}

void doubleClick(QWidget& dlg, const QString& name)
{
    QTreeWidget* tree = treeOf(dlg);
    QTreeWidgetItem* item = itemNamed(dlg, name);
    ASSERT_NE(item, nullptr) << name.toStdString();
    tree->scrollToItem(item);
    // The view acts on a double click only on the item the first click pressed.
    const QPoint at = tree->visualItemRect(item).center();
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(tree->viewport(), Qt::LeftButton, {}, at);
}

bool samePicture(const QIcon& icon, QIcon::Mode mode, int picture)
{
    return icon.pixmap(16, mode).toImage() == HostTreePicture(picture).toImage();
}

// Types a name into the folder dialog that opens next and presses OK.
void nameNextFolder(const QString& name)
{
    onNextModal([name](QDialog& f) {
        lineEdit(f, "folderNameEdit")->setText(name);
        button(f, "okButton")->click();
    });
}

}  // namespace

using LoginDlgTest = HostsTestDir;

TEST_F(LoginDlgTest, OpensOnLastHostAndDoubleClickLogsInWithoutSaving)
{
    ScriptedPrompter prompts;
    for (const char* name : {"alpha", "beta"})
        ASSERT_EQ(HostFile::append(host(name)), HostFile::Outcome::Written);
    const QByteArray folders = "3\n0 0 F -1\n1 2 alpha -1\n0 2 beta -1\n";
    writeFile(FolderFile::kFileName, folders);

    CLoginDlg dlg;
    EXPECT_EQ(formTexts(dlg), formOf(host("beta")));
    EXPECT_EQ(treeOf(dlg)->currentItem(), itemNamed(dlg, QStringLiteral("beta")));
    // A selected host shows the highlighted computer, a folder the open one.
    EXPECT_TRUE(samePicture(itemNamed(dlg, QStringLiteral("beta"))->icon(0), QIcon::Selected, 3));
    EXPECT_TRUE(samePicture(itemNamed(dlg, QStringLiteral("F"))->icon(0), QIcon::Selected, 1));

    const int rc = runModal(dlg, [&](QDialog& d) {
        select(d, QStringLiteral("F"));
        nameNextFolder(QStringLiteral("New"));
        button(d, "createFolderButton")->click();
        EXPECT_EQ(treeOf(d)->currentItem(), itemNamed(d, QStringLiteral("New")));
        EXPECT_EQ(itemNamed(d, QStringLiteral("New"))->parent(), itemNamed(d, QStringLiteral("F")));
        doubleClick(d, QStringLiteral("alpha"));
    });
    EXPECT_EQ(rc, QDialog::Accepted);
    EXPECT_EQ(formOf(dlg.parameters()), formOf(host("alpha")));
    EXPECT_EQ(fileBytes(FolderFile::kFileName), folders);

    // The same, ended with OK: the new folder is saved.
    CLoginDlg again;
    EXPECT_EQ(runModal(again,
                       [&](QDialog& d) {
                           select(d, HostDirectory::kRootName);
                           nameNextFolder(QStringLiteral("New"));
                           button(d, "createFolderButton")->click();
                           button(d, "okButton")->click();
                       }),
              QDialog::Accepted);
    EXPECT_EQ(fileBytes(FolderFile::kFileName),
              "4\r\n0 0 F -1\r\n1 2 alpha -1\r\n0 0 New -1\r\n0 2 beta -1\r\n");
    EXPECT_TRUE(prompts.shown().isEmpty());
}

TEST_F(LoginDlgTest, NewHostIsCheckedConfirmedAndSaved)
{
    ScriptedPrompter prompts;
    CLoginDlg dlg;
    const QStringList typed{"u1", "pw", "h1", "売上", "123456789", "", ""};
    runModal(dlg, [&](QDialog& d) {
        onNextModal([&](QDialog& h) {
            EXPECT_EQ(h.windowTitle(), QStringLiteral("接続情報入力"));
            lineEdit(h, "displayNameEdit")->setText(QStringLiteral("db 1"));
            typeForm(h, typed);
            button(h, "okButton")->click();  // a blank in the name
            lineEdit(h, "displayNameEdit")->setText(QStringLiteral("db1"));
            button(h, "okButton")->click();  // the port is too long
            EXPECT_TRUE(h.isVisible());
            EXPECT_EQ(formTexts(h), typed);
            lineEdit(h, "portEdit")->setText(QStringLiteral("5432"));
            prompts.answer(false);
            button(h, "okButton")->click();
            EXPECT_TRUE(h.isVisible());
            EXPECT_FALSE(QFile::exists(HostFile::kFileName));
            prompts.answer(true);
            button(h, "okButton")->click();
        });
        button(d, "newHostButton")->click();
        button(d, "cancelButton")->click();
    });
    ASSERT_EQ(prompts.shown().size(), 4);
    EXPECT_TRUE(prompts.shown()[0].text.contains(QStringLiteral("「表示名」に空白")));
    EXPECT_TRUE(prompts.shown()[1].text.contains(QStringLiteral("「ポート番号」")));
    EXPECT_EQ(prompts.shown()[2].text, QStringLiteral("本当によろしいですか？"));
    EXPECT_EQ(prompts.shown()[3].text, QStringLiteral("本当によろしいですか？"));

    QStringList stored = typed;
    stored[4] = QStringLiteral("5432");
    ASSERT_TRUE(HostFile::find(QStringLiteral("db1")));
    EXPECT_EQ(formOf(*HostFile::find(QStringLiteral("db1"))), stored);
    EXPECT_EQ(formTexts(dlg), stored);
    EXPECT_EQ(treeOf(dlg)->currentItem(), itemNamed(dlg, QStringLiteral("db1")));
    EXPECT_EQ(itemNamed(dlg, QStringLiteral("db1"))->parent(), treeOf(dlg)->topLevelItem(0));
    EXPECT_EQ(fileBytes(FolderFile::kFileName), "1\r\n0 2 db1 -1\r\n");
}

TEST_F(LoginDlgTest, EditHostRenamesRecordAndNodeKeepingValues)
{
    ScriptedPrompter prompts;
    for (const char* name : {"old", "other"})
        ASSERT_EQ(HostFile::append(host(name)), HostFile::Outcome::Written);
    writeFile(FolderFile::kFileName, "2\n0 2 old -1\n0 2 other -1\n");
    CLoginDlg dlg;
    runModal(dlg, [&](QDialog& d) {
        select(d, QStringLiteral("old"));
        onNextModal([&](QDialog& h) {
            EXPECT_EQ(h.windowTitle(), QStringLiteral("ホスト編集"));
            EXPECT_EQ(formTexts(h), formOf(host("old")));
            lineEdit(h, "displayNameEdit")->setText(QStringLiteral("new"));
            lineEdit(h, "userEdit")->setText(QStringLiteral("u2"));
            prompts.answer(true);
            button(h, "okButton")->click();
        });
        button(d, "editHostButton")->click();
        EXPECT_EQ(lineEdit(d, "userEdit")->text(), QStringLiteral("u2"));
        ASSERT_NE(itemNamed(d, QStringLiteral("new")), nullptr);
        EXPECT_EQ(itemNamed(d, QStringLiteral("old")), nullptr);
        // Selecting the node again finds the record under its new name.
        lineEdit(d, "userEdit")->clear();
        select(d, QStringLiteral("other"));
        select(d, QStringLiteral("new"));
        EXPECT_EQ(lineEdit(d, "userEdit")->text(), QStringLiteral("u2"));
        button(d, "cancelButton")->click();
    });
    HostEntry expected = host("old");
    expected.displayName = QStringLiteral("new");
    expected.user = QStringLiteral("u2");
    const QByteArray records = fileBytes(HostFile::kFileName);
    EXPECT_EQ(records.size(), 2 * HostEntry::kRecordSize);  // rewritten in place
    EXPECT_EQ(HostEntry::fromRecord(records.left(HostEntry::kRecordSize)), expected);
    EXPECT_FALSE(HostFile::find(QStringLiteral("old")));
    EXPECT_EQ(fileBytes(FolderFile::kFileName), "2\r\n0 2 new -1\r\n0 2 other -1\r\n");
}

TEST_F(LoginDlgTest, DeletingFoldersHostsAndTheRoot)
{
    ScriptedPrompter prompts;
    for (const char* name : {"h1", "h2", "x"})
        ASSERT_EQ(HostFile::append(host(name)), HostFile::Outcome::Written);
    const QByteArray folders = "4\n0 0 F -1\n1 2 h1 -1\n1 2 h2 -1\n0 2 x -1\n";
    writeFile(FolderFile::kFileName, folders);
    CLoginDlg dlg;
    runModal(dlg, [&](QDialog& d) {
        // Asked, then nothing deleted: a host is selected.
        select(d, QStringLiteral("h1"));
        prompts.answer(true);
        button(d, "deleteFolderButton")->click();
        EXPECT_EQ(itemCount(d), 5);
        select(d, QStringLiteral("F"));
        prompts.answer(false);
        button(d, "deleteFolderButton")->click();
        EXPECT_EQ(itemCount(d), 5);
        prompts.answer(true);
        button(d, "deleteFolderButton")->click();
        EXPECT_EQ(itemCount(d), 2);
        EXPECT_EQ(fileBytes(FolderFile::kFileName), folders);  // saved by a later save

        select(d, QStringLiteral("x"));
        prompts.answer(false);
        button(d, "deleteHostButton")->click();
        EXPECT_TRUE(HostFile::find(QStringLiteral("x")));
        prompts.answer(true);
        button(d, "deleteHostButton")->click();
        EXPECT_EQ(itemCount(d), 1);
        EXPECT_FALSE(HostFile::find(QStringLiteral("x")));
        EXPECT_EQ(fileBytes(FolderFile::kFileName), "0\r\n");

        // A folder selected: "delete host" neither asks nor deletes.
        button(d, "deleteHostButton")->click();
        prompts.answer(true);
        button(d, "deleteFolderButton")->click();
        EXPECT_EQ(treeOf(d)->topLevelItemCount(), 0);
        button(d, "okButton")->click();
    });
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_FALSE(prompts.answersLeft());
    // The hosts of the deleted folder keep their records.
    EXPECT_TRUE(HostFile::find(QStringLiteral("h1")));
    EXPECT_EQ(fileBytes(HostFile::kFileName).size(), 3 * HostEntry::kRecordSize);
    EXPECT_EQ(fileBytes(FolderFile::kFileName), "0\r\n");

    CLoginDlg next;
    ASSERT_EQ(treeOf(next)->topLevelItemCount(), 1);
    EXPECT_EQ(treeOf(next)->topLevelItem(0)->text(0), HostDirectory::kRootName);
    EXPECT_EQ(treeOf(next)->topLevelItem(0)->childCount(), 0);
}

TEST_F(LoginDlgTest, FolderNamesAreCheckedAndFoldersOpenOnDoubleClick)
{
    ScriptedPrompter prompts;
    writeFile(FolderFile::kFileName, "2\n0 0 F -1\n1 0 sub -1\n");
    CLoginDlg dlg;
    runModal(dlg, [&](QDialog& d) {
        QTreeWidgetItem* f = itemNamed(d, QStringLiteral("F"));
        const bool expanded = f->isExpanded();
        doubleClick(d, QStringLiteral("F"));
        EXPECT_NE(f->isExpanded(), expanded);
        EXPECT_TRUE(d.isVisible());

        onNextModal([&](QDialog& fd) {
            EXPECT_EQ(fd.windowTitle(), QStringLiteral("フォルダ作成"));
            EXPECT_EQ(lineEdit(fd, "folderNameEdit")->text(), QString());
            lineEdit(fd, "folderNameEdit")->setText(QStringLiteral("a b"));
            button(fd, "okButton")->click();
            lineEdit(fd, "folderNameEdit")->setText(QStringLiteral("あいうえおかきくけこ"));
            button(fd, "okButton")->click();
            EXPECT_TRUE(fd.isVisible());
            EXPECT_EQ(lineEdit(fd, "folderNameEdit")->text(),
                      QStringLiteral("あいうえおかきくけこ"));
            button(fd, "cancelButton")->click();
        });
        button(d, "createFolderButton")->click();  // F is selected
        EXPECT_EQ(itemCount(d), 3);

        select(d, QStringLiteral("sub"));
        onNextModal([&](QDialog& fd) {
            EXPECT_EQ(lineEdit(fd, "folderNameEdit")->text(), QStringLiteral("sub"));
            lineEdit(fd, "folderNameEdit")->setText(QStringLiteral("営業"));
            button(fd, "okButton")->click();
        });
        button(d, "editFolderButton")->click();
        EXPECT_NE(itemNamed(d, QStringLiteral("営業")), nullptr);
        button(d, "cancelButton")->click();
    });
    ASSERT_EQ(prompts.messages().size(), 2);
    EXPECT_TRUE(prompts.messages()[0].contains(QStringLiteral("「フォルダ名」に空白")));
    EXPECT_TRUE(prompts.messages()[1].contains(QStringLiteral("19バイト")));
    EXPECT_EQ(fileBytes(FolderFile::kFileName), "2\r\n0 0 F -1\r\n1 0 \x89\x63\x8b\xc6 -1\r\n");
}

TEST_F(LoginDlgTest, LoginThroughTheDialogWithASavedHostAndARefusedOne)
{
    ScriptedPrompter prompts;
    CKestrelDoc doc;
    doc.setLoginRunner([] { return CLoginDlg::run(nullptr); });
    const LoginParameters server = TestServer::superuserLogin();

    // First login: save the server as a host, then OK with the form it filled.
    onNextModal([&](QDialog& d) {
        onNextModal([&](QDialog& h) {
            lineEdit(h, "displayNameEdit")->setText(QStringLiteral("test-server"));
            typeForm(h, formOf(server));
            prompts.answer(true);
            button(h, "okButton")->click();
        });
        button(d, "newHostButton")->click();
        button(d, "okButton")->click();
    });
    ASSERT_EQ(doc.Connect(), 0) << prompts.texts().join(u'\n').toStdString();
    EXPECT_EQ(formOf(LoginParameters{doc.userName, doc.password, doc.hostName, doc.port,
                                     doc.options, doc.tty, doc.databaseName}),
              formOf(server));

    // The next login opens on the saved host: OK alone logs in.
    onNextModal([](QDialog& d) {
        EXPECT_EQ(treeOf(d)->currentItem()->text(0), QStringLiteral("test-server"));
        button(d, "okButton")->click();
    });
    ASSERT_EQ(doc.Connect(), 0) << prompts.texts().join(u'\n').toStdString();
    EXPECT_EQ(TestServer::value(*doc.connection(), QStringLiteral("select current_user")), server.userName);
    EXPECT_TRUE(prompts.messages().isEmpty());

    // A role the server does not know: its refusal is shown.
    onNextModal([&](QDialog& d) {
        typeForm(d, formOf(TestServer::loginAs(QStringLiteral("no_such_role_kestrel_hosts"))));
        button(d, "okButton")->click();
    });
    EXPECT_EQ(doc.Connect(), -1);
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].contains(QStringLiteral("no_such_role_kestrel_hosts")))
        << prompts.messages()[0].toStdString();
}

TEST_F(LoginDlgTest, UnwritableFilesAreReportedNotPassedOver)
{
    ScriptedPrompter prompts;
    // Directories in the files' places: neither can be opened for writing.
    ASSERT_TRUE(QDir().mkdir(HostFile::kFileName));
    ASSERT_TRUE(QDir().mkdir(FolderFile::kFileName));
    CLoginDlg dlg;
    const int rc = runModal(dlg, [&](QDialog& d) {
        onNextModal([&](QDialog& h) {
            lineEdit(h, "displayNameEdit")->setText(QStringLiteral("db1"));
            prompts.answer(true);
            button(h, "okButton")->click();
            EXPECT_TRUE(h.isVisible());
            button(h, "cancelButton")->click();
        });
        button(d, "newHostButton")->click();
        EXPECT_EQ(itemCount(d), 1);
        button(d, "okButton")->click();
    });
    EXPECT_EQ(rc, QDialog::Accepted);
    EXPECT_EQ(prompts.messages(), (QStringList{CannotWriteMessage(HostFile::kFileName),
                                               CannotWriteMessage(FolderFile::kFileName)}));
}

TEST_F(LoginDlgTest, AWrongPasswordIsRefusedAndTheRightOneLogsIn)
{
    // The test cluster asks members of the password group for their password.
    auto admin = TestServer::connect();
    TestServer::dropRole(*admin, QStringLiteral("hosts_pw_user"));
    TestServer::run(*admin, QStringLiteral("CREATE ROLE hosts_pw_user LOGIN PASSWORD 'right' IN ROLE %1")
                                .arg(TestServer::passwordRole()));
    ScriptedPrompter prompts;
    CKestrelDoc doc;
    doc.setLoginRunner([] { return CLoginDlg::run(nullptr); });
    QList<int> outcomes;
    for (const char* password : {"wrong", "right"}) {
        onNextModal([&](QDialog& d) {
            typeForm(d, formOf(TestServer::loginAs(QStringLiteral("hosts_pw_user"), QString::fromUtf8(password))));
            button(d, "okButton")->click();
        });
        outcomes << doc.Connect();
    }
    EXPECT_EQ(outcomes, (QList<int>{-1, 0}));
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].contains(QStringLiteral("password authentication failed")))
        << prompts.messages()[0].toStdString();
    TestServer::dropRole(*admin, QStringLiteral("hosts_pw_user"));
}

namespace {

// After "新規接続" the dialog opens on the saved host the connection in use was made with,
// wherever it sits in the tree, not on the last host of the list; a login typed by hand
// comes back as it was typed.
TEST_F(LoginDlgTest, TheNextLoginOpensOnTheHostInUse)
{
    ScriptedPrompter prompts;
    const LoginParameters server = TestServer::superuserLogin();
    HostEntry inUse = HostEntry::fromLogin(server);
    inUse.displayName = QStringLiteral("server");
    for (const HostEntry& e : {host("alpha"), inUse, host("zulu")}) ASSERT_EQ(HostFile::append(e), HostFile::Outcome::Written);
    writeFile(FolderFile::kFileName, "4\n0 0 F -1\n1 2 server -1\n0 2 alpha -1\n0 2 zulu -1\n");
    CKestrelDoc doc;
    doc.setLoginRunner(CLoginDlg::runner(nullptr));
    LoginParameters byHand = server;
    byHand.databaseName = QStringLiteral("template1");
    // Each login: where the dialog opens and what its form shows, then what is chosen.
    const struct {
        QString opensOn;
        QStringList form;
        std::function<void(QDialog&)> choose;
    } logins[] = {
        {QStringLiteral("zulu"), formOf(host("zulu")), [](QDialog& d) { select(d, QStringLiteral("server")); }},
        {QStringLiteral("server"), formOf(server), [&](QDialog& d) { typeForm(d, formOf(byHand)); }},
        {HostDirectory::kRootName, formOf(byHand), [](QDialog&) {}},
    };
    for (const auto& login : logins) {
        onNextModal([&](QDialog& d) {
            EXPECT_EQ(treeOf(d)->currentItem()->text(0), login.opensOn);
            EXPECT_EQ(formTexts(d), login.form);
            login.choose(d);
            button(d, "okButton")->click();
        });
        ASSERT_EQ(doc.Connect(), 0) << prompts.texts().join(u'\n').toStdString();
    }
}

}  // namespace
