#include "transfer/CsvExport.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include "transfer/ExportChecks.h"
#include "transfer/StoppedSession.h"
#include "workspace/Transaction.h"

namespace {

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
    m_giveUp.setSingleShot(true);
    m_giveUp.setInterval(kDefaultStopLimitMs);
    connect(&m_giveUp, &QTimer::timeout, this, &CsvExportJob::giveUp);
    connect(&m_file, &ExportFile::committed, this, &CsvExportJob::fileCommitted);
}

CsvExportJob::~CsvExportJob()
{
    if (!m_running) return;
    m_stopped = true;
    if (!m_file.committing()) {
        // Ended with its window, without the event loop: what still runs is stopped here, and
        // the workspace's session waited for no longer than a stop waits.
        Connection* answering = &m_conn;
        if (m_copying) {
            m_reader.cancel();
            answering = m_reader.answering();
        } else {
            // (a query's COPY that has not begun yet may still begin: read as any answer)
            m_conn.requestCancel();
        }
        if (answering && !DiscardAnswer(*answering, m_giveUp.interval())) GiveUpSession(*answering);
        endCopy(false, false);
        settleSavepoint();
    }
    m_file.discard();  // the temporary file goes; the old file stays
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
    m_results.emplace(settings);
    m_copyRows.emplace(settings);
    m_rows = m_reported = 0;
    m_stopped = m_copying = m_copyStarting = m_savepoint = false;
    m_failure.clear();
    m_columns.clear();
    reserveOutput();
    m_sessionsUsed = 1;
    m_rangesCopied.clear();
    if (std::optional<QString> bad = UnencodableSetting(settings)) {
        m_failure = *bad;
        return false;
    }
    if (!m_file.open(fileName)) {
        m_failure = QStringLiteral("ファイルを作成できませんでした。\n\nFile = %1\n%2")
                        .arg(fileName, m_file.errorString());
        return false;
    }
    if (!(source.sqlMode() ? startStatement(source.sqlText) : startTable(source.table)))
        return false;
    m_running = true;
    // A session failed before the first read: what the others run is read to its end first.
    if (m_stopped) m_giveUp.start();
    m_readQueued = true;
    QTimer::singleShot(0, this, &CsvExportJob::readArrived);
    return true;
}

bool CsvExportJob::refuseStart(const QString& text)
{
    m_failure = text.isEmpty() ? QStringLiteral("出力できませんでした。") : text;
    m_file.discard();
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
    if (m_settings.header && !m_results->appendHeader(m_out, names)) {
        m_failure = m_results->failure();
        return false;
    }
    // The line ends keep a closing comment from taking the parenthesis with it.
    QString query = statement;
    while (!query.isEmpty() && (query.back().isSpace() || query.back() == u';')) query.chop(1);
    if (!m_conn.send(QStringLiteral("COPY (\n%1\n) TO STDOUT").arg(query))) {
        m_out.resize(0);
        m_results->forgetHeader();
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
        m_results->forgetHeader();
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
    if (m_settings.header && !m_results->appendHeader(m_out, m_columns))
        return refuseStart(m_results->failure());
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
    // A session that could not be sent its ranges fails the export; the others' statements
    // are read to their end as after any failure.
    m_reader.sendFirstRanges();
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
    if (!m_running || m_ending || m_file.committing()) return;
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
        endCopy(!m_stopped);
        end();
        return;
    }
    if (turn == OrderedCopyReader::Turn::Yielded) queueRead();
    reportProgress();
}

// Closes the sessions the export opened, then ends the shared snapshot's transaction: after a
// stop, within the stop limit like the rest of the stop.
void CsvExportJob::endCopy(bool commit, bool turning)
{
    m_rangesCopied = m_reader.rangesCopied();
    m_reader.clear();
    if (!commit) {
        // (the stop's own timers and reads have nothing left to do while the rollback is waited for)
        m_giveUp.stop();
        m_recancel.stop();
        m_ending = true;
        const bool answered = m_snapshot.abandon(m_giveUp.interval(), turning);
        m_ending = false;
        if (!answered && !m_failure.endsWith(kExportSessionGivenUp))
            m_failure += QStringLiteral("\n\n") + kExportSessionGivenUp;
        return;
    }
    if (std::optional<QString> failed = m_snapshot.end(true)) fail(*failed);
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

void CsvExportJob::fail(const QString& text)
{
    if (m_stopped) return;
    m_stopped = true;
    m_failure = text.isEmpty() ? QStringLiteral("出力できませんでした。") : text;
    m_out.clear();
    // What still runs has the stop limit to end its answer.
    if (m_running) m_giveUp.start();
}

// A failure of the program's own (a value CP932 cannot hold, a write error): the statements
// still running are cancelled, since the rest of the rows would only be read and thrown away.
void CsvExportJob::stop(const QString& text)
{
    if (!m_stopped && m_running && !m_file.committing()) {
        if (m_copying)
            m_reader.cancel();
        else
            m_conn.requestCancel();
        m_recancel.start();
        queueRead();  // (the next read closes what the export opened)
    }
    fail(text);
}

void CsvExportJob::cancel()
{
    if (!m_running) return;
    stop(kExportStopped);
    if (!m_file.committing()) return;
    // Every row was read already: only the file's commit is stopped.
    m_file.discard();
    finish();
}

// The stop limit passed and the workspace's session still answers: it is given up, and the
// reads that wait for it end at once.
void CsvExportJob::giveUp()
{
    // What has come is read first: the answer may have ended meanwhile.
    readArrived();
    if (!m_running || m_file.committing()) return;
    Connection* answering = m_copying ? m_reader.answering() : &m_conn;
    if (!answering) return;
    GiveUpSession(*answering);
    m_failure += QStringLiteral("\n\n") + kExportSessionGivenUp;
    m_recancel.stop();
    readArrived();  // before the event loop watches the socket that is gone
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
    m_recancel.stop();
    delete m_notifier;
    m_notifier = nullptr;
    m_copying = m_copyStarting = false;
    flush();
    settleSavepoint();
    if (m_stopped) {
        m_file.discard();
        finish();
        return;
    }
    m_file.commit();
}

void CsvExportJob::fileCommitted(bool ok)
{
    if (!ok)
        fail(QStringLiteral("ファイルに書き込めませんでした。\n\nFile = %1\n%2")
                 .arg(m_file.fileName(), m_file.errorString()));
    finish();
}

void CsvExportJob::finish()
{
    m_running = false;
    m_giveUp.stop();
    emit progress(m_rows);
    emit finished(!m_stopped);
}
