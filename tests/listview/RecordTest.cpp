#include "ListViewFixture.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QTableWidget>

#include "listview/RecordEditing.h"
#include "workspace/Transaction.h"

namespace {

class RecordTest : public ListViewFixture {
protected:
    void SetUp() override
    {
        ListViewFixture::SetUp();
        if (HasFatalFailure()) return;
        select(3, QStringLiteral("LvRec"), kTablesFolder);
    }
    void updateTo(QDialog& d, int line, const QString& text)
    {
        fieldList(d)->setCurrentCell(line, 0);
        lineEdit(d, "dataBox")->setText(text);
        prompts.answer(true);
        button(d, "updateButton")->click();
    }
    // How statements address a row of "LvRec" as the server holds it now.
    QString condition(const QString& where) { return rowCondition(QStringLiteral("\"LvRec\""), where); }
    QString values(const QString& table)
    {
        return value(QStringLiteral("select string_agg(id || ':' || v, ',' order by id) from %1").arg(table));
    }
    // Another session deletes row 3 and VACUUM gives its slot to a new row.
    void intruderTakesTheSlotOfRow3()
    {
        const QString slot = value(QStringLiteral("select ctid::text from \"LvRec\" where id = 3"));
        TestServer::run(*admin, QStringLiteral("DELETE FROM \"LvRec\" WHERE id = 3"));
        TestServer::run(*admin, QStringLiteral("VACUUM \"LvRec\""));
        TestServer::run(*admin, QStringLiteral("INSERT INTO \"LvRec\" VALUES (99, 'intruder')"));
        ASSERT_EQ(value(QStringLiteral("select ctid::text from \"LvRec\" where id = 99")), slot);
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
    const QString before = condition(QStringLiteral("id = 2"));
    QString afterFirst;
    editRow(1, [&](QDialog& d) {
        updateTo(d, 2, QStringLiteral("O'Brien"));
        EXPECT_EQ(value(QStringLiteral("select \"order\" from \"LvRec\" where id = 2")), QStringLiteral("O'Brien"));
        EXPECT_EQ(lineEdit(d, "dataBox")->text(), QStringLiteral("O'Brien"));
        afterFirst = condition(QStringLiteral("id = 2"));
        EXPECT_TRUE(afterFirst.contains(lineEdit(d, "oidBox")->text()));
        updateTo(d, 2, QStringLiteral("second"));
        button(d, "cancelButton")->click();
    });
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'/').toStdString();
    EXPECT_EQ(log.statements().filter(QStringLiteral("UPDATE")),
              (QStringList{QStringLiteral("UPDATE \"LvRec\" SET \"order\"='O''Brien' WHERE %1 "
                                          "RETURNING tableoid,ctid,xmin").arg(before),
                           QStringLiteral("UPDATE \"LvRec\" SET \"order\"='second' WHERE %1 "
                                          "RETURNING tableoid,ctid,xmin").arg(afterFirst)}));
    EXPECT_TRUE(before.contains(QStringLiteral("ctid = '(0,2)'")));
    EXPECT_EQ(value(QStringLiteral("select ctid::text || \"order\" from \"LvRec\" where id = 2")),
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
    // The row it was to change is gone: said after the fixed message.
    EXPECT_EQ(prompts.messages(), (QStringList{kUpdateFailure, kRowChangedElsewhere, kAbortMessage}));
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
    const QString second = condition(QStringLiteral("id = 2")), fifth = condition(QStringLiteral("id = 5"));
    deleteSelected({1, 4});
    EXPECT_EQ(log.statements(), (QStringList{"BEGIN", "DELETE FROM \"LvRec\" WHERE " + second,
                                             "DELETE FROM \"LvRec\" WHERE " + fifth, "COMMIT"}));
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

TEST_F(RecordTest, AStaleRowIsNeitherDeletedNorShownNorEditedInPlaceOfAnother)
{
    intruderTakesTheSlotOfRow3();
    const QStringList listed = rowWith(1, QStringLiteral("3"));
    ASSERT_EQ(listed.value(0), value(QStringLiteral("select ctid::text from \"LvRec\" where id = 99")));

    deleteSelected({2});
    EXPECT_EQ(prompts.messages(), (QStringList{kRowsDeleteFailure, kRowChangedElsewhere, kRowsDeleteAbort}));
    EXPECT_EQ(rowWith(1, QStringLiteral("3")), listed);

    prompts.clear();
    QStringList data;
    editRow(2, [&](QDialog& d) {
        for (int r = 0; r < fieldList(d)->rowCount(); ++r) data << fieldList(d)->item(r, 5)->text();
        updateTo(d, 2, QStringLiteral("overwritten"));
        button(d, "cancelButton")->click();
    });
    // The dialog shows nothing of the intruder, updates nothing, and the list keeps its row.
    EXPECT_EQ(data, (QStringList{QString(), QString(), QString()}));
    EXPECT_EQ(prompts.messages(), (QStringList{kUpdateFailure, kRowChangedElsewhere, kAbortMessage}));
    EXPECT_EQ(rowWith(1, QStringLiteral("3")), listed);
    EXPECT_EQ(value(QStringLiteral("select name || '/' || coalesce(\"order\", '-') from \"LvRec\" where id = 99")),
              QStringLiteral("intruder/-"));
    EXPECT_EQ(serverIds(), QStringLiteral("1,2,4,5,6,99"));
}

TEST_F(RecordTest, RowsOfPartitionsAndInheritanceChildrenAreEditedAndDeletedOneByOne)
{
    const char* setUp[] = {
        "CREATE TABLE lv_parent (id int, v text)",
        "CREATE TABLE lv_child () INHERITS (lv_parent)",
        "INSERT INTO lv_parent VALUES (1, 'p1'), (2, 'p2'); INSERT INTO lv_child VALUES (3, 'c3'), (4, 'c4')",
        "CREATE TABLE lv_part (id int, v text) PARTITION BY LIST (id)",
        "CREATE TABLE lv_part_a PARTITION OF lv_part FOR VALUES IN (1, 2)",
        "CREATE TABLE lv_part_b PARTITION OF lv_part FOR VALUES IN (3, 4)",
        "INSERT INTO lv_part VALUES (1, 'a1'), (2, 'a2'), (3, 'b3'), (4, 'b4')",
    };
    for (const char* sql : setUp) TestServer::run(*admin, QString::fromUtf8(sql));

    for (const QString& table : {QStringLiteral("lv_parent"), QStringLiteral("lv_part")}) {
        SCOPED_TRACE(table.toStdString());
        prompts.clear();
        select(3, table, kTablesFolder);
        ASSERT_EQ(rows(), 4);
        // The children's rows share their slots with the parent's (or the other partition's).
        ASSERT_EQ(rowWith(1, QStringLiteral("1")).value(0), rowWith(1, QStringLiteral("3")).value(0));
        editRow(listRowOf(QStringLiteral("3")), [&](QDialog& d) {
            updateTo(d, 1, QStringLiteral("x3"));
            updateTo(d, 1, QStringLiteral("y3"));
            button(d, "cancelButton")->click();
        });
        EXPECT_EQ(rowWith(1, QStringLiteral("3")).value(2), QStringLiteral("y3"));
        deleteSelected({listRowOf(QStringLiteral("1"))});
        EXPECT_EQ(prompts.messages(), QStringList{kRowsDeleted});
        EXPECT_EQ(rows(), 3);
        const bool partitioned = table == QStringLiteral("lv_part");
        EXPECT_EQ(values(table), partitioned ? QStringLiteral("2:a2,3:y3,4:b4") : QStringLiteral("2:p2,3:y3,4:c4"));
    }
}

TEST_F(RecordTest, TheServersReasonForAFailedUpdateReachesTheLog)
{
    doc.installNoticeReceiver();
    editRow(0, [&](QDialog& d) {
        updateTo(d, 0, QStringLiteral("not a number"));
        button(d, "cancelButton")->click();
    });
    EXPECT_EQ(prompts.messages(), (QStringList{kUpdateFailure, kAbortMessage}));
    EXPECT_TRUE(doc.pendingNoticesText().contains(QStringLiteral("not a number")))
        << doc.pendingNoticesText().toStdString();
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
