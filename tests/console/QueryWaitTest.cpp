#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>

#include "ConsoleFixture.h"
#include "console/CQueryDlg.h"
#include "support/DialogDriver.h"
#include "widgets/QtWaiter.h"

class QueryWaitTest : public ConsoleFixture {};

// The SQL window waiting on a long statement: the wait shows itself with "中止"; pressing it
// cancels the statement, the server's cancel text reaches the answer box and the log pane,
// and the next statement of the session runs.
TEST_F(QueryWaitTest, StoppedStatementTakesItsFailurePath)
{
    QtWaiter waiter;
    conn().setWaiter(&waiter);
    CQueryDlg dlg(doc);
    QString stopText, elapsedLabel;
    onNextModal([&](QDialog& wait) {
        EXPECT_EQ(wait.objectName(), QStringLiteral("kestrelWait"));
        if (auto* label = wait.findChild<QLabel*>(QStringLiteral("waitElapsed")))
            elapsedLabel = label->text();
        QAbstractButton* stop = button(wait, "waitStop");
        if (!stop) return;
        stopText = stop->text();
        stop->click();
    });
    doc.takePendingNotices();
    execute(dlg, QStringLiteral("select pg_sleep(60)"));

    EXPECT_EQ(stopText, QStringLiteral("中止"));
    EXPECT_TRUE(elapsedLabel.contains(QStringLiteral("経過時間"))) << elapsedLabel.toStdString();
    const QString answer = lineEdit(dlg, "responseEdit")->text().trimmed();
    EXPECT_FALSE(answer.isEmpty()) << doc.pendingNoticesText().toStdString();
    const QString logged = doc.takePendingNotices();
    EXPECT_TRUE(logged.contains(answer)) << logged.toStdString();
    EXPECT_FALSE(conn().isWaiting());

    execute(dlg, QStringLiteral("select 1"));
    EXPECT_EQ(lineEdit(dlg, "responseEdit")->text(), QStringLiteral("正常に終了しました"));
    conn().setWaiter(nullptr);
}
