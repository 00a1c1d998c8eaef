#include "ListViewFixture.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QTableWidget>

#include "app/CommandTarget.h"
#include "listview/RecordEditing.h"
#include "support/DialogDriver.h"
#include "workspace/Statements.h"

namespace {

// "LvRec" has a dropped column before live ones, and another table has defaults at the same
// column numbers, so a field list that pairs by column number alone goes wrong here.
class RecordTest : public ListViewFixture {
protected:
    void SetUp() override
    {
        ListViewFixture::SetUp();
        dropAll();
        TestServer::run(*admin, QStringLiteral(
            "CREATE TABLE \"LvRec\" (id int4 NOT NULL, gone int, name varchar(20) DEFAULT 'abc', "
            "\"order\" text)"));
        TestServer::run(*admin, QStringLiteral("ALTER TABLE \"LvRec\" DROP COLUMN gone"));
        TestServer::run(*admin, QStringLiteral(
            "INSERT INTO \"LvRec\" SELECT g, 'n' || g, 'o' || g FROM generate_series(1, 6) g"));
        TestServer::run(*admin, QStringLiteral("CREATE TABLE lv_rec_other (a int DEFAULT 7, b int DEFAULT 8)"));
        selectTable(QStringLiteral("LvRec"));
        ASSERT_EQ(rows(), 6);
    }
    void TearDown() override { dropAll(); }
    void dropAll()
    {
        TestServer::run(*admin, QStringLiteral("DROP VIEW IF EXISTS lv_rec_v"));
        TestServer::run(*admin, QStringLiteral(
            "DROP TABLE IF EXISTS \"LvRec\", lv_rec_other, lv_child, lv_parent"));
        TestServer::run(*admin, QStringLiteral("DROP FUNCTION IF EXISTS lv_refuse()"));
    }

    // Opens the record dialog on a row of the list, as the edit command does.
    void editRow(int row, const std::function<void(QDialog&)>& interact)
    {
        view->setCurrentIndex(view->model()->index(row, 0));
        onNextModal(interact);
        view->runCommand(Cmd::RecordEdit);
    }
    static QTableWidget* fieldList(QDialog& d) { return d.findChild<QTableWidget*>("fieldList"); }
    static QStringList fieldLines(QDialog& d)
    {
        QStringList out;
        QTableWidget* list = fieldList(d);
        for (int r = 0; r < list->rowCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < 6; ++c) cells << list->item(r, c)->text();
            out << cells.join(u'|');
        }
        return out;
    }
    static void chooseField(QDialog& d, int line) { fieldList(d)->setCurrentCell(line, 0); }
    void updateTo(QDialog& d, const QString& text)
    {
        lineEdit(d, "dataBox")->setText(text);
        prompts.answer(true);
        button(d, "updateButton")->click();
    }
    QString ids() { return serverValue(QStringLiteral("select string_agg(id::text, ',' order by id) from \"LvRec\"")); }
};

TEST_F(RecordTest, FieldListShowsTheTableColumnsWithThisRowsValues)
{
    editRow(2, [&](QDialog& d) {
        EXPECT_FALSE(button(d, "updateButton")->isVisible());
        EXPECT_EQ(fieldLines(d),
                  (QStringList{"id|integer|4|NOT NULL||3",
                               "name|character varying(20)|可変長|NULL|'abc'|n3",
                               "order|text|可変長|NULL||o3"}));
        chooseField(d, 1);
        EXPECT_EQ(lineEdit(d, "oidBox")->text(), QStringLiteral("(0,3)"));
        EXPECT_EQ(lineEdit(d, "fieldNameBox")->text(), QStringLiteral("name"));
        EXPECT_EQ(lineEdit(d, "typeBox")->text(), QStringLiteral("character varying(20)"));
        EXPECT_EQ(lineEdit(d, "dataBox")->text(), QStringLiteral("n3"));
        EXPECT_TRUE(button(d, "updateButton")->isVisible());
        button(d, "cancelButton")->click();
    });
    EXPECT_EQ(ShownDefault(QStringLiteral("'O''Brien'::text")), QStringLiteral("'O''Brien'"));
    EXPECT_EQ(ShownDefault(QStringLiteral("'12:00'::time without time zone")), QStringLiteral("'12:00'"));
    EXPECT_EQ(ShownDefault(QStringLiteral("nextval('s'::regclass)")), QStringLiteral("nextval('s'::regclass)"));
    EXPECT_EQ(ShownDefault(QStringLiteral("('a'::text || 'b'::text)")), QStringLiteral("('a'::text || 'b'::text)"));
    EXPECT_EQ(ShownDefault(QStringLiteral("'a'::text || 'b'::text")), QStringLiteral("'a'::text || 'b'::text"));
}

TEST_F(RecordTest, UpdatesTwiceAndTheListFollows)
{
    StatementLog log(*doc.connection());
    QString ctidAfterFirst;
    editRow(1, [&](QDialog& d) {
        chooseField(d, 2);
        updateTo(d, QStringLiteral("O'Brien"));
        EXPECT_EQ(serverValue(QStringLiteral("select \"order\" from \"LvRec\" where id = 2")),
                  QStringLiteral("O'Brien"));
        ctidAfterFirst = lineEdit(d, "oidBox")->text();
        EXPECT_EQ(lineEdit(d, "dataBox")->text(), QStringLiteral("O'Brien"));
        updateTo(d, QStringLiteral("second"));
        button(d, "cancelButton")->click();
    });
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'/').toStdString();
    EXPECT_TRUE(log.statements().contains(QStringLiteral(
        "UPDATE \"LvRec\" SET \"order\"='O''Brien' WHERE ctid = '(0,2)' RETURNING ctid")));
    EXPECT_TRUE(log.statements().contains(
        QStringLiteral("UPDATE \"LvRec\" SET \"order\"='second' WHERE ctid = '%1' RETURNING ctid")
            .arg(ctidAfterFirst)));
    EXPECT_NE(ctidAfterFirst, QStringLiteral("(0,2)"));
    EXPECT_EQ(serverValue(QStringLiteral("select \"order\" from \"LvRec\" where id = 2")), QStringLiteral("second"));
    EXPECT_EQ(view->cellText(1, 3), QStringLiteral("second"));
    EXPECT_EQ(view->cellText(1, 0),
              serverValue(QStringLiteral("select ctid::text from \"LvRec\" where id = 2")));
    EXPECT_EQ(view->cellText(0, 3), QStringLiteral("o1"));
}

TEST_F(RecordTest, UpdateOfARowDeletedMeanwhileFails)
{
    editRow(0, [&](QDialog& d) {
        TestServer::run(*admin, QStringLiteral("DELETE FROM \"LvRec\" WHERE id = 1"));
        chooseField(d, 1);
        updateTo(d, QStringLiteral("x"));
        button(d, "cancelButton")->click();
    });
    EXPECT_EQ(prompts.messages(), (QStringList{kUpdateFailure, kAbortMessage}));
    EXPECT_EQ(view->cellText(0, 0), QStringLiteral("(0,1)"));
    EXPECT_EQ(view->cellText(0, 2), QStringLiteral("n1"));
    EXPECT_EQ(rows(), 6);
}

TEST_F(RecordTest, DeleteInTheDialogRemovesItsRow)
{
    editRow(2, [&](QDialog& d) {
        prompts.answer(true);
        button(d, "deleteButton")->click();
    });
    EXPECT_EQ(prompts.texts(), QStringList{kRecordDeleteQuestion});
    EXPECT_EQ(column(1), (QStringList{"1", "2", "4", "5", "6"}));
    EXPECT_EQ(ids(), QStringLiteral("1,2,4,5,6"));
}

TEST_F(RecordTest, DeletesTheSelectedRowsInOneTransaction)
{
    StatementLog log(*doc.connection());
    selectRows({1, 4});
    prompts.answer(false);
    view->runCommand(Cmd::RecordDelete);
    EXPECT_TRUE(log.statements().isEmpty());

    prompts.answer(true);
    view->runCommand(Cmd::RecordDelete);
    EXPECT_EQ(log.statements(), (QStringList{"BEGIN", "DELETE FROM \"LvRec\" WHERE ctid = '(0,2)'",
                                             "DELETE FROM \"LvRec\" WHERE ctid = '(0,5)'", "COMMIT"}));
    EXPECT_EQ(prompts.messages(), QStringList{kRowsDeleted});
    EXPECT_EQ(column(1), (QStringList{"1", "3", "4", "6"}));
    EXPECT_EQ(ids(), QStringLiteral("1,3,4,6"));
}

TEST_F(RecordTest, AFailingDeleteRollsBackTheOthers)
{
    TestServer::run(*admin, QStringLiteral(
        "CREATE FUNCTION lv_refuse() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
        "IF OLD.id = 2 THEN RAISE EXCEPTION 'refused'; END IF; RETURN OLD; END $$"));
    TestServer::run(*admin, QStringLiteral(
        "CREATE TRIGGER lv_refuse BEFORE DELETE ON \"LvRec\" FOR EACH ROW EXECUTE FUNCTION lv_refuse()"));
    StatementLog log(*doc.connection());
    selectRows({0, 1, 2});
    prompts.answer(true);
    view->runCommand(Cmd::RecordDelete);
    EXPECT_EQ(prompts.messages(), (QStringList{kRowsDeleteFailure, kRowsDeleteAbort}));
    EXPECT_EQ(log.statements(), (QStringList{"BEGIN", "DELETE FROM \"LvRec\" WHERE ctid = '(0,1)'",
                                             "DELETE FROM \"LvRec\" WHERE ctid = '(0,2)'", "ROLLBACK"}));
    EXPECT_EQ(rows(), 6);
    EXPECT_EQ(ids(), QStringLiteral("1,2,3,4,5,6"));
}

TEST_F(RecordTest, ACtidSharedWithAChildTableChangesNothing)
{
    TestServer::run(*admin, QStringLiteral("CREATE TABLE lv_parent (id int)"));
    TestServer::run(*admin, QStringLiteral("CREATE TABLE lv_child () INHERITS (lv_parent)"));
    TestServer::run(*admin, QStringLiteral("INSERT INTO lv_parent VALUES (1)"));
    TestServer::run(*admin, QStringLiteral("INSERT INTO lv_child VALUES (2)"));
    selectTable(QStringLiteral("lv_parent"));
    ASSERT_EQ(column(0), (QStringList{"(0,1)", "(0,1)"}));

    selectRows({1});
    prompts.answer(true);
    view->runCommand(Cmd::RecordDelete);
    EXPECT_EQ(prompts.messages(), (QStringList{kRowsDeleteFailure, kRowsDeleteAbort}));
    EXPECT_EQ(rows(), 2);

    prompts.clear();
    editRow(0, [&](QDialog& d) {
        chooseField(d, 0);
        updateTo(d, QStringLiteral("5"));
        button(d, "cancelButton")->click();
    });
    EXPECT_EQ(prompts.messages(), (QStringList{kUpdateFailure, kAbortMessage}));
    EXPECT_EQ(serverValue(QStringLiteral("select string_agg(id::text, ',' order by id) from lv_parent")),
              QStringLiteral("1,2"));
}

TEST_F(RecordTest, DeleteWithoutTableRowsDoesNothing)
{
    TestServer::run(*admin, QStringLiteral("CREATE VIEW lv_rec_v AS SELECT * FROM \"LvRec\""));
    StatementLog log(*doc.connection());
    selectView(QStringLiteral("lv_rec_v"));
    selectRows({0});
    view->runCommand(Cmd::RecordDelete);
    selectFolder(kTablesFolder);
    selectRows({0});
    view->runCommand(Cmd::RecordDelete);
    EXPECT_TRUE(prompts.shown().isEmpty());
    EXPECT_FALSE(log.statements().contains(QStringLiteral("BEGIN")));
    EXPECT_EQ(ids(), QStringLiteral("1,2,3,4,5,6"));
}

}  // namespace
