#include "ListViewFixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QSettings>
#include <QTimer>

#include "listview/CPageBarDlg.h"
#include "workspace/Settings.h"

namespace {

// The page and page length the bar returns after typing into its boxes and pressing OK.
QString accepted(const QString& page, const QString& length)
{
    CPageBarDlg dlg(2, 1000);
    const int rc = runModal(dlg, [&](QDialog& d) {
        lineEdit(d, "pageBox")->setText(page);
        lineEdit(d, "pageLengthBox")->setText(length);
        button(d, "okButton")->click();
    });
    return rc == QDialog::Accepted ? QStringLiteral("%1/%2").arg(dlg.pageIndex()).arg(dlg.pageLength())
                                   : QStringLiteral("rejected");
}

TEST(PageBar, ArrowsCountFromTheStoredPageAndOkReadsTheBoxes)
{
    CPageBarDlg dlg(2, 1000);
    QStringList shown;
    runModal(dlg, [&](QDialog& d) {
        QLineEdit* page = lineEdit(d, "pageBox");
        shown << page->text() << lineEdit(d, "pageLengthBox")->text();
        page->setText(QStringLiteral("40"));
        button(d, "upButton")->click();
        shown << page->text();
        for (int i = 0; i < 5; ++i) button(d, "downButton")->click();
        shown << page->text();
        button(d, "cancelButton")->click();
    });
    EXPECT_EQ(shown, (QStringList{"3", "1000", "4", "1"}));
    EXPECT_EQ(dlg.result(), QDialog::Rejected);

    EXPECT_EQ(accepted(QStringLiteral("5"), QStringLiteral("30")), QStringLiteral("4/30"));
    EXPECT_EQ(accepted(QStringLiteral("3"), QStringLiteral("0")), QStringLiteral("2/100"));
    EXPECT_EQ(accepted(QStringLiteral("3"), QStringLiteral("-20")), QStringLiteral("2/100"));
    EXPECT_EQ(accepted(QStringLiteral("abc"), QStringLiteral("many")), QStringLiteral("0/100"));
    EXPECT_EQ(accepted(QStringLiteral("-4"), QStringLiteral("10")), QStringLiteral("0/10"));
}

using PageSettingTest = ListViewFixture;

TEST_F(PageSettingTest, AcceptedBarShowsThePageAndSavesTheLength)
{
    TestServer::run(*admin, QStringLiteral("INSERT INTO \"LvRec\" SELECT g FROM generate_series(7, 450) g"));
    Settings::setPageLength(1000);
    select(3, QStringLiteral("LvRec"), kTablesFolder);
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
    EXPECT_EQ(log.statements(), QStringList{"select ctid,*,tableoid,xmin from \"LvRec\" Limit 100 OFFSET 400"});
    EXPECT_EQ(rows(), 50);

    onNextModal([](QDialog& d) {
        lineEdit(d, "pageLengthBox")->setText(QStringLiteral("7"));
        button(d, "cancelButton")->click();
    });
    view->runCommand(Cmd::PageSetting);
    EXPECT_EQ(Settings::pageLength(), 100);
    EXPECT_EQ(log.statements().size(), 1);

    // With a catalogue relation shown no bar opens (one that did would be closed here).
    select(2, QStringLiteral("pg_am"), kCatalogueNode);
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
}

}  // namespace
