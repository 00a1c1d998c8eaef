#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <QTreeWidget>

#include "DesignFixture.h"
#include "design/CTableSelectDlg.h"
#include "design/TableSelection.h"
#include "support/DialogDriver.h"
#include "workspace/TableRowCounter.h"

namespace {

QListWidgetItem* item(CTableSelectDlg& dlg, const QString& caption)
{
    const QList<QListWidgetItem*> found = dlg.tableList()->findItems(caption, Qt::MatchExactly);
    EXPECT_EQ(found.size(), 1) << caption.toStdString();
    return found.value(0);
}

QPoint centre(CTableSelectDlg& dlg, QListWidgetItem* it)
{
    dlg.tableList()->doItemsLayout();
    return dlg.tableList()->visualItemRect(it).center();
}

void click(CTableSelectDlg& dlg, const QPoint& at)
{
    QTest::mouseClick(dlg.tableList()->viewport(), Qt::LeftButton, {}, at);
}

void click(CTableSelectDlg& dlg, const QString& caption)
{
    click(dlg, centre(dlg, item(dlg, caption)));
}

// "件数" shows the estimate at once and the exact count once the second session answers.
bool countShows(QDialog& d, const QString& count)
{
    return QTest::qWaitFor([&] { return lineEdit(d, "countBox")->text() == count; }, 30000);
}

QStringList fields(QDialog& d)
{
    auto* list = d.findChild<QTreeWidget*>(QStringLiteral("fieldList"));
    QStringList out;
    for (int i = 0; i < list->topLevelItemCount(); ++i) out << list->topLevelItem(i)->text(0);
    return out;
}

class TableSelect : public DesignTest {
protected:
    void SetUp() override
    {
        DesignTest::SetUp();
        sql(QStringLiteral("CREATE TABLE kd_sel_mixed (a int4, b int4, c text)"));
        sql(QStringLiteral("INSERT INTO kd_sel_mixed VALUES (1, 2, 'x'), (3, 4, 'y')"));
        sql(QStringLiteral("CREATE TABLE kd_sel_fixed (a int4, b int8)"));
        sql(QStringLiteral("CREATE SCHEMA kd_sel_s2"));
        sql(QStringLiteral("CREATE TABLE kd_sel_twin (x int4)"));
        sql(QStringLiteral("CREATE TABLE kd_sel_s2.kd_sel_twin (y text, z text, w int8)"));
    }
    void cleanUp() override
    {
        TestServer::run(*admin, QStringLiteral("DROP SCHEMA IF EXISTS kd_sel_s2 CASCADE; "
                                               "DROP TABLE IF EXISTS kd_sel_mixed, kd_sel_fixed, kd_sel_twin"));
    }
};

}  // namespace

TEST_F(TableSelect, ListsTablesOfEverySchemaAndShowsTheClickedTable)
{
    CTableSelectDlg dlg(*conn);
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("テーブルの選択"));
    const QStringList listed = itemTexts(dlg.tableList());
    for (const char* c : {"kd_sel_mixed", "kd_sel_fixed", "kd_sel_twin", "kd_sel_s2.kd_sel_twin"})
        EXPECT_TRUE(listed.contains(QString::fromLatin1(c))) << c;
    for (const QString& c : listed) EXPECT_FALSE(c.startsWith(QStringLiteral("pg_catalog.")));

    const QString owner = value(QStringLiteral("select current_user"));
    const int rc = runModal(dlg, [&](QDialog& d) {
        click(dlg, QStringLiteral("kd_sel_mixed"));
        EXPECT_EQ(lineEdit(d, "tableNameBox")->text(), QStringLiteral("kd_sel_mixed"));
        EXPECT_TRUE(countShows(d, QStringLiteral("2"))) << lineEdit(d, "countBox")->text().toStdString();
        EXPECT_EQ(lineEdit(d, "ownerBox")->text(), owner);
        EXPECT_EQ(lineEdit(d, "fieldCountBox")->text(), QStringLiteral("3"));
        EXPECT_EQ(lineEdit(d, "recordLengthBox")->text(), QStringLiteral("8+α"));
        EXPECT_EQ(fields(d), (QStringList{"a", "b", "c"}));

        click(dlg, QStringLiteral("kd_sel_fixed"));
        EXPECT_EQ(lineEdit(d, "recordLengthBox")->text(), QStringLiteral("12"));
        EXPECT_TRUE(countShows(d, QStringLiteral("0"))) << lineEdit(d, "countBox")->text().toStdString();
        EXPECT_EQ(fields(d), (QStringList{"a", "b"}));

        // The table outside the search path, not its same-named neighbour.
        click(dlg, QStringLiteral("kd_sel_s2.kd_sel_twin"));
        EXPECT_EQ(fields(d), (QStringList{"y", "z", "w"}));
        EXPECT_EQ(lineEdit(d, "recordLengthBox")->text(), QStringLiteral("8+α"));

        // Empty space: no name, the boxes keep the previous table's values.
        QListWidget* list = dlg.tableList();
        QPoint empty(list->viewport()->width() - 2, list->viewport()->height() - 2);
        ASSERT_EQ(list->itemAt(empty), nullptr);
        click(dlg, empty);
        EXPECT_TRUE(lineEdit(d, "tableNameBox")->text().isEmpty());
        EXPECT_EQ(lineEdit(d, "fieldCountBox")->text(), QStringLiteral("3"));
        EXPECT_EQ(fields(d), (QStringList{"y", "z", "w"}));

        click(dlg, QStringLiteral("kd_sel_s2.kd_sel_twin"));
        button(d, "okButton")->click();
    });
    ASSERT_EQ(rc, QDialog::Accepted);
    EXPECT_EQ(dlg.chosenName(), QStringLiteral("kd_sel_s2.kd_sel_twin"));
    EXPECT_EQ(dlg.chosenTable().schema, QStringLiteral("kd_sel_s2"));
    EXPECT_EQ(dlg.chosenTable().name, QStringLiteral("kd_sel_twin"));
    EXPECT_FALSE(dlg.chosenTable().visible);
    EXPECT_TRUE(prompts.texts().isEmpty());
}

TEST_F(TableSelect, OkReturnsTheEditedTextAndADoubleClickTheClickedTable)
{
    {
        CTableSelectDlg dlg(*conn);
        const int rc = runModal(dlg, [&](QDialog& d) {
            click(dlg, QStringLiteral("kd_sel_fixed"));
            lineEdit(d, "tableNameBox")->setText(QStringLiteral("KD_Typed"));
            button(d, "okButton")->click();
        });
        ASSERT_EQ(rc, QDialog::Accepted);
        EXPECT_EQ(dlg.chosenName(), QStringLiteral("KD_Typed"));
        EXPECT_EQ(dlg.chosenTable().schema, QString());
        EXPECT_EQ(dlg.chosenTable().name, QStringLiteral("kd_typed"));
    }
    {
        // A caption typed by hand names the listed table.
        CTableSelectDlg dlg(*conn);
        runModal(dlg, [&](QDialog& d) {
            lineEdit(d, "tableNameBox")->setText(QStringLiteral("kd_sel_twin"));
            button(d, "okButton")->click();
        });
        EXPECT_EQ(dlg.chosenTable().name, QStringLiteral("kd_sel_twin"));
        EXPECT_EQ(dlg.chosenTable().schema, QStringLiteral("public"));
    }
    {
        CTableSelectDlg dlg(*conn);
        const int rc = runModal(dlg, [&](QDialog& d) {
            const QPoint at = centre(dlg, item(dlg, QStringLiteral("kd_sel_mixed")));
            click(dlg, at);
            lineEdit(d, "tableNameBox")->setText(QStringLiteral("edited"));
            QTest::mouseDClick(dlg.tableList()->viewport(), Qt::LeftButton, {}, at);
        });
        ASSERT_EQ(rc, QDialog::Accepted);
        EXPECT_EQ(dlg.chosenName(), QStringLiteral("kd_sel_mixed"));
        EXPECT_EQ(dlg.chosenTable().schema, QStringLiteral("public"));
    }
}

TEST_F(TableSelect, InformationStopsAtTheFirstFailedQuery)
{
    EXPECT_EQ(RecordLengthText(8, true), QStringLiteral("8+α"));
    EXPECT_EQ(RecordLengthText(12, false), QStringLiteral("12"));
    // A name no table has: the catalogue has no estimate for it, nothing else is asked.
    StatementLog log(*conn);
    const TableInformation none = ReadTableInformation(*conn, {QString(), QStringLiteral("kd_nothing"), true});
    EXPECT_EQ(none.stepsDone, 0);
    EXPECT_EQ(log.statements(),
              QStringList{QStringLiteral("SELECT c.reltuples::bigint as RecordEstimate FROM pg_class c "
                                         "WHERE c.relname = 'kd_nothing' AND pg_table_is_visible(c.oid)")});
    log.clear();
    const TableInformation mixed =
        ReadTableInformation(*conn, {QStringLiteral("public"), QStringLiteral("kd_sel_mixed"), true});
    EXPECT_EQ(mixed.stepsDone, 3);
    EXPECT_EQ(log.statements().value(1),
              QStringLiteral("select pg_class.relname,pg_class.relowner,pg_roles.rolname as usename "
                             "from pg_class, pg_roles WHERE pg_class.relowner = pg_roles.oid and "
                             "pg_class.relname = 'kd_sel_mixed' and pg_class.relnamespace = "
                             "(select oid from pg_namespace where nspname = 'public')"));
}

TEST_F(TableSelect, AClickCountsOnASecondSessionAndTheExactCountFollows)
{
    CTableSelectDlg dlg(*conn);
    runModal(dlg, [&](QDialog& d) {
        StatementLog sent(*conn);
        click(dlg, QStringLiteral("kd_sel_mixed"));
        EXPECT_TRUE(sent.statements().filter(QStringLiteral("count(")).isEmpty())
            << sent.statements().join(u'/').toStdString();
        // The estimate shows while the second session counts.
        const QString shown = lineEdit(d, "countBox")->text();
        EXPECT_TRUE(shown.endsWith(QStringLiteral(" (推定)")) || shown == QStringLiteral("(計数中)"))
            << shown.toStdString();
        EXPECT_TRUE(dlg.rowCounter()->running());
        EXPECT_TRUE(countShows(d, QStringLiteral("2"))) << lineEdit(d, "countBox")->text().toStdString();
        EXPECT_EQ(fields(d), (QStringList{"a", "b", "c"}));
        button(d, "cancelButton")->click();
    });
}
