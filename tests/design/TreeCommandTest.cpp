#include <QLineEdit>
#include <QTreeWidgetItemIterator>

#include "DesignFixture.h"
#include "app/FeatureWiring.h"
#include "browser/CLeftView.h"
#include "design/CTableCreateDlg.h"
#include "support/DialogDriver.h"
#include "widgets/CommandTarget.h"
#include "workspace/CKestrelDoc.h"

namespace {

QTreeWidgetItem* node(CLeftView& tree, const QString& caption, int depth)
{
    for (QTreeWidgetItemIterator it(&tree); *it; ++it) {
        int d = 0;
        for (QTreeWidgetItem* up = (*it)->parent(); up; up = up->parent()) ++d;
        if ((*it)->text(0) == caption && d == depth) return *it;
    }
    return nullptr;
}

}  // namespace

TEST_F(DesignTest, TheTreesCreateCommandAddsTheCreatedTableAsTheServerNamesIt)
{
    sql(QStringLiteral("DROP TABLE IF EXISTS kd_tree_new, kd_tree_old"));
    sql(QStringLiteral("CREATE TABLE kd_tree_old (a int)"));
    CKestrelDoc doc;
    CLeftView tree(doc, nullptr);
    tree.setFeatureDialogs(AppFeatureDialogs());
    const LoginParameters p = TestServer::superuserLogin();
    doc.setLoginRunner([p] { return std::optional<LoginParameters>(p); });
    tree.initialUpdate();
    ASSERT_NE(doc.connection(), nullptr);
    QTreeWidgetItem* tables = node(tree, QStringLiteral("テーブル"), 2);
    ASSERT_NE(tables, nullptr);
    tree.setCurrentItem(tables);
    QTreeWidgetItem* old = node(tree, QStringLiteral("kd_tree_old"), 3);
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
