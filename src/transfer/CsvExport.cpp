#include "transfer/CsvExport.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include "transfer/ExportChecks.h"
#include "workspace/Transaction.h"

namespace {

// Bytes gathered before they go to the file.
constexpr qsizetype kWriteChunk = 1 << 20;
// The longest stretch of rows handled before the event loop gets its turn.
constexpr qint64 kTurnMs = 40;
constexpr int kRecancelMs = 500;
const QString kSavepoint = QStringLiteral("kestrel_export");

}  // namespace

CsvExportJob::CsvExportJob(Connection& conn, QObject* parent)
    : QObject(parent), m_conn(conn), m_snapshot(conn), m_reader(*this, this, [this] { readArrived(); })
{
    m_recancel.setInterval(kRecancelMs);
    connect(&m_recancel, &QTimer::timeout, this, [this] {
        if (m_copying)
            m_reader.cancelAgain();
        else
            m_conn.requestCancel();
    });
}

CsvExportJob::~CsvExportJob()
{
    if (m_running) {
        if (m_copyStarting) {
            // Its answer may yet begin the COPY: read to its end as the reader reads one.
            m_conn.requestCancel();
            m_reader.clear();
            m_reader.adoptRunningCopy(m_conn, true);
            m_copying = true;
        }
        if (m_copying) {
            m_reader.cancel();
            m_reader.drain();
            endCopy(false);
        } else {
            m_conn.requestCancel();
            while (m_conn.nextResult().exists()) {
            }
        }
        m_stopped = true;
        settleSavepoint();
        m_file.cancelWriting();  // the temporary file goes; the old file stays
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
    m_line.emplace(settings);
    m_copyRows.emplace(settings);
    m_rows = m_reported = 0;
    m_headerDone = m_stopped = m_copying = m_copyStarting = m_savepoint = false;
    m_failure.clear();
    m_columns.clear();
    m_out.resize(0);
    m_out.reserve(kWriteChunk + 65536);
    m_sessionsUsed = 1;
    m_rangesCopied.clear();
    if (std::optional<QString> bad = UnencodableSetting(settings)) {
        m_failure = *bad;
        return false;
    }
    m_file.setFileName(fileName);
    // Written beside the target under a temporary name and put in its place only when the
    // export succeeded: a failure leaves an existing file as it was, and no partial file.
    if (!m_file.open(QIODevice::WriteOnly)) {
        m_failure = QStringLiteral("ファイルを作成できませんでした。\n\nFile = %1\n%2")
                        .arg(fileName, m_file.errorString());
        return false;
    }
    if (!(source.sqlMode() ? startStatement(source.sqlText) : startTable(source.table)))
        return false;
    m_running = true;
    m_readQueued = true;
    QTimer::singleShot(0, this, &CsvExportJob::readArrived);
    return true;
}

bool CsvExportJob::refuseStart(const QString& text)
{
    m_failure = text.isEmpty() ? QStringLiteral("出力できませんでした。") : text;
    m_file.cancelWriting();
    m_file.commit();  // with the writing cancelled: only removes the temporary file
    return false;
}

bool CsvExportJob::startStatement(const QString& statement)
{
    m_statement = statement;
    if (copyQuery(statement)) return true;
    if (!m_failure.isEmpty() || !startRows()) return refuseStart(m_failure);
    return true;
}

// The statement's rows through single-row mode. Inside the operator's transaction a query runs
// under a savepoint, so that a failure or a stop leaves the transaction as it was before; any
// other statement may end the transaction or its savepoints itself, and runs as it stands.
bool CsvExportJob::startRows()
{
    m_savepoint = m_conn.inTransaction() && IsCursorQuery(m_statement) &&
                  m_conn.tryExec(QStringLiteral("SAVEPOINT ") + kSavepoint).commandOk();
    if (!m_conn.startStream(m_statement)) {
        m_failure = WithoutClosingLineFeeds(m_conn.errorMessage());
        settleSavepoint();
        return false;
    }
    watchStatement();
    return true;
}

void CsvExportJob::watchStatement()
{
    delete m_notifier;
    m_notifier = new QSocketNotifier(qintptr(m_conn.socket()), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &CsvExportJob::readArrived);
}

// One query is copied as a table is, by COPY (query) TO STDOUT, whose text form gives back the
// values a select returns at a fraction of the cost of a result per row. false when the text
// is not one query or its shape cannot be had (m_failure set when the operator stopped that
// or the header cannot be written). The COPY is sent without waiting: its first answer may
// take as long as the query's first row, and the export can be stopped meanwhile.
bool CsvExportJob::copyQuery(const QString& statement)
{
    // A failed attempt would abort a transaction the operator holds open.
    if (m_conn.inTransaction() || !IsCursorQuery(statement)) return false;
    const Result shape = m_conn.describe(statement);
    // Stopped by the operator while waiting on the server: nothing more is sent.
    if (shape.cancelled()) m_failure = kExportStopped;
    if (!shape.commandOk()) return false;
    QStringList names;
    for (int f = 0; f < shape.fields(); ++f) names << shape.fieldName(f);
    if (m_settings.header && !writeHeader(names)) return false;
    // The line ends keep a closing comment from taking the parenthesis with it.
    QString query = statement;
    while (!query.isEmpty() && (query.back().isSpace() || query.back() == u';')) query.chop(1);
    if (!m_conn.send(QStringLiteral("COPY (\n%1\n) TO STDOUT").arg(query))) {
        m_out.resize(0);
        m_headerDone = false;
        return false;
    }
    m_columns = names;
    m_copyStarting = true;
    watchStatement();
    return true;
}

// The COPY answers with the start of its rows, or the server refuses it before its query runs
// (a form COPY does not take, a table the role may not read): the statement then goes the way
// of any other, through single-row mode. The server begins the COPY before it runs the query,
// so a query that fails once it runs is never run a second time. A stopped export ends there.
void CsvExportJob::readCopyStart()
{
    if (!m_conn.consumeInput()) {
        m_copyStarting = false;
        fail(WithoutClosingLineFeeds(m_conn.errorMessage()));
        end();
        return;
    }
    while (!m_conn.isBusy()) {
        const Result r = m_conn.tryNextResult();
        if (r.status() == PGRES_COPY_OUT) {
            m_copyStarting = false;
            delete m_notifier;
            m_notifier = nullptr;
            m_copyRows->setHasFields(!m_columns.isEmpty());
            m_reader.clear();
            m_reader.setHeldLimit(m_heldLimit);
            m_reader.adoptRunningCopy(m_conn, m_stopped);
            m_copying = true;
            // Rows that came with the start wake no socket.
            queueRead();
            return;
        }
        if (r.exists()) continue;  // the refusal: the statement's own run tells why
        m_copyStarting = false;
        // The statement's own results decide whether there is a header.
        m_out.resize(0);
        m_headerDone = false;
        m_columns.clear();
        if (m_stopped || !startRows()) {
            fail(m_failure);
            end();
        }
        return;
    }
}

bool CsvExportJob::startTable(const ObjectName& table)
{
    // The field names (for the header and for messages), then the rows as COPY data.
    const QString name = table.sql();
    const Result shape = m_conn.read(QStringLiteral("select * from %1 Limit 0").arg(name));
    if (!shape.tuplesOk())
        return refuseStart(shape.cancelled() ? kExportStopped : ServerFailureText(shape, m_conn));
    for (int f = 0; f < shape.fields(); ++f) m_columns << shape.fieldName(f);
    if (m_settings.header && !writeHeader(m_columns)) return refuseStart(m_failure);
    m_copyRows->setHasFields(!m_columns.isEmpty());
    m_reader.clear();
    m_reader.setHeldLimit(m_heldLimit);
    m_reader.addSession(m_conn, nullptr, name);
    if (std::optional<SharedSnapshot::Opened> shared =
            m_snapshot.open(table, m_splitSessions, m_chunkBlocks)) {
        for (std::unique_ptr<Connection>& other : shared->sessions) {
            Connection& session = *other;
            m_reader.addSession(session, std::move(other), name);
        }
        m_reader.setRanges(shared->rangeCount, m_chunkBlocks);
    }
    m_sessionsUsed = m_reader.sessionCount();
    m_copying = true;
    if (!m_reader.sendFirstRanges()) {
        const QString text = m_failure;
        m_failure.clear();
        m_reader.cancel();
        m_reader.drain();
        endCopy(false);
        m_copying = false;
        return refuseStart(text);
    }
    m_reader.watchSessions();
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

void CsvExportJob::queueRead()
{
    if (m_readQueued) return;
    m_readQueued = true;
    QTimer::singleShot(0, this, &CsvExportJob::readArrived);
}

bool CsvExportJob::turnOver()
{
    // Rows already received are handled in turns, so that the window gets its turn between.
    if (m_turn.elapsed() < kTurnMs) return false;
    queueRead();
    return true;
}

// A socket is readable, or a turn was queued: reads what has come.
void CsvExportJob::readArrived()
{
    m_readQueued = false;
    if (!m_running) return;
    m_turn.start();
    m_rowsSinceTurnCheck = 0;
    if (m_copyStarting)
        readCopyStart();
    else if (m_copying)
        readCopy();
    else
        readResults();
}

void CsvExportJob::readCopy()
{
    const OrderedCopyReader::Turn turn = m_reader.readInOrder();
    if (turn == OrderedCopyReader::Turn::Ended) {
        m_reader.drain();  // the end of each text of statements
        endCopy(!m_stopped);
        end();
        return;
    }
    if (turn == OrderedCopyReader::Turn::Yielded) queueRead();
    reportProgress();
}

// Closes the sessions the export opened, then ends the shared snapshot's transaction.
void CsvExportJob::endCopy(bool commit)
{
    m_rangesCopied = m_reader.rangesCopied();
    m_reader.clear();
    if (std::optional<QString> failed = m_snapshot.end(commit)) fail(*failed);
}

void CsvExportJob::readResults()
{
    if (!m_conn.consumeInput()) {
        fail(WithoutClosingLineFeeds(m_conn.errorMessage()));
        while (!m_conn.isBusy() && m_conn.nextResult().exists()) {
        }
        end();
        return;
    }
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
        writeResult(r);
        if (yieldDue()) break;
    }
    reportProgress();
}

void CsvExportJob::reportProgress()
{
    if (m_rows == m_reported) return;
    m_reported = m_rows;
    emit progress(m_rows);
}

void CsvExportJob::writeResult(const Result& r)
{
    switch (r.status()) {
    case PGRES_SINGLE_TUPLE:
        writeResultRows(r);
        break;
    case PGRES_TUPLES_OK:
        // The end of one result set (it holds every row when single-row mode did not apply,
        // as for the later statements of a text holding several).
        writeResultRows(r);
        m_headerDone = false;
        break;
    case PGRES_COMMAND_OK:
    case PGRES_EMPTY_QUERY:
        break;
    default:
        fail(ServerFailureText(r, m_conn));
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

void CsvExportJob::writeCopyRow(const char* row, qsizetype size)
{
    if (!m_copyRows->append(m_out, row, size)) {
        stop(m_copyRows->unencodableMessage(row, size, m_rows + 1, m_columns));
        return;
    }
    ++m_rows;
    flushIfFull();
}

void CsvExportJob::writeResultRows(const Result& r)
{
    if (m_stopped) return;
    const int fields = r.fields();
    if (m_settings.header && !m_headerDone) {
        QStringList names;
        for (int f = 0; f < fields; ++f) names << r.fieldName(f);
        if (!writeHeader(names)) {
            stop(m_failure);
            return;
        }
    }
    for (int row = 0; row < r.rows(); ++row) {
        if (!writeResultLine(r, row)) return;
    }
    flushIfFull();
}

bool CsvExportJob::writeResultLine(const Result& r, int row)
{
    const int fields = r.fields();
    m_line->clear();
    for (int f = 0; f < fields; ++f) m_line->addField(r.rawValue(row, f), r.rawLength(row, f));
    const QByteArrayView line = m_line->finishLine();
    if (!m_cp932.append(m_out, line.constData(), line.size())) {
        stop(UnencodableResultLine(m_cp932, r, row, m_rows + 1));
        return false;
    }
    ++m_rows;
    return true;
}

void CsvExportJob::flushIfFull()
{
    if (m_out.size() >= kWriteChunk) flush();
}

void CsvExportJob::flush()
{
    if (m_stopped || m_out.isEmpty()) return;
    if (m_file.write(m_out.constData(), m_out.size()) != m_out.size()) {
        stop(QStringLiteral("ファイルに書き込めませんでした。\n\nFile = %1\n%2")
                 .arg(m_file.fileName(), m_file.errorString()));
    }
    m_out.resize(0);  // keeps its allocation for the next chunk
}

void CsvExportJob::fail(const QString& text)
{
    if (m_stopped) return;
    m_stopped = true;
    m_failure = text.isEmpty() ? QStringLiteral("出力できませんでした。") : text;
    m_out.clear();
}

// A failure of the program's own (a value CP932 cannot hold, a write error): the statements
// still running are cancelled, since the rest of the rows would only be read and thrown away.
void CsvExportJob::stop(const QString& text)
{
    if (!m_stopped && m_running) {
        if (m_copying)
            m_reader.cancel();
        else
            m_conn.requestCancel();
        m_recancel.start();
    }
    fail(text);
}

void CsvExportJob::cancel()
{
    if (m_running) stop(kExportStopped);
}

// Ends the savepoint a query ran under in the operator's transaction: released after a
// success, rolled back to first after a failure or a stop.
void CsvExportJob::settleSavepoint()
{
    if (!m_savepoint) return;
    m_savepoint = false;
    if (!m_conn.inTransaction()) return;
    EndSavepoint(m_conn, kSavepoint, m_stopped);
}

void CsvExportJob::end()
{
    m_running = false;
    m_recancel.stop();
    delete m_notifier;
    m_notifier = nullptr;
    flush();
    if (!m_stopped && !m_file.flush())
        fail(QStringLiteral("ファイルに書き込めませんでした。\n\nFile = %1\n%2")
                 .arg(m_file.fileName(), m_file.errorString()));
    if (m_stopped) m_file.cancelWriting();
    if (!m_file.commit() && !m_stopped)
        fail(QStringLiteral("ファイルに書き込めませんでした。\n\nFile = %1\n%2")
                 .arg(m_file.fileName(), m_file.errorString()));
    settleSavepoint();
    emit progress(m_rows);
    emit finished(!m_stopped);
}
