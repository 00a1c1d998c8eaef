#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <memory>

#include "app/CMainFrame.h"
#include "browser/CLeftView.h"
#include "browser/TreeImages.h"
#include "support/ScriptedPrompter.h"
#include "support/TestServer.h"
#include "workspace/CKestrelDoc.h"

// Captions read as text in failure output.
static void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

const QString kDbName = QStringLiteral("kestrel_tree_db");
const QString kUser = QStringLiteral("kestrel_tree_user");    // plain login
const QString kOwner = QStringLiteral("kestrel_tree_owner");  // owns objects, never logs in
const QString kAdmin = QStringLiteral("o'tree_admin");        // a superuser with a quote

const QStringList kFolders = {
    QStringLiteral("テーブル"), QStringLiteral("インデックス"), QStringLiteral("ビュー"),
    QStringLiteral("ファンクション"), QStringLiteral("タイプ"), QStringLiteral("トリガー"),
    QStringLiteral("シーケンス"), QStringLiteral("ユーザ"), QStringLiteral("集約関数"),
    QStringLiteral("言語"), QStringLiteral("演算子"), QStringLiteral("ルール"),
    QStringLiteral("ラージ"),
};

QStringList captions(const QTreeWidgetItem* parent)
{
    QStringList out;
    for (int i = 0; i < parent->childCount(); ++i) out << parent->child(i)->text(0);
    return out;
}

QTreeWidgetItem* child(QTreeWidgetItem* parent, const QString& caption)
{
    for (int i = 0; parent && i < parent->childCount(); ++i)
        if (parent->child(i)->text(0) == caption) return parent->child(i);
    return nullptr;
}

bool isSorted(const QStringList& list)
{
    for (int i = 1; i < list.size(); ++i)
        if (QString::compare(list[i - 1], list[i]) > 0) return false;
    return true;
}

QImage selectedPicture(const QTreeWidgetItem* node)
{
    return node->icon(0).pixmap(QSize(16, 16), QIcon::Selected).toImage();
}

// One database and three roles for the whole program; dropped at the end.
class LeftView : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        auto admin = TestServer::connect();
        TestServer::dropDatabase(*admin, kDbName);
        for (const QString& role : {kUser, kOwner, kAdmin})
            TestServer::run(*admin, QStringLiteral("DROP ROLE IF EXISTS \"%1\"").arg(role));
        TestServer::run(*admin, QStringLiteral("CREATE DATABASE %1").arg(kDbName));
        TestServer::run(*admin, QStringLiteral("CREATE ROLE %1 LOGIN").arg(kUser));
        TestServer::run(*admin, QStringLiteral("CREATE ROLE %1").arg(kOwner));
        TestServer::run(*admin, QStringLiteral("CREATE ROLE \"%1\" LOGIN SUPERUSER").arg(kAdmin));
    }

    static void TearDownTestSuite()
    {
        auto admin = TestServer::connect();
        TestServer::dropDatabase(*admin, kDbName);
        for (const QString& role : {kUser, kOwner, kAdmin})
            TestServer::run(*admin, QStringLiteral("DROP ROLE IF EXISTS \"%1\"").arg(role));
    }

    void SetUp() override
    {
        m_admin = TestServer::connect(TestServer::loginAs(QStringLiteral("postgres"), {}, kDbName));
        QObject::connect(&doc, &CKestrelDoc::viewsUpdateRequested,
                         [this](QObject* sender) { updates << sender; });
    }

    // Runs the tree's initial update with a login as `user` to the test database.
    void logIn(const QString& user)
    {
        const LoginParameters p = TestServer::loginAs(user, {}, kDbName);
        doc.setLoginRunner([p] { return std::optional<LoginParameters>(p); });
        tree.initialUpdate();
        ASSERT_NE(doc.connection(), nullptr);
        ASSERT_FALSE(doc.connection()->isBad()) << doc.connection()->errorMessage().toStdString();
    }

    void sql(const QString& statement) { TestServer::run(*m_admin, statement); }

    bool tableExists(const QString& quotedName)
    {
        Result r = m_admin->exec(QStringLiteral("select to_regclass('%1') is not null")
                                     .arg(m_admin->escapeValue(quotedName)));
        return r.value(0, 0) == QLatin1String("t");
    }

    QTreeWidgetItem* host() { return tree.topLevelItem(0); }
    QTreeWidgetItem* database() { return child(host(), QStringLiteral("データベース(%1)").arg(kDbName)); }
    QTreeWidgetItem* folder(const QString& caption) { return child(database(), caption); }

    QAction* menuEntry(QMenu& menu, int id)
    {
        return menu.findChild<QAction*>(QStringLiteral("command%1").arg(id));
    }

    ScriptedPrompter prompts;
    CKestrelDoc doc;
    CLeftView tree{doc, nullptr};
    QList<QObject*> updates;
    std::unique_ptr<Connection> m_admin;
};

}  // namespace

TEST_F(LeftView, NonSuperuserSeesHostDatabaseAndFoldersOnlyAndIsRefusedAdminCommands)
{
    doc.objectName = QStringLiteral("earlier");
    logIn(kUser);
    EXPECT_EQ(doc.superUser, 0);
    ASSERT_EQ(tree.topLevelItemCount(), 1);
    EXPECT_EQ(host()->text(0), QStringLiteral("ホスト(%1)").arg(doc.hostName));
    EXPECT_EQ(captions(host()), QStringList{QStringLiteral("データベース(%1)").arg(kDbName)});
    const QStringList shown = captions(database());
    EXPECT_EQ(QSet<QString>(shown.begin(), shown.end()), QSet<QString>(kFolders.begin(), kFolders.end()));
    EXPECT_EQ(shown.size(), 13);
    EXPECT_TRUE(isSorted(shown));
    for (int i = 0; i < database()->childCount(); ++i)
        EXPECT_EQ(CLeftView::imageOf(database()->child(i)), 4);
    EXPECT_EQ(CLeftView::imageOf(host()), 0);
    EXPECT_EQ(CLeftView::imageOf(database()), 0);

    // The build selects nothing and leaves the browse state alone.
    EXPECT_EQ(tree.currentItem(), nullptr);
    EXPECT_TRUE(updates.isEmpty());
    EXPECT_EQ(doc.objectName, QStringLiteral("earlier"));

    // Through the main window's routing, with the tree active.
    CMainFrame frame(doc, nullptr);
    doc.setLoginRunner([] { return std::optional<LoginParameters>(TestServer::loginAs(kUser, {}, kDbName)); });
    frame.initialUpdateViews();
    ASSERT_EQ(frame.activeView(), static_cast<KestrelView*>(frame.leftView()));
    EXPECT_FALSE(frame.isCommandEnabled(Cmd::TableDrop));
    EXPECT_FALSE(frame.isCommandEnabled(Cmd::NextPage));
    EXPECT_TRUE(frame.isCommandEnabled(Cmd::UserCreate));
    frame.routeCommand(Cmd::UserCreate);
    frame.routeCommand(Cmd::DatabaseCreate);
    ASSERT_EQ(prompts.shown().size(), 2);
    for (const ScriptedPrompter::Shown& s : prompts.shown()) {
        EXPECT_EQ(s.text, QStringLiteral("権限がありません"));
        EXPECT_EQ(s.kind, BoxKind::Window);
    }
}

TEST_F(LeftView, SuperuserGetsCatalogueUsersAndOtherDatabases)
{
    // The quote in the role's name reaches the superuser query escaped.
    logIn(kAdmin);
    EXPECT_EQ(doc.superUser, 1);
    EXPECT_EQ(captions(host()),
              (QStringList{QStringLiteral("システムカタログ"), QStringLiteral("データベース(%1)").arg(kDbName),
                           QStringLiteral("ユーザ"), QStringLiteral("他のデータベース")}));
    QTreeWidgetItem* catalogue = child(host(), QStringLiteral("システムカタログ"));
    ASSERT_NE(catalogue, nullptr);
    EXPECT_FALSE(catalogue->isExpanded());
    const QStringList relations = captions(catalogue);
    Result count = m_admin->exec(QStringLiteral("select count(*) from pg_class"));
    EXPECT_EQ(QString::number(relations.size()), count.value(0, 0));
    EXPECT_TRUE(relations.contains(QStringLiteral("pg_class")));
    EXPECT_TRUE(isSorted(relations));

    QTreeWidgetItem* pgClass = child(catalogue, QStringLiteral("pg_class"));
    ASSERT_NE(pgClass, nullptr);
    EXPECT_EQ(CLeftView::imageOf(pgClass), 2);
    tree.setCurrentItem(pgClass);
    EXPECT_EQ(doc.catalogueFlag, 1);
    EXPECT_EQ(doc.objectName, QStringLiteral("pg_class"));
    EXPECT_EQ(selectedPicture(pgClass), TreeImages::image(3).toImage());

    tree.runCommand(Cmd::UserCreate);
    EXPECT_TRUE(prompts.shown().isEmpty());

    // A cancelled reconnect leaves the tree empty.
    doc.setLoginRunner([] { return std::optional<LoginParameters>(); });
    tree.initialUpdate();
    EXPECT_EQ(tree.topLevelItemCount(), 0);
    EXPECT_EQ(prompts.texts(), QStringList{QStringLiteral("ログイン失敗")});
}

TEST_F(LeftView, FoldersFillOnceWithOwnerImagesAndSelectionsWriteBrowseState)
{
    sql(QStringLiteral("CREATE TABLE kt_mine (a int)"));
    sql(QStringLiteral("CREATE TABLE kt_theirs (a int)"));
    sql(QStringLiteral("ALTER TABLE kt_theirs OWNER TO %1").arg(kOwner));
    sql(QStringLiteral("CREATE VIEW kt_view AS SELECT 1 AS one"));
    sql(QStringLiteral("ALTER VIEW kt_view OWNER TO %1").arg(kOwner));
    logIn(QStringLiteral("postgres"));
    StatementLog log(*doc.connection());
    const QString tablesQuery = QStringLiteral("select tablename,tableowner from pg_tables");

    QTreeWidgetItem* tables = folder(QStringLiteral("テーブル"));
    tree.setCurrentItem(tables);
    EXPECT_EQ(log.statements(), QStringList{tablesQuery});
    EXPECT_EQ(updates, QList<QObject*>{&tree});
    EXPECT_EQ(doc.folderFlag, 1);
    EXPECT_EQ(doc.parentCaption, QStringLiteral("データベース(%1)").arg(kDbName));
    // The folder keeps the selection while it fills.
    EXPECT_EQ(tree.currentItem(), tables);
    EXPECT_TRUE(isSorted(captions(tables)));
    EXPECT_EQ(tables->childCount(), m_admin->exec(tablesQuery).rows());

    QTreeWidgetItem* mine = child(tables, QStringLiteral("kt_mine"));
    QTreeWidgetItem* theirs = child(tables, QStringLiteral("kt_theirs"));
    ASSERT_TRUE(mine && theirs);
    EXPECT_EQ(CLeftView::imageOf(mine), 6);
    EXPECT_EQ(CLeftView::imageOf(theirs), 8);
    EXPECT_EQ(selectedPicture(theirs), TreeImages::image(9).toImage());

    tree.setCurrentItem(folder(QStringLiteral("インデックス")));
    tree.setCurrentItem(tables);
    EXPECT_EQ(log.statements().count(tablesQuery), 1);

    tree.setCurrentItem(theirs);
    EXPECT_EQ(doc.tableFlag, 1);
    EXPECT_EQ(doc.nodeImage, 8);
    EXPECT_EQ(doc.nodeDepth, 3);
    tree.setCurrentItem(mine);
    EXPECT_EQ(doc.nodeImage, 6);
    tree.setCurrentItem(folder(QStringLiteral("インデックス")));
    EXPECT_EQ(doc.tableFlag, 0);
    EXPECT_EQ(doc.objectName, QStringLiteral("kt_mine"));

    QTreeWidgetItem* views = folder(QStringLiteral("ビュー"));
    tree.setCurrentItem(views);
    EXPECT_EQ(log.statements().last(), QStringLiteral("select viewname,viewowner from pg_views"));
    QTreeWidgetItem* view = child(views, QStringLiteral("kt_view"));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(CLeftView::imageOf(view), 8);
    tree.setCurrentItem(view);

    std::unique_ptr<QMenu> menu(tree.createContextMenu());
    QStringList labels;
    for (QAction* a : menu->actions()) labels << a->text();
    EXPECT_EQ(labels, (QStringList{QStringLiteral("データベースの追加"), {}, QStringLiteral("テーブルの新規作成"),
                                   QStringLiteral("テーブルの編集"), QStringLiteral("テーブルの削除"), {},
                                   QStringLiteral("CSVファイルのインポート"),
                                   QStringLiteral("CSVファイルへのエクスポート"), {}}));
    QList<bool> enabled;
    for (int id : {Cmd::DatabaseCreate, Cmd::TableCreate, Cmd::TableEdit, Cmd::TableDrop,
                   Cmd::CsvImport, Cmd::CsvExport})
        enabled << menuEntry(*menu, id)->isEnabled();
    EXPECT_EQ(enabled, (QList<bool>{true, false, true, false, true, true}));

    // A double click records the node without touching the flags; on an object it names it.
    emit tree.itemDoubleClicked(folder(QStringLiteral("インデックス")), 0);
    EXPECT_EQ(doc.nodeCaption, QStringLiteral("インデックス"));
    EXPECT_EQ(doc.objectName, QStringLiteral("kt_view"));
    emit tree.itemDoubleClicked(theirs, 0);
    EXPECT_EQ(doc.objectName, QStringLiteral("kt_theirs"));
    EXPECT_EQ(doc.nodeImage, 8);
    EXPECT_EQ(doc.viewFlag, 1);

    // A created table lands in sorted place under the selected folder and becomes selected.
    tree.setCurrentItem(tables);
    tree.addCreatedTable(QStringLiteral("kt_new"));
    QTreeWidgetItem* created = tree.currentItem();
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->text(0), QStringLiteral("kt_new"));
    EXPECT_EQ(created->parent(), tables);
    EXPECT_TRUE(isSorted(captions(tables)));
    EXPECT_EQ(doc.objectName, QStringLiteral("kt_new"));
    EXPECT_EQ(doc.nodeImage, 6);

    sql(QStringLiteral("DROP VIEW kt_view"));
    sql(QStringLiteral("DROP TABLE kt_mine, kt_theirs"));
}

TEST_F(LeftView, DropRefusedByServerKeepsTheNode)
{
    sql(QStringLiteral("CREATE TABLE kt_refused (a int)"));
    sql(QStringLiteral("ALTER TABLE kt_refused OWNER TO %1").arg(kOwner));
    logIn(kUser);
    StatementLog log(*doc.connection());
    QTreeWidgetItem* tables = folder(QStringLiteral("テーブル"));
    tree.setCurrentItem(tables);
    QTreeWidgetItem* refused = child(tables, QStringLiteral("kt_refused"));
    ASSERT_NE(refused, nullptr);
    tree.setCurrentItem(refused);
    log.clear();

    std::unique_ptr<QMenu> menu(tree.createContextMenu());
    QAction* drop = menuEntry(*menu, Cmd::TableDrop);
    ASSERT_TRUE(drop->isEnabled());
    prompts.answer(false);
    drop->trigger();
    EXPECT_TRUE(log.statements().isEmpty());
    prompts.answer(true);
    drop->trigger();
    EXPECT_EQ(log.statements(), QStringList{QStringLiteral("DROP TABLE kt_refused")});
    EXPECT_EQ(prompts.texts(), (QStringList{QStringLiteral("テーブルを削除してもよろしいですか？"),
                                            QStringLiteral("テーブルを削除してもよろしいですか？"),
                                            QStringLiteral("テーブル削除に失敗しました")}));
    EXPECT_EQ(prompts.shown().last().kind, BoxKind::Window);
    EXPECT_EQ(child(tables, QStringLiteral("kt_refused")), refused);
    EXPECT_EQ(tree.currentItem(), refused);
    EXPECT_TRUE(tableExists(QStringLiteral("kt_refused")));

    // Without an object name nothing is sent.
    prompts.clear();
    log.clear();
    doc.objectName.clear();
    prompts.answer(true);
    tree.runCommand(Cmd::TableDrop);
    EXPECT_EQ(prompts.messages(), QStringList{QStringLiteral("テーブルが選択されていません")});
    EXPECT_TRUE(log.statements().isEmpty());
    sql(QStringLiteral("DROP TABLE kt_refused"));
}

TEST_F(LeftView, DropsTablesWhoseNamesNeedQuoting)
{
    const QStringList names = {QStringLiteral("MixedCase"), QStringLiteral("order"), QStringLiteral("表示")};
    for (const QString& name : names) sql(QStringLiteral("CREATE TABLE \"%1\" (a int)").arg(name));
    sql(QStringLiteral("CREATE TABLE kt_stale (a int)"));
    logIn(QStringLiteral("postgres"));
    QTreeWidgetItem* tables = folder(QStringLiteral("テーブル"));
    tree.setCurrentItem(tables);

    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        QTreeWidgetItem* node = child(tables, name);
        ASSERT_NE(node, nullptr);
        tree.setCurrentItem(node);
        prompts.clear();
        updates.clear();
        prompts.answer(true);
        tree.runCommand(Cmd::TableDrop);
        EXPECT_EQ(prompts.messages(), QStringList{QStringLiteral("テーブルを削除しました")});
        EXPECT_EQ(child(tables, name), nullptr);
        EXPECT_FALSE(tableExists(QStringLiteral("\"%1\"").arg(name)));
        // The selection moved to a neighbour, whose selection handling ran.
        ASSERT_NE(tree.currentItem(), nullptr);
        EXPECT_EQ(tree.currentItem()->parent(), tables);
        EXPECT_EQ(doc.nodeCaption, tree.currentItem()->text(0));
        EXPECT_EQ(updates, QList<QObject*>{&tree});
    }

    // After a reconnect the browse state still names the table while the rebuilt tree does
    // not show it: the drop removes no unrelated node.
    tree.setCurrentItem(child(tables, QStringLiteral("kt_stale")));
    logIn(QStringLiteral("postgres"));
    EXPECT_EQ(doc.tableFlag, 1);
    const QStringList hostBefore = captions(host());
    prompts.clear();
    prompts.answer(true);
    tree.runCommand(Cmd::TableDrop);
    EXPECT_EQ(prompts.messages(), QStringList{QStringLiteral("テーブルを削除しました")});
    EXPECT_FALSE(tableExists(QStringLiteral("kt_stale")));
    EXPECT_EQ(captions(host()), hostBefore);
    EXPECT_EQ(captions(database()).size(), 13);
}
