#include "transfer/CsvImport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <algorithm>

#include "workspace/Prompter.h"
#include "workspace/SqlQuote.h"
#include "workspace/Statements.h"
#include "workspace/TextCodec.h"

QString ImportColumnSql(const QString& name, bool exact)
{
    return QuoteIdent(exact ? name : FoldTypedName(name));
}

namespace {

QString columnListSql(const ImportSettings& s)
{
    QStringList names;
    for (const QStringList& row : s.fields) names << ImportColumnSql(row.value(0), s.fieldNamesExact);
    return names.join(u',');
}

}  // namespace

QString ImportInsertPrefix(const ImportSettings& s)
{
    return QStringLiteral("INSERT INTO ") + s.table.sql() + QStringLiteral(" (") + columnListSql(s) +
           QStringLiteral(") VALUES(");
}

QString ImportCreateStatement(const ImportSettings& s)
{
    QString sql = QStringLiteral("CREATE TABLE ") + s.table.sql() + QStringLiteral("(\n");
    for (size_t i = 0; i < s.fields.size(); ++i) {
        const QStringList& row = s.fields[i];
        const bool last = i + 1 == s.fields.size();
        const QString name = ImportColumnSql(row.value(0), s.fieldNamesExact);
        // Type and size go in as written in the list.
        const QString type = row.value(1), size = row.value(2);
        if (!size.isEmpty())
            sql += QStringLiteral("\t%1 %2(%3)%4\n").arg(name, type, size, last ? "" : ",");
        else
            sql += QStringLiteral("\t%1 %2%3\n").arg(name, type, last ? "" : " ,");
    }
    return sql + QStringLiteral(");");
}

std::optional<std::vector<QStringList>> FieldRowsFromFile(const QString& fileName,
                                                         const QString& delimiter,
                                                         const QString& quote, bool header)
{
    QFile f(fileName);
    if (fileName.isEmpty() || !f.open(QIODevice::ReadOnly)) return std::nullopt;
    std::vector<QStringList> rows;
    CsvRecordReader reader(f, CsvFormat::from(delimiter, quote));
    CsvRecord rec;
    if (!reader.next(rec)) return rows;
    const int n = CountCsvFields(rec);
    for (int i = 0; i < n; ++i) {
        QStringList row;
        row << (header ? rec.text(i) : QStringLiteral("Col%1").arg(i + 1, 2, 10, QLatin1Char('0')))
            << QStringLiteral("text") << QString() << QStringLiteral("NULL");
        for (int k = 0; k < 6; ++k) row << QStringLiteral("-");
        rows.push_back(row);
    }
    return rows;
}

namespace {

// The relation a statement naming `table` reaches, looked up as the server would look it up.
QString regclassOf(Connection& conn, const ObjectName& table)
{
    return QStringLiteral("to_regclass('%1')").arg(conn.escapeValue(table.qualifiedSql()));
}

}  // namespace

TableCheck CheckImportTable(Connection& conn, const ObjectName& table)
{
    TableCheck out;
    if (table.name.isEmpty()) return out;
    Result r = conn.exec(QStringLiteral("select count(*) as recordcount from pg_class c where c.oid = %1 "
                                        "and c.relkind in ('r','p','v','f')")
                             .arg(regclassOf(conn, table)));
    const int f = r.fieldNumber("RecordCount");
    if (!r.tuplesOk() || f < 0 || r.value(0, f).toLongLong() < 1) return out;
    r.release();
    out.exists = true;
    Result count = conn.exec(QStringLiteral("select count(*) as RecordCount from ") + table.sql());
    if (count.tuplesOk()) {
        const int c = count.fieldNumber("RecordCount");
        out.recordCount = c < 0 ? 0 : count.value(0, c).toLongLong();
    }
    return out;
}

bool EndImport(Connection& conn, bool commit)
{
    if (commit) {
        Result r = conn.exec(QStringLiteral("COMMIT"));
        if (CommitSucceeded(r)) return true;
        prompter().tell(BoxKind::Window, kCommitError);
        return false;
    }
    if (!ExecCommand(conn, QStringLiteral("ROLLBACK")).ok)
        prompter().tell(BoxKind::Window, kRollbackError);
    return false;
}

bool BeginImport(Connection& conn, const ImportSettings& s)
{
    if (!ExecCommand(conn, QStringLiteral("BEGIN")).ok) {
        prompter().tell(BoxKind::Window, kBeginError);
        return false;
    }
    bool ok = true;
    if (s.createTable) {
        if (s.fields.empty() || s.table.name.isEmpty()) {
            ok = false;
        } else if (!ExecCommand(conn, ImportCreateStatement(s)).ok) {
            prompter().tell(BoxKind::Window, conn.errorMessage());
            ok = false;
        }
    }
    if (ok && s.deleteRows)
        ok = ExecCommand(conn, QStringLiteral("Delete from %1").arg(s.table.sql())).ok;
    if (!ok) EndImport(conn, false);
    return ok;
}

namespace {

constexpr qsizetype kFirstBatch = 1000;      // lines of the first COPY, and after a failure
constexpr qsizetype kLargestBatch = 65536;   // lines
constexpr qsizetype kBatchBytes = 8 << 20;   // a batch ends here whatever its line count
constexpr qint64 kBatchMillis = 150;         // ... and after this long, so counters stay live
constexpr qsizetype kSendChunk = 64 << 10;   // COPY data goes out in pieces of this size
constexpr qsizetype kFirstRetrySlice = 16;   // lines sent after a failed line, doubling

const QString kBackToSavepoint = QStringLiteral("ROLLBACK TO SAVEPOINT b");

// One value of a COPY text line: backslash, tab, line feed and carriage return escaped.
void appendCopyValue(std::string& out, QByteArrayView v)
{
    const char* p = v.data();
    const char* end = p + v.size();
    while (p < end) {
        const char* q = p;
        while (q < end && *q != '\\' && *q != '\t' && *q != '\n' && *q != '\r') ++q;
        out.append(p, size_t(q - p));
        if (q == end) break;
        out.push_back('\\');
        out.push_back(*q == '\\' ? '\\' : *q == '\t' ? 't' : *q == '\n' ? 'n' : 'r');
        p = q + 1;
    }
}

// The values of one COPY text line (without its line end).
QStringList copyLineValues(QByteArrayView line)
{
    QStringList values;
    QByteArray value;
    for (qsizetype i = 0; i <= line.size(); ++i) {
        if (i == line.size() || line[i] == '\t') {
            values << QString::fromUtf8(value);
            value.clear();
        } else if (line[i] == '\\' && i + 1 < line.size()) {
            const char c = line[++i];
            value.append(c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c);
        } else {
            value.append(line[i]);
        }
    }
    return values;
}

// The log is a CP932 text file with CR LF line ends. A character CP932 cannot hold is written
// as its code point, so the entry stays readable and nothing is dropped silently.
QByteArray logBytes(const QString& text)
{
    QString crlf = text;
    crlf.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\n', QStringLiteral("\r\n"));
    if (std::optional<QByteArray> b = Cp932::encode(crlf)) return *b;
    QByteArray out;
    for (qsizetype i = 0; i < crlf.size(); ++i) {
        const int len = crlf.at(i).isHighSurrogate() && i + 1 < crlf.size() ? 2 : 1;
        const QString ch = crlf.mid(i, len);
        if (std::optional<QByteArray> b = Cp932::encode(ch))
            out += *b;
        else
            out += QStringLiteral("<U+%1>").arg(ch.toUcs4().value(0), 4, 16, QLatin1Char('0')).toUpper().toLatin1();
        i += len - 1;
    }
    return out;
}

// The line number a failed COPY names in its context ("COPY t, line 12, column a: ..."), or 0.
int failingCopyLine(const Result& r)
{
    static const QRegularExpression line(QStringLiteral("(?:^|\\n)COPY .*, line (\\d+)"));
    const QRegularExpressionMatch m = line.match(r.errorField(PG_DIAG_CONTEXT));
    return m.hasMatch() ? m.captured(1).toInt() : 0;
}

class Importer {
public:
    Importer(Connection& conn, const ImportSettings& s, ImportRunState& state,
             const std::function<void()>& progress)
        : m_conn(conn), m_s(s), m_state(state), m_progress(progress)
    {
    }
    ImportOutcome run();

private:
    bool copyAllowed();
    QString savepointStatements();
    void backToSavepoint()
    {
        m_rollbackPending = true;
        m_savepointClean = true;
    }
    void settleSavepoint();
    bool lostIfBad(const QString& serverText);

    void appendLine(const CsvRecord& rec);
    qsizetype lineStart(qsizetype i) const { return i == 0 ? 0 : m_lineEnds[size_t(i - 1)]; }
    QByteArrayView batchLine(qsizetype i) const
    {
        return QByteArrayView(m_batch.data() + lineStart(i), m_lineEnds[size_t(i)] - lineStart(i) - 1);
    }
    bool startCopy();
    void streamBatch();
    void flushBatch();
    bool copyRange(qsizetype from, qsizetype to, int* failedLine);
    void afterFailedCopy(qsizetype from, qsizetype count, int failedLine);
    void insertEach(qsizetype from, qsizetype to);

    void insertValues(const QStringList& values);
    void lineFailed(const QString& query, const QByteArray& logQuery, const QString& error);
    void countExecuted(long long n);
    void tick(bool force = false);

    Connection& m_conn;
    const ImportSettings& m_s;
    ImportRunState& m_state;
    const std::function<void()>& m_progress;
    ImportOutcome m_outcome;
    bool m_abort = false;
    // Every piece of work (a COPY, an INSERT) runs under the savepoint b, so a failure undoes
    // that piece alone. The savepoint statements travel with the next COPY where they can.
    bool m_haveSavepoint = false;
    bool m_savepointClean = false;   // nothing done under b since it was set or rolled back to
    bool m_rollbackPending = false;  // the last piece failed: roll back to b before the next

    QFile m_log;
    QString m_prefix;
    QString m_copyStatement;
    int m_columns = 0;
    bool m_useCopy = false;

    // The current batch: COPY text lines, each ending in a line feed, kept until the batch
    // is through so that the lines before a failed one can be sent again.
    std::string m_batch;
    std::vector<qsizetype> m_lineEnds;
    qsizetype m_sent = 0;        // bytes of the batch already streamed
    bool m_copyOpen = false;
    qsizetype m_batchTarget = kFirstBatch;
    long long m_goodSinceFailure = 0;  // lines through since the last failed one
    long long m_lastGap = kFirstBatch * 4;  // good lines between the last two failed ones
    QElapsedTimer m_batchClock;
    QElapsedTimer m_tickClock;
};

bool Importer::copyAllowed()
{
    // COPY fills tables (partitioned ones too) exactly as the INSERT would; a view, a foreign
    // table or a table with rules takes the INSERT of every line.
    Result r = m_conn.exec(QStringLiteral("select c.relkind, c.relhasrules from pg_class c where c.oid = %1")
                               .arg(regclassOf(m_conn, m_s.table)));
    if (!r.tuplesOk() || r.rows() != 1) return false;
    const QString kind = r.value(0, r.fieldNumber("relkind"));
    return (kind == u"r" || kind == u"p") && r.value(0, r.fieldNumber("relhasrules")) == u"f";
}

bool Importer::lostIfBad(const QString& serverText)
{
    if (!m_conn.isBad()) return false;
    if (!m_outcome.lostMessage) {
        QString text = serverText;
        while (text.endsWith(u'\n')) text.chop(1);
        m_outcome.lostMessage = kConnectionLostMessage + (text.isEmpty() ? QString() : u'\n' + text);
    }
    m_abort = true;
    return true;
}

QString Importer::savepointStatements()
{
    QStringList texts;
    if (m_rollbackPending) texts << kBackToSavepoint;
    if (!m_haveSavepoint)
        texts << QStringLiteral("SAVEPOINT b");
    else if (!m_savepointClean)
        texts << QStringLiteral("RELEASE b;SAVEPOINT b");
    m_rollbackPending = false;
    m_haveSavepoint = true;
    m_savepointClean = false;  // the piece that follows runs under it
    return texts.join(u';');
}

void Importer::settleSavepoint()
{
    if (!m_rollbackPending || m_outcome.lostMessage) return;
    m_rollbackPending = false;
    m_savepointClean = true;
    Result r = m_conn.exec(kBackToSavepoint);
    if (!r.commandOk()) lostIfBad(m_conn.errorMessage());
}

void Importer::countExecuted(long long n)
{
    if (n <= 0) return;
    m_state.executed += n;
    m_goodSinceFailure += n;
    m_state.countersWritten = true;
    tick();
}

void Importer::tick(bool force)
{
    if (!m_state.countersWritten) return;
    if (!force && m_tickClock.isValid() && m_tickClock.elapsed() < 100) return;
    m_tickClock.start();
    if (m_progress) m_progress();
}

void Importer::lineFailed(const QString& query, const QByteArray& logQuery, const QString& error)
{
    ++m_state.errors;
    m_state.countersWritten = true;
    if (m_log.isOpen())
        m_log.write("Query:" + logQuery + " Error:" + logBytes(error) + "\r\n");
    if (m_s.stopOnError) {
        m_outcome.stopMessage = kStopOnErrorFormat.arg(query, error);
        m_abort = true;
        tick(true);
        return;
    }
    countExecuted(1);
}

void Importer::insertValues(const QStringList& values)
{
    QString sql = m_prefix;
    for (int i = 0; i < m_columns; ++i)
        sql += u'\'' + m_conn.escapeValue(values.value(i)) + QLatin1String(i + 1 == m_columns ? "')" : "',");
    // The savepoint statements go in the same string; the INSERT stays a statement of its own.
    const QString before = savepointStatements();
    Result r = m_conn.exec(before.isEmpty() ? sql : before + u';' + sql);
    if (r.commandOk()) {
        countExecuted(1);
        return;
    }
    const QString error = m_conn.errorMessage();
    r.release();
    if (lostIfBad(error)) return;
    backToSavepoint();
    if (m_abort) return;
    // PQerrorMessage ends with its own line feed.
    QString logged = error;
    if (logged.endsWith(u'\n')) logged.chop(1);
    lineFailed(sql, logBytes(sql), logged + u'\n');
}

void Importer::appendLine(const CsvRecord& rec)
{
    for (int i = 0; i < m_columns; ++i) {
        if (i) m_batch.push_back('\t');
        appendCopyValue(m_batch, rec.field(i));
    }
    m_batch.push_back('\n');
    m_lineEnds.push_back(qsizetype(m_batch.size()));
}

bool Importer::startCopy()
{
    const QString before = savepointStatements();
    Result r = m_conn.exec(before.isEmpty() ? m_copyStatement : before + u';' + m_copyStatement);
    if (r.status() == PGRES_COPY_IN) return true;
    const QString error = m_conn.errorMessage();
    r.release();
    if (!lostIfBad(error)) backToSavepoint();
    return false;
}

void Importer::streamBatch()
{
    if (!m_copyOpen) {
        m_batchClock.start();
        m_sent = 0;
        if (!startCopy()) {
            // COPY refused for this table (row security, rights, ...): every line goes as
            // its INSERT, which fails or succeeds as the server decides.
            if (m_abort) return;
            m_useCopy = false;
            insertEach(0, qsizetype(m_lineEnds.size()));
            m_batch.clear();
            m_lineEnds.clear();
            return;
        }
        m_copyOpen = true;
    }
    if (qsizetype(m_batch.size()) - m_sent >= kSendChunk) {
        m_conn.putCopyData(m_batch.data() + m_sent, qsizetype(m_batch.size()) - m_sent);
        m_sent = qsizetype(m_batch.size());
    }
}

void Importer::flushBatch()
{
    if (m_lineEnds.empty()) return;
    if (!m_copyOpen) streamBatch();
    if (!m_copyOpen) return;
    m_copyOpen = false;
    if (m_sent < qsizetype(m_batch.size()))
        m_conn.putCopyData(m_batch.data() + m_sent, qsizetype(m_batch.size()) - m_sent);
    Result r = m_conn.endCopy();
    const qsizetype count = qsizetype(m_lineEnds.size());
    if (r.commandOk()) {
        countExecuted(count);
        m_batchTarget = std::min(m_batchTarget * 2, kLargestBatch);
    } else {
        const int failed = failingCopyLine(r);
        const QString error = r.errorMessage();
        r.release();
        if (!lostIfBad(error)) {
            backToSavepoint();
            if (!m_abort) afterFailedCopy(0, count, failed);
        }
        // The next batches start at a quarter of the last run of good lines, so a batch
        // rarely holds more than one failure and little is sent twice.
        m_batchTarget = qsizetype(std::clamp<long long>(m_lastGap / 4, kFirstRetrySlice, kLargestBatch));
    }
    m_batch.clear();
    m_lineEnds.clear();
    m_sent = 0;
}

bool Importer::copyRange(qsizetype from, qsizetype to, int* failedLine)
{
    *failedLine = 0;
    if (!startCopy()) return false;
    m_conn.putCopyData(m_batch.data() + lineStart(from), lineStart(to) - lineStart(from));
    Result r = m_conn.endCopy();
    if (r.commandOk()) return true;
    *failedLine = failingCopyLine(r);
    const QString error = r.errorMessage();
    r.release();
    if (!lostIfBad(error)) backToSavepoint();
    return false;
}

void Importer::insertEach(qsizetype from, qsizetype to)
{
    for (qsizetype i = from; i < to && !m_abort; ++i) insertValues(copyLineValues(batchLine(i)));
}

// Lines [from, from + count) went as one COPY that failed at its line `failedLine` (1-based;
// 0 when the server named none) and was rolled back. The lines before the failed one are sent
// again, the failed line runs alone as its INSERT (counted and logged with its own text), and
// the rest follows in slices that double while nothing fails. A slice starts as long as the
// run of good lines before the failure: short where failures are dense (little is sent
// twice), long where they are rare (few round trips).
void Importer::afterFailedCopy(qsizetype from, qsizetype count, int failedLine)
{
    qsizetype pos = from;
    const qsizetype end = from + count;
    qsizetype k = failedLine;
    qsizetype slice = kFirstRetrySlice;
    for (;;) {
        if (k < 1 || k > end - pos) k = 1;
        if (k > 1) {
            int again = 0;
            if (copyRange(pos, pos + k - 1, &again))
                countExecuted(k - 1);
            else if (!m_abort)
                insertEach(pos, pos + k - 1);  // the server disagrees with itself: line by line
        }
        if (m_abort) return;
        slice = qsizetype(std::clamp<long long>(m_goodSinceFailure, kFirstRetrySlice, kLargestBatch));
        insertValues(copyLineValues(batchLine(pos + k - 1)));
        m_lastGap = m_goodSinceFailure;
        m_goodSinceFailure = 0;
        pos += k;
        // The rest, until the next failure.
        for (;;) {
            if (m_abort || pos >= end) return;
            const qsizetype n = std::min(slice, end - pos);
            int failed = 0;
            if (!copyRange(pos, pos + n, &failed)) {
                if (m_abort) return;
                k = failed;
                if (k < 1 || k > n) k = 1;
                break;
            }
            countExecuted(n);
            pos += n;
            slice = std::min(slice * 2, kLargestBatch);
        }
    }
}

ImportOutcome Importer::run()
{
    m_state.running = true;
    m_state.countersWritten = false;
    m_log.setFileName(m_s.logPath);
    m_log.open(QIODevice::WriteOnly | QIODevice::Append);
    QFile in(m_s.fileName);
    if (m_s.fileName.isEmpty() || !in.open(QIODevice::ReadOnly)) {
        m_log.close();
        m_state.running = false;
        return m_outcome;
    }
    m_columns = int(m_s.fields.size());
    m_prefix = ImportInsertPrefix(m_s);
    m_copyStatement = QStringLiteral("COPY ") + m_s.table.sql() + QStringLiteral(" (") + columnListSql(m_s) +
                      QStringLiteral(") FROM STDIN");
    m_useCopy = m_columns > 0 && copyAllowed();

    CsvRecordReader reader(in, CsvFormat::from(m_s.delimiter, m_s.quote));
    CsvRecord rec;
    if (m_s.header) reader.next(rec);
    m_state.executed = 0;
    m_state.errors = 0;
    qsizetype sinceClock = 0;
    while (!m_abort && !m_state.stopRequest && reader.next(rec)) {
        if (!rec.valid) {
            flushBatch();
            if (m_abort) break;
            const QString shown = reader.encoding() == CsvEncoding::Utf8 ? QString::fromUtf8(rec.raw)
                                                                         : Cp932::decode(rec.raw);
            QByteArray raw = rec.raw;
            raw.replace("\n", "\r\n");
            lineFailed(shown, raw, rec.problem + u'\n');
            continue;
        }
        if (!m_useCopy) {
            QStringList values;
            for (int i = 0; i < m_columns; ++i) values << rec.text(i);
            insertValues(values);
            continue;
        }
        appendLine(rec);
        streamBatch();
        if (!m_useCopy || m_abort) continue;
        const qsizetype lines = qsizetype(m_lineEnds.size());
        if (lines >= m_batchTarget || qsizetype(m_batch.size()) >= kBatchBytes ||
            (++sinceClock % 256 == 0 && m_batchClock.elapsed() >= kBatchMillis))
            flushBatch();
    }
    if (!m_abort) flushBatch();
    // A failed last piece leaves the transaction aborted until it is rolled back to b.
    settleSavepoint();
    m_log.close();
    tick(true);
    m_state.running = false;
    return m_outcome;
}

}  // namespace

ImportOutcome RunImportWorker(Connection& conn, const ImportSettings& s, ImportRunState& state,
                              const std::function<void()>& progress)
{
    Importer importer(conn, s, state, progress);
    return importer.run();
}

bool RunImport(Connection& conn, const ImportSettings& s, ImportRunState& state, ImportOutcome* outcome)
{
    state.stopRequest = false;
    if (!BeginImport(conn, s)) return false;
    const ImportOutcome o = RunImportWorker(conn, s, state);
    if (outcome) *outcome = o;
    if (o.stopMessage) prompter().tell(BoxKind::Window, *o.stopMessage);
    if (o.lostMessage) prompter().tell(BoxKind::Window, *o.lostMessage);
    const bool commit = !state.stopRequest && !o.lostMessage;
    return EndImport(conn, commit) && commit;
}

ImportJob::~ImportJob()
{
    requestStop();
    join();
}

void ImportJob::start(Connection& conn, ImportSettings settings, std::function<void()> progress,
                      std::function<void(ImportOutcome)> finished)
{
    join();
    m_state.stopRequest = false;
    m_state.countersWritten = false;
    m_state.running = true;
    m_thread = std::thread([this, &conn, settings = std::move(settings), progress = std::move(progress),
                            finished = std::move(finished)] {
        ImportOutcome outcome = RunImportWorker(conn, settings, m_state, progress);
        if (finished) finished(std::move(outcome));
    });
}

void ImportJob::join()
{
    if (m_thread.joinable()) m_thread.join();
}
