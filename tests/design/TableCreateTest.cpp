#include <QAction>
#include <QApplication>
#include <QMouseEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QTableWidget>
#include <QTest>
#include <memory>

#include "DesignFixture.h"
#include "design/CTableCreateDlg.h"
#include "design/CTableSelectDlg.h"
#include "design/TableDesign.h"
#include "support/DialogDriver.h"
#include "widgets/HoverRowSelect.h"
#include "workspace/Catalogue.h"
#include "workspace/ColumnList.h"
#include "workspace/Transaction.h"

namespace {

FieldDefinition column(const char* name, const char* type, const char* length = "",
                       bool nullable = true, const char* defaultValue = "",
                       KeyKind key = KeyKind::None)
{
    FieldDefinition f;
    f.name = QString::fromUtf8(name);
    f.type = QString::fromUtf8(type);
    f.length = QString::fromUtf8(length);
    f.nullable = nullable;
    f.defaultValue = QString::fromUtf8(defaultValue);
    f.key = key;
    return f;
}

std::vector<FieldDefinition> shopRows(KeyKind idKey = KeyKind::PrimaryKey)
{
    return {column("id", "int4", "", false, "", idKey),
            column("code", "varchar", "10", true, "", KeyKind::Unique),
            column("qty", "int4", "", false, "0"),
            column("note", "text")};
}

QImage picture(const QIcon& icon) { return icon.pixmap(QSize(16, 16)).toImage(); }

QStringList rowCells(QTableWidget* list, int row)
{
    QStringList out;
    for (int c = 0; c < list->columnCount(); ++c)
        out << (list->item(row, c) ? list->item(row, c)->text() : QString());
    return out;
}

void trigger(CTableCreateDlg& dlg, int row, const char* action)
{
    std::unique_ptr<QMenu> menu(dlg.contextMenuFor(row));
    menu->findChild<QAction*>(QString::fromLatin1(action))->trigger();
}

}  // namespace

TEST_F(DesignTest, CreateTableStatementIsBuiltLineByLine)
{
    EXPECT_EQ(*CreateTableStatement(*conn, QStringLiteral("shop"), shopRows()),
              QStringLiteral("CREATE TABLE shop(\n"
                             "\tid int4 NOT NULL ,\n"
                             "\tcode varchar (10) UNIQUE ,\n"
                             "\tqty int4 NOT NULL DEFAULT '0' ,\n"
                             "\tnote text ,\n"
                             "\tPRIMARY KEY(id)\n"
                             ");"));
    EXPECT_TRUE(CreateTableStatement(*conn, QStringLiteral("shop"), shopRows(KeyKind::None))
                    ->endsWith(QStringLiteral("\tqty int4 NOT NULL DEFAULT '0' ,\n\tnote text \n);")));
    EXPECT_TRUE(CreateTableStatement(*conn, QStringLiteral("t"),
                                     {column("a", "int4", "", true, "", KeyKind::PrimaryKey),
                                      column("b", "int4", "", true, "", KeyKind::PrimaryKey)})
                    ->endsWith(QStringLiteral("\tb int4 ,\n\tPRIMARY KEY(a,b)\n);")));
    EXPECT_EQ(*CreateTableStatement(*conn, QStringLiteral("t"), {column("x", "int4")}),
              QStringLiteral("CREATE TABLE t(\n\tx int4 \n);"));
    EXPECT_FALSE(CreateTableStatement(*conn, QStringLiteral("t"), {}));
    EXPECT_FALSE(CreateTableStatement(*conn, QString(), {column("x", "int4")}));

    // A taken-over varchar keeps the blanks its length was cut with.
    QString type, length;
    SplitFormatType(QStringLiteral("character varying(20)"), &type, &length);
    EXPECT_TRUE(CreateTableStatement(*conn, QStringLiteral("t"),
                                     {column("col", type.toUtf8(), length.toUtf8())})
                    ->contains(QStringLiteral("\n\tcol character varying ( 20 ) ")));
    const std::pair<const char*, std::pair<const char*, const char*>> splits[] = {
        {"numeric(10,2)", {"numeric", " 10,2 "}},
        {"timestamp(3) without time zone", {"timestamp(3) without time zone", ""}},
        {"character varying(20)[]", {"character varying(20)[]", ""}},
        {"integer", {"integer", ""}},
    };
    for (const auto& [formatType, expected] : splits) {
        SplitFormatType(QString::fromLatin1(formatType), &type, &length);
        EXPECT_EQ(type, QString::fromLatin1(expected.first)) << formatType;
        EXPECT_EQ(length, QString::fromLatin1(expected.second)) << formatType;
    }

    // Typed names are folded and quoted where needed; taken-over names stay exact; values are
    // escaped.
    FieldDefinition exact = column("MixedCase", "int4");
    exact.exactName = true;
    EXPECT_EQ(*CreateTableStatement(*conn, QStringLiteral("Shop"),
                                    {column("Order", "text", "", true, "O'Brien", KeyKind::PrimaryKey),
                                     exact, column("my col", "int4")}),
              QStringLiteral("CREATE TABLE shop(\n"
                             "\t\"order\" text DEFAULT 'O''Brien' ,\n"
                             "\t\"MixedCase\" int4 ,\n"
                             "\t\"my col\" int4 ,\n"
                             "\tPRIMARY KEY(\"order\")\n"
                             ");"));
    EXPECT_EQ(CreatedTableName(QStringLiteral("Shop")), QStringLiteral("shop"));
    EXPECT_EQ(CreatedTableName(QStringLiteral("my table")), QStringLiteral("my table"));
}

TEST_F(DesignTest, ColumnListRowsKeysAndTheirCommands)
{
    CTableCreateDlg dlg(*conn);
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("テーブルの作成"));
    QTableWidget* list = dlg.fieldList();
    ASSERT_EQ(list->columnCount(), 17);
    EXPECT_EQ(list->horizontalHeaderItem(4)->text(), QStringLiteral("ﾃﾞﾌｫﾙﾄ"));
    EXPECT_EQ(list->columnWidth(0), 150);
    EXPECT_EQ(list->horizontalHeaderItem(16)->text(), QStringLiteral("INITIALLY"));
    for (const char* inert : {"constraintButton", "inheritCopyButton", "foreignAddButton",
                              "foreignEditButton", "foreignDeleteButton", "foreignCheck"})
        EXPECT_FALSE(button(dlg, inert)->isEnabled()) << inert;
    EXPECT_EQ(dlg.findChild<QTableWidget*>(QStringLiteral("foreignList"))->columnCount(), 11);
    EXPECT_EQ(dlg.findChild<QListWidget*>(QStringLiteral("inheritList"))->count(), 0);

    // Keys with no current row.
    trigger(dlg, -1, "primaryKeyAction");
    trigger(dlg, -1, "uniqueKeyAction");
    EXPECT_EQ(prompts.messages(), (QStringList{CTableCreateDlg::kNoRowData, CTableCreateDlg::kNoRowData}));
    prompts.clear();

    for (const FieldDefinition& f : shopRows()) dlg.appendRow(f);
    EXPECT_EQ(rowCells(list, 2).mid(0, 5),
              (QStringList{"qty", "int4", "", QStringLiteral("NOT NULL"), "'0'"}));  // shown as every default
    EXPECT_EQ(rowCells(list, 3).value(3), QStringLiteral("NULL"));
    std::unique_ptr<QMenu> menu(dlg.contextMenuFor(0));
    QStringList labels;
    for (QAction* a : menu->actions()) labels << a->text();
    EXPECT_EQ(labels, (QStringList{QStringLiteral("プライマリーキー設定"), QStringLiteral("ユニークキー設定"), {},
                                   QStringLiteral("フィールドの追加"), QStringLiteral("フィールドの編集"),
                                   QStringLiteral("フィールドの削除")}));

    // Toggling twice returns to none; unique on a primary-key row makes it unique.
    trigger(dlg, 1, "primaryKeyAction");
    EXPECT_EQ(dlg.columns()[1].key, KeyKind::PrimaryKey);
    EXPECT_EQ(picture(list->item(1, 0)->icon()), picture(CTableCreateDlg::keyIcon(KeyKind::PrimaryKey)));
    trigger(dlg, 1, "primaryKeyAction");
    EXPECT_EQ(dlg.columns()[1].key, KeyKind::None);
    EXPECT_EQ(picture(list->item(1, 0)->icon()), picture(CTableCreateDlg::keyIcon(KeyKind::None)));
    trigger(dlg, 1, "primaryKeyAction");
    trigger(dlg, 1, "uniqueKeyAction");
    EXPECT_EQ(dlg.columns()[1].key, KeyKind::Unique);
    EXPECT_EQ(picture(list->item(1, 0)->icon()), picture(CTableCreateDlg::keyIcon(KeyKind::Unique)));
    EXPECT_NE(picture(CTableCreateDlg::keyIcon(KeyKind::Unique)),
              picture(CTableCreateDlg::keyIcon(KeyKind::PrimaryKey)));
    EXPECT_TRUE(prompts.texts().isEmpty());

    // Delete asks; No keeps the row. Yes deletes it and the number then names the next row.
    list->selectRow(1);
    EXPECT_EQ(dlg.currentRow(), 1);
    prompts.answer(false);
    button(dlg, "deleteFieldButton")->click();
    EXPECT_EQ(list->rowCount(), 4);
    prompts.answer(true);
    button(dlg, "deleteFieldButton")->click();
    EXPECT_EQ(list->rowCount(), 3);
    EXPECT_EQ(dlg.currentRow(), 1);
    EXPECT_EQ(prompts.texts(), (QStringList{CTableCreateDlg::kDeleteQuestion, CTableCreateDlg::kDeleteQuestion}));
    EXPECT_EQ(list->item(1, 0)->text(), QStringLiteral("qty"));

    // Adding and editing go through the field settings dialog; the key stays with the row.
    onNextModal([](QDialog& d) {
        lineEdit(d, "fieldNameBox")->setText(QStringLiteral("added"));
        auto* types = d.findChild<QComboBox*>(QStringLiteral("typeList"));
        types->setCurrentIndex(types->findText(QStringLiteral("text")));
        lineEdit(d, "defaultBox")->setText(QStringLiteral("x y"));
        button(d, "okButton")->click();
    });
    button(dlg, "addFieldButton")->click();
    ASSERT_EQ(list->rowCount(), 4);
    EXPECT_EQ(rowCells(list, 3).mid(0, 5), (QStringList{"added", "text", "", "NULL", "'x y'"}));
    trigger(dlg, 0, "primaryKeyAction");
    onNextModal([](QDialog& d) {
        EXPECT_EQ(lineEdit(d, "fieldNameBox")->text(), QStringLiteral("id"));
        lineEdit(d, "fieldNameBox")->setText(QStringLiteral("ident"));
        button(d, "okButton")->click();
    });
    emit list->cellDoubleClicked(0, 0);
    EXPECT_EQ(rowCells(list, 0).mid(0, 4), (QStringList{"ident", "int4", "", "NOT NULL"}));
    EXPECT_EQ(dlg.columns()[0].key, KeyKind::PrimaryKey);
}

// The pointer as the window system moves it: events on the list's viewport.
TEST_F(DesignTest, ARestingPointerSelectsARowAndOneOnlyCrossingRowsChangesNothing)
{
    CTableCreateDlg dlg(*conn);
    QTableWidget* list = dlg.fieldList();
    for (const FieldDefinition& f : shopRows()) dlg.appendRow(f);
    dlg.show();
    QWidget* viewport = list->viewport();
    auto send = [viewport](QEvent::Type type, QPoint at, Qt::MouseButton button = Qt::NoButton) {
        QMouseEvent e(type, at, viewport->mapToGlobal(at), button, button, Qt::NoModifier);
        QApplication::sendEvent(viewport, &e);
    };
    auto rowCenter = [list](int row) { return list->visualItemRect(list->item(row, 0)).center(); };
    const int rest = HoverRowSelect::hoverMillis();

    list->selectRow(0);
    send(QEvent::MouseMove, rowCenter(2));
    EXPECT_EQ(dlg.currentRow(), 0);  // not before the pointer has rested
    QTRY_COMPARE_WITH_TIMEOUT(dlg.currentRow(), 2, rest * 10);

    // Up across rows 1 and 0 and out of the list to a button: row 2 stays current.
    send(QEvent::MouseMove, rowCenter(1));
    send(QEvent::MouseMove, rowCenter(0));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(viewport, &leave);
    QTest::qWait(rest * 2);
    EXPECT_EQ(dlg.currentRow(), 2);
    const QString deleted = list->item(2, 0)->text();
    prompts.answer(true);
    button(dlg, "deleteFieldButton")->click();
    EXPECT_TRUE(list->findItems(deleted, Qt::MatchExactly).isEmpty());
    EXPECT_FALSE(list->findItems(list->item(0, 0)->text(), Qt::MatchExactly).isEmpty());

    // A double-click below the rows edits the current row.
    const QString current = list->item(dlg.currentRow(), 0)->text();
    QString edited;
    onNextModal([&edited](QDialog& d) {
        edited = lineEdit(d, "fieldNameBox")->text();
        button(d, "cancelButton")->click();
    });
    const QRect last = list->visualItemRect(list->item(list->rowCount() - 1, 0));
    ASSERT_LT(last.bottom() + 10, viewport->height());
    send(QEvent::MouseButtonDblClick, QPoint(last.center().x(), last.bottom() + 10), Qt::LeftButton);
    EXPECT_EQ(edited, current);
}

namespace {

class TakeOver : public DesignTest {
protected:
    void SetUp() override
    {
        DesignTest::SetUp();
        sql(QStringLiteral("CREATE SCHEMA kd_to_s2"));
        // A same-named table in the search path, which the take-over must not read.
        sql(QStringLiteral("CREATE TABLE kd_to_src (wrong int4)"));
        sql(QStringLiteral(
            "CREATE TABLE kd_to_s2.kd_to_src (name character varying(20) DEFAULT 'abc', "
            "id serial, ts timestamp(3) without time zone, amount numeric(10,2) NOT NULL "
            "DEFAULT 0, who text DEFAULT 'O''Brien', made timestamp DEFAULT now(), "
            "flag boolean DEFAULT true)"));
    }
    void cleanUp() override
    {
        TestServer::run(*admin, QStringLiteral("DROP SCHEMA IF EXISTS kd_to_s2 CASCADE; "
                                               "DROP TABLE IF EXISTS kd_to_src, kd_to_copy"));
    }
};

}  // namespace

TEST_F(TakeOver, ColumnsOfThePickedTableReplaceTheRowsAndMakeAValidCopy)
{
    CTableCreateDlg dlg(*conn);
    QTableWidget* list = dlg.fieldList();
    dlg.appendRow(column("old", "int4"));
    trigger(dlg, 0, "primaryKeyAction");

    onNextModal([](QDialog& d) {
        auto* select = qobject_cast<CTableSelectDlg*>(&d);
        ASSERT_NE(select, nullptr);
        QListWidget* tables = select->tableList();
        const auto found = tables->findItems(QStringLiteral("kd_to_s2.kd_to_src"), Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1);
        tables->doItemsLayout();
        QTest::mouseClick(tables->viewport(), Qt::LeftButton, {},
                          tables->visualItemRect(found[0]).center());
        button(d, "okButton")->click();
    });
    button(dlg, "copyTableButton")->click();

    ASSERT_EQ(list->rowCount(), 7);
    for (const FieldDefinition& f : dlg.columns()) EXPECT_EQ(f.key, KeyKind::None);
    EXPECT_EQ(rowCells(list, 0).mid(0, 5),
              (QStringList{"name", "character varying", " 20 ", "NULL", "'abc'"}));
    // Expression defaults are kept as the server writes them, shown as every default is.
    EXPECT_EQ(rowCells(list, 1).mid(0, 5),
              (QStringList{"id", "integer", "", "NOT NULL", "nextval('kd_to_s2.kd_to_src_id_seq'::regclass)"}));
    EXPECT_EQ(rowCells(list, 2).mid(0, 5),
              (QStringList{"ts", "timestamp(3) without time zone", "", "NULL", ""}));
    EXPECT_EQ(rowCells(list, 3).mid(0, 5),
              (QStringList{"amount", "numeric", " 10,2 ", "NOT NULL", "0"}));
    EXPECT_EQ(rowCells(list, 4).value(4), QStringLiteral("'O''Brien'"));
    EXPECT_EQ(rowCells(list, 5).value(4), QStringLiteral("now()"));
    EXPECT_EQ(rowCells(list, 6).mid(0, 5), (QStringList{"flag", "boolean", "", "NULL", "true"}));
    for (int row = 0; row < list->rowCount(); ++row)
        for (int c = 5; c < 17; ++c) EXPECT_TRUE(rowCells(list, row).value(c).isEmpty());

    trigger(dlg, 1, "primaryKeyAction");
    StatementLog log(*conn);
    const int rc = runModal(dlg, [&](QDialog& d) {
        lineEdit(d, "tableNameBox")->setText(QStringLiteral("KD_To_Copy"));
        prompts.answer(true);
        button(d, "okButton")->click();
    });
    ASSERT_EQ(rc, QDialog::Accepted);
    EXPECT_EQ(dlg.table(), (ObjectName{QStringLiteral("public"), QStringLiteral("kd_to_copy"), true}));
    ASSERT_EQ(log.statements().size(), 4);
    EXPECT_EQ(log.statements()[0], QStringLiteral("BEGIN"));
    // Where the table went is asked before COMMIT.
    EXPECT_EQ(log.statements()[2], Catalogue::CreatedTableStatement(*conn, QStringLiteral("kd_to_copy")));
    EXPECT_EQ(log.statements()[3], QStringLiteral("COMMIT"));
    EXPECT_EQ(prompts.texts(), (QStringList{kCreateTableQuestion, log.statements()[1], kCreateTableDone}));

    Result copy = conn->exec(QStringLiteral(
        "select a.attname, format_type(a.atttypid, a.atttypmod) as type, a.attnotnull, "
        "pg_get_expr(d.adbin, d.adrelid) as def from pg_attribute a left join pg_attrdef d "
        "on d.adrelid = a.attrelid and d.adnum = a.attnum "
        "where a.attrelid = 'kd_to_copy'::regclass and a.attnum > 0 order by a.attnum"));
    ASSERT_TRUE(copy.tuplesOk());
    ASSERT_EQ(copy.rows(), 7);
    const int type = copy.fieldNumber("type"), def = copy.fieldNumber("def"),
              notNull = copy.fieldNumber("attnotnull");
    const char* types[] = {"character varying(20)", "integer", "timestamp(3) without time zone",
                           "numeric(10,2)", "text", "timestamp without time zone",
                           "boolean"};
    for (int row = 0; row < 7; ++row) EXPECT_EQ(copy.value(row, type), QString::fromLatin1(types[row]));
    EXPECT_EQ(ShownLiteralValue(ShownDefault(copy.value(0, def))), QStringLiteral("abc"));
    EXPECT_EQ(copy.value(4, def).left(10), QStringLiteral("'O''Brien'"));
    EXPECT_EQ(copy.value(1, notNull), QStringLiteral("t"));
    EXPECT_EQ(copy.value(6, def), QStringLiteral("true"));
    EXPECT_EQ(copy.value(1, def), QStringLiteral("nextval('kd_to_s2.kd_to_src_id_seq'::regclass)"));
    EXPECT_EQ(copy.value(5, def), QStringLiteral("now()"));
    // An insert that relies on the defaults works in the copy as in the original.
    sql(QStringLiteral("INSERT INTO kd_to_copy DEFAULT VALUES"));
    EXPECT_EQ(value(QStringLiteral("select count(*) from kd_to_copy where id > 0 and made is not null")),
              QStringLiteral("1"));
    EXPECT_EQ(value(QStringLiteral("select count(*) from pg_index where indisprimary and "
                                   "indrelid = 'kd_to_copy'::regclass")),
              QStringLiteral("1"));
}

namespace {

class CreateFailure : public DesignTest {
protected:
    void cleanUp() override
    {
        TestServer::run(*admin, QStringLiteral("DROP EVENT TRIGGER IF EXISTS kd_fail_commit; "
                                               "DROP FUNCTION IF EXISTS kd_fail_commit(); "
                                               "DROP TABLE IF EXISTS kd_dup, kd_late, kd_child, kd_parent"));
    }
    // Opens the dialog with one column, names the table and presses OK (answering Yes);
    // checks that the dialog stays open, then runs `then` and closes it with Cancel unless
    // `then` ends it.
    int pressOk(CTableCreateDlg& dlg, const QString& name, const std::function<void(QDialog&)>& then = {})
    {
        dlg.appendRow(column("x", "int4"));
        return runModal(dlg, [&, name, then](QDialog& d) {
            lineEdit(d, "tableNameBox")->setText(name);
            prompts.answer(true);
            button(d, "okButton")->click();
            EXPECT_TRUE(d.isVisible());
            if (then) then(d);
            if (d.isVisible()) d.reject();
        });
    }
};

}  // namespace

TEST_F(CreateFailure, ARefusedCreateShowsTheServersTextRollsBackAndStaysOpen)
{
    sql(QStringLiteral("CREATE TABLE kd_dup (y text)"));
    CTableCreateDlg dlg(*conn);
    StatementLog log(*conn);
    EXPECT_EQ(pressOk(dlg, QStringLiteral("kd_dup")), QDialog::Rejected);
    EXPECT_EQ(log.statements(),
              (QStringList{"BEGIN", QStringLiteral("CREATE TABLE kd_dup(\n\tx int4 \n);"), "ROLLBACK"}));
    ASSERT_EQ(prompts.texts().size(), 3);
    EXPECT_EQ(prompts.texts().mid(0, 2), (QStringList{kCreateTableQuestion, log.statements()[1]}));
    // The server's own words ("relation ... already exists" in whatever language it speaks).
    EXPECT_TRUE(prompts.texts()[2].contains(QStringLiteral("\"kd_dup\"")));
    EXPECT_EQ(dlg.fieldList()->rowCount(), 1);
    EXPECT_TRUE(dlg.table().name.isEmpty());
    // Nothing of the transaction is left open.
    EXPECT_EQ(value(QStringLiteral("select count(*) from pg_attribute where attrelid = 'kd_dup'::regclass "
                                   "and attname = 'x'")),
              QStringLiteral("0"));

    // "No" sends nothing.
    log.clear();
    prompts.clear();
    CTableCreateDlg declined(*conn);
    declined.appendRow(column("x", "int4"));
    runModal(declined, [&](QDialog& d) {
        lineEdit(d, "tableNameBox")->setText(QStringLiteral("kd_late"));
        prompts.answer(false);
        button(d, "okButton")->click();
        EXPECT_TRUE(d.isVisible());
        d.reject();
    });
    EXPECT_TRUE(log.statements().isEmpty());
    // An empty name opens and at once rolls back, without a word.
    CTableCreateDlg unnamed(*conn);
    pressOk(unnamed, QString());
    EXPECT_EQ(log.statements(), (QStringList{"BEGIN", "ROLLBACK"}));
    EXPECT_EQ(prompts.texts(), (QStringList{kCreateTableQuestion, kCreateTableQuestion}));
}

TEST_F(CreateFailure, AFailedCommitIsNeverReportedAsCreated)
{
    // A row inserted by the server right after the CREATE breaks a deferred foreign key, so
    // the CREATE succeeds and the COMMIT fails.
    sql(QStringLiteral("CREATE TABLE kd_parent (id int PRIMARY KEY)"));
    sql(QStringLiteral("CREATE TABLE kd_child (ref int REFERENCES kd_parent DEFERRABLE INITIALLY DEFERRED)"));
    sql(QStringLiteral(
        "CREATE FUNCTION kd_fail_commit() RETURNS event_trigger LANGUAGE plpgsql AS $$ BEGIN "
        "IF EXISTS (SELECT 1 FROM pg_event_trigger_ddl_commands() "
        "WHERE object_identity LIKE '%kd_late') THEN INSERT INTO kd_child VALUES (42); END IF; "
        "END $$"));
    sql(QStringLiteral("CREATE EVENT TRIGGER kd_fail_commit ON ddl_command_end "
                       "WHEN TAG IN ('CREATE TABLE') EXECUTE PROCEDURE kd_fail_commit()"));

    CTableCreateDlg dlg(*conn);
    StatementLog log(*conn);
    const int rc = pressOk(dlg, QStringLiteral("kd_late"), [&](QDialog& d) {
        EXPECT_EQ(log.statements(),
                  (QStringList{"BEGIN", QStringLiteral("CREATE TABLE kd_late(\n\tx int4 \n);"),
                               Catalogue::CreatedTableStatement(*conn, QStringLiteral("kd_late")),
                               "COMMIT", "ROLLBACK"}));
        EXPECT_EQ(prompts.texts(), (QStringList{kCreateTableQuestion, log.statements()[1], kCommitError}));
        EXPECT_EQ(value(QStringLiteral("select count(*) from pg_tables where tablename = 'kd_late'")),
                  QStringLiteral("0"));
        // Once the cause is gone, OK again creates the table.
        sql(QStringLiteral("DROP EVENT TRIGGER kd_fail_commit"));
        prompts.clear();
        prompts.answer(true);
        button(d, "okButton")->click();
    });
    EXPECT_EQ(rc, QDialog::Accepted);
    EXPECT_EQ(prompts.texts().last(), kCreateTableDone);
    EXPECT_EQ(dlg.table().name, QStringLiteral("kd_late"));
    EXPECT_EQ(value(QStringLiteral("select count(*) from pg_tables where tablename = 'kd_late'")),
              QStringLiteral("1"));
}

TEST_F(CreateFailure, ALostConnectionAtCommitKeepsTheDialogOpen)
{
    CTableCreateDlg dlg(*conn);
    conn->setObserver([this](const QString& s) {
        if (s == QLatin1String("COMMIT")) TestServer::endSession(*conn);
    });
    pressOk(dlg, QStringLiteral("kd_late"));
    conn->setObserver({});
    // The session went with its transaction: no ROLLBACK is sent after it, none is claimed.
    EXPECT_EQ(prompts.texts().mid(2), (QStringList{kCommitError}));
    EXPECT_TRUE(dlg.table().name.isEmpty());
    const QString created = QStringLiteral("select count(*) from pg_tables where tablename = 'kd_late'");
    EXPECT_EQ(TestServer::value(*admin, created), QStringLiteral("0"));
}
