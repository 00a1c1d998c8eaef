#pragma once

// The CSV import: what a run reads from the dialog, its statements, the target check, the
// begin and the end of its one transaction (the run decides COMMIT or ROLLBACK, never the
// dialog) and the worker thread. The batches themselves are ImportBatches'; the error log is
// ImportErrorLog's.

#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "workspace/ColumnList.h"
#include "transfer/CsvReader.h"
#include "workspace/Connection.h"
#include "workspace/ObjectName.h"

// What an import run reads from the dialog at the moment it starts.
struct ImportSettings {
    QString fileName;
    ObjectName table;
    QString delimiter;
    QString quote;
    bool header = false;
    bool createTable = false;
    bool deleteRows = false;
    bool stopOnError = false;
    // The field-settings list: cell 0 (name), 1 (type) and 2 (size) of every row.
    std::vector<QStringList> fields;
    // Whether the names came from the server (exact) or from the file (typed: folded first).
    bool fieldNamesExact = false;
    QString logPath = QStringLiteral("ImportError.log");
    // The operator agreed to run on although the error log cannot be opened: failed lines are
    // counted, not logged.
    bool withoutLog = false;
};

// The state shared between the dialog (UI thread) and the worker: the flags and the two
// counters, each read and written atomically; nothing else is shared.
struct ImportRunState {
    std::atomic<bool> running{false};
    std::atomic<bool> stopRequest{false};
    std::atomic<long long> executed{0};
    std::atomic<long long> errors{0};
    // Set once a line was processed (or the file proved to hold none): the counter boxes are
    // written only from then on.
    std::atomic<bool> countersWritten{false};
};

// How the worker ended.
struct ImportOutcome {
    // Stop-on-error: the message to show (the failed line's statement and the server's text).
    std::optional<QString> stopMessage;
    // The server was lost: the message to show; nothing of the run can be committed.
    std::optional<QString> lostMessage;
    // The file or the error log could not be opened: the message to show; nothing is committed.
    std::optional<QString> failMessage;
    // The file held no data line: said once the run is committed.
    std::optional<QString> emptyMessage;
};

inline const QString kStopOnErrorFormat =
    QStringLiteral("Query : %1 \nError : %2\n何らかのエラーが発生しました。中断します。");
inline const QString kConnectionLostMessage = QStringLiteral(
    "サーバーとの接続が失われました。インポートを終了します。（トランザクションは破棄されました)");
// After "中断": the lines read so far are named, none of them is kept.
inline const QString kStoppedFormat = QStringLiteral(
    "インポートを中断しました。（トランザクションは破棄されました)\n処理した %1 行を含め、何も保存されていません。");
inline const QString kEmptyFileMessage = QStringLiteral("ファイルにデータ行がありません。インポートした行はありません。");
// Added to it when the run deleted the table's rows first (that is committed).
inline const QString kRowsDeletedNote = QStringLiteral("\n現在のレコードはすべて削除しました。");

// A name from the field-settings list for a statement: exact names quoted as they are, typed
// ones (file headers, Col01) folded as the server folds them first.
QString ImportColumnSql(const QString& name, bool exact);
// "INSERT INTO t (a,b) VALUES(" for the run's table and fields.
QString ImportInsertPrefix(const ImportSettings& s);
// "COPY t (a,b) FROM STDIN" for the run's table and fields.
QString ImportCopyStatement(const ImportSettings& s);
// The CREATE TABLE of a new table from the field-settings rows.
QString ImportCreateStatement(const ImportSettings& s);

// The rows of the field-settings list for a new table described by the file's first record:
// names from the header or Col01.., "text", empty size, "NULL" and six "-". Nothing when the
// file cannot be opened; an empty list when it has no line.
std::optional<std::vector<QStringList>> FieldRowsFromFile(const QString& fileName,
                                                         const QString& delimiter,
                                                         const QString& quote, bool header);

// Whether the typed (or chosen) name reaches a relation an INSERT can fill, found as the
// server finds it: the table check without its count, which the dialog follows apart.
bool ImportTableExists(Connection& conn, const ObjectName& table);

// UI side, before the worker: the CSV file is opened (a file the run cannot read is refused
// before BEGIN, with the file and the reason), then the error log (one that cannot be opened
// asks whether to run without it, and a Yes sets `withoutLog`), then BEGIN and the optional
// create and delete. Messages go through the prompter. Returns false when the run cannot go
// on; the transaction is then ended already (nothing open on the connection).
bool BeginImport(Connection& conn, ImportSettings& s);
// After the worker (UI side): shows the outcome's messages and ends the transaction. The run
// decides: COMMIT unless the operator stopped it or the server was lost; the caller only
// shows the result. A stopped run says that nothing was kept, an empty file that nothing was
// imported. Returns true when the transaction was committed.
bool FinishImport(Connection& conn, const ImportRunState& state, const ImportOutcome& outcome);

// The worker's body. Runs on the calling thread and alone uses the connection meanwhile.
// `progress` is called on that thread (at most every 100 ms, and once at the end) after the
// counters changed.
ImportOutcome RunImportWorker(Connection& conn, const ImportSettings& s, ImportRunState& state,
                              const std::function<void()>& progress = {});

// The whole run on one thread (BEGIN .. COMMIT/ROLLBACK), for callers without a dialog.
// Returns true when it was committed.
bool RunImport(Connection& conn, ImportSettings s, ImportRunState& state, ImportOutcome* outcome = nullptr);

// The worker thread of a run. `progress` and `finished` are called on the worker thread; the
// dialog turns them into queued calls on its own thread.
class ImportJob {
public:
    ImportJob() = default;
    ~ImportJob();
    ImportJob(const ImportJob&) = delete;
    ImportJob& operator=(const ImportJob&) = delete;

    void start(Connection& conn, ImportSettings settings, std::function<void()> progress,
               std::function<void(ImportOutcome)> finished);
    // The stop is seen between records, and the statement in flight (a batch waiting on a lock)
    // is cancelled, so the run ends at once and rolls back.
    void requestStop();
    // Waits for the worker to end (it has called `finished` by then).
    void join();
    bool running() const { return m_state.running; }
    ImportRunState& state() { return m_state; }

private:
    ImportRunState m_state;
    // Made on the UI thread by start(), before the worker runs; used by requestStop().
    std::unique_ptr<CancelHandle> m_cancel;
    // The session is the worker's from start() until join() has seen it end: any statement of
    // the UI's meanwhile is refused.
    std::unique_ptr<SessionLoan> m_loan;
    std::thread m_thread;
};
