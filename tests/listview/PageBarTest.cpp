#include "ListViewFixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QSettings>
#include <QTimer>

#include "app/CommandTarget.h"
#include "listview/CPageBarDlg.h"
#include "support/DialogDriver.h"
#include "workspace/Settings.h"

namespace {

struct Outcome {
    int rc;
    int pageIndex;
    int pageLength;
};

// Opens the bar on page index 2 (page 3), types into its boxes and presses OK.
Outcome accept(const QString& page, const QString& length)
{
    CPageBarDlg dlg(2, 1000);
    const int rc = runModal(dlg, [&](QDialog& d) {
        lineEdit(d, "pageBox")->setText(page);
        lineEdit(d, "pageLengthBox")->setText(length);
        button(d, "okButton")->click();
    });
    return {rc, dlg.pageIndex(), dlg.pageLength()};
}

TEST(PageBar, ArrowsAndOkReadingRules)
{
    CPageBarDlg dlg(2, 1000);
    QString shown;
    runModal(dlg, [&](QDialog& d) {
        shown = lineEdit(d, "pageBox")->text() + u'|' + lineEdit(d, "pageLengthBox")->text();
        // The arrows count from the stored page, not from what was typed.
        lineEdit(d, "pageBox")->setText(QStringLiteral("40"));
        button(d, "upButton")->click();
        shown += u'|' + lineEdit(d, "pageBox")->text();
        for (int i = 0; i < 5; ++i) button(d, "downButton")->click();
        shown += u'|' + lineEdit(d, "pageBox")->text();
        for (const char* box : {"pageCountBox", "pageInfoBox", "recordCountBox"})
            EXPECT_TRUE(lineEdit(d, box)->isReadOnly());
        button(d, "cancelButton")->click();
    });
    EXPECT_EQ(shown, QStringLiteral("3|1000|4|1"));
    EXPECT_EQ(dlg.result(), QDialog::Rejected);

    const Outcome typed = accept(QStringLiteral("5"), QStringLiteral("30"));
    EXPECT_EQ(typed.rc, QDialog::Accepted);
    EXPECT_EQ(typed.pageIndex, 4);
    EXPECT_EQ(typed.pageLength, 30);
    EXPECT_EQ(accept(QStringLiteral("3"), QStringLiteral("0")).pageLength, 100);
    EXPECT_EQ(accept(QStringLiteral("3"), QStringLiteral("many")).pageLength, 100);
    EXPECT_EQ(accept(QStringLiteral("3"), QStringLiteral("-20")).pageLength, 100);
    EXPECT_EQ(accept(QStringLiteral("abc"), QStringLiteral("10")).pageIndex, 0);
    EXPECT_EQ(accept(QStringLiteral("-4"), QStringLiteral("10")).pageIndex, 0);
    EXPECT_EQ(accept(QString(), QStringLiteral("10")).pageIndex, 0);
}

class PageSettingTest : public ListViewFixture {
protected:
    void SetUp() override
    {
        ListViewFixture::SetUp();
        TestServer::run(*admin, QStringLiteral("DROP TABLE IF EXISTS lv_pages"));
        TestServer::run(*admin, QStringLiteral(
            "CREATE TABLE lv_pages AS SELECT g AS id FROM generate_series(1, 450) g"));
    }
    void TearDown() override { TestServer::run(*admin, QStringLiteral("DROP TABLE IF EXISTS lv_pages")); }
};

TEST_F(PageSettingTest, AcceptedBarShowsThePageAndSavesTheLength)
{
    Settings::setPageLength(1000);
    selectTable(QStringLiteral("lv_pages"));
    doc.pageIndex = 2;
    StatementLog log(*doc.connection());
    QString opened;
    onNextModal([&](QDialog& d) {
        opened = lineEdit(d, "pageBox")->text();
        lineEdit(d, "pageBox")->setText(QStringLiteral("5"));
        lineEdit(d, "pageLengthBox")->setText(QStringLiteral("0"));
        button(d, "okButton")->click();
    });
    view->runCommand(Cmd::PageSetting);
    EXPECT_EQ(opened, QStringLiteral("3"));
    EXPECT_EQ(doc.pageIndex, 4);
    EXPECT_EQ(doc.pageLength, 100);
    EXPECT_EQ(QSettings().value(QStringLiteral("MarlowKestrel/PageLength")).toInt(), 100);
    EXPECT_EQ(log.statements(), QStringList{"select ctid,* from lv_pages Limit 100 OFFSET 400"});
    EXPECT_EQ(column(1).value(0), QStringLiteral("401"));
    EXPECT_EQ(rows(), 50);

    // Cancelled: nothing changes and nothing is written.
    onNextModal([](QDialog& d) {
        lineEdit(d, "pageLengthBox")->setText(QStringLiteral("7"));
        button(d, "cancelButton")->click();
    });
    view->runCommand(Cmd::PageSetting);
    EXPECT_EQ(doc.pageLength, 100);
    EXPECT_EQ(Settings::pageLength(), 100);
    EXPECT_EQ(log.statements().size(), 1);

    // Not while a catalogue relation is shown: no bar opens.
    select(2, QStringLiteral("pg_am"), kCatalogueNode);
    log.clear();
    bool barOpened = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
        if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            barOpened = true;
            d->reject();
        }
    });
    guard.start(200);
    view->runCommand(Cmd::PageSetting);
    EXPECT_FALSE(barOpened);
    EXPECT_TRUE(log.statements().isEmpty());
}

}  // namespace
