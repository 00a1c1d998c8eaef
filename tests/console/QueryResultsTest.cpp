#include <gtest/gtest.h>

#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include "ConsoleFixture.h"
#include "console/CQueryDlg.h"
#include "support/DialogDriver.h"
#include "widgets/LargeResultList.h"
#include "widgets/QtWaiter.h"

namespace {

// The files this process holds open in `dir`; a store's file has no name there any more.
QStringList openFilesIn(const QString& dir)
{
    QStringList held;
    for (const QString& fd : QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::System | QDir::Files)) {
        char target[4096];
        const ssize_t n = readlink(QFile::encodeName(QStringLiteral("/proc/self/fd/") + fd).constData(),
                                   target, sizeof target - 1);
        if (n > 0 && QString::fromLocal8Bit(target, n).startsWith(dir + u'/'))
            held << QString::fromLocal8Bit(target, n);
    }
    return held;
}

QString md5(qint64 g)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(QByteArray::number(g), QCryptographicHash::Md5).toHex());
}

// Rows with NULLs, empty texts, multibyte texts and values larger than a block of a small budget.
const QString kMixedRows = QStringLiteral(
    "select g, case when g % 7 = 0 then null when g % 5 = 0 then '' else md5(g::text) end as v, "
    "case when g % 997 = 0 then repeat('長い値', 2000) when g % 3 = 0 then '' end as w "
    "from generate_series(1, 20000) g");

}  // namespace

class QueryResultsTest : public ConsoleFixture {
protected:
    void SetUp() override
    {
        ConsoleFixture::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_TRUE(m_files.isValid());
        conn().setWaiter(&m_waiter);
    }
    void TearDown() override
    {
        if (doc.connection()) conn().setWaiter(nullptr);
        ConsoleFixture::TearDown();
    }
    void cleanUp() override
    {
        TestServer::run(*admin, QStringLiteral("drop table if exists kc_results_several"));
    }

    // A budget far below the results of these tests, so that most of their rows go to the file.
    ResultStore::Options smallBudget() const { return {64 << 10, m_files.path()}; }

    QtWaiter m_waiter;
    QTemporaryDir m_files;
};

TEST_F(QueryResultsTest, ResultBeyondTheBudgetReadsBackEveryCellAndItsFileLivesWithIt)
{
    const Result expected = admin->exec(kMixedRows);
    ASSERT_TRUE(expected.tuplesOk());
    {
        CQueryDlg dlg(doc);
        dlg.console().setStoreOptions(smallBudget());
        execute(dlg, kMixedRows);
        EXPECT_EQ(response(dlg), QStringLiteral("正常に終了しました"));
        const ResultStoreModel& rows = dlg.console().rows();
        const ResultStore* store = rows.store();
        ASSERT_NE(store, nullptr);
        ASSERT_EQ(rows.rowCount(), expected.rows());
        ASSERT_EQ(rows.columnCount(), 3);
        EXPECT_EQ(rows.headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("w"));
        EXPECT_GT(store->fileBytes(), 4 * store->memoryBytes());
        // The start, the middle and the end, and then every row once more from the end back,
        // so that blocks are read back from the file after others have pushed them out.
        for (int row : {0, 1, 9999, 10000, 19998, 19999}) {
            for (int f = 0; f < 3; ++f) {
                EXPECT_EQ(rows.text(row, f), expected.value(row, f)) << row << "," << f;
                EXPECT_EQ(store->isNull(row, f), expected.isNull(row, f)) << row << "," << f;
            }
        }
        int differing = 0;
        for (int row = expected.rows() - 1; row >= 0; --row)
            for (int f = 0; f < 3; ++f)
                if (rows.text(row, f) != expected.value(row, f) || store->isNull(row, f) != expected.isNull(row, f))
                    ++differing;
        EXPECT_EQ(differing, 0);
        EXPECT_TRUE(store->isNull(6, 1));            // g = 7
        EXPECT_FALSE(store->isNull(4, 1));           // g = 5: an empty text
        EXPECT_EQ(rows.text(996, 2).size(), 6000);  // g = 997: larger than a block
        EXPECT_LE(store->memoryBytes(), (64 << 10) + 16 * 4096);

        // The file is open while the rows are on show, yet has no name in its folder.
        EXPECT_EQ(openFilesIn(m_files.path()).size(), 1) << openFilesIn(m_files.path()).join(u' ').toStdString();
        EXPECT_TRUE(QDir(m_files.path()).isEmpty());
        execute(dlg, QStringLiteral("select 1 as one"));
        EXPECT_TRUE(openFilesIn(m_files.path()).isEmpty());
        EXPECT_EQ(rows.text(0, 0), QStringLiteral("1"));

        execute(dlg, kMixedRows);
        EXPECT_EQ(openFilesIn(m_files.path()).size(), 1);
        dlg.reject();
    }
    EXPECT_TRUE(openFilesIn(m_files.path()).isEmpty());
    EXPECT_TRUE(QDir(m_files.path()).isEmpty());
}

// Like PQexec, a text of several statements answers with the last one's result.
TEST_F(QueryResultsTest, SeveralStatementsAnswerWithTheLast)
{
    CQueryDlg dlg(doc);
    dlg.console().setStoreOptions(smallBudget());
    const QString many = QStringLiteral("select g, md5(g::text) from generate_series(1, 5000) g");
    struct Case {
        QString text, response;
        int columns, rows;
        QString firstCell;
    } cases[] = {
        {many + QStringLiteral("; select 'last' as l"), QStringLiteral("正常に終了しました"), 1, 1, QStringLiteral("last")},
        {many + QStringLiteral("; select 1 as a, 2 as b where false"), QStringLiteral("正常に終了しました"), 2, 0, {}},
        {many + QStringLiteral("; create table kc_results_several (id int)"), QStringLiteral("CREATE TABLE"), 0, 0, {}},
        {QStringLiteral("select 1 as a; ") + many, QStringLiteral("正常に終了しました"), 2, 5000, QStringLiteral("1")},
    };
    for (const Case& c : cases) {
        execute(dlg, c.text);
        EXPECT_EQ(response(dlg), c.response) << c.text.toStdString();
        EXPECT_EQ(dlg.console().rows().columnCount(), c.columns) << c.text.toStdString();
        EXPECT_EQ(dlg.console().rows().rowCount(), c.rows) << c.text.toStdString();
        EXPECT_EQ(dlg.console().rows().text(0, 0), c.firstCell) << c.text.toStdString();
    }
    // The rows of a statement before a failing one are not shown, as before.
    execute(dlg, many + QStringLiteral("; select 1/0"));
    EXPECT_TRUE(response(dlg).contains(QStringLiteral("division by zero"))) << response(dlg).toStdString();
    EXPECT_EQ(dlg.console().rows().columnCount(), 0);
    EXPECT_TRUE(openFilesIn(m_files.path()).isEmpty());
}

// "中止" once rows are arriving: the rows received stay readable, the answer says the result is
// incomplete and how many rows came, and the session takes the next statement.
TEST_F(QueryResultsTest, StopInTheMiddleKeepsTheRowsReceived)
{
    CQueryDlg dlg(doc);
    dlg.console().setStoreOptions(smallBudget());
    QString progress;
    onNextModal([&](QDialog& wait) {
        auto* label = wait.findChild<QLabel*>(QStringLiteral("waitElapsed"));
        QAbstractButton* stop = button(wait, "waitStop");
        if (!label || !stop) return;
        auto* poll = new QTimer(&wait);
        QObject::connect(poll, &QTimer::timeout, [&progress, label, stop, poll] {
            if (!label->text().contains(QStringLiteral("行を受信"))) return;
            progress = label->text();
            poll->stop();
            stop->click();
        });
        poll->start(20);
    });
    // The server sends rows, and sleeps on the last one until it is cancelled; "中止" may come
    // before or after it has sent the others.
    execute(dlg, QStringLiteral("select g, case when g > 100000 then pg_sleep(60)::text "
                                "else md5(g::text) end as v from generate_series(1, 100001) g"));
    EXPECT_FALSE(progress.isEmpty());

    const ResultStoreModel& rows = dlg.console().rows();
    const int received = rows.rowCount();
    ASSERT_GT(received, 0) << response(dlg).toStdString();
    ASSERT_LE(received, 100000);
    EXPECT_TRUE(response(dlg).startsWith(
        QStringLiteral("結果は不完全です: %1 行を受信したところで中止されました（")
            .arg(QLocale(QLocale::Japanese).toString(received))))
        << response(dlg).toStdString();
    for (int row : {0, received / 2, received - 1}) {
        EXPECT_EQ(rows.text(row, 0), QString::number(row + 1));
        EXPECT_EQ(rows.text(row, 1), md5(row + 1));
    }
    EXPECT_FALSE(conn().isWaiting());

    execute(dlg, QStringLiteral("select 'next' as n"));
    EXPECT_EQ(response(dlg), QStringLiteral("正常に終了しました"));
    EXPECT_EQ(rows.rowCount(), 1);
    EXPECT_EQ(rows.text(0, 0), QStringLiteral("next"));
    EXPECT_TRUE(openFilesIn(m_files.path()).isEmpty());
}

// A folder where the temporary file cannot be made: receiving stops at the budget with the
// reason, the rows taken stay on show, and the session is ready for the next statement.
TEST_F(QueryResultsTest, RowsThatCannotBeKeptStopTheStatementWithTheReason)
{
    CQueryDlg dlg(doc);
    const QString missing = m_files.filePath(QStringLiteral("no-such-folder"));
    dlg.console().setStoreOptions({64 << 10, missing});
    execute(dlg, QStringLiteral("select g, md5(g::text) from generate_series(1, 200000) g"));
    EXPECT_TRUE(response(dlg).startsWith(QStringLiteral("結果は不完全です"))) << response(dlg).toStdString();
    EXPECT_TRUE(response(dlg).contains(missing)) << response(dlg).toStdString();
    const ResultStoreModel& rows = dlg.console().rows();
    ASSERT_GT(rows.rowCount(), 0);
    ASSERT_LT(rows.rowCount(), 200000);
    EXPECT_EQ(rows.text(rows.rowCount() - 1, 1), md5(rows.rowCount()));

    execute(dlg, QStringLiteral("select 2 as two"));
    EXPECT_EQ(response(dlg), QStringLiteral("正常に終了しました"));
    EXPECT_EQ(rows.text(0, 0), QStringLiteral("2"));
}

// The list reaches any row of a long result at once, and selects by rows.
TEST_F(QueryResultsTest, ListReachesEveryRowAndSelectsWholeRows)
{
    CQueryDlg dlg(doc);
    dlg.resize(600, 400);
    dlg.show();
    execute(dlg, QStringLiteral("select g, md5(g::text) from generate_series(1, 300000) g"));
    auto* list = dlg.findChild<LargeResultList*>(QStringLiteral("resultList"));
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->model()->rowCount(), 300000);
    list->setFocus();
    const auto press = [&](int key, Qt::KeyboardModifiers modifiers) {
        QKeyEvent event(QEvent::KeyPress, key, modifiers);
        QApplication::sendEvent(list, &event);
    };

    press(Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(list->currentIndex().row(), 299999);
    const QRect last = list->visualRect(list->currentIndex());
    EXPECT_TRUE(list->viewport()->rect().contains(last)) << last.y();
    EXPECT_EQ(list->indexAt(last.center()), list->currentIndex());
    EXPECT_EQ(list->currentIndex().data().toString(), md5(300000));
    EXPECT_FALSE(list->grab().isNull());

    list->verticalScrollBar()->setValue(150000);
    const QModelIndex middle = list->indexAt(QPoint(150, list->rowHeight() / 2));
    EXPECT_EQ(middle.row(), 150000);
    EXPECT_EQ(middle.column(), 1);
    EXPECT_EQ(middle.data().toString(), md5(150001));

    // A click, then back to the top and a Shift+click on the second row: one range of whole
    // rows, from the second row to the one clicked first, far below.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(50, list->rowHeight() * 2 + 2));
    EXPECT_EQ(list->currentIndex().row(), 150002);
    list->verticalScrollBar()->setValue(0);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                      QPoint(150, list->rowHeight() + 2));
    const QItemSelection selected = list->selectionModel()->selection();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected.first().top(), 1);
    EXPECT_EQ(selected.first().bottom(), 150002);
    EXPECT_EQ(selected.first().width(), 2);
    dlg.reject();
}
