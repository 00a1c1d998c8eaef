#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalSpy>

#include "ConsoleFixture.h"
#include "app/SharedCommands.h"
#include "console/CQueryDlg.h"
#include "support/DialogDriver.h"
#include "support/TestFiles.h"
#include "widgets/LargeResultList.h"
#include "workspace/TextCodec.h"

namespace {

QLineEdit* query(CQueryDlg& d) { return lineEdit(d, "queryEdit"); }
LargeResultList* list(CQueryDlg& d)
{
    return d.findChild<LargeResultList*>(QStringLiteral("resultList"));
}
ResultStoreModel* rows(CQueryDlg& d) { return &d.console().rows(); }

void press(QWidget* target, int key)
{
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

// Presses the keys on `target` and returns what the query field showed after each.
QStringList recall(CQueryDlg& d, QWidget* target, const QList<int>& keys)
{
    QStringList shown;
    for (int key : keys) {
        press(target, key);
        shown << query(d)->text();
    }
    return shown;
}

}  // namespace

class QueryDlgTest : public ConsoleFixture {
protected:
    void cleanUp() override
    {
        TestServer::run(*admin, QStringLiteral("drop table if exists kc_console_items, "
                                               "kc_console_noted; drop function if exists "
                                               "kc_console_note()"));
    }
    QString historyPath() const { return SqlHistory::filePath(m_start.path()); }
};

TEST_F(QueryDlgTest, ShowsRowsOrTheServersAnswer)
{
    TestServer::run(conn(), QStringLiteral("create table kc_console_items (id int, name text)"));
    CQueryDlg dlg(doc);
    StatementLog sent(conn());

    execute(dlg, QString());
    EXPECT_EQ(response(dlg), QStringLiteral("SQLを入力してください"));
    EXPECT_TRUE(dlg.console().history().entries().isEmpty());
    EXPECT_TRUE(sent.statements().isEmpty());

    execute(dlg, QStringLiteral("select id, name from kc_console_items"));
    ASSERT_EQ(rows(dlg)->columnCount(), 2);
    EXPECT_EQ(rows(dlg)->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(),
              QStringLiteral("name"));
    EXPECT_EQ(rows(dlg)->rowCount(), 0);
    EXPECT_EQ(response(dlg), QStringLiteral("正常に終了しました"));

    execute(dlg, QStringLiteral("select g, g * 2 as twice from generate_series(1, 3) g"));
    ASSERT_EQ(rows(dlg)->rowCount(), 3);
    EXPECT_EQ(rows(dlg)->text(2, 1), QStringLiteral("6"));

    execute(dlg, QStringLiteral("select * from kc_no_such_table"));
    EXPECT_TRUE(response(dlg).contains(QStringLiteral("kc_no_such_table")));
    EXPECT_EQ(response(dlg), conn().errorMessage());
    EXPECT_EQ(rows(dlg)->columnCount(), 0);

    // Blanks are a statement: recorded and sent; the server answers with an empty query.
    execute(dlg, QStringLiteral("   "));
    EXPECT_EQ(sent.statements().last(), QStringLiteral("   "));
    EXPECT_EQ(response(dlg), conn().errorMessage());

    execute(dlg, QStringLiteral("select 1"));
    execute(dlg, QStringLiteral("select 1"));
    EXPECT_EQ(dlg.console().history().entries(),
              QStringList({QStringLiteral("select id, name from kc_console_items"),
                           QStringLiteral("select g, g * 2 as twice from generate_series(1, 3) g"),
                           QStringLiteral("select * from kc_no_such_table"),
                           QStringLiteral("   "), QStringLiteral("select 1"),
                           QStringLiteral("select 1")}));
    EXPECT_EQ(sent.statements().size(), 6);
}

TEST_F(QueryDlgTest, CommandAnswersWithItsOwnNoticeOrStatusNeverAnEarlierOne)
{
    TestServer::run(conn(), QStringLiteral("create table kc_console_noted (id int)"));
    doc.takePendingNotices();  // the set-up's own notices
    CQueryDlg dlg(doc);

    execute(dlg, QStringLiteral("DO $$ BEGIN RAISE NOTICE 'kc earlier'; END $$"));
    EXPECT_EQ(response(dlg), QStringLiteral("NOTICE:  kc earlier"));

    // The earlier notice is still the workspace's firstNotice (nobody emptied the pending
    // text), yet the INSERT answers for itself.
    execute(dlg, QStringLiteral("insert into kc_console_noted values (1)"));
    EXPECT_EQ(response(dlg), QStringLiteral("INSERT 0 1"));
    EXPECT_EQ(doc.firstNoticeText(), QStringLiteral("NOTICE:  kc earlier"));

    TestServer::run(conn(), QStringLiteral(
        "create function kc_console_note() returns trigger language plpgsql as "
        "$$ begin raise notice 'kc row %', new.id; return new; end $$"));
    TestServer::run(conn(), QStringLiteral(
        "create trigger kc_console_note before insert on kc_console_noted "
        "for each row execute procedure kc_console_note()"));
    execute(dlg, QStringLiteral("insert into kc_console_noted values (2), (3)"));
    EXPECT_EQ(response(dlg), QStringLiteral("NOTICE:  kc row 2"));
    EXPECT_EQ(rows(dlg)->columnCount(), 0);

    execute(dlg, QStringLiteral("update kc_console_noted set id = id where false"));
    EXPECT_EQ(response(dlg), QStringLiteral("UPDATE 0"));
}

TEST(QueryDlgWithoutServer, NoConnectionIsNotReportedAsSuccess)
{
    ScriptedPrompter prompts;
    QTemporaryDir start;
    CKestrelDoc doc;
    doc.startDirectory = start.path();
    CQueryDlg dlg(doc);
    execute(dlg, QStringLiteral("select 1"));
    EXPECT_FALSE(response(dlg).isEmpty());
    EXPECT_NE(response(dlg), QStringLiteral("正常に終了しました"));
    EXPECT_EQ(rows(dlg)->columnCount(), 0);
}

TEST_F(QueryDlgTest, UpAndDownRecallHistoryFromAnyControl)
{
    // LF-only and CR LF lines in one file.
    writeFile(historyPath(), "A\r\nB\nC\r\n");
    const QString none;
    {
        CQueryDlg dlg(doc);
        dlg.show();
        EXPECT_EQ(recall(dlg, query(dlg), {Qt::Key_Up, Qt::Key_Up, Qt::Key_Up, Qt::Key_Up,
                                           Qt::Key_Up, Qt::Key_Down, Qt::Key_Down,
                                           Qt::Key_Down, Qt::Key_Down, Qt::Key_Down}),
                  QStringList({none, "C", "B", "A", "A", "A", "B", "C", none, none}));
        dlg.reject();
    }
    {
        // A change of direction shows the neighbour of the entry shown before.
        CQueryDlg dlg(doc);
        dlg.show();
        EXPECT_EQ(recall(dlg, query(dlg), {Qt::Key_Up, Qt::Key_Up, Qt::Key_Down, Qt::Key_Down,
                                           Qt::Key_Up, Qt::Key_Up}),
                  QStringList({none, "C", "B", "C", none, "C"}));
        dlg.reject();
    }
    {
        // With the focus in the result list the keys still recall history, and the list's
        // current row does not move.
        CQueryDlg dlg(doc);
        dlg.show();
        execute(dlg, QStringLiteral("select g from generate_series(1, 5) g"));
        LargeResultList* rl = list(dlg);
        rl->setFocus();
        rl->setCurrentIndex(rl->model()->index(2, 0));
        query(dlg)->clear();
        EXPECT_EQ(recall(dlg, rl, {Qt::Key_Up, Qt::Key_Up, Qt::Key_Down}),
                  QStringList({none, "select g from generate_series(1, 5) g", "C"}));
        EXPECT_EQ(rl->currentIndex().row(), 2);
        EXPECT_EQ(recall(dlg, lineEdit(dlg, "responseEdit"), {Qt::Key_Up}),
                  QStringList{"select g from generate_series(1, 5) g"});
        dlg.reject();
    }
}

TEST_F(QueryDlgTest, HistoryFileIsRewrittenAtClosing)
{
    const QString longStatement =
        QStringLiteral("select '%1' as long_text").arg(QString(1200 - 22, QLatin1Char('x')));
    ASSERT_EQ(longStatement.size(), 1200);
    {
        CQueryDlg dlg(doc);
        execute(dlg, longStatement);
        execute(dlg, QStringLiteral("select '日本語' as 名前"));
        execute(dlg, QStringLiteral("select '😀' as face"));
        EXPECT_EQ(response(dlg), QStringLiteral("正常に終了しました"));
        dlg.reject();
    }
    // The entry CP932 cannot hold is told once, and the others are kept.
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages().first().contains(QStringLiteral("😀")));
    EXPECT_TRUE(readFile(historyPath()).endsWith(
        *Cp932::encode(QStringLiteral("select '日本語' as 名前\r\n"))));
    {
        CQueryDlg dlg(doc);
        const QStringList entries = dlg.console().history().entries();
        ASSERT_EQ(entries.size(), 4);
        EXPECT_EQ(entries[0].size(), 511);
        EXPECT_EQ(entries[1].size(), 511);
        EXPECT_EQ(entries[0] + entries[1] + entries[2], longStatement);
        EXPECT_EQ(entries[3], QStringLiteral("select '日本語' as 名前"));
    }

    QByteArray many;
    for (int i = 0; i < 1100; ++i) many += "select " + QByteArray::number(i) + "\r\n";
    writeFile(historyPath(), many);
    {
        CQueryDlg dlg(doc);
        EXPECT_EQ(dlg.console().history().entries().size(), 1100);
        dlg.reject();
    }
    const QList<QByteArray> lines = readFile(historyPath()).split('\n');
    ASSERT_EQ(lines.size(), 1025);  // the last line end leaves an empty tail
    EXPECT_EQ(lines.first(), QByteArray("select 76\r"));
    EXPECT_EQ(lines[1023], QByteArray("select 1099\r"));
}

TEST_F(QueryDlgTest, CsvButtonNeedsAStatementAndNeitherRunsNorRecordsIt)
{
    CQueryDlg dlg(doc);
    QSignalSpy requested(&dlg, &CQueryDlg::csvExportRequested);
    StatementLog sent(conn());
    button(dlg, "csvButton")->click();
    EXPECT_EQ(response(dlg), QStringLiteral("SQLを入力してください"));
    EXPECT_EQ(requested.count(), 0);

    query(dlg)->setText(QStringLiteral("select 1"));
    button(dlg, "csvButton")->click();
    ASSERT_EQ(requested.count(), 1);
    EXPECT_EQ(requested.first().first().toString(), QStringLiteral("select 1"));
    EXPECT_TRUE(sent.statements().isEmpty());
    EXPECT_TRUE(dlg.console().history().entries().isEmpty());
}

TEST_F(QueryDlgTest, CommandOpensTheDialogModally)
{
    QString title;
    onNextModal([&](QDialog& d) {
        title = d.windowTitle();
        execute(static_cast<CQueryDlg&>(d), QStringLiteral("select 'kc from the command'"));
        d.reject();
    });
    OpenQueryDialog(doc, nullptr);
    EXPECT_EQ(title, QStringLiteral("クエリー発行（簡易版）"));
    EXPECT_EQ(readFile(historyPath()), QByteArray("select 'kc from the command'\r\n"));
}
