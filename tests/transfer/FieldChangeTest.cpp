#include "TableInfoFixture.h"

#include <QAbstractButton>
#include <QAction>
#include <QLineEdit>
#include <QTableWidget>

#include "app/FeatureWiring.h"
#include "design/CFieldEditDlg.h"
#include "design/FieldChange.h"
#include "transfer/CTableInfoDlg.h"

namespace {

class FieldChangeTest : public TableInfoFixture {
protected:
    QString columnDefault(const char* column)
    {
        return value(QStringLiteral("select coalesce(pg_get_expr(d.adbin, d.adrelid), '-') "
                                    "from pg_attribute a left join pg_attrdef d on "
                                    "d.adrelid = a.attrelid and d.adnum = a.attnum "
                                    "where a.attrelid = 'ti_f'::regclass and a.attname = '%1'")
                         .arg(QLatin1String(column)));
    }
};

// Opened from the table detail's column menu on row 0; every change names the column as it
// is by then, and the detail reloads afterwards.
TEST_F(FieldChangeTest, RenameThenDefaultChangesNameTheNewColumn)
{
    run("CREATE TABLE ti_f (a int DEFAULT 1, b text)");
    CTableInfoDlg detail(*conn, ObjectName{"", "ti_f", true}, QStringLiteral("postgres"));
    detail.setFeatureDialogs(AppFeatureDialogs());
    StatementLog log(*conn);
    QStringList seen;
    onNextModal([&](QDialog& d) {
        seen << lineEdit(d, "currentFieldBox")->text() << lineEdit(d, "currentDefaultBox")->text();
        button(d, "renameButton")->click();  // empty: nothing sent
        lineEdit(d, "newFieldBox")->setText(QStringLiteral("Renamed"));
        button(d, "renameButton")->click();
        seen << lineEdit(d, "currentFieldBox")->text() << lineEdit(d, "newFieldBox")->text();
        button(d, "setDefaultButton")->click();  // empty: nothing sent
        lineEdit(d, "newDefaultBox")->setText(QStringLiteral("0"));
        button(d, "setDefaultButton")->click();
        seen << lineEdit(d, "currentDefaultBox")->text();
        button(d, "dropDefaultButton")->click();
        seen << lineEdit(d, "currentDefaultBox")->text();
        seen << QString::number(d.findChild<QAbstractButton*>("okButton")->isVisible());
        button(d, "cancelButton")->click();
    });
    detail.setMenuRow(0);
    detail.findChild<QAction*>("changeAction")->trigger();

    // The new default shows as the server then holds it: the literal '0'.
    EXPECT_EQ(seen, (QStringList{"a", "1", "renamed", "Renamed", "'0'", "", "0"}));
    EXPECT_EQ(prompts.messages(), (QStringList{kEnterNewFieldName, kEnterNewDefault}));
    EXPECT_EQ(log.statements().mid(0, 9),
              (QStringList{"BEGIN TRANSACTION", "ALTER TABLE ti_f RENAME a TO renamed", "COMMIT",
                           "BEGIN TRANSACTION", "ALTER TABLE ti_f ALTER renamed SET DEFAULT '0'",
                           "COMMIT", "BEGIN TRANSACTION", "ALTER TABLE ti_f ALTER renamed DROP DEFAULT",
                           "COMMIT"}));
    // The detail was loaded again and shows the renamed column.
    EXPECT_GT(log.statements().size(), 9);
    EXPECT_EQ(detail.findChild<QTableWidget*>("fieldList")->item(0, 0)->text(), QStringLiteral("renamed"));
    EXPECT_EQ(columnDefault("renamed"), QStringLiteral("-"));
}

TEST_F(FieldChangeTest, DefaultsAreSetAsTypedAndAFailedStepLeavesTheSessionUsable)
{
    run("CREATE TABLE ti_f (n int, \"Name\" text)");
    StatementLog log(*conn);
    const ObjectName table{"", "ti_f", true};

    EXPECT_TRUE(SetColumnDefault(*conn, table, QStringLiteral("Name"), QStringLiteral("O'Brien")));
    EXPECT_EQ(log.statements().value(1), QStringLiteral("ALTER TABLE ti_f ALTER \"Name\" SET DEFAULT 'O''Brien'"));
    run("INSERT INTO ti_f (n) VALUES (1)");
    EXPECT_EQ(value("select \"Name\" from ti_f"), QStringLiteral("O'Brien"));

    // A default of the wrong type: the server's text is shown, the block is ended, and the
    // session goes on (the next statement is not refused as part of an aborted block).
    log.clear();
    EXPECT_FALSE(SetColumnDefault(*conn, table, QStringLiteral("n"), QStringLiteral("abc")));
    EXPECT_EQ(log.statements(), (QStringList{"BEGIN TRANSACTION",
                                             "ALTER TABLE ti_f ALTER n SET DEFAULT 'abc'", "ROLLBACK"}));
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].contains(QStringLiteral("abc")));
    EXPECT_EQ(value("select count(*) from ti_f"), QStringLiteral("1"));

    // A column that does not exist: the rename fails, the dialog keeps its current name.
    prompts.clear();
    CFieldEditDlg dlg(*conn, table, QStringLiteral("missing"), QString());
    lineEdit(dlg, "newFieldBox")->setText(QStringLiteral("other"));
    button(dlg, "renameButton")->click();
    EXPECT_EQ(lineEdit(dlg, "currentFieldBox")->text(), QStringLiteral("missing"));
    EXPECT_EQ(dlg.column(), QStringLiteral("missing"));
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].contains(QStringLiteral("missing")));
    EXPECT_EQ(value("select count(*) from ti_f"), QStringLiteral("1"));

    // Renaming a table outside the search path keeps its schema.
    run("CREATE SCHEMA ti_s");
    run("CREATE TABLE ti_s.ti_f (a int)");
    const std::optional<ObjectName> renamed =
        RenameTable(*conn, ObjectName{"ti_s", "ti_f", false}, QStringLiteral("Ti_G"));
    ASSERT_TRUE(renamed.has_value());
    EXPECT_EQ(*renamed, (ObjectName{"ti_s", "ti_g", false}));
    EXPECT_EQ(value("select count(*) from pg_tables where schemaname = 'ti_s' and tablename = 'ti_g'"),
              QStringLiteral("1"));
}

}  // namespace
