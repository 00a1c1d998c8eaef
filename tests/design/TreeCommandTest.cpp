#include <QLineEdit>
#include <QTableWidget>

#include "DesignFixture.h"
#include "app/FeatureWiring.h"
#include "browser/CLeftView.h"
#include "design/CTableCreateDlg.h"
#include "listview/CKestrelView.h"
#include "support/DialogDriver.h"
#include "support/WorkspaceFixture.h"
#include "widgets/CommandTarget.h"

TEST_F(DesignTest, TheTreesCreateCommandAddsTheCreatedTableAsTheServerNamesIt)
{
    sql(QStringLiteral("DROP TABLE IF EXISTS kd_tree_new, kd_tree_old"));
    sql(QStringLiteral("CREATE TABLE kd_tree_old (a int)"));
    CKestrelDoc doc;
    CLeftView tree(doc, nullptr);
    tree.setFeatureDialogs(AppFeatureDialogs());
    ASSERT_TRUE(logIn(tree, doc));
    QTreeWidgetItem* tables = findNode(tree, QStringLiteral("テーブル"), 2);
    ASSERT_NE(tables, nullptr);
    tree.setCurrentItem(tables);
    QTreeWidgetItem* old = findNode(tree, QStringLiteral("kd_tree_old"), 3);
    ASSERT_NE(old, nullptr);
    // With a table selected, the new one still goes into the tables folder.
    tree.setCurrentItem(old);

    // Cancel adds nothing.
    onNextModal([](QDialog& d) { d.reject(); });
    tree.runCommand(Cmd::TableCreate);
    EXPECT_EQ(tree.currentItem(), old);

    onNextModal([this](QDialog& d) {
        auto* dlg = qobject_cast<CTableCreateDlg*>(&d);
        ASSERT_NE(dlg, nullptr);
        FieldDefinition f;
        f.name = QStringLiteral("x");
        f.type = QStringLiteral("int4");
        dlg->appendRow(f);
        lineEdit(d, "tableNameBox")->setText(QStringLiteral("KD_Tree_New"));
        prompts.answer(true);
        button(d, "okButton")->click();
    });
    tree.runCommand(Cmd::TableCreate);
    QTreeWidgetItem* created = tree.currentItem();
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->text(0), QStringLiteral("kd_tree_new"));
    EXPECT_EQ(created->parent(), tables);
    EXPECT_EQ(CLeftView::imageOf(created), 6);
    EXPECT_EQ(doc.objectName, QStringLiteral("kd_tree_new"));
    EXPECT_EQ(doc.tableFlag, 1);
    EXPECT_EQ(prompts.texts().last(), kCreateTableDone);
    EXPECT_EQ(value(QStringLiteral("select count(*) from pg_tables where tablename = 'kd_tree_new'")),
              QStringLiteral("1"));
    sql(QStringLiteral("DROP TABLE kd_tree_new, kd_tree_old"));
}

// An ordinary role creates a table; then a table of the same name appears in its own schema,
// ahead on the search path ("$user", public). Listing, editing, deleting and dropping from the
// created table's node all reach the created table, never the newcomer.
TEST_F(DesignTest, EveryCommandOnACreatedTableReachesItWhateverTheSearchPathFindsLater)
{
    const QString name = QStringLiteral("kd_顧客"), own = QStringLiteral("public.\"kd_顧客\""),
                  newcomer = QStringLiteral("kd_maker.\"kd_顧客\"");
    auto contents = [this](const QString& table) {
        return value(QStringLiteral("select string_agg(v, ',' order by v) from %1").arg(table));
    };
    // Dropped with what it owns (both tables, its schema) and its right on public.
    role(QStringLiteral("kd_maker"));
    sql(QStringLiteral("CREATE ROLE kd_maker LOGIN; GRANT CREATE ON SCHEMA public TO kd_maker"));
    {
        CKestrelDoc doc;
        doc.pageLength = 100;
        CLeftView tree(doc, nullptr);
        tree.setFeatureDialogs(AppFeatureDialogs());
        CKestrelView list(doc);
        list.setFeatureDialogs(AppFeatureDialogs());
        ASSERT_TRUE(logIn(tree, doc, TestServer::loginAs(QStringLiteral("kd_maker"))));
        tree.setCurrentItem(findNode(tree, QStringLiteral("テーブル"), 2));
        onNextModal([&](QDialog& d) {
            FieldDefinition f;
            f.name = QStringLiteral("v");
            f.type = QStringLiteral("text");
            qobject_cast<CTableCreateDlg*>(&d)->appendRow(f);
            lineEdit(d, "tableNameBox")->setText(name);
            prompts.answer(true);
            button(d, "okButton")->click();
        });
        tree.runCommand(Cmd::TableCreate);
        QTreeWidgetItem* created = tree.currentItem();
        ASSERT_NE(created, nullptr);
        EXPECT_EQ(created->text(0), name);  // found by the search path: its name, bare
        EXPECT_EQ(CLeftView::objectOf(created), (ObjectName{QStringLiteral("public"), name, true}));

        sql(QStringLiteral("INSERT INTO %1 VALUES ('one'), ('two'), ('three'); CREATE SCHEMA kd_maker AUTHORIZATION kd_maker; "
                           "CREATE TABLE %2 (v text); INSERT INTO %2 VALUES ('newcomer'); ALTER TABLE %2 OWNER TO kd_maker")
                .arg(own, newcomer));
        tree.setCurrentItem(created);
        list.onUpdate();
        ASSERT_EQ(list.model()->rowCount(), 3);
        list.setCurrentIndex(list.model()->index(0, 0));
        onNextModal([&](QDialog& d) {
            d.findChild<QTableWidget*>(QStringLiteral("fieldList"))->setCurrentCell(0, 0);
            lineEdit(d, "dataBox")->setText(QStringLiteral("edited"));
            prompts.answer(true);
            button(d, "updateButton")->click();
            button(d, "cancelButton")->click();
        });
        list.runCommand(Cmd::RecordEdit);
        EXPECT_EQ(contents(own), QStringLiteral("edited,three,two"));
        list.selectionModel()->select(list.model()->index(1, 0),
                                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        prompts.answer(true);
        list.runCommand(Cmd::RecordDelete);
        EXPECT_EQ(contents(own), QStringLiteral("edited,three"));
        prompts.answer(true);
        tree.runCommand(Cmd::TableDrop);
        EXPECT_EQ(value(QStringLiteral("select to_regclass('%1') is null").arg(conn->escapeValue(own))), QStringLiteral("t"));
        EXPECT_EQ(contents(newcomer), QStringLiteral("newcomer"));
    }  // the role's session ends here, before the role is dropped
}
