#include "TableInfoFixture.h"

#include <QAbstractButton>
#include <QLineEdit>

#include "app/FeatureWiring.h"
#include "browser/CLeftView.h"
#include "listview/CKestrelView.h"
#include "listview/Listings.h"
#include "support/WorkspaceFixture.h"
#include "widgets/CommandTarget.h"

namespace {

// The tree and the list view of a workspace logged in to the test server's postgres database.
class DetailWiringTest : public TableInfoFixture {
protected:
    static void doubleClickAt(CKestrelView& view, int row)
    {
        doubleClick(&view, view.visualRect(view.model()->index(row, 0)).center());
    }
    void doubleClickRow(CKestrelView& view, int column, const QString& text)
    {
        for (int r = 0; r < view.model()->rowCount(); ++r) {
            if (view.cellText(r, column) != text) continue;
            doubleClickAt(view, r);
            return;
        }
        ADD_FAILURE() << "no row " << text.toStdString();
    }

    CKestrelDoc doc;
};

TEST_F(DetailWiringTest, TreeCommandOpensTheDetailAndTheCaptionFollowsARename)
{
    run("CREATE TABLE ti_r (a int)");
    CLeftView tree(doc, nullptr);
    tree.setFeatureDialogs(AppFeatureDialogs());
    ASSERT_TRUE(logIn(tree, doc));
    QTreeWidgetItem* tables = findNode(tree, kTablesFolder);
    ASSERT_NE(tables, nullptr);
    tree.setCurrentItem(tables);
    QTreeWidgetItem* node = findNode(tree, QStringLiteral("ti_r"));
    ASSERT_NE(node, nullptr);
    tree.setCurrentItem(node);

    onNextModal([](QDialog& d) {
        EXPECT_EQ(d.windowTitle(), QStringLiteral("テーブル明細"));
        onNextModal([](QDialog& r) {
            lineEdit(r, "newNameBox")->setText(QStringLiteral("ti_renamed"));
            button(r, "okButton")->click();
        });
        button(d, "renameButton")->click();
        button(d, "cancelButton")->click();
    });
    tree.runCommand(Cmd::TableEdit);
    EXPECT_EQ(node->text(0), QStringLiteral("ti_renamed"));
    EXPECT_EQ(doc.objectName, QStringLiteral("ti_renamed"));
}

TEST_F(DetailWiringTest, ListRowsOpenTheirOwnTableAndSequenceDetails)
{
    run("CREATE TABLE ti_f (a int)");
    run("CREATE SEQUENCE ti_seq INCREMENT 4");
    ASSERT_TRUE(logIn(doc));
    CKestrelView view(doc, nullptr);
    view.setFeatureDialogs(AppFeatureDialogs());
    view.resize(800, 600);
    view.show();
    doc.nodeDepth = 2;
    doc.parentCaption = QStringLiteral("データベース(postgres)");

    QStringList seen;
    doc.nodeCaption = kSequencesFolder;
    view.onUpdate();
    onNextModal([&](QDialog& d) {
        seen << d.windowTitle() << lineEdit(d, "sequenceNameBox")->text()
             << lineEdit(d, "incrementBox")->text();
        d.reject();
    });
    doubleClickRow(view, 0, QStringLiteral("ti_seq"));

    doc.nodeCaption = kTablesFolder;
    view.onUpdate();
    onNextModal([&](QDialog& d) {
        seen << d.windowTitle() << lineEdit(d, "tableNameBox")->text()
             << lineEdit(d, "fieldCountBox")->text();
        d.reject();
    });
    doubleClickRow(view, 0, QStringLiteral("ti_f"));
    EXPECT_EQ(seen, (QStringList{"シーケンス明細", "ti_seq", "4", "テーブル明細", "ti_f", "1"}));

    // Two tables of one name: each row of the summary opens its own (the schema travels with
    // the row out of sight).
    run("CREATE SCHEMA ti_s; CREATE TABLE ti_s.ti_f (a int, b int, c int)");
    view.onUpdate();
    EXPECT_EQ(view.model()->columnCount(), 5);
    QStringList shown;
    for (int r = 0; r < view.model()->rowCount(); ++r) {
        if (view.cellText(r, 0) != u"ti_f" && view.cellText(r, 0) != u"ti_s.ti_f") continue;
        onNextModal([&](QDialog& d) {
            shown << lineEdit(d, "tableNameBox")->text() + u'/' + lineEdit(d, "fieldCountBox")->text();
            d.reject();
        });
        doubleClickAt(view, r);
    }
    shown.sort();
    EXPECT_EQ(shown, (QStringList{"ti_f/1", "ti_s.ti_f/3"}));
}

}  // namespace
