#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QTableWidget>
#include <memory>

#include "app/CMainFrame.h"
#include "app/FeatureWiring.h"
#include "browser/CLeftView.h"
#include "browser/TreeImages.h"
#include "listview/CKestrelView.h"
#include "support/DialogDriver.h"
#include "support/ScriptedPrompter.h"
#include "support/WorkspaceFixture.h"

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
        TearDownTestSuite();
        auto admin = TestServer::connect();
        TestServer::run(*admin, QStringLiteral("CREATE DATABASE %1").arg(kDbName));
        TestServer::run(*admin, QStringLiteral("CREATE ROLE %1 LOGIN").arg(kUser));
        TestServer::run(*admin, QStringLiteral("CREATE ROLE %1").arg(kOwner));
        TestServer::run(*admin, QStringLiteral("CREATE ROLE \"%1\" LOGIN SUPERUSER").arg(kAdmin));
    }

    static void TearDownTestSuite()
    {
        auto admin = TestServer::connect();
        TestServer::dropDatabase(*admin, kDbName);
        for (const QString& role : {kUser, kOwner, kAdmin}) TestServer::dropRole(*admin, role);
    }

    void SetUp() override
    {
        m_admin = TestServer::connect(TestServer::superuserLogin(kDbName));
        tree.setFeatureDialogs(AppFeatureDialogs());
        QObject::connect(&doc, &CKestrelDoc::viewsUpdateRequested,
                         [this](QObject* sender) { updates << sender; });
    }

    // Runs the tree's initial update with a login as `user` to the test database.
    void logIn(const QString& user) { ASSERT_TRUE(::logIn(tree, doc, TestServer::loginAs(user, {}, kDbName))); }

    void sql(const QString& statement) { TestServer::run(*m_admin, statement); }

    bool tableExists(const QString& quotedName)
    {
        return TestServer::value(*m_admin, QStringLiteral("select to_regclass('%1') is not null")
                                               .arg(m_admin->escapeValue(quotedName))) == u"t";
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

    // The build selects nothing and clears the browse state: no command keeps a target.
    EXPECT_EQ(tree.currentItem(), nullptr);
    EXPECT_TRUE(updates.isEmpty());
    EXPECT_TRUE(doc.objectName.isEmpty());

    // Through the main window's routing, with the tree active.
    CMainFrame frame(doc, nullptr);
    useLogin(doc, TestServer::loginAs(kUser, {}, kDbName));
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
    EXPECT_EQ(QString::number(relations.size()),
              TestServer::value(*m_admin, QStringLiteral("select count(*) from pg_class")));
    EXPECT_TRUE(relations.contains(QStringLiteral("pg_class")));
    // Relations outside the search path carry their schema.
    EXPECT_TRUE(relations.contains(QStringLiteral("information_schema.tables")));
    EXPECT_TRUE(isSorted(relations));

    QTreeWidgetItem* pgClass = child(catalogue, QStringLiteral("pg_class"));
    ASSERT_NE(pgClass, nullptr);
    EXPECT_EQ(CLeftView::imageOf(pgClass), 2);
    tree.setCurrentItem(pgClass);
    EXPECT_EQ(doc.catalogueFlag, 1);
    EXPECT_EQ(doc.objectName, QStringLiteral("pg_class"));
    EXPECT_EQ(selectedPicture(pgClass), TreeImages::image(3).toImage());

    QString opened;
    onNextModal([&](QDialog& d) {
        opened = d.windowTitle();
        d.reject();
    });
    tree.runCommand(Cmd::UserCreate);
    EXPECT_EQ(opened, QStringLiteral("ユーザ登録"));
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
    const QString tablesQuery = QStringLiteral(
        "select c.relname as tablename, pg_catalog.pg_get_userbyid(c.relowner) as tableowner, "
        "n.nspname as schemaname, pg_catalog.pg_table_is_visible(c.oid) as visible "
        "from pg_catalog.pg_class c join pg_catalog.pg_namespace n on n.oid = c.relnamespace "
        "where c.relkind in ('r','p')");

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
    EXPECT_EQ(log.statements().last(),
              QStringLiteral("select c.relname as viewname, pg_catalog.pg_get_userbyid(c.relowner) as viewowner, "
                             "n.nspname as schemaname, pg_catalog.pg_table_is_visible(c.oid) as visible "
                             "from pg_catalog.pg_class c join pg_catalog.pg_namespace n on n.oid = c.relnamespace "
                             "where c.relkind = 'v'"));
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
    QString detailTable;
    onNextModal([&](QDialog& d) {
        detailTable = lineEdit(d, "tableNameBox")->text();
        d.reject();
    });
    emit tree.itemDoubleClicked(theirs, 0);
    EXPECT_EQ(detailTable, QStringLiteral("kt_theirs"));
    EXPECT_EQ(doc.objectName, QStringLiteral("kt_theirs"));
    EXPECT_EQ(doc.nodeImage, 8);
    EXPECT_EQ(doc.viewFlag, 1);

    // A created table lands in sorted place under the selected folder and becomes selected.
    tree.setCurrentItem(tables);
    tree.addCreatedTable(ObjectName{QStringLiteral("public"), QStringLiteral("kt_new"), true});
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
    EXPECT_EQ(log.statements(), QStringList{QStringLiteral("DROP TABLE public.kt_refused")});
    EXPECT_EQ(prompts.texts(), (QStringList{QStringLiteral("テーブルを削除してもよろしいですか？\nkt_refused"),
                                            QStringLiteral("テーブルを削除してもよろしいですか？\nkt_refused"),
                                            QStringLiteral("テーブル削除に失敗しました")}));
    EXPECT_EQ(prompts.shown().last().kind, BoxKind::Window);
    // The server's reason goes to the log pane beside the fixed message.
    EXPECT_TRUE(doc.pendingNoticesText().contains(QStringLiteral("kt_refused")))
        << doc.pendingNoticesText().toStdString();
    EXPECT_EQ(child(tables, QStringLiteral("kt_refused")), refused);
    EXPECT_EQ(tree.currentItem(), refused);
    EXPECT_TRUE(tableExists(QStringLiteral("kt_refused")));

    // Without a table node selected nothing is sent, whatever name the browse state holds.
    prompts.clear();
    tree.setCurrentItem(folder(QStringLiteral("インデックス")));
    log.clear();
    EXPECT_EQ(doc.objectName, QStringLiteral("kt_refused"));
    EXPECT_FALSE(tree.commandEnabled(Cmd::TableDrop));
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
        // A name that needs quotes is captioned as the server stores it.
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

    // After a reconnect to another database holding a same-named table, nothing is selected
    // and nothing of the earlier tree is a target: the table commands are disabled and a drop
    // sends nothing.
    auto other = TestServer::connect();
    TestServer::run(*other, QStringLiteral("CREATE TABLE kt_stale (a int)"));
    tree.setCurrentItem(child(tables, QStringLiteral("kt_stale")));
    ASSERT_EQ(doc.objectName, QStringLiteral("kt_stale"));
    useLogin(doc, TestServer::superuserLogin());
    tree.initialUpdate();
    ASSERT_NE(tree.topLevelItemCount(), 0);
    EXPECT_EQ(doc.tableFlag, 0);
    EXPECT_TRUE(doc.objectName.isEmpty());
    EXPECT_FALSE(tree.commandEnabled(Cmd::TableDrop));
    StatementLog log(*doc.connection());
    prompts.clear();
    prompts.answer(true);
    tree.runCommand(Cmd::TableDrop);
    EXPECT_EQ(prompts.messages(), QStringList{QStringLiteral("テーブルが選択されていません")});
    EXPECT_TRUE(log.statements().isEmpty());
    EXPECT_TRUE(tableExists(QStringLiteral("kt_stale")));
    EXPECT_EQ(TestServer::value(*other, QStringLiteral("select to_regclass('kt_stale') is not null")),
              QStringLiteral("t"));
    TestServer::run(*other, QStringLiteral("DROP TABLE kt_stale"));
    sql(QStringLiteral("DROP TABLE kt_stale"));
}

namespace {

// Same-named tables in two schemas, one outside the search path, a quoted schema and a table
// whose name holds a dot: every node lists, edits and drops its very own table.
TEST_F(LeftView, EachNodeListsEditsAndDropsItsOwnTableWhateverItsSchema)
{
    const char* setUp[] = {
        "CREATE TABLE shop (id int, v text); INSERT INTO shop VALUES (1, 'public')",
        "CREATE SCHEMA kt_s2; CREATE TABLE kt_s2.shop (id int, v text); INSERT INTO kt_s2.shop VALUES (1, 's2')",
        "CREATE TABLE kt_s2.only_here (id int, v text); INSERT INTO kt_s2.only_here VALUES (1, 'only')",
        "CREATE SCHEMA \"My Schema\"; CREATE TABLE \"My Schema\".\"T\" (id int, v text); "
        "INSERT INTO \"My Schema\".\"T\" VALUES (1, 'mine')",
        "CREATE TABLE \"kt_a.b\" (id int, v text); INSERT INTO \"kt_a.b\" VALUES (1, 'dotted')",
        "CREATE SCHEMA kt_a; CREATE TABLE kt_a.b (id int, v text); INSERT INTO kt_a.b VALUES (1, 'schema a')",
    };
    for (const char* s : setUp) sql(QString::fromUtf8(s));
    logIn(QStringLiteral("postgres"));
    doc.pageLength = 1000;
    CKestrelView list(doc);
    list.setFeatureDialogs(AppFeatureDialogs());
    QTreeWidgetItem* tables = folder(QStringLiteral("テーブル"));
    tree.setCurrentItem(tables);

    struct Case {
        QString caption, value, table;
    };
    const Case cases[] = {
        {QStringLiteral("shop"), QStringLiteral("public"), QStringLiteral("public.shop")},
        {QStringLiteral("kt_s2.shop"), QStringLiteral("s2"), QStringLiteral("kt_s2.shop")},
        {QStringLiteral("kt_s2.only_here"), QStringLiteral("only"), QStringLiteral("kt_s2.only_here")},
        {QStringLiteral("\"My Schema\".\"T\""), QStringLiteral("mine"), QStringLiteral("\"My Schema\".\"T\"")},
        {QStringLiteral("public.\"kt_a.b\""), QStringLiteral("dotted"), QStringLiteral("public.\"kt_a.b\"")},
        {QStringLiteral("kt_a.b"), QStringLiteral("schema a"), QStringLiteral("kt_a.b")},
    };
    // The table "kt_a.b" of public and b of schema kt_a: told apart by caption and by node.
    QList<QTreeWidgetItem*> nodes;
    for (const Case& c : cases) {
        QTreeWidgetItem* node = nullptr;
        for (int i = 0; i < tables->childCount(); ++i) {
            QTreeWidgetItem* n = tables->child(i);
            const std::optional<ObjectName> o = CLeftView::objectOf(n);
            if (n->text(0) == c.caption && o && !nodes.contains(n)
                && (c.caption != QStringLiteral("kt_a.b") || (o->schema == QStringLiteral("kt_a")) == (c.value == QStringLiteral("schema a"))))
                node = n;
        }
        ASSERT_NE(node, nullptr) << c.caption.toStdString();
        nodes << node;
    }
    const QString shown = QStringLiteral("select v from %1");
    for (int i = 0; i < 6; ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.table.toStdString());
        tree.setCurrentItem(nodes[i]);
        EXPECT_EQ(doc.browsedObject(), *CLeftView::objectOf(nodes[i]));
        EXPECT_EQ(doc.nodeCaption, c.caption);
        list.onUpdate();
        ASSERT_EQ(list.model()->rowCount(), 1);
        EXPECT_EQ(list.cellText(0, 2), c.value);

        list.setCurrentIndex(list.model()->index(0, 0));
        onNextModal([&](QDialog& d) {
            auto* fields = d.findChild<QTableWidget*>(QStringLiteral("fieldList"));
            ASSERT_NE(fields, nullptr);
            ASSERT_EQ(fields->rowCount(), 2);
            EXPECT_EQ(fields->item(1, 5)->text(), c.value);
            fields->setCurrentCell(1, 0);
            lineEdit(d, "dataBox")->setText(c.value + QStringLiteral(" edited"));
            prompts.answer(true);
            button(d, "updateButton")->click();
            button(d, "cancelButton")->click();
        });
        list.runCommand(Cmd::RecordEdit);
        EXPECT_EQ(TestServer::value(*m_admin, shown.arg(c.table)), c.value + QStringLiteral(" edited"));
    }
    EXPECT_EQ(TestServer::value(*m_admin, QStringLiteral("select v from kt_a.b")), QStringLiteral("schema a edited"));

    // Drops, in reverse so the node indexes stay: each takes its own table and node only.
    for (int i = 5; i >= 0; --i) {
        SCOPED_TRACE(cases[i].table.toStdString());
        tree.setCurrentItem(nodes[i]);
        prompts.clear();
        prompts.answer(true);
        tree.runCommand(Cmd::TableDrop);
        EXPECT_EQ(prompts.messages(), QStringList{QStringLiteral("テーブルを削除しました")});
        EXPECT_FALSE(tableExists(cases[i].table));
        for (int j = 0; j < i; ++j) EXPECT_TRUE(tableExists(cases[j].table)) << cases[j].table.toStdString();
    }
    sql(QStringLiteral("DROP SCHEMA kt_s2, \"My Schema\", kt_a"));
}

}  // namespace

namespace {

TEST_F(LeftView, CopyKeyInTheTreeLeavesTheClipboardAlone)
{
    logIn(QStringLiteral("postgres"));
    tree.setCurrentItem(folder(QStringLiteral("テーブル")));
    QGuiApplication::clipboard()->setText(QStringLiteral("kept"));
    QKeyEvent press(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier);
    QApplication::sendEvent(&tree, &press);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("kept"));
}

}  // namespace
