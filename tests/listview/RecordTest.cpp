#include "ListViewFixture.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QTableWidget>

#include "listview/RecordEditing.h"
#include "workspace/Statements.h"

namespace {

class RecordTest : public ListViewFixture {
protected:
    void SetUp() override
    {
        ListViewFixture::SetUp();
        select(3, QStringLiteral("LvRec"), kTablesFolder);
    }
    static QTableWidget* fieldList(QDialog& d) { return d.findChild<QTableWidget*>("fieldList"); }
    void updateTo(QDialog& d, int line, const QString& text)
    {
        fieldList(d)->setCurrentCell(line, 0);
        lineEdit(d, "dataBox")->setText(text);
        prompts.answer(true);
        button(d, "updateButton")->click();
    }
    void deleteSelected(std::initializer_list<int> rowIndexes)
    {
        selectRows(rowIndexes);
        prompts.answer(true);
        view->runCommand(Cmd::RecordDelete);
    }
};

TEST_F(RecordTest, FieldListShowsTheTableColumnsWithThisRowsValues)
{
    QStringList lines;
    editRow(2, [&](QDialog& d) {
        EXPECT_FALSE(button(d, "updateButton")->isVisible());
        QTableWidget* list = fieldList(d);
        for (int r = 0; r < list->rowCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < 6; ++c) cells << list->item(r, c)->text();
            lines << cells.join(u'|');
        }
        list->setCurrentCell(1, 0);
        lines << lineEdit(d, "oidBox")->text() + u'|' + lineEdit(d, "fieldNameBox")->text() + u'|' +
                     lineEdit(d, "typeBox")->text() + u'|' + lineEdit(d, "dataBox")->text();
        EXPECT_TRUE(button(d, "updateButton")->isVisible());
        button(d, "cancelButton")->click();
    });
    EXPECT_EQ(lines, (QStringList{"id|integer|4|NOT NULL||3",
                                  "name|character varying(20)|可変長|NULL|'abc'|n3",
                                  "order|text|可変長|NULL||o3",
                                  "(0,3)|name|character varying(20)|n3"}));
    EXPECT_EQ(ShownDefault(QStringLiteral("'O''Brien'::text")), QStringLiteral("'O''Brien'"));
    EXPECT_EQ(ShownDefault(QStringLiteral("nextval('s'::regclass)")), QStringLiteral("nextval('s'::regclass)"));
    EXPECT_EQ(ShownDefault(QStringLiteral("'a'::text || 'b'::text")), QStringLiteral("'a'::text || 'b'::text"));
}

TEST_F(RecordTest, UpdatesTwiceAndTheListFollows)
{
    StatementLog log(*doc.connection());
    QString ctidAfterFirst;
    editRow(1, [&](QDialog& d) {
        updateTo(d, 2, QStringLiteral("O'Brien"));
        EXPECT_EQ(serverValue(QStringLiteral("select \"order\" from \"LvRec\" where id = 2")), QStringLiteral("O'Brien"));
        EXPECT_EQ(lineEdit(d, "dataBox")->text(), QStringLiteral("O'Brien"));
        ctidAfterFirst = lineEdit(d, "oidBox")->text();
        updateTo(d, 2, QStringLiteral("second"));
        button(d, "cancelButton")->click();
    });
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'/').toStdString();
    EXPECT_EQ(log.statements().filter(QStringLiteral("UPDATE")),
              (QStringList{"UPDATE \"LvRec\" SET \"order\"='O''Brien' WHERE ctid = '(0,2)' RETURNING ctid",
                           QStringLiteral("UPDATE \"LvRec\" SET \"order\"='second' WHERE ctid = '%1' RETURNING ctid")
                               .arg(ctidAfterFirst)}));
    EXPECT_EQ(serverValue(QStringLiteral("select ctid::text || \"order\" from \"LvRec\" where id = 2")),
              view->cellText(1, 0) + QStringLiteral("second"));
    EXPECT_EQ(view->cellText(1, 3), QStringLiteral("second"));
}

TEST_F(RecordTest, UpdateOfARowDeletedMeanwhileFails)
{
    editRow(0, [&](QDialog& d) {
        TestServer::run(*admin, QStringLiteral("DELETE FROM \"LvRec\" WHERE id = 1"));
        updateTo(d, 1, QStringLiteral("x"));
        button(d, "cancelButton")->click();
    });
    EXPECT_EQ(prompts.messages(), (QStringList{kUpdateFailure, kAbortMessage}));
    EXPECT_EQ(rowWith(1, QStringLiteral("1")), (QStringList{"(0,1)", "1", "n1", "o1"}));
}

TEST_F(RecordTest, DeleteInTheDialogRemovesItsRow)
{
    editRow(2, [&](QDialog& d) {
        prompts.answer(true);
        button(d, "deleteButton")->click();
    });
    EXPECT_EQ(prompts.texts(), QStringList{kRecordDeleteQuestion});
    EXPECT_EQ(column(1), QStringLiteral("1,2,4,5,6"));
    EXPECT_EQ(serverIds(), QStringLiteral("1,2,4,5,6"));
}

TEST_F(RecordTest, DeletesTheSelectedRowsInOneTransaction)
{
    StatementLog log(*doc.connection());
    deleteSelected({1, 4});
    EXPECT_EQ(log.statements(), (QStringList{"BEGIN", "DELETE FROM \"LvRec\" WHERE ctid = '(0,2)'",
                                             "DELETE FROM \"LvRec\" WHERE ctid = '(0,5)'", "COMMIT"}));
    EXPECT_EQ(prompts.messages(), QStringList{kRowsDeleted});
    EXPECT_EQ(column(1), QStringLiteral("1,3,4,6"));
    EXPECT_EQ(serverIds(), QStringLiteral("1,3,4,6"));
}

TEST_F(RecordTest, AFailingDeleteRollsBackTheOthers)
{
    TestServer::run(*admin, QStringLiteral(
        "CREATE FUNCTION lv_refuse() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
        "IF OLD.id = 2 THEN RAISE EXCEPTION 'refused'; END IF; RETURN OLD; END $$"));
    TestServer::run(*admin, QStringLiteral(
        "CREATE TRIGGER lv_refuse BEFORE DELETE ON \"LvRec\" FOR EACH ROW EXECUTE PROCEDURE lv_refuse()"));
    StatementLog log(*doc.connection());
    deleteSelected({0, 1, 2});
    EXPECT_EQ(prompts.messages(), (QStringList{kRowsDeleteFailure, kRowsDeleteAbort}));
    EXPECT_EQ(log.statements().size(), 4);  // BEGIN, the first two, ROLLBACK
    EXPECT_EQ(log.statements().last(), QStringLiteral("ROLLBACK"));
    EXPECT_EQ(rows(), 6);
    EXPECT_EQ(serverIds(), QStringLiteral("1,2,3,4,5,6"));
}

TEST_F(RecordTest, ACtidSharedWithAChildTableChangesNothing)
{
    TestServer::run(*admin, QStringLiteral("CREATE TABLE lv_parent (id int)"));
    TestServer::run(*admin, QStringLiteral("CREATE TABLE lv_child () INHERITS (lv_parent)"));
    TestServer::run(*admin, QStringLiteral("INSERT INTO lv_parent VALUES (1); INSERT INTO lv_child VALUES (2)"));
    select(3, QStringLiteral("lv_parent"), kTablesFolder);
    ASSERT_EQ(column(0), QStringLiteral("(0,1),(0,1)"));
    deleteSelected({1});
    editRow(0, [&](QDialog& d) {
        updateTo(d, 0, QStringLiteral("5"));
        button(d, "cancelButton")->click();
    });
    EXPECT_EQ(prompts.messages(), (QStringList{kRowsDeleteFailure, kRowsDeleteAbort, kUpdateFailure, kAbortMessage}));
    EXPECT_EQ(rows(), 2);
    EXPECT_EQ(serverValue(QStringLiteral("select string_agg(id::text, ',' order by id) from lv_parent")),
              QStringLiteral("1,2"));
}

TEST_F(RecordTest, DeleteWithoutTableRowsDoesNothing)
{
    StatementLog log(*doc.connection());
    select(3, QStringLiteral("lv_rec_v"), kViewsFolder);
    selectRows({0});
    view->runCommand(Cmd::RecordDelete);
    selectFolder(kTablesFolder);
    selectRows({0});
    view->runCommand(Cmd::RecordDelete);
    EXPECT_TRUE(prompts.shown().isEmpty());
    EXPECT_FALSE(log.statements().contains(QStringLiteral("BEGIN")));
    EXPECT_EQ(serverIds(), QStringLiteral("1,2,3,4,5,6"));
}

}  // namespace
