#include "transfer/CsvExport.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <cstring>

#include <poll.h>


namespace {

// The server refused the statement because the transaction is read-only.
const QString kReadOnlyRefusal = QStringLiteral("25006");
// Bytes gathered before they go to the file.
constexpr qsizetype kWriteChunk = 1 << 20;
// The longest stretch of rows handled before the event loop gets its turn.
constexpr qint64 kSliceMs = 40;
// TID range scans, which make copying a range of blocks cheap, came with server 14.
constexpr int kTidRangeScanVersion = 140000;

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
        if (m_copying) {
            cancelLanes();
            drainLanes();
            endShare(false);
        } else {
            m_conn.requestCancel();
            while (m_conn.nextResult().exists()) {
            }
        }
        m_file.close();
        m_file.remove();
    }
}

void CsvExportJob::setTableSplit(int sessions, int chunkBlocks, qsizetype heldLimit)
{
    m_splitSessions = std::max(1, sessions);
    m_chunkBlocks = std::max(1, chunkBlocks);
    m_heldLimit = std::max<qsizetype>(1, heldLimit);
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
    const QByteArray quote = settings.quote.toUtf8(), delimiter = settings.delimiter.toUtf8();
    m_plainRows = quote.size() == 1 && delimiter.size() == 1 && uchar(quote[0]) < 0x80 &&
                  uchar(delimiter[0]) < 0x80 && quote[0] != '\\' && quote[0] != '\n' &&
                  quote[0] != '\t';
    m_quoteByte = m_plainRows ? quote[0] : 0;
    m_delimiterByte = m_plainRows ? delimiter[0] : 0;
    m_special.fill(false);
    for (int b = 0x80; b < 0x100; ++b) m_special[b] = true;
    m_special[uchar('\t')] = m_special[uchar('\\')] = m_special[uchar(m_quoteByte)] = true;
    m_sessionsUsed = 1;
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
    if (copyQuery(statement)) return true;
    if (!m_failure.isEmpty()) return refuseStart(m_failure);
    if (!m_conn.startStream(statement)) return refuseStart(trimmed(m_conn.errorMessage()));
    delete m_notifier;
    m_notifier = new QSocketNotifier(qintptr(m_conn.socket()), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &CsvExportJob::pump);
    return true;
}

// One query is copied as a table is, by COPY (query) TO STDOUT, whose text form gives back the
// values a select returns at a fraction of the cost of a result per row. false when the text
// is not one query or the server would not copy it (m_failure set only when the header
// cannot be written): nothing of the statement has run then, since the server answers a COPY
// before it runs its query, and the statement goes the way of any other.
bool CsvExportJob::copyQuery(const QString& statement)
{
    // A failed attempt would abort a transaction the operator holds open.
    if (m_conn.inTransaction() || !IsCursorQuery(statement)) return false;
    const Result shape = m_conn.describe(statement);
    if (!shape.commandOk()) return false;
    QStringList names;
    for (int f = 0; f < shape.fields(); ++f) names << shape.fieldName(f);
    const qsizetype written = m_out.size();
    if (m_settings.header && !writeHeader(names)) return false;
    // The line ends keep a closing comment from taking the parenthesis with it.
    QString query = statement;
    while (!query.isEmpty() && (query.back().isSpace() || query.back() == u';')) query.chop(1);
    const Result copy = m_conn.tryExec(QStringLiteral("COPY (\n%1\n) TO STDOUT").arg(query));
    if (copy.status() != PGRES_COPY_OUT) {
        while (m_conn.nextResult().exists()) {
        }
        // The statement's own results decide whether there is a header.
        m_out.truncate(written);
        m_headerDone = false;
        return false;
    }
    m_columns = names;
    resetLanes();
    CopyLane& lane = addWorkspaceLane(QString());
    lane.nextChunk = 1;
    lane.inQuery = true;
    lane.ranges.emplace_back();
    m_copying = true;
    addLaneNotifier(lane);
    return true;
}

// No session copies anything yet: one range, the first to write.
void CsvExportJob::resetLanes()
{
    m_lanes.clear();
    m_chunk = 0;
    m_chunkCount = 1;
    m_lanesCancelled = false;
}

CsvExportJob::CopyLane& CsvExportJob::addWorkspaceLane(const QString& tableSql)
{
    CopyLane& lane = m_lanes.emplace_back();
    lane.conn = &m_conn;
    lane.tableSql = tableSql;
    return lane;
}

bool CsvExportJob::startTable(const ObjectName& table)
{
    // The field names (for the header and for messages), then the rows as COPY data.
    const QString name = table.sql();
    const Result shape = m_conn.exec(QStringLiteral("select * from %1 Limit 0").arg(name));
    if (!shape.tuplesOk()) return refuseStart(failureText(shape, m_conn));
    for (int f = 0; f < shape.fields(); ++f) m_columns << shape.fieldName(f);
    if (m_settings.header && !writeHeader(m_columns)) return refuseStart(m_failure);
    resetLanes();
    if (!shareOutTable(table)) {
        resetLanes();
        addWorkspaceLane(name);
    }
    m_sessionsUsed = int(m_lanes.size());
    m_copying = true;
    for (size_t i = 0; i < m_lanes.size(); ++i) m_lanes[i].nextChunk = int(i);
    for (CopyLane& lane : m_lanes) {
        if (!sendRanges(lane)) {
            const QString text = m_failure;
            m_failure.clear();
            cancelLanes();
            drainLanes();
            endShare(false);
            m_copying = false;
            return refuseStart(text);
        }
    }
    for (CopyLane& lane : m_lanes) addLaneNotifier(lane);
    return true;
}

// A large table is copied by several sessions at once, each its own ranges of heap blocks
// (TID range scans), so that the server's work of producing the rows runs on several cores.
// Every session reads the snapshot the workspace's session exported, so the ranges together
// hold every row exactly once, as one COPY would; the further sessions take over the
// workspace session's settings first (DateStyle and the like shape the values' text).
// false, with nothing left open, when the table is small or a condition is not met: then
// the workspace's session copies the table alone.
bool CsvExportJob::shareOutTable(const ObjectName& table)
{
    if (m_splitSessions < 2 || table.schema.isEmpty() || m_conn.inTransaction() ||
        PQserverVersion(m_conn.raw()) < kTidRangeScanVersion)
        return false;
    // Each step may fail for reasons of the server's (a standby, no room for more sessions);
    // the export then goes the plain way, and none of it is the operator's business.
    if (!m_conn.tryExec(QStringLiteral("BEGIN TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY"))
             .commandOk())
        return false;
    m_snapshotOpen = true;
    const Result snapshot = m_conn.tryExec(QStringLiteral("select pg_catalog.pg_export_snapshot()"));
    // Read after the snapshot was taken: every row it sees lies within these blocks.
    const Result info = m_conn.tryExec(
        QStringLiteral("select c.relkind, c.relhassubclass, c.relpersistence, "
                       "pg_catalog.pg_relation_size(c.oid) / "
                       "pg_catalog.current_setting('block_size')::int8 "
                       "from pg_catalog.pg_class c join pg_catalog.pg_namespace n "
                       "on n.oid = c.relnamespace where n.nspname = '%1' and c.relname = '%2'")
            .arg(m_conn.escapeValue(table.schema), m_conn.escapeValue(table.name)));
    const Result settings = m_conn.tryExec(QStringLiteral(
        "select name, setting from pg_catalog.pg_settings where source = 'session' "
        "and name not like 'transaction%'"));
    const qint64 blocks = info.tuplesOk() && info.rows() == 1 ? info.value(0, 3).toLongLong() : 0;
    const QString kind = blocks ? info.value(0, 0) : QString();
    const bool fits = (kind == u"r" || kind == u"m") && info.value(0, 1) == u"f" &&
                      info.value(0, 2) != u"t" && blocks >= 2 * qint64(m_chunkBlocks);
    if (!snapshot.tuplesOk() || snapshot.rows() != 1 || !settings.tuplesOk() || !fits) {
        endShare(false);
        return false;
    }
    m_chunkCount = int(std::min<qint64>((blocks + m_chunkBlocks - 1) / m_chunkBlocks, 1 << 30));
    addWorkspaceLane(table.sql());
    const QString snapshotId = snapshot.value(0, 0);
    const int sessions = int(std::min<qint64>(m_splitSessions, m_chunkCount));
    for (int i = 1; i < sessions; ++i) {
        std::unique_ptr<Connection> other = Connection::openLike(m_conn);
        if (!other) break;
        bool ready = true;
        for (int s = 0; ready && s < settings.rows(); ++s) {
            ready = other->tryExec(QStringLiteral("select pg_catalog.set_config('%1', '%2', false)")
                                    .arg(other->escapeValue(settings.value(s, 0)),
                                         other->escapeValue(settings.value(s, 1))))
                        .tuplesOk();
        }
        ready = ready &&
                other->tryExec(QStringLiteral("BEGIN TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY"))
                    .commandOk() &&
                other->tryExec(QStringLiteral("SET TRANSACTION SNAPSHOT '%1'")
                                .arg(other->escapeValue(snapshotId)))
                    .commandOk();
        if (!ready) break;
        CopyLane lane;
        lane.conn = other.get();
        lane.owned = std::move(other);
        lane.tableSql = table.qualifiedSql();
        m_lanes.push_back(std::move(lane));
    }
    if (m_lanes.size() < 2) {
        endShare(false);
        return false;
    }
    return true;
}

// Ends the shared copy's transaction in the workspace's session and closes the others.
void CsvExportJob::endShare(bool commit)
{
    for (CopyLane& lane : m_lanes) delete lane.notifier;
    m_lanes.clear();
    m_spareRows.clear();
    if (!m_snapshotOpen) return;
    m_snapshotOpen = false;
    const Result r = m_conn.exec(commit ? QStringLiteral("COMMIT") : QStringLiteral("ROLLBACK"));
    if (commit && !r.commandOk()) fail(failureText(r, m_conn));
}

qsizetype CsvExportJob::CopyLane::held() const
{
    qsizetype bytes = 0;
    for (const Range& r : ranges) bytes += r.rows.size();
    return bytes;
}

// Sends the session's next ranges, as many COPY statements in one text: each range's rows
// follow the last one's without a round trip between.
bool CsvExportJob::sendRanges(CopyLane& lane)
{
    constexpr int kRangesPerText = 64;
    QString text;
    for (int n = 0; n < kRangesPerText && lane.nextChunk < m_chunkCount; ++n) {
        const int chunk = lane.nextChunk;
        QString where;
        if (m_chunkCount > 1) {
            const qint64 from = qint64(chunk) * m_chunkBlocks, to = from + m_chunkBlocks;
            if (chunk > 0) where = QStringLiteral(" where ctid >= '(%1,0)'").arg(from);
            if (chunk + 1 < m_chunkCount)
                where += QStringLiteral("%1 ctid < '(%2,0)'").arg(where.isEmpty() ? u" where" : u" and").arg(to);
        }
        if (!text.isEmpty()) text += u"; ";
        text += QStringLiteral("COPY (select * from %1%2) TO STDOUT").arg(lane.tableSql, where);
        lane.nextChunk += int(m_lanes.size());
    }
    if (text.isEmpty()) return true;
    // Sent without waiting: the answers are taken with the rows.
    if (!lane.conn->send(text)) {
        fail(trimmed(lane.conn->errorMessage()));
        return false;
    }
    lane.inQuery = true;
    return true;
}

void CsvExportJob::addLaneNotifier(CopyLane& lane)
{
    lane.notifier = new QSocketNotifier(qintptr(lane.conn->socket()), QSocketNotifier::Read, this);
    connect(lane.notifier, &QSocketNotifier::activated, this, &CsvExportJob::pump);
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
    QElapsedTimer slice;
    slice.start();
    int sinceCheck = 0;
    bool sliced = false;
    // The ranges are written in the table's order, each as soon as its turn comes.
    while (!m_draining && m_chunk < m_chunkCount) {
        CopyLane& current = laneOf(m_chunk);
        if (current.ranges.empty()) {
            // Its COPY has not begun yet (or not been sent, when the session held its limit).
            if (!current.inQuery && !sendRanges(current)) break;
            stepLane(current, false);
            if (current.ranges.empty()) break;
            continue;
        }
        CopyLane::Range& range = current.ranges.front();
        writeHeldRows(range);
        if (m_draining) break;
        if (range.complete) {
            // Its buffer serves a later range: the rows of each are about as many.
            if (m_spareRows.size() < m_lanes.size()) m_spareRows.push_back(std::move(range.rows));
            current.ranges.pop_front();
            ++m_chunk;
            continue;
        }
        const LaneStep step = stepLane(current, true, &slice, &sinceCheck);
        if (step == LaneStep::RangeEnded) continue;
        sliced = step == LaneStep::Sliced;
        break;
    }
    if (m_draining) cancelLanes();
    feedLanes();
    if (m_draining) cancelLanes();
    bool running = false;
    for (CopyLane& lane : m_lanes) {
        running = running || lane.inQuery;
        const bool live = !m_draining && m_chunk < m_chunkCount && &lane == &laneOf(m_chunk);
        if (lane.notifier)
            lane.notifier->setEnabled(lane.inQuery && (m_draining || live || lane.held() < m_heldLimit));
    }
    if (m_draining ? !running : m_chunk == m_chunkCount) {
        drainLanes();  // the end of each text of statements
        endShare(!m_draining);
        end();
        return;
    }
    if (sliced && !m_pumpQueued) {
        m_pumpQueued = true;
        QTimer::singleShot(0, this, &CsvExportJob::pump);
    }
    if (m_rows != m_reported) {
        m_reported = m_rows;
        emit progress(m_rows);
    }
}

// Meanwhile the other sessions go on with their ranges, their rows held up to a limit, so that
// their servers do not wait for the one whose rows are being written.
void CsvExportJob::feedLanes()
{
    for (CopyLane& lane : m_lanes) {
        // (the range whose turn it is is read apart, straight into the file)
        if (!m_draining && m_chunk < m_chunkCount && &lane == &laneOf(m_chunk) &&
            lane.ranges.size() == 1 && lane.copying())
            continue;
        if (!m_draining && !lane.inQuery && lane.nextChunk < m_chunkCount &&
            lane.held() < m_heldLimit && !sendRanges(lane))
            return;
        if (lane.inQuery && (m_draining || lane.held() < m_heldLimit)) stepLane(lane, false);
    }
}

// Reads what has arrived on a session: the rows of its range that is copying are written
// (write: the range's turn has come and nothing of it is held) or held, and at the end of
// that range's COPY (whose own result is checked) the next one begins, unless the session
// holds its limit already or writes: a written range ends the step.
CsvExportJob::LaneStep CsvExportJob::stepLane(CopyLane& lane, bool write,
                                              const QElapsedTimer* slice, int* sinceCheck)
{
    Connection& conn = *lane.conn;
    if (!conn.consumeInput()) {
        fail(trimmed(conn.errorMessage()));
        dropLane(lane);
        return LaneStep::Idle;
    }
    while (true) {
        if (!lane.copying()) {
            if (!lane.inQuery) return LaneStep::Idle;
            if (!m_draining && lane.held() >= m_heldLimit) return LaneStep::Waiting;
            if (conn.isBusy()) return LaneStep::Waiting;
            const Result r = conn.nextResult();
            if (!r.exists()) {
                lane.inQuery = false;
                return LaneStep::Idle;
            }
            if (r.status() != PGRES_COPY_OUT) {
                // The server skips the statements after a failed one.
                fail(failureText(r, conn));
                continue;
            }
            lane.ranges.emplace_back();
            if (!m_spareRows.empty()) {
                lane.ranges.back().rows = std::move(m_spareRows.back());
                m_spareRows.pop_back();
            }
            continue;
        }
        CopyLane::Range& range = lane.ranges.back();
        char* row = nullptr;
        const int size = conn.copyRow(&row);
        if (size > 0) {
            if (m_draining) {
            } else if (write) {
                writeCopyRow(row, size);
                if (m_out.size() >= kWriteChunk) flush();
            } else {
                range.rows.append(row, size);
            }
            Connection::freeCopyRow(row);
            if (!write && !m_draining && lane.held() >= m_heldLimit) return LaneStep::Waiting;
            if (write) {
                if (m_lanes.size() > 1 && (++m_sinceFeed & 127) == 0) feedLanes();
                if (sliceOver(*slice, *sinceCheck)) return LaneStep::Sliced;
            }
            continue;
        }
        if (size == 0) return LaneStep::Waiting;  // the socket tells when more has come
        if (size == -2) {
            fail(trimmed(conn.errorMessage()));
            if (conn.isBad()) {
                dropLane(lane);
                return LaneStep::Idle;
            }
        }
        // The COPY's own outcome follows its data: an error here is the server's.
        const Result r = conn.nextResult();
        if (!r.commandOk()) fail(failureText(r, conn));
        range.complete = true;
        if (m_draining) lane.ranges.clear();
        if (write) return LaneStep::RangeEnded;
    }
}

// A session whose connection is lost: nothing more is read from it, and one the export
// opened is closed at once.
void CsvExportJob::dropLane(CopyLane& lane)
{
    lane.ranges.clear();
    lane.inQuery = false;
    if (!lane.owned) return;
    delete lane.notifier;
    lane.notifier = nullptr;
    lane.owned.reset();
    lane.conn = nullptr;
}

// Rows held for a range, now that its turn has come.
void CsvExportJob::writeHeldRows(CopyLane::Range& range)
{
    if (range.rows.isEmpty()) return;
    // A failure while writing drops every range held, this one too.
    QByteArray rows = std::move(range.rows);
    const char* p = rows.constData();
    const char* end = p + rows.size();
    while (p < end && !m_draining) {
        const char* eol = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
        const char* stop = eol ? eol + 1 : end;
        writeCopyRow(p, stop - p);
        if (m_out.size() >= kWriteChunk) flush();
        p = stop;
    }
    if (m_draining) return;
    rows.resize(0);
    range.rows = std::move(rows);
}

// After a failure: every session's statements still running are cancelled (once), held rows
// dropped; the rest of each session's results is still read (and thrown away).
void CsvExportJob::cancelLanes()
{
    for (CopyLane& lane : m_lanes) {
        const bool copying = lane.copying();
        lane.ranges.clear();
        if (copying) lane.ranges.emplace_back();
        if (lane.inQuery && !m_lanesCancelled) lane.conn->requestCancel();
    }
    m_lanesCancelled = true;
}

// Reads every session's results to their end, throwing COPY rows away, waiting a while for a
// server that has not answered yet.
void CsvExportJob::drainLanes()
{
    const auto readMore = [](Connection& conn) {
        pollfd ready{conn.socket(), POLLIN, 0};
        return poll(&ready, 1, 10000) > 0 && conn.consumeInput();
    };
    for (CopyLane& lane : m_lanes) {
        if (!lane.inQuery) continue;
        Connection& conn = *lane.conn;
        lane.ranges.clear();
            lane.inQuery = false;
        while (true) {
            if (conn.isBusy()) {
                if (!readMore(conn)) break;
                continue;
            }
            const Result r = conn.nextResult();
            if (!r.exists()) break;
            if (r.status() != PGRES_COPY_OUT) continue;
            char* row = nullptr;
            int size;
            while ((size = conn.copyRow(&row)) >= 0) {
                Connection::freeCopyRow(row);
                if (size == 0 && !readMore(conn)) break;
            }
            if (size >= 0) break;
        }
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

// The first byte from p on that needs a look: a tab, a backslash, the quote, or one that is
// not ASCII; end when there is none.
const char* CsvExportJob::nextSpecial(const char* p, const char* end) const
{
    while (p < end && !m_special[uchar(*p)]) ++p;
    return p;
}

// A row of the common settings straight into the output: every field in quotes, the
// delimiter between, the quote doubled; false (nothing written) for a row with an escape other
// than NULL's, which the line builder handles. A row that is not all ASCII is converted to
// CP932 afterwards.
bool CsvExportJob::writePlainCopyRow(const char* row, qsizetype size)
{
    const qsizetype start = m_out.size();
    m_out.resize(start + 3 * size + 8);  // at worst every byte a tab (quote, delimiter, quote)
    char* out = m_out.data() + start;
    const char q = m_quoteByte, d = m_delimiterByte;
    bool wide = false;
    *out++ = q;
    for (const char *p = row, *end = row + size;;) {
        const char* run = p;
        p = nextSpecial(p, end);
        std::memcpy(out, run, size_t(p - run));
        out += p - run;
        if (p == end) break;
        const char c = *p++;
        if (c == '\t') {
            *out++ = q;
            *out++ = d;
            *out++ = q;
        } else if (c == q) {
            *out++ = q;
            *out++ = q;
        } else if (c == '\\') {
            // \N alone in its field is NULL, written as an empty value.
            const bool null = p < end && *p == 'N' && (p - 1 == row || p[-2] == '\t') &&
                              (p + 1 == end || p[1] == '\t');
            if (!null) {
                m_out.truncate(start);
                return false;
            }
            ++p;
        } else {
            wide = true;
            *out++ = c;
        }
    }
    *out++ = q;
    *out++ = '\r';
    *out++ = '\n';
    m_out.truncate(out - m_out.constData());
    if (wide) {
        m_scratch.resize(m_out.size() - start);
        std::memcpy(m_scratch.data(), m_out.constData() + start, size_t(m_scratch.size()));
        m_out.truncate(start);
        if (!m_cp932.append(m_out, m_scratch.constData(), m_scratch.size())) return false;
    }
    ++m_rows;
    return true;
}

void CsvExportJob::writeCopyRow(const char* row, qsizetype size)
{
    if (size > 0 && row[size - 1] == '\n') --size;
    if (m_plainRows && !m_columns.isEmpty() && writePlainCopyRow(row, size)) return;
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
    if (!m_draining && m_running) {
        if (m_copying)
            cancelLanes();
        else
            m_conn.requestCancel();
    }
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
