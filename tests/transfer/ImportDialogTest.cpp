#include "ImportFixture.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QRegularExpression>
#include <QTest>

#include "support/DialogDriver.h"
#include "transfer/CCsvImportDlg.h"
#include "workspace/TableRowCounter.h"
#include "workspace/TextCodec.h"

namespace {

class ImportDialog : public ImportFixture {
protected:
    void SetUp() override
    {
        ImportFixture::SetUp();
        if (HasFatalFailure()) return;
        dlg = std::make_unique<CCsvImportDlg>(*conn);
    }
    void TearDown() override
    {
        dlg.reset();
        ImportFixture::TearDown();
    }
    template <class T> T* child(const char* name) { return control<T>(*dlg, name); }
    QLineEdit* edit(const char* name) { return child<QLineEdit>(name); }
    QCheckBox* check(const char* name) { return child<QCheckBox>(name); }
    QTableWidget* list(const char* name) { return child<QTableWidget>(name); }
    QStringList rowTexts(const char* name) { return ::rowTexts(list(name)); }
    QStringList headings(const char* name)
    {
        QStringList out;
        QTableWidget* t = list(name);
        for (int c = 0; c < t->columnCount(); ++c) out << t->horizontalHeaderItem(c)->text();
        return out;
    }
    bool runAndWait()
    {
        QSignalSpy finished(dlg.get(), &CCsvImportDlg::runFinished);
        child<QAbstractButton>("okButton")->click();
        if (finished.isEmpty()) EXPECT_TRUE(finished.wait(60000));
        return !finished.isEmpty() && finished.first().first().toBool();
    }

    // 300,000 lines into the new table imp_new: a run that lasts long enough to be stopped.
    void chooseALongFileForANewTable()
    {
        QByteArray file;
        file.reserve(4 << 20);
        for (int i = 0; i < 300000; ++i) file += QByteArray::number(i) + ",n\n";
        dlg->chooseFile(write(QStringLiteral("s.csv"), file));
        check("createCheck")->click();
        edit("tableNameBox")->setText(QStringLiteral("imp_new"));
    }

    std::unique_ptr<CCsvImportDlg> dlg;
};

class ImportRunThread : public ImportDialog {};

}  // namespace

TEST_F(ImportDialog, OpensEmptyAndDetectsTheFormatFromTheFirstLine)
{
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("CSVのインポート"));
    for (const char* r : {"delimiterDefaultRadio", "delimiterUserRadio", "quoteDefaultRadio", "quoteUserRadio"})
        EXPECT_FALSE(child<QRadioButton>(r)->isChecked()) << r;
    EXPECT_EQ(child<QComboBox>("delimiterList")->currentIndex(), -1);
    EXPECT_FALSE(child<QAbstractButton>("stopButton")->isEnabled());
    EXPECT_FALSE(child<QAbstractButton>("autoSetButton")->isEnabled());
    EXPECT_EQ(headings("fieldList"), (QStringList{"フィールド", "データ型", "サイズ", "NOT NULL", "ﾃﾞﾌｫﾙﾄ値", "配列",
                                                  "散布統計値", "Cache", "手順", "直値"}));
    EXPECT_EQ(list("fieldList")->rowCount(), 0);

    dlg->chooseFile(write(QStringLiteral("tab.csv"), "\"a\"\t\"b\"\n"));
    EXPECT_TRUE(child<QRadioButton>("delimiterDefaultRadio")->isChecked());
    EXPECT_EQ(child<QComboBox>("delimiterList")->currentText(), QStringLiteral("タブ"));
    EXPECT_EQ(child<QComboBox>("quoteList")->currentText(), QStringLiteral("ダブル"));
    EXPECT_EQ(dlg->delimiter(), QStringLiteral("\t"));
    EXPECT_EQ(rowTexts("previewList"), (QStringList{"a|b"}));

    dlg->chooseFile(write(QStringLiteral("both.csv"), "a,b\t'c'\n"));
    EXPECT_EQ(child<QComboBox>("delimiterList")->currentText(), QStringLiteral("カンマ"));
    EXPECT_EQ(child<QComboBox>("quoteList")->currentText(), QStringLiteral("シングル"));

    child<QRadioButton>("delimiterUserRadio")->setChecked(true);
    edit("delimiterBox")->setText(QStringLiteral("||"));
    dlg->chooseFile(write(QStringLiteral("none.csv"), "x||y\n"));
    EXPECT_TRUE(child<QRadioButton>("delimiterUserRadio")->isChecked());
    EXPECT_EQ(rowTexts("previewList"), (QStringList{"x|y"}));
}

TEST_F(ImportDialog, PreviewAndFieldSettingsFromTheFile)
{
    QByteArray file;
    for (int i = 0; i < 1000; ++i) file += "h" + QByteArray::number(i) + ",2,3\n";
    check("createCheck")->click();
    dlg->chooseFile(write(QStringLiteral("big.csv"), file));
    EXPECT_EQ(list("previewList")->rowCount(), 300);
    EXPECT_EQ(headings("previewList"), (QStringList{"Col01", "Col02", "Col03"}));
    const QString fieldRow = QStringLiteral("|text||NULL|-|-|-|-|-|-");
    EXPECT_EQ(rowTexts("fieldList"), (QStringList{"Col01" + fieldRow, "Col02" + fieldRow, "Col03" + fieldRow}));
    check("headerCheck")->click();
    EXPECT_EQ(list("previewList")->rowCount(), 299);
    EXPECT_EQ(headings("previewList"), (QStringList{"h0", "2", "3"}));
    EXPECT_EQ(rowTexts("previewList").first(), QStringLiteral("h1|2|3"));
    EXPECT_EQ(rowTexts("fieldList").first(), "h0" + fieldRow);
}

TEST_F(ImportDialog, TheTableCheckFindsTablesAsTheServerWould)
{
    TestServer::run(*admin, QStringLiteral("CREATE TABLE imp_t (id int NOT NULL, name varchar(10))"));
    TestServer::run(*admin, QStringLiteral("INSERT INTO imp_t VALUES (1,'a'),(2,'b'),(3,'c')"));
    TestServer::run(*admin, QStringLiteral("CREATE SCHEMA imp_s"));
    TestServer::run(*admin, QStringLiteral("CREATE TABLE imp_s.imp_t (z int)"));
    dlg->chooseFile(write(QStringLiteral("f.csv"), "a,b,c\n"));
    check("createCheck")->click();
    // Typed: folded and found by the search path, even while the create flag is on.
    edit("tableNameBox")->setText(QStringLiteral("IMP_T"));
    EXPECT_EQ(countShown(*dlg), QStringLiteral("3"));
    EXPECT_EQ(rowTexts("fieldList").value(0).section(u'|', 0, 3), QStringLiteral("id|integer|4|NOT NULL"));
    EXPECT_EQ(rowTexts("fieldList").value(1).section(u'|', 0, 3), QStringLiteral("name|character varying(10)|可変長|NULL"));
    // A missing table: the list is rebuilt from the file (create flag on).
    edit("tableNameBox")->setText(QStringLiteral("imp_missing"));
    EXPECT_EQ(rowTexts("fieldList").size(), 3);
    EXPECT_EQ(rowTexts("fieldList").value(0).section(u'|', 0, 0), QStringLiteral("Col01"));
    // The chooser's table outside the search path is addressed by its schema.
    dlg->setTableObjectChooser([] { return std::optional<ObjectName>(ObjectName{"imp_s", "imp_t", false}); });
    child<QAbstractButton>("tableBrowseButton")->click();
    EXPECT_EQ(edit("tableNameBox")->text(), QStringLiteral("imp_s.imp_t"));
    EXPECT_EQ(countShown(*dlg), QStringLiteral("0"));
    EXPECT_EQ(rowTexts("fieldList").value(0).section(u'|', 0, 1), QStringLiteral("z|integer"));
    dlg->setTableObjectChooser({});
    dlg->setTableChooser([] { return std::optional<QString>(QStringLiteral("imp_t")); });
    child<QAbstractButton>("tableBrowseButton")->click();
    EXPECT_EQ(countShown(*dlg), QStringLiteral("3"));
}

TEST_F(ImportDialog, TheFieldListShowsDefaultsAsEveryDefaultIsShown)
{
    TestServer::run(*admin, QStringLiteral(
        "CREATE TABLE imp_t (a text DEFAULT 'O''Brien', b timestamp DEFAULT now(), c int DEFAULT 0, "
        "d varchar(5) DEFAULT 'x', e date DEFAULT CURRENT_DATE, f text)"));
    edit("tableNameBox")->setText(QStringLiteral("imp_t"));
    QStringList defaults;
    for (const QString& row : rowTexts("fieldList")) defaults << row.section(u'|', 4, 4);
    EXPECT_EQ(defaults, (QStringList{"'O''Brien'", "now()", "0", "'x'", "CURRENT_DATE", ""}));
}

TEST_F(ImportRunThread, ImportsIntoANewTableThenAnEmptyFileSaysSo)
{
    dlg->chooseFile(write(QStringLiteral("n.csv"), "\"Id\",Name\n1,a\n2,\"b,c\"\nx,\"O'Brien\"\n"));
    check("headerCheck")->click();
    check("createCheck")->click();
    edit("tableNameBox")->setText(QStringLiteral("imp_new"));
    EXPECT_EQ(rowTexts("fieldList").value(1).section(u'|', 0, 1), QStringLiteral("Name|text"));
    ASSERT_TRUE(runAndWait());
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'/').toStdString();
    EXPECT_EQ(edit("executedBox")->text(), QStringLiteral("3"));
    EXPECT_EQ(edit("errorBox")->text(), QStringLiteral("0"));
    EXPECT_EQ(value(QStringLiteral("select string_agg(id || name, '/' order by id) from imp_new")),
              QStringLiteral("1a/2b,c/xO'Brien"));
    EXPECT_TRUE(child<QAbstractButton>("okButton")->isEnabled());
    EXPECT_FALSE(child<QAbstractButton>("stopButton")->isEnabled());
    EXPECT_TRUE(QFile::exists(path(QStringLiteral("ImportError.log"))));

    // Into the existing table (its columns from the server), from an empty file.
    check("createCheck")->click();
    edit("tableNameBox")->setText(QStringLiteral("imp_new"));
    EXPECT_EQ(rowTexts("fieldList").value(0).section(u'|', 0, 0), QStringLiteral("id"));
    dlg->chooseFile(write(QStringLiteral("empty.csv"), ""));
    ASSERT_TRUE(runAndWait());
    EXPECT_EQ(prompts.messages(), (QStringList{kEmptyFileMessage}));
    EXPECT_EQ(edit("executedBox")->text(), QStringLiteral("0"));
    EXPECT_EQ(edit("errorBox")->text(), QStringLiteral("0"));
    EXPECT_EQ(value(QStringLiteral("select count(*) from imp_new")), QStringLiteral("3"));
}

TEST_F(ImportRunThread, QuotedFieldsAfterAFirstLineWithoutQuotesReadAsEveryCsvReaderReadsThem)
{
    TestServer::run(*admin, QStringLiteral("CREATE TABLE imp_t (id int, v text)"));
    struct Case {
        QByteArray field;
        QString value;
    };
    const Case cases[] = {
        {"plain", QStringLiteral("plain")},
        {"\"Anytown, WW\"", QStringLiteral("Anytown, WW")},
        {"\"say \"\"hi\"\"\"", QStringLiteral("say \"hi\"")},
        {"\"two\nlines\"", QStringLiteral("two\nlines")},
        {"\"cr\r\nlf\r\n\"", QStringLiteral("cr\r\nlf\r\n")},
        {"\"\"", QString()},
        {"\"{\"\"a\"\": [1, \"\"x,y\"\"], \"\"b\"\": null}\"", QStringLiteral("{\"a\": [1, \"x,y\"], \"b\": null}")},
        {"\"a \"\"\"\"\"", QStringLiteral("a \"\"")},
    };
    QByteArray file;
    QStringList expected;
    int id = 0;
    for (const Case& c : cases) {
        file += QByteArray::number(++id) + ',' + c.field + "\r\n";
        expected << QString::number(id) + u'=' + c.value;
    }
    edit("tableNameBox")->setText(QStringLiteral("imp_t"));
    dlg->chooseFile(write(QStringLiteral("rfc.csv"), file));
    // Line 1 holds no quote: no quote radio is on, and the double quote is read all the same.
    EXPECT_FALSE(child<QRadioButton>("quoteDefaultRadio")->isChecked());
    EXPECT_FALSE(child<QRadioButton>("quoteUserRadio")->isChecked());
    EXPECT_EQ(rowTexts("previewList").value(1), QStringLiteral("2|Anytown, WW"));
    EXPECT_EQ(list("previewList")->item(4, 1)->text(), QStringLiteral("cr\r\nlf\r\n"));
    ASSERT_TRUE(runAndWait());
    EXPECT_EQ(edit("errorBox")->text(), QStringLiteral("0"));
    EXPECT_EQ(edit("executedBox")->text(), QString::number(id));
    EXPECT_EQ(value(QStringLiteral("select string_agg(id || '=' || v, '/' order by id) from imp_t")),
              expected.join(u'/'));
    // The record count follows the run.
    EXPECT_EQ(countShown(*dlg), QString::number(id));
}

TEST_F(ImportRunThread, StopRollsBackEverythingIncludingTheCreatedTable)
{
    chooseALongFileForANewTable();
    QSignalSpy finished(dlg.get(), &CCsvImportDlg::runFinished);
    child<QAbstractButton>("okButton")->click();
    EXPECT_TRUE(child<QAbstractButton>("stopButton")->isEnabled());
    EXPECT_FALSE(child<QAbstractButton>("cancelButton")->isEnabled());
    dlg->reject();  // ignored while the run lives
    child<QAbstractButton>("stopButton")->click();
    ASSERT_TRUE(finished.wait(60000));
    EXPECT_FALSE(finished.first().first().toBool());
    // Said once the ROLLBACK went; no count stays on show as if something had been kept.
    ASSERT_EQ(prompts.messages().size(), 1) << prompts.messages().join(u'/').toStdString();
    const QString said = prompts.messages()[0];
    EXPECT_TRUE(said.startsWith(kStoppedFormat.section(QStringLiteral("%1"), 0, 0))) << said.toStdString();
    EXPECT_TRUE(said.endsWith(kStoppedFormat.section(QStringLiteral("%1"), 1))) << said.toStdString();
    EXPECT_TRUE(edit("executedBox")->text().isEmpty());
    EXPECT_TRUE(edit("errorBox")->text().isEmpty());
    EXPECT_EQ(value(QStringLiteral("select count(*) from pg_class where relname = 'imp_new'")), QStringLiteral("0"));
    EXPECT_TRUE(child<QAbstractButton>("okButton")->isEnabled());
}

TEST_F(ImportRunThread, ADialogClosedDuringARunLeavesNoTransactionForTheNextCommit)
{
    chooseALongFileForANewTable();
    child<QAbstractButton>("okButton")->click();
    ASSERT_TRUE(child<QAbstractButton>("stopButton")->isEnabled());
    dlg.reset();
    // The session's next COMMIT has nothing of the run to commit.
    TestServer::run(*conn, QStringLiteral("COMMIT"));
    EXPECT_EQ(value(QStringLiteral("select count(*) from pg_class where relname = 'imp_new'")), QStringLiteral("0"));
}

// A stray quote costs its line alone, in the preview as in the run: the rows the preview shows
// unmarked are the rows stored, the marked one is the error logged with its line.
TEST_F(ImportRunThread, APreviewAndARunAgreeOnAQuoteThatNeverCloses)
{
    TestServer::run(*admin, QStringLiteral("CREATE TABLE imp_t (a text, b text)"));
    const std::pair<QByteArray, QStringList> cases[] = {  // the file; its rows, the refused one marked "!"
        {"1,ok\r\n2,\"unterminated\r\n3,after\r\n4,more\r\n", {"1|ok", "!2|\"unterminated", "3|after", "4|more"}},
        {"1,ok\r\n2,ok\r\n\"3,open\r\n", {"1|ok", "2|ok", "!\"3,open|"}},
        {"1,ok\r\n2,\"open", {"1|ok", "!2|\"open"}},
    };
    edit("tableNameBox")->setText(QStringLiteral("imp_t"));
    for (const auto& [file, rows] : cases) {
        TestServer::run(*admin, QStringLiteral("TRUNCATE imp_t"));
        dlg->chooseFile(write(QStringLiteral("open.csv"), file));
        QStringList shown = rowTexts("previewList"), kept;
        for (int r = 0; r < shown.size(); ++r) {
            const QString why = list("previewList")->item(r, 0)->toolTip();
            if (why.isEmpty()) kept << shown[r];
            else shown[r] = u'!' + shown[r];
        }
        EXPECT_EQ(shown, rows);
        const int line = int(rows.indexOf(QRegularExpression("!.*"))) + 1;
        const QString why = QStringLiteral("%1 行目で開いた引用符がファイルの終わりまで閉じられていません").arg(line);
        EXPECT_EQ(list("previewList")->item(line - 1, 0)->toolTip(), why);
        ASSERT_TRUE(runAndWait());
        EXPECT_EQ(edit("errorBox")->text(), QStringLiteral("1"));
        EXPECT_EQ(edit("executedBox")->text(), QString::number(rows.size()));
        EXPECT_EQ(value(QStringLiteral("select string_agg(a || '|' || b, '/' order by ctid) from imp_t")), kept.join(u'/'));
        EXPECT_TRUE(Cp932::decode(readLog()).endsWith(QStringLiteral(" Error:") + why + QStringLiteral("\r\n\r\n")));
    }
}
