#include "ListViewFixture.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QTableWidget>

#include "listview/RecordEditing.h"
#include "workspace/Statements.h"

namespace {

// lv_null: a NOT NULL key, an integer and a text column; row 3 holds NULLs and row 4 the
// text 'NULL', which must not pass for one.
class RecordNullTest : public ListViewFixture {
protected:
    void SetUp() override
    {
        ListViewFixture::SetUp();
        if (HasFatalFailure()) return;
        TestServer::run(*admin, QStringLiteral("CREATE TABLE lv_null (id int NOT NULL, n int, t text)"));
        TestServer::run(*admin, QStringLiteral("INSERT INTO lv_null VALUES (1, 10, 'a'), (2, 20, 'b'), "
                                               "(3, NULL, NULL), (4, 40, 'NULL')"));
        select(3, QStringLiteral("lv_null"), kTablesFolder);
    }
    void cleanUp() override
    {
        ListViewFixture::cleanUp();
        TestServer::run(*admin, QStringLiteral("DROP TABLE IF EXISTS lv_null"));
    }

    static QAbstractButton* nullBox(QDialog& d) { return button(d, "nullBox"); }
    // Each row as the server holds it: id:n:t, NULL written as -.
    QString stored()
    {
        return value(QStringLiteral("select string_agg(id || ':' || coalesce(n::text, '-') || ':' || "
                                          "coalesce('[' || t || ']', '-'), ',' order by id) from lv_null"));
    }
    QString condition(int id) { return rowCondition(QStringLiteral("lv_null"), QStringLiteral("id = %1").arg(id)); }
    // What the dialog shows for a field line: its data cell, and whether it is drawn as NULL.
    static QString shown(QDialog& d, int line)
    {
        const QTableWidgetItem* cell = fieldList(d)->item(line, 5);
        return cell->text() + (cell->font().italic() ? QStringLiteral("(null)") : QString());
    }
};

TEST_F(RecordNullTest, AnIntegerSetToNullAndATextSetToEmptyAreStoredSoEachByItsRow)
{
    StatementLog log(*doc.connection());
    const QString first = condition(1);
    QString afterNull;
    QStringList seen;
    editRow(listRowOf(QStringLiteral("1")), [&](QDialog& d) {
        fieldList(d)->setCurrentCell(1, 0);
        EXPECT_TRUE(nullBox(d)->isVisible());
        EXPECT_FALSE(nullBox(d)->isChecked());
        nullBox(d)->click();
        EXPECT_FALSE(lineEdit(d, "dataBox")->isEnabled());
        prompts.answer(true);
        button(d, "updateButton")->click();
        afterNull = condition(1);
        seen << shown(d, 1) << QString::number(nullBox(d)->isChecked());

        fieldList(d)->setCurrentCell(2, 0);
        EXPECT_FALSE(nullBox(d)->isChecked());
        lineEdit(d, "dataBox")->clear();
        prompts.answer(true);
        button(d, "updateButton")->click();
        seen << shown(d, 2) << QString::number(nullBox(d)->isChecked()) << shown(d, 1);
        button(d, "cancelButton")->click();
    });
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'/').toStdString();
    EXPECT_EQ(log.statements().filter(QStringLiteral("UPDATE")),
              (QStringList{QStringLiteral("UPDATE lv_null SET n=NULL WHERE %1 RETURNING tableoid,ctid,xmin").arg(first),
                           QStringLiteral("UPDATE lv_null SET t='' WHERE %1 RETURNING tableoid,ctid,xmin").arg(afterNull)}));
    EXPECT_EQ(stored(), QStringLiteral("1:-:[],2:20:[b],3:-:-,4:40:[NULL]"));
    EXPECT_EQ(seen, (QStringList{"NULL(null)", "1", "", "0", "NULL(null)"}));
    // The list shows NULL and the empty text alike: empty.
    const int listed = listRowOf(QStringLiteral("1"));
    EXPECT_EQ(view->cellText(listed, 2) + u'|' + view->cellText(listed, 3), QStringLiteral("|"));
}

TEST_F(RecordNullTest, NullIsShownApartFromTextAndANotNullColumnOffersNone)
{
    struct Case {
        const char* id;
        int line;
        const char* shownData;  // the field list's data cell; (null) when drawn as NULL
        bool offered;           // "NULL" beside the value
        bool checked;
        const char* box;        // the data box
    };
    const Case cases[] = {
        {"3", 0, "3", false, false, "3"},              // NOT NULL
        {"3", 1, "NULL(null)", true, true, ""},
        {"3", 2, "NULL(null)", true, true, ""},
        {"4", 2, "NULL", true, false, "NULL"},         // the text NULL
        {"2", 2, "b", true, false, "b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.id) + "/" + std::to_string(c.line));
        editRow(listRowOf(QString::fromUtf8(c.id)), [&](QDialog& d) {
            EXPECT_EQ(shown(d, c.line), QString::fromUtf8(c.shownData));
            fieldList(d)->setCurrentCell(c.line, 0);
            EXPECT_EQ(nullBox(d)->isVisible(), c.offered);
            EXPECT_EQ(nullBox(d)->isChecked(), c.checked);
            EXPECT_EQ(lineEdit(d, "dataBox")->isEnabled(), !c.checked);
            EXPECT_EQ(lineEdit(d, "dataBox")->text(), QString::fromUtf8(c.box));
            button(d, "cancelButton")->click();
        });
    }
    EXPECT_EQ(view->cellText(listRowOf(QStringLiteral("3")), 2), QString());

    // A NULL made a value again: the box takes the text once "NULL" is cleared.
    editRow(listRowOf(QStringLiteral("3")), [&](QDialog& d) {
        fieldList(d)->setCurrentCell(1, 0);
        nullBox(d)->click();
        lineEdit(d, "dataBox")->setText(QStringLiteral("5"));
        prompts.answer(true);
        button(d, "updateButton")->click();
        EXPECT_EQ(shown(d, 1), QStringLiteral("5"));
        button(d, "cancelButton")->click();
    });
    EXPECT_EQ(stored(), QStringLiteral("1:10:[a],2:20:[b],3:5:-,4:40:[NULL]"));
    EXPECT_EQ(view->cellText(listRowOf(QStringLiteral("3")), 2), QStringLiteral("5"));
}

}  // namespace
