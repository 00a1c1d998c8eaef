#include "transfer/CsvExport.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <cstring>

namespace {

// The server refused the statement because the transaction is read-only.
const QString kReadOnlyRefusal = QStringLiteral("25006");
// Bytes gathered before they go to the file.
constexpr qsizetype kWriteChunk = 1 << 20;
// The longest stretch of rows handled before the event loop gets its turn.
constexpr qint64 kSliceMs = 40;

QString trimmed(QString text)
{
    while (text.endsWith(u'\n')) text.chop(1);
    return text;
}

// The server's text for a failed statement (or the connection's when there is no result).
QString failureText(const Result& r, const Connection& conn)
{
    return trimmed(r.exists() ? r.errorMessage() : conn.errorMessage());
}

// Whether the statement is a query a cursor can be declared for.
bool IsCursorQuery(const QString& sql)
{
    qsizetype i = 0;
    const qsizetype n = sql.size();
    while (i < n) {
        const QChar c = sql.at(i);
        if (c.isSpace() || c == u'(') {
            ++i;
        } else if (sql.mid(i, 2) == u"--") {
            const qsizetype eol = sql.indexOf(u'\n', i);
            i = eol < 0 ? n : eol + 1;
        } else if (sql.mid(i, 2) == u"/*") {
            const qsizetype close = sql.indexOf(u"*/", i + 2);
            i = close < 0 ? n : close + 2;
        } else {
            break;
        }
    }
    qsizetype j = i;
    while (j < n && sql.at(j).isLetter()) ++j;
    const QString word = sql.mid(i, j - i).toLower();
    return word == u"select" || word == u"with" || word == u"values" || word == u"table";
}

// Why a line could not be converted: the first of its fields (the field names when row is
// -1) CP932 cannot hold, named with the record's number (0 for the line of field names).
QString UnencodableLine(Cp932Stream& cp932, const Result& r, int row, qint64 number)
{
    for (int f = 0; f < r.fields(); ++f) {
        const QByteArray value =
            row < 0 ? r.fieldName(f).toUtf8()
                    : QByteArray::fromRawData(r.rawValue(row, f), r.rawLength(row, f));
        const QString bad = cp932.firstUnencodable(value);
        if (!bad.isEmpty()) return UnencodableValueMessage(number, r.fieldName(f), bad);
    }
    return UnencodableValueMessage(number, QString(), QString());
}

// The sample text of a result: its lines as the file would hold them, CP932 checked.
QString RenderSample(const Result& r, const Connection& conn, const CsvSettings& settings)
{
    if (r.commandOk()) return {};
    if (!r.tuplesOk()) return failureText(r, conn);
    CsvLineBuilder line(settings, CsvLineBuilder::Target::Sample);
    Cp932Stream cp932;
    QByteArray text;
    QByteArray check;
    const int fields = r.fields();
    if (settings.header) {
        for (int f = 0; f < fields; ++f) line.addField(r.fieldName(f));
        line.finishLine();
        if (!cp932.append(check, line.line().constData(), line.line().size()))
            return UnencodableLine(cp932, r, -1, 0);
        text += line.line().toByteArray();
    }
    const int rows = std::min(r.rows(), 10);
    for (int row = 0; row < rows; ++row) {
        line.clear();
        for (int f = 0; f < fields; ++f) line.addField(r.rawValue(row, f), r.rawLength(row, f));
        line.finishLine();
        check.clear();
        if (!cp932.append(check, line.line().constData(), line.line().size()))
            return UnencodableLine(cp932, r, row, row + 1);
        text += line.line().toByteArray();
    }
    return QString::fromUtf8(text);
}

QString SqlModeSample(Connection& conn, const QString& sql, const CsvSettings& settings)
{
    // Inside a transaction the operator opened in the SQL window, a savepoint made read-only
    // keeps the sample from touching it; there only a query runs (through its cursor), since a
    // COMMIT or ROLLBACK typed as the statement would end the operator's transaction.
    const bool nested = conn.inTransaction();
    const QString begin = nested ? QStringLiteral("SAVEPOINT kestrel_sample")
                                 : QStringLiteral("BEGIN TRANSACTION READ ONLY");
    const Result opened = conn.exec(begin);
    if (!opened.commandOk()) return failureText(opened, conn);
    const bool query = IsCursorQuery(sql);
    Result r = nested ? conn.exec(QStringLiteral("SET TRANSACTION READ ONLY")) : Result();
    QString text;
    if (nested && !r.commandOk()) {
        text = failureText(r, conn);
    } else if (query || !nested) {
        if (query) {
            r = conn.execSingle(QStringLiteral("DECLARE kestrel_sample NO SCROLL CURSOR FOR ") + sql);
            if (r.commandOk()) r = conn.exec(QStringLiteral("FETCH 10 FROM kestrel_sample"));
        } else {
            r = conn.execSingle(sql);
        }
        if (r.sqlState() != kReadOnlyRefusal) text = RenderSample(r, conn, settings);
    }
    if (nested) {
        conn.exec(QStringLiteral("ROLLBACK TO SAVEPOINT kestrel_sample"));
        conn.exec(QStringLiteral("RELEASE SAVEPOINT kestrel_sample"));
    } else {
        conn.exec(QStringLiteral("ROLLBACK"));
    }
    return text;
}

}  // namespace

QString ExportSource::exportStatement() const
{
    return sqlMode() ? sqlText : QStringLiteral("select * from %1").arg(table.sql());
}

std::optional<QString> CsvExportRefusal(const QString& fileName, const CsvSettings& settings)
{
    if (fileName.isEmpty()) return kExportNoFileName;
    if (settings.delimiter.isEmpty()) return kExportNoDelimiter;
    if (settings.quote.isEmpty()) return kExportNoQuote;
    return std::nullopt;
}

QString UnencodableValueMessage(qint64 row, const QString& column, const QString& character)
{
    QString codes;
    for (char32_t c : character.toUcs4())
        codes += QStringLiteral("U+%1").arg(uint(c), 4, 16, QLatin1Char('0')).toUpper();
    const QString where = row == 0 ? QStringLiteral("先頭行のフィールド名「%1」").arg(column)
                                   : QStringLiteral("%1件目のレコードの列「%2」").arg(row).arg(column);
    return QStringLiteral("%1に、CP932で表せない文字「%2」(%3)があります。")
        .arg(where, character, codes);
}

namespace {

// A delimiter or quote text CP932 cannot hold: the message, or nothing.
std::optional<QString> UnencodableSetting(const CsvSettings& settings)
{
    Cp932Stream cp932;
    for (const QString& text : {settings.delimiter, settings.quote}) {
        const QString bad = cp932.firstUnencodable(text.toUtf8());
        if (!bad.isEmpty())
            return QStringLiteral("区切り記号またはクォート記号に、CP932で表せない文字「%1」があります。")
                .arg(bad);
    }
    return std::nullopt;
}

}  // namespace

QString BuildCsvSample(Connection& conn, const ExportSource& source, const CsvSettings& settings)
{
    if (std::optional<QString> bad = UnencodableSetting(settings)) return *bad;
    if (source.sqlMode()) return SqlModeSample(conn, source.sqlText, settings);
    const Result r =
        conn.exec(QStringLiteral("select * from %1 Limit 10").arg(source.table.sql()));
    return RenderSample(r, conn, settings);
}

CsvExportJob::CsvExportJob(Connection& conn, QObject* parent) : QObject(parent), m_conn(conn) {}

CsvExportJob::~CsvExportJob()
{
    if (m_running) {
        m_conn.requestCancel();
        char* row = nullptr;
        int size;
        while (m_copying && (size = m_conn.copyRow(&row)) >= 0) {
            Connection::freeCopyRow(row);
            if (size == 0 && !m_conn.consumeInput()) break;
        }
        while (m_conn.nextResult().exists()) {
        }
        m_file.close();
        m_file.remove();
    }
}

bool CsvExportJob::start(const ExportSource& source, const QString& fileName,
                         const CsvSettings& settings)
{
    m_settings = settings;
    m_line.emplace(settings, CsvLineBuilder::Target::File);
    m_rows = m_reported = 0;
    m_headerDone = m_draining = m_copying = false;
    m_failure.clear();
    m_columns.clear();
    m_out.resize(0);
    m_out.reserve(kWriteChunk + 65536);
    if (std::optional<QString> bad = UnencodableSetting(settings)) {
        m_failure = *bad;
        return false;
    }
    m_file.setFileName(fileName);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_failure = QStringLiteral("ファイルを作成できませんでした。\n\nFile = %1\n%2")
                        .arg(fileName, m_file.errorString());
        return false;
    }
    if (!(source.sqlMode() ? startStatement(source.sqlText) : startTable(source.table)))
        return false;
    m_running = true;
    delete m_notifier;
    m_notifier = new QSocketNotifier(qintptr(m_conn.socket()), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &CsvExportJob::pump);
    m_pumpQueued = true;
    QTimer::singleShot(0, this, &CsvExportJob::pump);
    return true;
}

bool CsvExportJob::refuseStart(const QString& text)
{
    m_failure = text.isEmpty() ? QStringLiteral("出力できませんでした。") : text;
    m_file.close();
    m_file.remove();
    return false;
}

bool CsvExportJob::startStatement(const QString& statement)
{
    if (!m_conn.startStream(statement)) return refuseStart(trimmed(m_conn.errorMessage()));
    return true;
}

bool CsvExportJob::startTable(const ObjectName& table)
{
    // The field names (for the header and for messages), then the rows as COPY data.
    const QString name = table.sql();
    const Result shape = m_conn.exec(QStringLiteral("select * from %1 Limit 0").arg(name));
    if (!shape.tuplesOk()) return refuseStart(failureText(shape, m_conn));
    for (int f = 0; f < shape.fields(); ++f) m_columns << shape.fieldName(f);
    if (m_settings.header && !writeHeader(m_columns)) return refuseStart(m_failure);
    const Result copy =
        m_conn.exec(QStringLiteral("COPY (select * from %1) TO STDOUT").arg(name));
    if (copy.status() != PGRES_COPY_OUT) return refuseStart(failureText(copy, m_conn));
    m_copying = true;
    return true;
}

bool CsvExportJob::runToEnd()
{
    if (m_running) {
        QEventLoop loop;
        connect(this, &CsvExportJob::finished, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return m_failure.isEmpty();
}

bool CsvExportJob::readInput()
{
    if (m_conn.consumeInput()) return true;
    fail(trimmed(m_conn.errorMessage()));
    while (!m_conn.isBusy() && m_conn.nextResult().exists()) {
    }
    end();
    return false;
}

bool CsvExportJob::sliceOver(const QElapsedTimer& slice, int& sinceCheck)
{
    // Rows already received are handled in slices, so that the window gets its turn between.
    if (++sinceCheck < 256) return false;
    sinceCheck = 0;
    if (slice.elapsed() < kSliceMs) return false;
    if (!m_pumpQueued) {
        m_pumpQueued = true;
        QTimer::singleShot(0, this, &CsvExportJob::pump);
    }
    return true;
}

void CsvExportJob::pump()
{
    m_pumpQueued = false;
    if (!m_running) return;
    if (m_copying) {
        pumpCopy();
        return;
    }
    if (!readInput()) return;
    QElapsedTimer slice;
    slice.start();
    int sinceCheck = 0;
    while (!m_conn.isBusy()) {
        Result r = m_conn.nextResult();
        if (!r.exists()) {
            end();
            return;
        }
        const ExecStatusType st = r.status();
        if (st == PGRES_COPY_OUT || st == PGRES_COPY_IN || st == PGRES_COPY_BOTH) {
            // libpq would answer COPY again and again; the next statement ends the COPY.
            fail(QStringLiteral("COPY文の結果はCSV出力できません。"));
            end();
            return;
        }
        take(r);
        if (sliceOver(slice, sinceCheck)) break;
    }
    if (m_rows != m_reported) {
        m_reported = m_rows;
        emit progress(m_rows);
    }
}

void CsvExportJob::take(const Result& r)
{
    switch (r.status()) {
    case PGRES_SINGLE_TUPLE:
        writeRows(r, 0, r.rows());
        break;
    case PGRES_TUPLES_OK:
        // The end of one result set (it holds every row when single-row mode did not apply,
        // as for the later statements of a text holding several).
        writeRows(r, 0, r.rows());
        m_headerDone = false;
        break;
    case PGRES_COMMAND_OK:
    case PGRES_EMPTY_QUERY:
        break;
    default:
        fail(failureText(r, m_conn));
        break;
    }
}

bool CsvExportJob::writeHeader(const QStringList& names)
{
    m_headerDone = true;
    m_line->clear();
    for (const QString& name : names) m_line->addField(name);
    const QByteArrayView line = m_line->finishLine();
    if (m_cp932.append(m_out, line.data(), line.size())) return true;
    for (const QString& name : names) {
        const QString bad = m_cp932.firstUnencodable(name.toUtf8());
        if (!bad.isEmpty()) {
            m_failure = UnencodableValueMessage(0, name, bad);
            return false;
        }
    }
    m_failure = UnencodableValueMessage(0, QString(), QString());
    return false;
}

void CsvExportJob::pumpCopy()
{
    if (!readInput()) return;
    QElapsedTimer slice;
    slice.start();
    int sinceCheck = 0;
    while (true) {
        char* row = nullptr;
        const int size = m_conn.copyRow(&row);
        if (size > 0) {
            if (!m_draining) writeCopyRow(row, size);
            Connection::freeCopyRow(row);
            if (m_out.size() >= kWriteChunk) flush();
            if (sliceOver(slice, sinceCheck)) break;
            continue;
        }
        if (size == 0) break;  // the rest has not arrived: the socket tells when it has
        if (size == -2) fail(trimmed(m_conn.errorMessage()));
        // The COPY's own outcome follows its data: an error here is the server's.
        while (true) {
            const Result r = m_conn.nextResult();
            if (!r.exists()) break;
            if (!r.commandOk()) fail(failureText(r, m_conn));
        }
        end();
        return;
    }
    if (m_rows != m_reported) {
        m_reported = m_rows;
        emit progress(m_rows);
    }
}

// A field of COPY's text form as the value a select returns: \N (NULL) is empty, the
// backslash escapes are undone.
QByteArrayView CsvExportJob::copyField(const char* value, qsizetype size, QByteArray& scratch) const
{
    if (size == 2 && value[0] == '\\' && value[1] == 'N') return {};
    if (!std::memchr(value, '\\', size_t(size))) return QByteArrayView(value, size);
    scratch.resize(0);
    for (qsizetype i = 0; i < size; ++i) {
        char c = value[i];
        if (c == '\\' && i + 1 < size) {
            c = value[++i];
            switch (c) {
            case 'b': c = '\b'; break;
            case 'f': c = '\f'; break;
            case 'n': c = '\n'; break;
            case 'r': c = '\r'; break;
            case 't': c = '\t'; break;
            case 'v': c = '\v'; break;
            default:
                if (c >= '0' && c <= '7') {
                    int code = c - '0';
                    for (int k = 0; k < 2 && i + 1 < size && value[i + 1] >= '0' && value[i + 1] <= '7'; ++k)
                        code = code * 8 + (value[++i] - '0');
                    c = char(code);
                }
                break;
            }
        }
        scratch.append(c);
    }
    return QByteArrayView(scratch);
}

void CsvExportJob::writeCopyRow(const char* row, qsizetype size)
{
    if (size > 0 && row[size - 1] == '\n') --size;
    m_line->clear();
    const QByteArrayView whole(row, size);
    if (!m_columns.isEmpty() && whole.indexOf('\\') < 0 && m_line->isPlain(whole)) {
        // No escape, no quote: every field goes as it stands (NULL is the escape \N).
        for (const char* p = row;;) {
            const char* tab = static_cast<const char*>(std::memchr(p, '\t', size_t(row + size - p)));
            const char* stop = tab ? tab : row + size;
            m_line->addPlainField(p, stop - p);
            if (!tab) break;
            p = tab + 1;
        }
    } else if (!m_columns.isEmpty()) {
        for (const char* p = row;;) {
            const char* tab = static_cast<const char*>(std::memchr(p, '\t', size_t(row + size - p)));
            const char* stop = tab ? tab : row + size;
            const QByteArrayView v = copyField(p, stop - p, m_scratch);
            m_line->addField(v.data(), v.size());
            if (!tab) break;
            p = tab + 1;
        }
    }
    const QByteArrayView line = m_line->finishLine();
    if (m_cp932.append(m_out, line.data(), line.size())) {
        ++m_rows;
        return;
    }
    qsizetype f = 0;
    for (const char* p = row;; ++f) {
        const char* tab = static_cast<const char*>(std::memchr(p, '\t', size_t(row + size - p)));
        const char* stop = tab ? tab : row + size;
        const QByteArrayView v = copyField(p, stop - p, m_scratch);
        const QString bad = m_cp932.firstUnencodable(v.toByteArray());
        if (!bad.isEmpty()) {
            abandon(UnencodableValueMessage(m_rows + 1, m_columns.value(f), bad));
            return;
        }
        if (!tab) break;
        p = tab + 1;
    }
    abandon(UnencodableValueMessage(m_rows + 1, QString(), QString()));
}

void CsvExportJob::writeRows(const Result& r, int first, int count)
{
    if (m_draining) return;
    const int fields = r.fields();
    if (m_settings.header && !m_headerDone) {
        QStringList names;
        for (int f = 0; f < fields; ++f) names << r.fieldName(f);
        if (!writeHeader(names)) {
            abandon(m_failure);
            return;
        }
    }
    for (int row = first; row < first + count; ++row) {
        if (!writeLine(r, row)) return;
    }
    if (m_out.size() >= kWriteChunk) flush();
}

bool CsvExportJob::writeLine(const Result& r, int row)
{
    const int fields = r.fields();
    m_line->clear();
    for (int f = 0; f < fields; ++f) m_line->addField(r.rawValue(row, f), r.rawLength(row, f));
    const QByteArrayView line = m_line->finishLine();
    if (!m_cp932.append(m_out, line.constData(), line.size())) {
        abandon(UnencodableLine(m_cp932, r, row, m_rows + 1));
        return false;
    }
    ++m_rows;
    return true;
}

void CsvExportJob::flush()
{
    if (m_draining || m_out.isEmpty()) return;
    if (m_file.write(m_out.constData(), m_out.size()) != m_out.size()) {
        abandon(QStringLiteral("ファイルに書き込めませんでした。\n\nFile = %1\n%2")
                 .arg(m_file.fileName(), m_file.errorString()));
    }
    m_out.resize(0);  // keeps its allocation for the next chunk
}

void CsvExportJob::fail(const QString& text)
{
    if (m_draining) return;
    m_draining = true;
    m_failure = text.isEmpty() ? QStringLiteral("出力できませんでした。") : text;
    m_out.clear();
}

void CsvExportJob::abandon(const QString& text)
{
    // The rest of the rows would only be read and thrown away.
    if (!m_draining && m_running) m_conn.requestCancel();
    fail(text);
}

void CsvExportJob::end()
{
    m_running = false;
    delete m_notifier;
    m_notifier = nullptr;
    flush();
    if (!m_draining && !m_file.flush())
        fail(QStringLiteral("ファイルに書き込めませんでした。\n\nFile = %1\n%2")
                 .arg(m_file.fileName(), m_file.errorString()));
    m_file.close();
    if (m_draining) m_file.remove();
    emit progress(m_rows);
    emit finished(!m_draining);
}
