#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "transfer/CopyRowWriter.h"
#include "transfer/Cp932Stream.h"
#include "transfer/CsvLine.h"
#include "transfer/ExportFile.h"
#include "transfer/OrderedCopyReader.h"
#include "transfer/ResultRowWriter.h"
#include "transfer/SharedSnapshot.h"
#include "workspace/Connection.h"
#include "workspace/ObjectName.h"

class QSocketNotifier;

inline const QString kExportNoFileName = QStringLiteral("ファイル名を入力してください");
inline const QString kExportNoDelimiter = QStringLiteral("フィールド区切り記号を設定してください。");
inline const QString kExportNoQuote = QStringLiteral("クォート記号を設定してください。");
// An export the operator stopped: its file is removed.
inline const QString kExportStopped = QStringLiteral("出力を中止しました。");
// Added to the failure when the workspace's session did not answer a stop in time and was
// given up (closed, as a session the server ended is).
inline const QString kExportSessionGivenUp =
    QStringLiteral("サーバーが応答しないため、セッションを切断しました。");

// What the export dialog writes: the rows of one table, or those of the operator's statement
// (SQL mode, decided by the text alone).
struct ExportSource {
    ObjectName table;
    QString sqlText;

    bool sqlMode() const { return !sqlText.isEmpty(); }
};

// The three checks before anything touches the file.
std::optional<QString> CsvExportRefusal(const QString& fileName, const CsvSettings& settings);

// The text that replaces a sample or ends an export when a value cannot be written in CP932.
// row is the record's number (1 for the first), 0 for the line of field names.
QString UnencodableValueMessage(qint64 row, const QString& column, const QString& character);

// The sample (CsvSample.cpp): at most ten rows rendered as the file would hold them (CR LF
// line ends), or the text that says why there is none. Table mode runs "select * from %s Limit 10". SQL mode
// never changes data and never holds a whole result: the statement runs inside a read-only
// transaction that is rolled back, through a cursor when it is a query (at most ten rows are
// fetched); a statement the read-only transaction refuses gives an empty sample, its server
// text going to the log pane like every failure.
QString BuildCsvSample(Connection& conn, const ExportSource& source, const CsvSettings& settings);

// One export to a file, streamed: rows are converted and written as they arrive, driven by the
// event loop of the thread that owns the job (the socket's readiness and zero timers), so the
// window stays responsive and no whole result is held; nothing of it waits for the server or
// the disk. A failure (the server's error, a lost connection, a value CP932 cannot hold, a
// write error) leaves the file as it was before: the rows go to a temporary file beside it,
// put in its place only at a success, once it is on disk (ExportFile).
// A stop or a failure ends every statement still running before the job ends: the sessions the
// export opened are closed, the workspace's statement is cancelled and the rest of its answer
// read and thrown away; when that has not come within the stop limit, the workspace's session
// is given up, so that it is never left in the middle of an answer.
// Owns the file, the bytes gathered for it, the row count and the failure; a table's rows and
// a query's come through the ordered reader (in the shared snapshot when the table is shared
// out) and the COPY row writer, any other statement's rows through single-row mode.
class CsvExportJob : public QObject, private CopyRowSink {
    Q_OBJECT
public:
    explicit CsvExportJob(Connection& conn, QObject* parent = nullptr);
    ~CsvExportJob() override;

    // Opens the temporary file beside fileName and sends the export statement. false, with failure(),
    // when the file cannot be created (nothing is sent then) or the statement failed at once
    // (the file is removed). A table's rows come through COPY (select * from t) TO STDOUT,
    // whose text form is decoded back to the very values a select returns: NULL as empty,
    // the same line for every row; so do the rows of a statement that is one query, outside a
    // transaction; any other statement's rows come through single-row mode.
    bool start(const ExportSource& source, const QString& fileName, const CsvSettings& settings);

    bool running() const { return m_running; }
    qint64 rowsWritten() const { return m_rows; }
    // Why the export failed, for the operator; empty after a success.
    const QString& failure() const { return m_failure; }

    // The operator stops the export: every session it uses is cancelled or closed, what is
    // still coming is read and thrown away, the file is removed and the job ends with
    // kExportStopped.
    void cancel();
    // How long a stopped export waits for the workspace's session to end its answer before
    // giving it up. The default suits the program; tests make it short.
    void setStopLimit(int ms) { m_giveUp.setInterval(ms); }
    static constexpr int kDefaultStopLimitMs = 5000;

    // Runs the job to its end without returning to the caller's event loop (tools and benches).
    bool runToEnd();

    // How a large table's rows are shared out: at most `sessions` sessions (the workspace's and
    // further ones opened like it) each copy every sessions-th range of `chunkBlocks` heap
    // blocks, all in one snapshot, and the ranges are written in the table's order; a session
    // holds at most about `heldLimit` bytes of rows whose turn has not come (then its server
    // waits). The defaults suit the program; tests make the ranges and the limit small.
    void setTableSplit(int sessions, int chunkBlocks, qsizetype heldLimit = kDefaultHeldLimit);
    static constexpr qsizetype kDefaultHeldLimit = 2 << 20;
    // The sessions the last table export used (1 when it was not shared out).
    int sessionsUsed() const { return m_sessionsUsed; }
    // How many block ranges each of those sessions copied to their end, the workspace's first
    // (one range in all when the table was not cut).
    const std::vector<int>& rangesCopied() const { return m_rangesCopied; }

signals:
    void progress(qint64 rows);
    void finished(bool ok);

private:
    bool startTable(const ObjectName& table);
    bool startStatement(const QString& statement);
    bool copyQuery(const QString& statement);
    bool startRows();
    void watchStatement();
    void readCopyStart();
    void settleSavepoint();
    bool refuseStart(const QString& text);
    void queueRead();
    void readArrived();
    void readCopy();
    void readResults();
    void writeResult(const Result& r);
    void reportProgress();
    void endCopy(bool commit, bool turning = true);
    void reserveOutput();
    void flushIfFull();
    void flush();
    void stop(const QString& text);
    void giveUp();
    void end();
    void fileCommitted(bool ok);
    void finish();

    // CopyRowSink (whose m_stopped says a failure was met: what still comes is read and thrown
    // away, the file is removed)
    void fail(const QString& text) override;
    void writeCopyRow(const char* row, qsizetype size) override;
    void writeCopyRows(const char* rows, qsizetype size) override;
    bool turnOver() override;

    Connection& m_conn;
    ExportFile m_file;
    CsvSettings m_settings;
    std::optional<ResultRowWriter> m_results;  // the header, and the rows of results
    std::optional<CopyRowWriter> m_copyRows;
    QByteArray m_out;  // converted, not written to the file yet
    QSocketNotifier* m_notifier = nullptr;  // the socket of the statement or its COPY's start
    // Re-sends the cancel requests of a stopped export that still runs: a request that reached
    // a server still reading the statement was not seen.
    QTimer m_recancel;
    // The stop limit: started by the first failure or stop of a running export.
    QTimer m_giveUp;
    QString m_statement;  // SQL mode's
    bool m_running = false;
    bool m_copyStarting = false;  // a query's COPY was sent, its first answer has not come
    bool m_savepoint = false;     // the query runs under a savepoint of the operator's transaction
    bool m_readQueued = false;
    bool m_ending = false;  // the snapshot's rollback after a stop is waited for
    bool m_copying = false;  // the rows come through the ordered reader
    QStringList m_columns;
    SharedSnapshot m_snapshot;
    OrderedCopyReader m_reader;
    // The turn of the event loop's handler: the time it began.
    QElapsedTimer m_turn;
    // Three sessions: while the program writes one range, a server waiting for its turn now
    // and then would leave a core idle; a third keeps the server's work going (measured on
    // two cores, where two sessions gave about 1.5 times one, three about 1.7 times).
    int m_splitSessions = 3;
    int m_chunkBlocks = 256;
    qsizetype m_heldLimit = kDefaultHeldLimit;
    int m_sessionsUsed = 1;
    std::vector<int> m_rangesCopied;
    qint64 m_rows = 0;
    qint64 m_reported = 0;
    QString m_failure;
};
