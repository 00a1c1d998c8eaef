#pragma once

#include <libpq-fe.h>

#include <QString>
#include <functional>
#include <memory>
#include <thread>

#include "workspace/Result.h"
#include "workspace/Waiter.h"

// The connection parameters in the order the login form and PQsetdbLogin use them.
struct LoginParameters {
    QString userName;
    QString password;
    QString hostName;
    QString port;
    QString options;
    QString tty;
    QString databaseName;
};

// A cancel request for one session, made on the thread that owns the session and usable from
// any other (PQcancel is safe there): the UI's "中断" stops the import worker's statement.
class CancelHandle {
public:
    explicit CancelHandle(PGcancel* cancel) : m_cancel(cancel) {}
    ~CancelHandle();
    CancelHandle(const CancelHandle&) = delete;
    CancelHandle& operator=(const CancelHandle&) = delete;
    // Asks the server to cancel whatever statement the session runs now; true when sent.
    bool cancel() const;

private:
    PGcancel* m_cancel;
};

// Owns one PGconn. Every statement of the program goes through exec(), which also tells the
// observer (when one is set) the text it sends; tests use that to check texts and order.
// Not thread-safe: one thread at a time uses a connection.
class Connection {
public:
    using Observer = std::function<void(const QString& statement)>;
    // Told the server's text whenever a statement fails (no result, or an error status), so
    // the operator always learns why, whatever fixed message the caller shows.
    using FailureSink = std::function<void(const QString& serverText)>;
    // Handed the answer of a statement as it arrives: each row of a result alone
    // (PGRES_SINGLE_TUPLE), then the statement's last result, for every statement of the text.
    // Answering false to a row stops the statement: it is cancelled, and the rows still on their
    // way are let go without being handed on.
    using RowSink = std::function<bool(const Result& answer)>;

    // PQsetdbLogin with the seven texts; the connection may come back bad (see isBad()).
    static std::unique_ptr<Connection> login(const LoginParameters& p);
    // A second session of the same server, database and role as `like` (every parameter it was
    // opened with, the password included), speaking UTF8; nullptr when it cannot be opened.
    // When `like` has a waiter serving this thread, the session is opened without blocking,
    // inside that waiter's wait ("中止" abandons it: nullptr), and the new session waits in the
    // same waiter; otherwise libpq blocks until it is open.
    static std::unique_ptr<Connection> openLike(const Connection& like);

    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool isBad() const;
    QString errorMessage() const;  // PQerrorMessage
    int backendPid() const;
    int serverVersion() const;  // PQserverVersion, e.g. 150004
    // Whether a transaction block is open (or failed) on the connection (PQtransactionStatus).
    bool inTransaction() const;

    Result exec(const QString& statement);
    // A statement whose failure the caller handles on its own, not told to the failure sink.
    Result tryExec(const QString& statement);
    // The result columns of one statement, parsed and analysed by the server (as the unnamed
    // prepared statement) but not run: PGRES_COMMAND_OK with the field names, or the failure,
    // which is not told to the failure sink nor the statement to the observer, since nothing
    // ran. A text holding several statements fails.
    Result describe(const QString& statement);
    // One statement only (the extended protocol refuses a text holding several), for texts
    // the operator typed that must not smuggle a COMMIT past a read-only transaction.
    Result execSingle(const QString& statement);
    // The operator's text as typed (several statements allowed, as for exec), each row handed
    // to `rows` as it arrives (single-row mode) so that no whole result is held by libpq; waits
    // as exec does. Returns the last result, as PQexec would, without the rows of a result.
    Result execStreaming(const QString& statement, const RowSink& rows);

    // Streaming a result as it arrives (single-row mode), so that no whole result is held:
    // startStream sends the statement; then, whenever the socket is readable, consumeInput()
    // and take nextResult() while !isBusy(), one result per row, then the final one, then an
    // empty Result at the end. No other statement may be sent until the empty Result came.
    // One statement only, as for execSingle: a text of several fails with the server's text.
    bool startStream(const QString& statement);
    // Sends the statement without waiting for its results (take them as for startStream).
    bool send(const QString& statement);
    bool consumeInput();
    bool isBusy() const;
    Result nextResult();
    // The same for an answer whose failure the caller handles on its own, as for tryExec.
    Result tryNextResult();
    int socket() const;  // PQsocket, -1 without a connection
    // One row of a COPY ... TO STDOUT that exec() started (PGRES_COPY_OUT), without waiting:
    // its length with the bytes in *row (give them to freeCopyRow), 0 when no whole row has
    // arrived yet, -1 at the end of the data (then nextResult() until empty), -2 on failure.
    int copyRow(char** row);
    static void freeCopyRow(char* row);
    // Asks the server to cancel the statement in progress (its result then ends in an error).
    bool requestCancel();
    // A handle to cancel this session's statements from another thread; null without a session.
    std::unique_ptr<CancelHandle> cancelHandle() const;
    void setObserver(Observer observer) { m_observer = std::move(observer); }
    void setFailureSink(FailureSink sink) { m_failureSink = std::move(sink); }
    const FailureSink& failureSink() const { return m_failureSink; }
    // The waiter of exec, tryExec, execSingle and describe (not owned; null: block in libpq).
    // While it waits, the connection refuses every other statement: a timer or a window
    // painted meanwhile must never send on a session that has not answered yet.
    // The waiter serves the thread that installed it; a worker thread that is handed the session
    // meanwhile (the CSV import) waits in libpq.
    void setWaiter(Waiter* waiter)
    {
        m_waiter = waiter;
        m_waiterThread = std::this_thread::get_id();
    }
    Waiter* waiter() const { return m_waiter; }
    bool isWaiting() const { return m_waiting; }

    // A value for a '...' literal, escaped as the server expects (PQescapeStringConn).
    QString escapeValue(const QString& value) const;
    // The verifier the server would store for `password` of role `roleName`, made here with the
    // algorithm of the server's password_encryption (PQencryptPasswordConn), so that a
    // statement can carry it instead of the plain password. Empty on failure (errorMessage()).
    QString encryptPassword(const QString& password, const QString& roleName) const;

    // COPY ... FROM STDIN, after exec() answered PGRES_COPY_IN: the data in any pieces, then
    // the end, which gives the COPY's own result (the failure sink is not told: the caller
    // decides what a failed COPY means).
    bool putCopyData(const char* data, qsizetype length);
    Result endCopy();

    void setNoticeProcessor(PQnoticeProcessor processor, void* context);
    bool setClientEncodingUtf8();

    PGconn* raw() const { return m_conn; }

private:
    explicit Connection(PGconn* conn) : m_conn(conn) {}
    void reportFailure(const Result& r);
    // Sends through `sendFn` and takes the answer as PQexec would, waiting in the waiter (in
    // libpq without one); the rows go to `rows` when given.
    template <typename Send>
    Result execWaiting(Send sendFn, const RowSink* rows = nullptr);
    Result refusedWhileWaiting();
    PGconn* m_conn;
    Waiter* waiterHere() const;
    Waiter* m_waiter = nullptr;
    std::thread::id m_waiterThread;
    bool m_waiting = false;
    Observer m_observer;
    FailureSink m_failureSink;
};
