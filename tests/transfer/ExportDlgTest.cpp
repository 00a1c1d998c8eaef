#include <QDir>
#include <QFileInfo>

#include "ExportFixture.h"
#include "transfer/CsvReader.h"
#include "workspace/TextCodec.h"

namespace {

// Reads an exported file back through the import's reader (comma, double quote): rows of
// values.
QList<QStringList> readCsv(const QByteArray& cp932)
{
    QList<QStringList> rows;
    for (const CsvRecord& rec : ReadCsvRecords(cp932, CsvFormat::from(QStringLiteral(","),
                                                                       QStringLiteral("\"")))) {
        QStringList row;
        for (int i = 0; i < rec.fieldCount(); ++i) row << rec.text(i);
        rows << row;
    }
    return rows;
}

// The sample box shows the lines of the sample buffer; its CR LF line ends read back as LF.
QString shown(QString text) { return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")); }

}  // namespace

class ExportDlgTest : public ExportFixture {
protected:
    void cleanUp() override
    {
        TestServer::run(*admin, QStringLiteral(
            "drop table if exists kexp_items, kexp_nulls, kexp_empty, kexp_many, kexp_dc, kexp_quotes, "
            "kexp_wave, kexp_same, kexp_q, kexp_into; drop sequence if exists kexp_seq; "
            "drop schema if exists kexp_s2, kexp_s3 cascade"));
    }
};

TEST_F(ExportDlgTest, OpensInItsStateAndSamplesOnEveryEvent)
{
    run(QStringLiteral("create table kexp_items (id int, name text); insert into kexp_items values (1, 'abc')"));
    CCsvExportDlg dlg(conn(), table(QStringLiteral("kexp_items")));
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("CSV形式ファイルの出力"));
    EXPECT_EQ(lineEdit(dlg, "tableNameEdit")->text(), QStringLiteral("kexp_items"));
    EXPECT_TRUE(lineEdit(dlg, "tableNameEdit")->isReadOnly());
    EXPECT_TRUE(control<QRadioButton>(dlg, "delimiterDefaultRadio")->isChecked());
    EXPECT_TRUE(control<QRadioButton>(dlg, "quoteDefaultRadio")->isChecked());
    EXPECT_EQ(control<QComboBox>(dlg, "delimiterList")->currentText(), QStringLiteral("カンマ"));
    EXPECT_EQ(control<QComboBox>(dlg, "quoteList")->currentText(), QStringLiteral("ダブル"));
    EXPECT_EQ(control<QComboBox>(dlg, "quoteList")->itemText(1), QStringLiteral("シングル"));
    EXPECT_FALSE(control<QCheckBox>(dlg, "headerCheck")->isChecked());
    EXPECT_TRUE(lineEdit(dlg, "delimiterUserEdit")->text().isEmpty());
    EXPECT_TRUE(sample(dlg).isEmpty());
    EXPECT_FALSE(button(dlg, "launchButton")->isEnabled());

    // Every listed event rebuilds the sample; the table's ten-row statement is sent once, at
    // the first, and later events render the rows it read.
    StatementLog sent(conn());
    control<QRadioButton>(dlg, "delimiterDefaultRadio")->click();
    EXPECT_EQ(sample(dlg), shown(QStringLiteral("\"1\",\"abc\"\r\n")));
    control<QComboBox>(dlg, "quoteList")->setCurrentIndex(1);
    EXPECT_EQ(sample(dlg), shown(QStringLiteral("'1','abc'\r\n")));
    control<QComboBox>(dlg, "delimiterList")->setCurrentIndex(1);
    header(dlg, true);
    EXPECT_EQ(sample(dlg), shown(QStringLiteral("'id'\t'name'\r\n'1'\t'abc'\r\n")));
    lineEdit(dlg, "quoteUserEdit")->setText(QStringLiteral("#"));  // edit while default: refreshed
    control<QRadioButton>(dlg, "quoteUserRadio")->click();
    EXPECT_EQ(sample(dlg), shown(QStringLiteral("#id#\t#name#\r\n#1#\t#abc#\r\n")));
    EXPECT_EQ(sent.statements().size(), 1);
    for (const QString& s : sent.statements())
        EXPECT_EQ(s, QStringLiteral("select * from public.kexp_items Limit 10"));

    CCsvExportDlg sqlDlg(conn(), QStringLiteral("select 1 as x"));
    EXPECT_EQ(lineEdit(sqlDlg, "tableNameEdit")->text(), QStringLiteral("SQL文モード"));
}

TEST_F(ExportDlgTest, WritesTheExactBytesOfEachSetting)
{
    run(QStringLiteral("create table kexp_items (id int, name text); insert into kexp_items values (1, 'abc')"));
    CCsvExportDlg dlg(conn(), table(QStringLiteral("kexp_items")));
    const QString file = path(QStringLiteral("items.csv"));

    header(dlg, true);
    ASSERT_TRUE(exportTo(dlg, file));
    EXPECT_EQ(readFile(file), QByteArray("\"id\",\"name\"\r\n\"1\",\"abc\"\r\n"));
    EXPECT_EQ(sample(dlg), shown(QStringLiteral("出力完了")));
    EXPECT_EQ(prompts.messages(), QStringList{QStringLiteral("出力が完了しました")});
    EXPECT_TRUE(button(dlg, "launchButton")->isEnabled());

    header(dlg, false);
    quote(dlg, 1);
    delimiter(dlg, 1);
    ASSERT_TRUE(exportTo(dlg, file));
    EXPECT_EQ(readFile(file), QByteArray("'1'\t'abc'\r\n"));

    quote(dlg, 0);
    delimiter(dlg, QStringLiteral("||"));
    ASSERT_TRUE(exportTo(dlg, file));
    EXPECT_EQ(readFile(file), QByteArray("\"1\"||\"abc\"\r\n"));

    delimiter(dlg, 0);
    quote(dlg, QStringLiteral("#"));
    ASSERT_TRUE(exportTo(dlg, file));
    EXPECT_EQ(readFile(file), QByteArray("#1#,#abc#\r\n"));
    EXPECT_TRUE(button(dlg, "launchButton")->isEnabled());
}

TEST_F(ExportDlgTest, NullsEmptiesZeroRowsAndTheTenRowSample)
{
    run(QStringLiteral(
        "create table kexp_nulls (a text, b text); insert into kexp_nulls values (null, '');"
        "create table kexp_empty (id int, name text);"
        "create table kexp_many as select g as id from generate_series(1, 25) g"));
    CCsvExportDlg nulls(conn(), table(QStringLiteral("kexp_nulls")));
    ASSERT_TRUE(exportTo(nulls, path(QStringLiteral("n.csv"))));
    EXPECT_EQ(readFile(path(QStringLiteral("n.csv"))), QByteArray("\"\",\"\"\r\n"));

    CCsvExportDlg empty(conn(), table(QStringLiteral("kexp_empty")));
    header(empty, true);
    ASSERT_TRUE(exportTo(empty, path(QStringLiteral("h.csv"))));
    EXPECT_EQ(readFile(path(QStringLiteral("h.csv"))), QByteArray("\"id\",\"name\"\r\n"));
    header(empty, false);
    ASSERT_TRUE(exportTo(empty, path(QStringLiteral("z.csv"))));
    EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("z.csv"))));
    EXPECT_EQ(readFile(path(QStringLiteral("z.csv"))).size(), 0);

    CCsvExportDlg many(conn(), table(QStringLiteral("kexp_many")));
    control<QRadioButton>(many, "delimiterDefaultRadio")->click();
    EXPECT_EQ(sample(many).count(u'\n'), 10);
    ASSERT_TRUE(exportTo(many, path(QStringLiteral("m.csv"))));
    const QByteArray all = readFile(path(QStringLiteral("m.csv")));
    EXPECT_EQ(all.count("\r\n"), 25);
    EXPECT_TRUE(all.endsWith("\"25\"\r\n"));

    // SQL mode samples at most ten rows of a large result as well.
    CCsvExportDlg big(conn(), QStringLiteral("select g from generate_series(1, 200000) g"));
    header(big, true);
    EXPECT_EQ(sample(big).count(u'\n'), 11);
    EXPECT_TRUE(sample(big).endsWith(QStringLiteral("\"10\"\n")));
}

TEST_F(ExportDlgTest, SqlModeSampleNeverChangesDataAndTheExportRunsItOnce)
{
    run(QStringLiteral("create table kexp_dc (id int); insert into kexp_dc select generate_series(1, 3)"));
    auto count = [this] {
        return TestServer::value(conn(), QStringLiteral("select count(*) as n from kexp_dc"));
    };
    for (const QString& sql : {QStringLiteral("delete from kexp_dc"),
                               QStringLiteral("select 1; delete from kexp_dc"),
                               QStringLiteral("with d as (delete from kexp_dc returning id) select * from d"),
                               QStringLiteral("select 1 as x; commit; delete from kexp_dc")}) {
        CCsvExportDlg dlg(conn(), sql);
        StatementLog sent(conn());
        control<QRadioButton>(dlg, "delimiterUserRadio")->click();
        control<QRadioButton>(dlg, "delimiterDefaultRadio")->click();
        header(dlg, true);
        ASSERT_EQ(sent.statements().size(), 3) << sql.toStdString();
        EXPECT_EQ(sent.statements().first(), QStringLiteral("BEGIN TRANSACTION READ ONLY"));
        EXPECT_EQ(sent.statements().last(), QStringLiteral("ROLLBACK"));
        EXPECT_EQ(count(), QStringLiteral("3")) << sql.toStdString();
    }
    CCsvExportDlg dlg(conn(), QStringLiteral("delete from kexp_dc where id = 1"));
    header(dlg, true);
    EXPECT_TRUE(sample(dlg).isEmpty());
    EXPECT_TRUE(doc.pendingNoticesText().contains(QStringLiteral("read-only")))
        << doc.pendingNoticesText().toStdString();
    ASSERT_TRUE(exportTo(dlg, path(QStringLiteral("dc.csv"))));
    EXPECT_EQ(readFile(path(QStringLiteral("dc.csv"))).size(), 0);
    EXPECT_EQ(count(), QStringLiteral("2"));

    // Inside a transaction the operator left open, the sample neither changes data nor ends it.
    run(QStringLiteral("BEGIN"));
    run(QStringLiteral("insert into kexp_dc values (9)"));
    for (const QString& sql : {QStringLiteral("delete from kexp_dc"), QStringLiteral("commit"),
                               QStringLiteral("select id from kexp_dc where id = 9")}) {
        CCsvExportDlg open(conn(), sql);
        control<QRadioButton>(open, "quoteDefaultRadio")->click();
        if (sql.startsWith(u's'))
            EXPECT_EQ(sample(open), shown(QStringLiteral("\"9\"\r\n")));
        else
            EXPECT_TRUE(sample(open).isEmpty()) << sql.toStdString();
        EXPECT_TRUE(conn().inTransaction()) << sql.toStdString();
    }
    EXPECT_EQ(count(), QStringLiteral("3"));
    run(QStringLiteral("ROLLBACK"));
    EXPECT_EQ(count(), QStringLiteral("2"));

    // A query samples through the cursor and exports all its rows.
    CCsvExportDlg query(conn(), QStringLiteral("select id from kexp_dc order by id;"));
    control<QRadioButton>(query, "quoteDefaultRadio")->click();
    EXPECT_EQ(sample(query), shown(QStringLiteral("\"2\"\r\n\"3\"\r\n")));
    ASSERT_TRUE(exportTo(query, path(QStringLiteral("q.csv"))));
    EXPECT_EQ(readFile(path(QStringLiteral("q.csv"))), QByteArray("\"2\"\r\n\"3\"\r\n"));

    // A text of several statements is refused as the sample refuses it: no file, nothing run.
    for (const QString& sql : {QStringLiteral("select 1 as a; select 2 as b"),
                               QStringLiteral("select 1 as a; delete from kexp_dc")}) {
        prompts.clear();
        CCsvExportDlg several(conn(), sql);
        EXPECT_FALSE(exportTo(several, path(QStringLiteral("several.csv")))) << sql.toStdString();
        EXPECT_EQ(prompts.messages().size(), 1);
        EXPECT_TRUE(prompts.messages().value(0).contains(QStringLiteral("multiple commands")))
            << prompts.messages().join(u'/').toStdString();
        EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("several.csv"))));
        EXPECT_EQ(count(), QStringLiteral("2"));
    }
}

TEST_F(ExportDlgTest, LaunchOpensTheFileNamedNowAndSaysWhenItFails)
{
    QStringList opened;
    bool succeed = true;
    CCsvExportDlg::setDocumentOpener([&](const QString& f) {
        opened << f;
        return succeed;
    });
    CCsvExportDlg dlg(conn(), QStringLiteral("select 1 as x"));
    ASSERT_TRUE(exportTo(dlg, path(QStringLiteral("first.csv"))));
    const QString edited = path(QStringLiteral("edited.csv"));
    lineEdit(dlg, "fileNameEdit")->setText(edited);
    button(dlg, "launchButton")->click();
    EXPECT_EQ(opened, QStringList{edited});
    prompts.clear();
    succeed = false;
    lineEdit(dlg, "fileNameEdit")->setText(QStringLiteral("missing.csv"));
    button(dlg, "launchButton")->click();
    EXPECT_EQ(prompts.messages(),
              QStringList{QStringLiteral("プログラムの実行に失敗しました。\n\nFile = missing.csv")});
    CCsvExportDlg::setDocumentOpener(nullptr);
}

TEST_F(ExportDlgTest, ValuesWithQuotesDelimitersAndLineEndsReadBackIntact)
{
    run(QStringLiteral("create table kexp_quotes (id int, v text)"));
    const QStringList values{QStringLiteral("a\"b"), QStringLiteral("\"\""), QStringLiteral("x,y"),
                             QStringLiteral("line1\nline2"), QStringLiteral("it's 名前"),
                             QStringLiteral("")};
    for (int i = 0; i < values.size(); ++i)
        run(QStringLiteral("insert into kexp_quotes values (%1, '%2')")
                .arg(i).arg(conn().escapeValue(values[i])));
    CCsvExportDlg dlg(conn(), QStringLiteral("select v from kexp_quotes order by id"));
    header(dlg, true);
    ASSERT_TRUE(exportTo(dlg, path(QStringLiteral("q.csv"))));
    const QList<QStringList> rows = readCsv(readFile(path(QStringLiteral("q.csv"))));
    ASSERT_EQ(rows.size(), values.size() + 1);
    EXPECT_EQ(rows[0], QStringList{QStringLiteral("v")});
    // A line feed inside a value is CR LF in the file, and the reader gives it back as the
    // line feed it was.
    for (int i = 0; i < values.size(); ++i) EXPECT_EQ(rows[i + 1], QStringList{values[i]}) << i;
}

TEST_F(ExportDlgTest, FailuresAreReportedNeverTakenForCompletion)
{
    CCsvExportDlg missing(conn(), QStringLiteral("select * from kexp_missing"));
    header(missing, true);
    EXPECT_TRUE(sample(missing).contains(QStringLiteral("kexp_missing"))) << sample(missing).toStdString();
    const QString file = path(QStringLiteral("f.csv"));
    EXPECT_FALSE(exportTo(missing, file));
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages().first().contains(QStringLiteral("kexp_missing")));
    EXPECT_FALSE(QFileInfo::exists(file));
    EXPECT_FALSE(button(missing, "launchButton")->isEnabled());

    // Failing after thousands of rows were written: the partial file goes.
    prompts.clear();
    CCsvExportDlg late(conn(), QStringLiteral(
        "select case when g = 30000 then 1/0 else g end as v from generate_series(1, 40000) g"));
    EXPECT_FALSE(exportTo(late, file));
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages().first().contains(QStringLiteral("division by zero")));
    EXPECT_FALSE(QFileInfo::exists(file));

    // A file that cannot be created says why and which; nothing is sent.
    prompts.clear();
    const QString nowhere = path(QStringLiteral("no/such/dir/x.csv"));
    StatementLog sent(conn());
    EXPECT_FALSE(exportTo(late, nowhere));
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages().first().startsWith(
        QStringLiteral("ファイルを作成できませんでした。\n\nFile = ") + nowhere));
    EXPECT_TRUE(prompts.messages().first().contains(QStringLiteral("No such file")));
    EXPECT_TRUE(sent.statements().isEmpty());

    // The three checks come first and leave the file alone.
    prompts.clear();
    EXPECT_FALSE(exportTo(late, QString()));
    delimiter(late, QString());
    EXPECT_FALSE(exportTo(late, file));
    delimiter(late, 0);
    quote(late, QString());
    EXPECT_FALSE(exportTo(late, file));
    EXPECT_EQ(prompts.messages(),
              (QStringList{QStringLiteral("ファイル名を入力してください"),
                           QStringLiteral("フィールド区切り記号を設定してください。"),
                           QStringLiteral("クォート記号を設定してください。")}));
    EXPECT_FALSE(QFileInfo::exists(file));

    // A session the server ended is opened again by the sample's read, and the export then
    // runs on the new one.
    prompts.clear();
    CCsvExportDlg lost(conn(), QStringLiteral("select 1 as x"));
    TestServer::endSession(conn().backendPid());
    control<QRadioButton>(lost, "quoteDefaultRadio")->click();
    EXPECT_FALSE(sample(lost).isEmpty());
    EXPECT_TRUE(exportTo(lost, file));
    EXPECT_EQ(prompts.messages(), QStringList{QStringLiteral("出力が完了しました")});
}

TEST_F(ExportDlgTest, AValueCp932CannotHoldStopsNamingRowColumnAndCharacter)
{
    run(QStringLiteral("create table kexp_wave (id int, note text);"
                       "insert into kexp_wave values (1, '全角'), (2, 'wave 〜 dash'), (3, 'ok')"));
    CCsvExportDlg dlg(conn(), QStringLiteral("select id, note from kexp_wave order by id"));
    header(dlg, true);
    const QString message = sample(dlg);
    EXPECT_TRUE(message.contains(QStringLiteral("2件目"))) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("「note」")));
    EXPECT_TRUE(message.contains(QStringLiteral("〜")));
    EXPECT_TRUE(message.contains(QStringLiteral("U+301C")));

    const QString file = path(QStringLiteral("w.csv"));
    EXPECT_FALSE(exportTo(dlg, file));
    EXPECT_EQ(prompts.messages(), QStringList{message});
    EXPECT_FALSE(QFileInfo::exists(file));

    // The rows CP932 holds are written as CP932.
    run(QStringLiteral("delete from kexp_wave where id = 2"));
    ASSERT_TRUE(exportTo(dlg, file));
    EXPECT_EQ(readFile(file), *Cp932::encode(QStringLiteral("\"id\",\"note\"\r\n\"1\",\"全角\"\r\n\"3\",\"ok\"\r\n")));
}

TEST_F(ExportDlgTest, AFailedExportLeavesTheFileItWasToReplaceByteForByte)
{
    run(QStringLiteral("create table kexp_wave (id int, note text);"
                       "insert into kexp_wave select g, 'row ' || g from generate_series(1, 5000) g;"
                       "insert into kexp_wave values (5001, 'wave 〜 dash')"));
    const QString file = path(QStringLiteral("old.csv"));
    const QByteArray old = "\"kept\",\"as it was\"\r\n\x82\xa0";
    const QString failing[] = {
        QStringLiteral("select id, note from kexp_wave order by id"),  // CP932 cannot hold row 5001
        QStringLiteral("select id, 1 / (5000 - id) from kexp_wave order by id"),  // the server's error
    };
    for (const QString& sql : failing) {
        {
            QFile f(file);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(old);
        }
        CCsvExportDlg dlg(conn(), sql);
        EXPECT_FALSE(exportTo(dlg, file)) << sql.toStdString();
        EXPECT_EQ(readFile(file), old) << sql.toStdString();
        // No unfinished file remains beside it.
        EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("old.csv")});
    }
    // A success replaces it.
    CCsvExportDlg dlg(conn(), QStringLiteral("select id from kexp_wave where id = 1"));
    ASSERT_TRUE(exportTo(dlg, file));
    EXPECT_EQ(readFile(file), QByteArray("\"1\"\r\n"));
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("old.csv")});
}

TEST_F(ExportDlgTest, ExportsTheTableOfTheSchemaThatWasPicked)
{
    run(QStringLiteral(
        "create table kexp_same (v text); insert into kexp_same values ('public one');"
        "create schema kexp_s2; create table kexp_s2.kexp_same (v text);"
        "insert into kexp_s2.kexp_same values ('second one');"
        "create schema kexp_s3; create table kexp_s3.\"Only Here\" (v text);"
        "insert into kexp_s3.\"Only Here\" values ('hidden one')"));
    CCsvExportDlg second(conn(), table(QStringLiteral("kexp_same"), QStringLiteral("kexp_s2"), false));
    EXPECT_EQ(lineEdit(second, "tableNameEdit")->text(), QStringLiteral("kexp_s2.kexp_same"));
    control<QRadioButton>(second, "quoteDefaultRadio")->click();
    EXPECT_EQ(sample(second), shown(QStringLiteral("\"second one\"\r\n")));
    ASSERT_TRUE(exportTo(second, path(QStringLiteral("s2.csv"))));
    EXPECT_EQ(readFile(path(QStringLiteral("s2.csv"))), QByteArray("\"second one\"\r\n"));

    CCsvExportDlg hidden(conn(), table(QStringLiteral("Only Here"), QStringLiteral("kexp_s3"), false));
    ASSERT_TRUE(exportTo(hidden, path(QStringLiteral("s3.csv"))));
    EXPECT_EQ(readFile(path(QStringLiteral("s3.csv"))), QByteArray("\"hidden one\"\r\n"));
}

TEST_F(ExportDlgTest, ATableExportsTheSameBytesAsItsSelect)
{
    // A table's rows come as COPY data; every escape it uses must give back the select's value.
    run(QStringLiteral(
        "create table kexp_items (id int, v text, n numeric, d date);"
        "insert into kexp_items values (1, E'tab\\there', 1.5, '2024-02-29'),"
        "(2, E'back\\\\slash \\\\N', null, null), (3, E'cr\\rlf\\n\\\\n', 0, '1999-12-31'),"
        "(4, E'ctl\\b\\f\\v\\x01', -2, null), (5, '', null, null), (6, null, 3, null),"
        "(7, '\\N', 7, null), (8, '名前 \"quoted\", ''single''', 8, null)"));
    for (bool withHeader : {true, false}) {
        CCsvExportDlg byTable(conn(), table(QStringLiteral("kexp_items")));
        CCsvExportDlg bySql(conn(), QStringLiteral("select * from kexp_items"));
        header(byTable, withHeader);
        header(bySql, withHeader);
        StatementLog sent(conn());
        ASSERT_TRUE(exportTo(byTable, path(QStringLiteral("t.csv"))));
        EXPECT_TRUE(sent.statements().contains(QStringLiteral("COPY (select * from public.kexp_items) TO STDOUT")));
        // The statement's rows one result each (inside a transaction no COPY is tried), then
        // through COPY of the query.
        run(QStringLiteral("begin"));
        ASSERT_TRUE(exportTo(bySql, path(QStringLiteral("s.csv"))));
        run(QStringLiteral("rollback"));
        sent.clear();
        ASSERT_TRUE(exportTo(bySql, path(QStringLiteral("q.csv"))));
        EXPECT_TRUE(sent.statements().contains(QStringLiteral("COPY (\nselect * from kexp_items\n) TO STDOUT")));
        const QByteArray viaTable = readFile(path(QStringLiteral("t.csv")));
        EXPECT_EQ(viaTable, readFile(path(QStringLiteral("s.csv"))));
        EXPECT_EQ(viaTable, readFile(path(QStringLiteral("q.csv"))));
        // Row 3's line feed stays a line feed: only the line ends are CR LF.
        EXPECT_EQ(viaTable.count("\r\n"), 8 + (withHeader ? 1 : 0));
    }
    // A value CP932 cannot hold names its row and column in table mode as well.
    run(QStringLiteral("insert into kexp_items values (9, 'ok', 9, null), (10, '〜', 10, null)"));
    CCsvExportDlg dlg(conn(), table(QStringLiteral("kexp_items")));
    prompts.clear();
    EXPECT_FALSE(exportTo(dlg, path(QStringLiteral("w.csv"))));
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages().first().contains(QStringLiteral("件目のレコードの列「v」")));
    EXPECT_TRUE(prompts.messages().first().contains(QStringLiteral("U+301C")));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("w.csv"))));
}

TEST_F(ExportDlgTest, AQueryIsCopiedAndWhatCopyRefusesStillRunsOnce)
{
    run(QStringLiteral("create table kexp_q (id int); insert into kexp_q select generate_series(1, 3);"
                       "create sequence kexp_seq"));
    const auto exported = [this](const QString& sql) {
        CCsvExportDlg dlg(conn(), sql);
        header(dlg, true);
        prompts.clear();
        const bool done = exportTo(dlg, path(QStringLiteral("q.csv")));
        return done ? readFile(path(QStringLiteral("q.csv"))) : QByteArray("failed");
    };
    // A closing comment and semicolon stay out of the way of COPY's parenthesis.
    StatementLog sent(conn());
    EXPECT_EQ(exported(QStringLiteral("select id from kexp_q order by id -- the last words;\n;")),
              QByteArray("\"id\"\r\n\"1\"\r\n\"2\"\r\n\"3\"\r\n"));
    EXPECT_TRUE(sent.statements().last().startsWith(QStringLiteral("COPY (")));
    // A query with a side effect runs once.
    EXPECT_EQ(exported(QStringLiteral("select nextval('kexp_seq') as n")), QByteArray("\"n\"\r\n\"1\"\r\n"));
    EXPECT_EQ(TestServer::value(conn(), QStringLiteral("select last_value from kexp_seq")), QStringLiteral("1"));
    // COPY refuses SELECT INTO before running anything; the statement then runs once as typed,
    // and the refusal is nobody's business (the sample's own refusal is logged as ever).
    const QString before = doc.pendingNoticesText();
    EXPECT_EQ(exported(QStringLiteral("select id into kexp_into from kexp_q")), QByteArray());
    EXPECT_EQ(TestServer::value(conn(), QStringLiteral("select count(*) from kexp_into")), QStringLiteral("3"));
    EXPECT_FALSE(doc.pendingNoticesText().mid(before.size()).contains(QStringLiteral("COPY")))
        << doc.pendingNoticesText().toStdString();
    // A failure the plan finds is reported by the statement's own run.
    EXPECT_EQ(exported(QStringLiteral("select 1/0 as x")), QByteArray("failed"));
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages().first().contains(QStringLiteral("division by zero")))
        << prompts.messages().first().toStdString();
    // A query that fails once it runs, after a side effect the failure does not undo, is
    // reported and never run a second time by the other way.
    EXPECT_EQ(exported(QStringLiteral("select nextval('kexp_seq') as n from generate_series(1, 3) x "
                                      "where 10 / (x - 2) > -100")),
              QByteArray("failed"));
    EXPECT_TRUE(prompts.messages().value(0).contains(QStringLiteral("division by zero")));
    EXPECT_EQ(TestServer::value(conn(), QStringLiteral("select last_value from kexp_seq")), QStringLiteral("2"));
}

TEST_F(ExportDlgTest, ALongExportCountsItsRowsWithTheControlsLocked)
{
    run(QStringLiteral("create table kexp_many as select g as id, 'row ' || g as v "
                       "from generate_series(1, 500000) g"));
    CCsvExportDlg dlg(conn(), table(QStringLiteral("kexp_many")));
    dlg.show();
    QStringList texts;
    auto* box = control<QPlainTextEdit>(dlg, "sampleEdit");
    QObject::connect(box, &QPlainTextEdit::textChanged, [&] { texts << box->toPlainText(); });
    lineEdit(dlg, "fileNameEdit")->setText(path(QStringLiteral("long.csv")));
    QSignalSpy ended(&dlg, &CCsvExportDlg::exportFinished);
    button(dlg, "outputButton")->click();
    ASSERT_TRUE(dlg.exporting());
    EXPECT_EQ(box->toPlainText(), QStringLiteral("出力中・・・"));
    EXPECT_FALSE(button(dlg, "outputButton")->isEnabled());
    // "ｷｬﾝｾﾙ" stays enabled: it stops the export (ExportStopTest).
    EXPECT_TRUE(button(dlg, "cancelButton")->isEnabled());
    ASSERT_TRUE(ended.wait(120000));
    EXPECT_TRUE(ended.first().first().toBool());
    EXPECT_TRUE(button(dlg, "outputButton")->isEnabled());

    ASSERT_GE(texts.size(), 3);
    EXPECT_EQ(texts.first(), QStringLiteral("出力中・・・"));
    EXPECT_EQ(texts.last(), QStringLiteral("出力完了"));
    qint64 last = 0;
    for (qsizetype i = 1; i + 1 < texts.size(); ++i) {
        const QString& t = texts[i];
        ASSERT_TRUE(t.startsWith(QStringLiteral("出力中・・・ ")) && t.endsWith(u'行')) << t.toStdString();
        const qint64 n = t.mid(7, t.size() - 8).toLongLong();
        EXPECT_GT(n, last);
        EXPECT_LE(n, 500000);
        last = n;
    }
    EXPECT_EQ(readFile(path(QStringLiteral("long.csv"))).count("\r\n"), 500000);
}
