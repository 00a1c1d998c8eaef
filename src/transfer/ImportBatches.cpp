#include "transfer/ImportBatches.h"

#include <QFile>
#include <QRegularExpression>
#include <algorithm>

#include "workspace/Catalogue.h"
#include "workspace/TextCodec.h"

namespace {

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

// The line number a failed COPY names in its context ("COPY t, line 12, column a: ..."), or 0.
int failingCopyLine(const Result& r)
{
    static const QRegularExpression line(QStringLiteral("(?:^|\\n)COPY .*, line (\\d+)"));
    const QRegularExpressionMatch m = line.match(r.errorField(PG_DIAG_CONTEXT));
    return m.hasMatch() ? m.captured(1).toInt() : 0;
}

}  // namespace

bool ImportBatches::copyAllowed()
{
    // COPY fills tables (partitioned ones too) exactly as the INSERT would; a view, a foreign
    // table or a table with rules takes the INSERT of every line.
    Result r = m_conn.exec(Catalogue::RelationKindStatement(m_conn, m_s.table));
    if (!r.tuplesOk() || r.rows() != 1) return false;
    const QString kind = r.value(0, r.fieldNumber("relkind"));
    return (kind == u"r" || kind == u"p") && r.value(0, r.fieldNumber("relhasrules")) == u"f";
}

bool ImportBatches::lostIfBad(const QString& serverText)
{
    // A failure after "中断" is the cancelled statement: the run ends here and is rolled back
    // whole, so neither the lines of the batch nor the savepoint matter any more.
    if (m_state.stopRequest) {
        m_abort = true;
        return true;
    }
    if (!m_conn.isBad()) return false;
    if (!m_outcome.lostMessage) {
        QString text = serverText;
        while (text.endsWith(u'\n')) text.chop(1);
        m_outcome.lostMessage = kConnectionLostMessage + (text.isEmpty() ? QString() : u'\n' + text);
    }
    m_abort = true;
    return true;
}

QString ImportBatches::savepointStatements()
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

void ImportBatches::settleSavepoint()
{
    if (!m_rollbackPending || m_outcome.lostMessage) return;
    m_rollbackPending = false;
    m_savepointClean = true;
    Result r = m_conn.exec(kBackToSavepoint);
    if (!r.commandOk()) lostIfBad(m_conn.errorMessage());
}

void ImportBatches::countExecuted(long long n)
{
    if (n <= 0) return;
    m_state.executed += n;
    m_goodSinceFailure += n;
    m_state.countersWritten = true;
    tick();
}

void ImportBatches::tick(bool force)
{
    if (!m_state.countersWritten) return;
    if (!force && m_tickClock.isValid() && m_tickClock.elapsed() < 100) return;
    m_tickClock.start();
    if (m_progress) m_progress();
}

void ImportBatches::lineFailed(const QString& query, const QByteArray& logQuery, const QString& error,
                               qint64 line)
{
    ++m_state.errors;
    m_state.countersWritten = true;
    m_log.add(logQuery, error, line);
    if (m_s.stopOnError) {
        m_outcome.stopMessage = kStopOnErrorFormat.arg(query, error);
        m_abort = true;
        tick(true);
        return;
    }
    countExecuted(1);
}

void ImportBatches::insertValues(const QStringList& values, qint64 line)
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
    // The connection's error message ends with its own line feed.
    QString logged = error;
    if (logged.endsWith(u'\n')) logged.chop(1);
    lineFailed(sql, ImportLogBytes(sql), logged + u'\n', line);
}

void ImportBatches::appendLine(const CsvRecord& rec)
{
    for (int i = 0; i < m_columns; ++i) {
        if (i) m_batch.push_back('\t');
        appendCopyValue(m_batch, rec.field(i));
    }
    m_batch.push_back('\n');
    m_lineEnds.push_back(qsizetype(m_batch.size()));
    m_fileLines.push_back(rec.firstLine);
}

bool ImportBatches::startCopy()
{
    const QString before = savepointStatements();
    Result r = m_conn.exec(before.isEmpty() ? m_copyStatement : before + u';' + m_copyStatement);
    if (r.status() == PGRES_COPY_IN) return true;
    const QString error = m_conn.errorMessage();
    r.release();
    if (!lostIfBad(error)) backToSavepoint();
    return false;
}

void ImportBatches::streamBatch()
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
            m_fileLines.clear();
            return;
        }
        m_copyOpen = true;
    }
    if (qsizetype(m_batch.size()) - m_sent >= kSendChunk) {
        m_conn.putCopyData(m_batch.data() + m_sent, qsizetype(m_batch.size()) - m_sent);
        m_sent = qsizetype(m_batch.size());
    }
}

void ImportBatches::flushBatch()
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
    m_fileLines.clear();
    m_sent = 0;
}

bool ImportBatches::copyRange(qsizetype from, qsizetype to, int* failedLine)
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

void ImportBatches::insertEach(qsizetype from, qsizetype to)
{
    for (qsizetype i = from; i < to && !m_abort; ++i) insertValues(copyLineValues(batchLine(i)), m_fileLines[size_t(i)]);
}

// Lines [from, from + count) went as one COPY that failed at its line `failedLine` (1-based;
// 0 when the server named none) and was rolled back. The lines before the failed one are sent
// again, the failed line runs alone as its INSERT (counted and logged with its own text), and
// the rest follows in slices that double while nothing fails. A slice starts as long as the
// run of good lines before the failure: short where failures are dense (little is sent
// twice), long where they are rare (few round trips).
void ImportBatches::afterFailedCopy(qsizetype from, qsizetype count, int failedLine)
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
        insertValues(copyLineValues(batchLine(pos + k - 1)), m_fileLines[size_t(pos + k - 1)]);
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

ImportOutcome ImportBatches::run()
{
    m_state.running = true;
    m_state.countersWritten = false;
    QFile in(m_s.fileName);
    // Checked before BEGIN already; should either fail now after all, nothing is committed.
    std::optional<QString> refusal = OpenImportInput(in);
    if (!refusal && !m_s.withoutLog) refusal = m_log.open(m_s.logPath);
    if (refusal) {
        m_outcome.failMessage = refusal;
        m_state.running = false;
        return m_outcome;
    }
    m_columns = int(m_s.fields.size());
    m_prefix = ImportInsertPrefix(m_s);
    m_copyStatement = ImportCopyStatement(m_s);
    m_useCopy = m_columns > 0 && copyAllowed();

    CsvRecordReader reader(in, CsvFormat::from(m_s.delimiter, m_s.quote));
    CsvRecord rec;
    if (m_s.header) reader.next(rec);
    // A line with more fields than the table has columns would lose some: it is refused.
    reader.setFieldLimit(m_columns);
    m_state.executed = 0;
    m_state.errors = 0;
    qsizetype sinceClock = 0;
    while (!m_abort && !m_state.stopRequest && reader.next(rec)) {
        if (!rec.valid) {
            flushBatch();
            if (m_abort) break;
            // A CP932 file's line goes to the log as its very bytes; a UTF-8 file's in CP932.
            const bool utf8 = reader.encoding() == CsvEncoding::Utf8;
            const QString shown = utf8 ? QString::fromUtf8(rec.raw) : Cp932::decode(rec.raw);
            QByteArray raw = utf8 ? ImportLogBytes(shown) : rec.raw;
            if (!utf8) raw.replace("\n", "\r\n");
            lineFailed(shown, raw, rec.problem + u'\n', 0);
            continue;
        }
        if (!m_useCopy) {
            QStringList values;
            for (int i = 0; i < m_columns; ++i) values << rec.text(i);
            insertValues(values, rec.firstLine);
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
    if (!m_state.countersWritten && !m_abort && !m_state.stopRequest) {
        // Not one data line: the counters say so, and so does a message after the COMMIT.
        m_state.countersWritten = true;
        m_outcome.emptyMessage = kEmptyFileMessage + (m_s.deleteRows ? kRowsDeletedNote : QString());
    }
    m_log.close();
    tick(true);
    m_state.running = false;
    return m_outcome;
}
