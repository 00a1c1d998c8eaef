#include "ImportFixture.h"

#include <QRegularExpression>

#include "transfer/CsvImport.h"
#include "transfer/ImportLog.h"
#include "workspace/TextCodec.h"
#include "workspace/Transaction.h"

namespace {

class ImportRun : public ImportFixture {
protected:
    ImportSettings settings(const QString& file, const QString& table, QStringList columns)
    {
        ImportSettings s;
        s.fileName = file;
        s.table = {QString(), table, true};
        s.delimiter = QStringLiteral(",");
        s.quote = QStringLiteral("\"");
        for (const QString& c : columns) s.fields.push_back({c, QStringLiteral("text"), QString()});
        s.fieldNamesExact = true;
        s.logPath = path(QStringLiteral("ImportError.log"));
        return s;
    }
    QStringList logEntries() const
    {
        const QString log = QString::fromUtf8(readLog());
        QStringList out;
        static const QRegularExpression entry(QStringLiteral("Query:(.*?) Error:"));
        auto it = entry.globalMatch(log);
        while (it.hasNext()) out << it.next().captured(1);
        return out;
    }
    ImportRunState state;
};

}  // namespace

TEST_F(ImportRun, BadLinesAnywhereInABatchAreCountedOnceAndLoggedWithTheirInsert)
{
    TestServer::run(*admin, QStringLiteral("CREATE TABLE imp_t (id int PRIMARY KEY, name text)"));
    // 4000 lines. Bad: the first and the last of the first batch (1000 lines), two in a row
    // and a duplicate of an earlier line of the same batch after it, a run of 1000 bad lines
    // (whole batches), and the very last line.
    QByteArray file = "id,name\r\n";
    QStringList expectedBad;
    std::vector<int> bad;
    for (int line = 1; line <= 4000; ++line) {
        const bool allBad = line > 2000 && line <= 3000;
        const bool isBad = allBad || line == 1 || line == 1000 || line == 1500 || line == 1501 ||
                           line == 1700 || line == 4000;
        const QString id = line == 1700 ? QStringLiteral("1600") : isBad ? QStringLiteral("x%1").arg(line)
                                                                          : QString::number(line);
        const QString name = line == 7 ? QStringLiteral("O'Brien") : QStringLiteral("n%1").arg(line);
        file += QStringLiteral("\"%1\",\"%2\"\r\n").arg(id, name).toUtf8();
        if (isBad) {
            bad.push_back(line);
            expectedBad << QStringLiteral("INSERT INTO imp_t (id,name) VALUES('%1','%2')").arg(id, name);
        }
    }
    ImportSettings s = settings(write(QStringLiteral("t.csv"), file), QStringLiteral("imp_t"), {"id", "name"});
    s.header = true;
    StatementLog log(*conn);
    ASSERT_TRUE(RunImport(*conn, s, state));
    EXPECT_TRUE(prompts.messages().isEmpty()) << prompts.messages().join(u'/').toStdString();
    EXPECT_EQ(state.executed.load(), 4000);
    EXPECT_EQ(state.errors.load(), long(bad.size()));
    EXPECT_EQ(value(QStringLiteral("select count(*) from imp_t")), QString::number(4000 - bad.size()));
    EXPECT_EQ(value(QStringLiteral("select name from imp_t where id = 7")), QStringLiteral("O'Brien"));
    EXPECT_EQ(value(QStringLiteral("select name from imp_t where id = 1600")), QStringLiteral("n1600"));
    EXPECT_EQ(logEntries(), expectedBad);
    // COPY carried the good lines; an INSERT went only for each failed line.
    QStringList inserts = log.statements().filter(QRegularExpression("INSERT "));
    for (QString& s : inserts) s.remove(QRegularExpression("^.*SAVEPOINT b;"));
    EXPECT_EQ(inserts, expectedBad);
    EXPECT_FALSE(log.statements().filter(QRegularExpression("SAVEPOINT b;COPY imp_t \\(id,name\\) FROM STDIN$")).isEmpty());
    EXPECT_EQ(log.statements().first(), QStringLiteral("BEGIN"));
    EXPECT_EQ(log.statements().last(), QStringLiteral("COMMIT"));
    // Each entry carries the server's text, with CR LF line ends.
    EXPECT_TRUE(readLog().contains("invalid input syntax for"));
    EXPECT_TRUE(readLog().contains("duplicate key value violates unique constraint"));
    EXPECT_FALSE(readLog().replace("\r\n", "").contains('\n'));
}

TEST_F(ImportRun, ViewsTakeTheInsertOfEveryLineShortAndLongLinesAndApostrophes)
{
    TestServer::run(*admin, QStringLiteral("CREATE TABLE imp_t2 (a text, b text, c text)"));
    TestServer::run(*admin, QStringLiteral("CREATE VIEW imp_v AS SELECT a, b, c FROM imp_t2"));
    const QString f = write(QStringLiteral("v.csv"), "O'Brien,\"x,y\",\"1\n2\"\n"
                                                     "short\n"
                                                     "p,q,r,extra\n"
                                                     "'); DROP TABLE imp_t2; --,b,c");
    ImportSettings s = settings(f, QStringLiteral("imp_v"), {"a", "b", "c"});
    StatementLog log(*conn);
    ASSERT_TRUE(RunImport(*conn, s, state));
    EXPECT_EQ(state.executed.load(), 4);
    // A line with a field more than the table has columns is refused whole (line 4: the first
    // record holds two lines).
    EXPECT_EQ(state.errors.load(), 1);
    EXPECT_EQ(value(QStringLiteral("select string_agg(a || '|' || b || '|' || c, '/' order by ctid) from imp_t2")),
              QStringLiteral("O'Brien|x,y|1\n2/short||/'); DROP TABLE imp_t2; --|b|c"));
    EXPECT_TRUE(log.statements().filter(QStringLiteral("COPY")).isEmpty());
    EXPECT_EQ(log.statements().filter(QRegularExpression("INSERT ")).value(1),
              QStringLiteral("RELEASE b;SAVEPOINT b;INSERT INTO imp_v (a,b,c) VALUES('short','','')"));
    EXPECT_EQ(Cp932::decode(readLog()),
              QStringLiteral("Query:p,q,r,extra Error:4 行目のフィールドが多すぎます（4 個、列は 3 個）\r\n\r\n"))
        << Cp932::decode(readLog()).toStdString();
}

TEST_F(ImportRun, BadFirstSecondMiddleAndLastLinesAreRefusedWholeAndLoggedWithWhy)
{
    TestServer::run(*admin, QStringLiteral("CREATE TABLE imp_t (id int PRIMARY KEY, name text)"));
    // Bad: the first line (not a number), the second (a field too many), one in the middle
    // (not a number), a record of three lines (a field too many, line ends and a delimiter
    // inside quotes) and the last line (a duplicate).
    const QString f = write(QStringLiteral("b.csv"), "x1,a\r\n"
                                                     "2,b,extra\r\n"
                                                     "3,c\r\n"
                                                     "4,\"d\r\nD\"\r\n"
                                                     "5,e\r\n"
                                                     "bad,f\r\n"
                                                     "7,\"g, G\"\r\n"
                                                     "8,\"h\nH\",\"i,\nI\"\r\n"
                                                     "3,dup");
    ImportSettings s = settings(f, QStringLiteral("imp_t"), {"id", "name"});
    ASSERT_TRUE(RunImport(*conn, s, state));
    EXPECT_EQ(state.executed.load(), 9);
    EXPECT_EQ(state.errors.load(), 5);
    // Exactly what the server accepts line by line: nothing of a refused line.
    EXPECT_EQ(value(QStringLiteral("select string_agg(id || name, '/' order by id) from imp_t")),
              QStringLiteral("3c/4d\r\nD/5e/7g, G"));
    const QString log = Cp932::decode(readLog());
    const QStringList entries = log.split(QStringLiteral("\r\nQuery:"));
    struct Entry {
        QString query, why;
    };
    const Entry expected[] = {
        {QStringLiteral("Query:INSERT INTO imp_t (id,name) VALUES('x1','a')"), QStringLiteral("invalid input syntax")},
        {QStringLiteral("2,b,extra"), QStringLiteral("2 行目のフィールドが多すぎます（3 個、列は 2 個）")},
        {QStringLiteral("INSERT INTO imp_t (id,name) VALUES('bad','f')"), QStringLiteral("invalid input syntax")},
        {QStringLiteral("8,\"h\r\nH\",\"i,\r\nI\""), QStringLiteral("9 行目のフィールドが多すぎます（3 個、列は 2 個）")},
        {QStringLiteral("INSERT INTO imp_t (id,name) VALUES('3','dup')"), QStringLiteral("duplicate key value")},
    };
    ASSERT_EQ(entries.size(), 5) << log.toStdString();
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(entries[i].startsWith(expected[i].query + QStringLiteral(" Error:"))) << entries[i].toStdString();
        EXPECT_TRUE(entries[i].contains(expected[i].why)) << entries[i].toStdString();
    }
}

TEST_F(ImportRun, BadLinesOfAUtf8FileReachTheLogInCp932)
{
    TestServer::run(*admin, QStringLiteral("CREATE TABLE imp_t (id int, name text)"));
    const QString f = write(QStringLiteral("u.csv"), "\xEF\xBB\xBF" + QStringLiteral("1,名前\n2,名前,余分\n3,\"壊\"").toUtf8() + "\xFF\n");
    ImportSettings s = settings(f, QStringLiteral("imp_t"), {"id", "name"});
    ASSERT_TRUE(RunImport(*conn, s, state));
    EXPECT_EQ(state.errors.load(), 2);
    const QByteArray log = readLog();
    EXPECT_TRUE(log.contains("Query:2," + *Cp932::encode(QStringLiteral("名前,余分")) + " Error:")) << log.toStdString();
    EXPECT_FALSE(log.contains(QStringLiteral("名前").toUtf8()));
    EXPECT_EQ(value(QStringLiteral("select string_agg(id || name, '/') from imp_t")), QStringLiteral("1名前"));
}

TEST_F(ImportRun, EveryLogEntryNamesTheLineWhereItsRecordStarts)
{
    TestServer::run(*admin, QStringLiteral("CREATE TABLE imp_t (id int PRIMARY KEY, n int, note text); "
                                           "CREATE VIEW imp_v AS SELECT id, n, note FROM imp_t"));
    // Records of two lines ahead of the refused ones, so a line is never a record's number.
    const QString file = write(QStringLiteral("lines.csv"), "1,1,\"two\r\nlines\"\r\n2,x,wrong type\r\n"
                                                            "3,3,a,extra\r\n1,5,duplicate\r\n6,,empty integer\r\n"
                                                            "7,7,\"multi\nline\"\r\n9,\"9,open\r\n10,10,after\r\n");
    // The table takes COPY batches, the view an INSERT per line: the same entries either way.
    for (const QString target : {QStringLiteral("imp_t"), QStringLiteral("imp_v")}) {
        TestServer::run(*admin, QStringLiteral("TRUNCATE imp_t"));
        QFile::remove(path(QStringLiteral("ImportError.log")));
        const QString insert = QStringLiteral("INSERT INTO %1 (id,n,note) VALUES(").arg(target);
        const QStringList expected = {
            insert + "'2','x','wrong type') Error:3 行目: ERROR:  invalid input syntax for",
            QStringLiteral("3,3,a,extra Error:4 行目のフィールドが多すぎます（4 個、列は 3 個）\r\n"),
            insert + "'1','5','duplicate') Error:5 行目: ERROR:  duplicate key value",
            insert + "'6','','empty integer') Error:6 行目: ERROR:  invalid input syntax for",
            QStringLiteral("9,\"9,open Error:9 行目で開いた引用符がファイルの終わりまで閉じられていません\r\n"),
        };
        ImportRunState st;
        ASSERT_TRUE(RunImport(*conn, settings(file, target, {"id", "n", "note"}), st)) << target.toStdString();
        EXPECT_EQ(st.executed.load(), 8);
        EXPECT_EQ(st.errors.load(), 5);
        EXPECT_EQ(value(QStringLiteral("select string_agg(id::text, ',' order by id) from imp_t")), QStringLiteral("1,7,10"));
        const QStringList entries = Cp932::decode(readLog()).mid(6).split(QStringLiteral("\r\nQuery:"));
        ASSERT_EQ(entries.size(), 5) << readLog().constData();
        for (int i = 0; i < 5; ++i)
            EXPECT_TRUE((entries[i] + "\r\n").startsWith(expected[i])) << target.toStdString() << ": " << entries[i].toStdString();
    }
}

TEST_F(ImportRun, AFileTheRunCannotReadIsRefusedBeforeAnythingIsSent)
{
    TestServer::run(*admin, QStringLiteral("CREATE TABLE imp_t (id int, name text); "
                                           "INSERT INTO imp_t VALUES (1, 'a'), (2, 'b')"));
    QDir(dir.path()).mkdir(QStringLiteral("folder"));
    QByteArray utf16;
    for (QChar c : QStringLiteral("3,東京\r\n4,abc\r\n")) utf16 += char(c.unicode() & 0xFF), utf16 += char(c.unicode() >> 8);
    const QString notText = QStringLiteral("\nCP932 のテキスト（またはバイト順マーク付きの UTF-8）ではないため、インポートできません。\n\nFile = ");
    const QString notOpened = QStringLiteral("ファイルを開けませんでした。\n\nFile = ");
    const std::pair<QString, QString> cases[] = {  // the file, the message
        {path(QStringLiteral("missing.csv")), notOpened + path(QStringLiteral("missing.csv")) + u'\n'},
        {path(QStringLiteral("folder")), notOpened + path(QStringLiteral("folder")) + u'\n'},
        {write(QStringLiteral("bom.csv"), "\xFF\xFE" + utf16),
         QStringLiteral("UTF-16 のファイルです（バイト順マーク付き）。") + notText + path(QStringLiteral("bom.csv"))},
        {write(QStringLiteral("wide.csv"), utf16),
         QStringLiteral("UTF-16 のファイルです（バイト順マークなし）。") + notText + path(QStringLiteral("wide.csv"))},
        {write(QStringLiteral("nul.csv"), QByteArray("3,a\0b\r\n4,\0\r\n", 11)),
         QStringLiteral("NUL 文字を含む行が大半で、テキストのファイルではありません。") + notText + path(QStringLiteral("nul.csv"))},
    };
    for (const auto& [input, message] : cases) {
        prompts.clear();
        ImportSettings s = settings(input, QStringLiteral("imp_t"), {"id", "name"});
        s.deleteRows = true;
        StatementLog log(*conn);
        EXPECT_FALSE(RunImport(*conn, s, state)) << input.toStdString();
        EXPECT_TRUE(log.statements().isEmpty()) << log.statements().join(u'/').toStdString();
        ASSERT_EQ(prompts.messages().size(), 1);
        EXPECT_TRUE(prompts.messages()[0].startsWith(message)) << prompts.messages()[0].toStdString();
    }
    EXPECT_EQ(value(QStringLiteral("select count(*) from imp_t")), QStringLiteral("2"));
}

TEST_F(ImportRun, ALogThatCannotBeOpenedAsksFirstAndARunWithoutItStillCountsFailedLines)
{
    TestServer::run(*admin, QStringLiteral("CREATE TABLE imp_t (id int, name text)"));
    ImportSettings s = settings(write(QStringLiteral("g.csv"), "1,a\nbad,b\n3,c\n"), QStringLiteral("imp_t"), {"id", "name"});
    s.logPath = path(QStringLiteral("no/ImportError.log"));
    StatementLog log(*conn);
    prompts.answer(false);  // nothing is sent
    EXPECT_FALSE(RunImport(*conn, s, state));
    EXPECT_TRUE(log.statements().isEmpty()) << log.statements().join(u'/').toStdString();
    EXPECT_EQ(prompts.texts(), QStringList{ImportWithoutLogQuestion(
                                   QStringLiteral("ファイルを開けませんでした。\n\nFile = %1\nNo such file or directory").arg(s.logPath))});
    prompts.answer(true);  // the run goes on and counts the failed line, logged nowhere
    ASSERT_TRUE(RunImport(*conn, s, state));
    EXPECT_EQ(prompts.texts().size(), 2);
    EXPECT_EQ(state.errors.load(), 1);
    EXPECT_EQ(value(QStringLiteral("select string_agg(id || name, '/' order by id) from imp_t")), QStringLiteral("1a/3c"));
}

TEST_F(ImportRun, StopOnErrorKeepsTheLinesBeforeAndCommits)
{
    TestServer::run(*admin, QStringLiteral("CREATE TABLE imp_t (id int, name text)"));
    QByteArray file;
    for (int i = 1; i <= 10; ++i) file += (i == 5 ? QByteArray("bad") : QByteArray::number(i)) + ",n\n";
    ImportSettings s = settings(write(QStringLiteral("s.csv"), file), QStringLiteral("imp_t"), {"id", "name"});
    s.stopOnError = true;
    ASSERT_TRUE(RunImport(*conn, s, state));
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].startsWith(
        QStringLiteral("Query : INSERT INTO imp_t (id,name) VALUES('bad','n') \nError : ERROR:")));
    EXPECT_TRUE(prompts.messages()[0].endsWith(QStringLiteral("\n何らかのエラーが発生しました。中断します。")));
    EXPECT_EQ(state.errors.load(), 1);
    EXPECT_EQ(state.executed.load(), 4);
    EXPECT_EQ(value(QStringLiteral("select string_agg(id::text, ',' order by id) from imp_t")), QStringLiteral("1,2,3,4"));

    // Without it the run goes on; a line CP932 cannot read counts as an error too, and the log
    // grows across runs.
    prompts.clear();
    s.stopOnError = false;
    s.fileName = write(QStringLiteral("s2.csv"), "20,a\n21,\x82\n22,\x83\x5c\nbad,b\n23,c\n");
    ASSERT_TRUE(RunImport(*conn, s, state));
    EXPECT_TRUE(prompts.messages().isEmpty());
    EXPECT_EQ(state.executed.load(), 5);
    EXPECT_EQ(state.errors.load(), 2);
    EXPECT_EQ(value(QStringLiteral("select string_agg(id::text || name, ',' order by id) from imp_t where id >= 20")),
              QStringLiteral("20a,22ソ,23c"));
    EXPECT_EQ(logEntries().size(), 3);
    EXPECT_TRUE(readLog().contains("Query:21,\x82 Error:"));
}

TEST_F(ImportRun, CreateDeleteAndEmptyFiles)
{
    ImportSettings s = settings(write(QStringLiteral("c.csv"), "a,b,c\n1,2,3\n"), QStringLiteral("imp_new"),
                                {"Col01", "Col02", "Col03"});
    s.fieldNamesExact = false;
    s.createTable = true;
    StatementLog log(*conn);
    ASSERT_TRUE(RunImport(*conn, s, state));
    EXPECT_EQ(log.statements().value(1),
              QStringLiteral("CREATE TABLE imp_new(\n\tcol01 text ,\n\tcol02 text ,\n\tcol03 text\n);"));
    EXPECT_EQ(value(QStringLiteral("select count(*) from imp_new")), QStringLiteral("2"));

    // Delete first, then an empty file: nothing sent but BEGIN, the delete and COMMIT.
    log.clear();
    s.createTable = false;
    s.deleteRows = true;
    s.fileName = write(QStringLiteral("e.csv"), "");
    state.executed = 77;
    ASSERT_TRUE(RunImport(*conn, s, state));
    EXPECT_TRUE(state.countersWritten.load());
    EXPECT_EQ(state.executed.load(), 0);
    EXPECT_EQ(prompts.messages(), (QStringList{kEmptyFileMessage + kRowsDeletedNote}));
    EXPECT_EQ(log.statements().filter(QRegularExpression("^(BEGIN|Delete|COMMIT)")),
              (QStringList{"BEGIN", "Delete from imp_new", "COMMIT"}));
    EXPECT_EQ(value(QStringLiteral("select count(*) from imp_new")), QStringLiteral("0"));

    // A create that fails shows the server's text and rolls back.
    prompts.clear();
    s.createTable = true;
    s.deleteRows = false;
    EXPECT_FALSE(RunImport(*conn, s, state));
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].contains(QStringLiteral("already exists")));
    EXPECT_EQ(log.statements().last(), QStringLiteral("ROLLBACK"));
}

TEST_F(ImportRun, TheServerLostInTheMiddleEndsTheRun)
{
    TestServer::run(*admin, QStringLiteral("CREATE TABLE imp_t (id int, name text)"));
    TestServer::run(*admin, QStringLiteral(
        "CREATE FUNCTION imp_die() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
        "IF new.id = 1500 THEN PERFORM pg_terminate_backend(pg_backend_pid()); END IF; RETURN new; END $$"));
    TestServer::run(*admin, QStringLiteral(
        "CREATE TRIGGER imp_die BEFORE INSERT ON imp_t FOR EACH ROW EXECUTE PROCEDURE imp_die()"));
    QByteArray file;
    for (int i = 1; i <= 3000; ++i) file += QByteArray::number(i) + ",n\n";
    ImportSettings s = settings(write(QStringLiteral("l.csv"), file), QStringLiteral("imp_t"), {"id", "name"});
    ImportOutcome outcome;
    EXPECT_FALSE(RunImport(*conn, s, state, &outcome));
    ASSERT_TRUE(outcome.lostMessage.has_value());
    EXPECT_TRUE(prompts.messages().value(0).startsWith(kConnectionLostMessage));
    EXPECT_EQ(prompts.messages().value(1), kRollbackError);
    EXPECT_EQ(value(QStringLiteral("select count(*) from imp_t")), QStringLiteral("0"));
}

TEST_F(ImportRun, ACommitAnsweredWithRollbackIsAFailedCommit)
{
    TestServer::run(*admin, QStringLiteral(
        "CREATE TABLE imp_t (id int, name text, UNIQUE (id) DEFERRABLE INITIALLY DEFERRED)"));
    ImportSettings s = settings(write(QStringLiteral("d.csv"), "1,a\n1,b\n"), QStringLiteral("imp_t"), {"id", "name"});
    EXPECT_FALSE(RunImport(*conn, s, state));
    EXPECT_EQ(state.executed.load(), 2);
    EXPECT_EQ(prompts.messages(), (QStringList{kCommitError}));
    EXPECT_EQ(value(QStringLiteral("select count(*) from imp_t")), QStringLiteral("0"));
}
