#pragma once

#include <libpq-fe.h>

#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "workspace/Result.h"
#include "workspace/SessionOpen.h"
#include "workspace/Waiter.h"

class QSocketNotifier;

// A cancel request for one session, made on the thread that owns the session and usable from
// any other: the UI's "中断" stops the import worker's statement. The request itself is sent
// from a thread of its own, so whoever asks never waits on the network.
class CancelHandle {
public:
    CancelHandle(PGcancel* cancel, std::shared_ptr<CancelRequests> requests)
        : m_cancel(cancel, PQfreeCancel), m_requests(std::move(requests))
    {
    }
    // Asks the server to cancel whatever statement the session runs now; returns at once.
    bool cancel() const;

private:
    std::shared_ptr<PGcancel> m_cancel;
    std::shared_ptr<CancelRequests> m_requests;
};

// How the workspace's session tells the operator what happened to it. The program's further
// sessions (counts, an export's) have none: their owners report for them.
class SessionReporter {
public:
    virtual ~SessionReporter() = default;
    // One line in the log pane.
    virtual void logLine(const QString& line) = 0;
    // A message box.
    virtual void tell(const QString& text) = 0;
    // A Yes/No question; true for Yes.
    virtual bool ask(const QString& question) = 0;
};

// Owns one session (a PGconn). Every statement of the program goes through it, and it also tells
// the observer (when one is set) the text it sends; tests use that to check texts and order.
// Not thread-safe: one thread at a time uses a connection.
//
// The link to the server is assumed to break. A statement that finds its session gone fails as
// a lost session, not as a failed statement; a restorable session (the workspace's) then opens a
// new session with the same settings and runs the session's set-up statements again, without
// blocking when a waiter serves this thread. Only a statement that reads (read(), describe()) is
// sent again, once, and only when no transaction was open; anything else is never sent twice,
// and the operator is told whether it may have been carried out.
//
// State, on the waiter's thread: m_conn is the live session, or null once it was lost (m_lost)
// or never opened. While lost, m_lostTransaction says a transaction was open on it that the
// operator has not been told of yet. m_generation counts the sessions this connection has had.
class Connection {
public:
    using Observer = std::function<void(const QString& statement)>;
    // Told the server's text whenever a statement fails (no result, or an error status), so
    // the operator always learns why, whatever fixed message the caller shows.
    using FailureSink = std::function<void(const QString& serverText)>;
    // Told after every statement, loss and restore: what the status bar shows may have changed.
    using StateListener = std::function<void()>;
    // Handed the answer of a statement as it arrives: each row of a result alone
    // (PGRES_SINGLE_TUPLE), then the statement's last result, for every statement of the text.
    // Answering false to a row stops the statement: it is cancelled, and the rows still on their
    // way are let go without being handed on.
    using RowSink = std::function<bool(const Result& answer)>;
    using OpenOutcome = SessionOpening::Outcome;

    // Opens a session with the seven texts, speaking UTF8, with the given set-up statements run
    // on it (and on every session that later replaces it). With a waiter the open runs inside its
    // wait ("中止" abandons it: nullptr); otherwise it blocks. A failed open still gives a
    // Connection, bad, with libpq's text (see isBad(), openOutcome()).
    static std::unique_ptr<Connection> login(const LoginParameters& p, Waiter* waiter = nullptr,
                                             const QStringList& setup = {});
    // A second session of the same server, database and role as `like` (every setting it was
    // opened with, the password included), speaking UTF8; nullptr when it cannot be opened.
    // When `like` has a waiter serving this thread, the session is opened inside that waiter's
    // wait ("中止" abandons it: nullptr), and the new session waits in the same waiter;
    // otherwise this blocks until it is open.
    static std::unique_ptr<Connection> openLike(const Connection& like);
    // `count` further sessions like `like`, opened at the same time and each sent `setup` (a
    // text of statements, none when empty) as soon as it is open, so that they cost the time of
    // one: the sessions whose opening and set-up succeeded, the others closed. They reach the
    // very server `like` is connected to (its host address and port, not the list it was given).
    // Waited on as openLike waits ("中止" abandons every one of them: none).
    static std::vector<std::unique_ptr<Connection>> openSeveralLike(const Connection& like, int count,
                                                                    const QString& setup);

    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Never opened (a failed login), or lost and not to be restored.
    bool isBad() const;
    OpenOutcome openOutcome() const { return m_openOutcome; }
    // libpq's text for the session, or why it is lost and could not be opened again.
    QString errorMessage() const;
    int backendPid() const;
    int serverVersion() const;  // PQserverVersion, e.g. 150004
    // Whether a transaction block is open (or failed) on the session (PQtransactionStatus).
    bool inTransaction() const;
    bool transactionFailed() const;
    // The open transaction was begun by the operator's own text (the SQL window), not by the
    // program; it then belongs to the operator: the program never ends it.
    bool operatorTransaction() const { return inTransaction() && m_operatorTransaction; }
    // When the operator's transaction has failed, asks once (per failure) whether to roll it
    // back, and does so on Yes. Every statement of the program asks this first; so may a command
    // before it decides anything from the transaction's state.
    void offerRollBackIfFailed();
    // Set by the transaction convention while a change of the program runs under a savepoint of
    // the operator's transaction instead of a transaction of its own.
    bool changeUnderSavepoint() const { return m_changeUnderSavepoint && inTransaction(); }
    void setChangeUnderSavepoint(bool on) { m_changeUnderSavepoint = on; }
    // Whether the session's link is encrypted (TLS).
    bool encrypted() const;
    // The database, host and port of the session itself, as libpq connected (the database
    // field may hold a connection string: these never come from the typed text).
    QString databaseName() const;
    QString hostName() const;
    QString portText() const;

    // The workspace's session: opens a new session when it was lost (see above), tells the
    // operator through `reporter` (not owned; may be null), and watches the idle session so a
    // server that ended it or a dead link is noticed without a statement.
    void setRestorable(SessionReporter* reporter);
    bool isLost() const { return m_lost; }
    // Sessions this connection has had: 1 after the login, one more for each restore.
    int generation() const { return m_generation; }
    // What the last statement's lost session meant for it, in the operator's words; empty when
    // its session held.
    QString lossReport() const { return m_lossReport; }

    // A statement that may change something (or that the program cannot say only reads):
    // never sent twice.
    Result exec(const QString& statement);
    // A statement that only reads (a listing, a catalogue question, a count, a sample): sent
    // once more on a restored session when its own was lost under it outside a transaction.
    Result read(const QString& statement);
    // A statement whose failure the caller handles on its own, not told to the failure sink.
    Result tryExec(const QString& statement);
    // The operator's own text (the SQL window): never sent twice; a transaction it opens is the
    // operator's.
    Result execTyped(const QString& statement);
    // The operator's text as execTyped sends it, each row handed to `rows` as it arrives
    // (single-row mode) so that no whole result is held by libpq. Returns the last result, as
    // PQexec would, without the rows of a result.
    Result execStreaming(const QString& statement, const RowSink& rows);
    // The result columns of one statement, parsed and analysed by the server (as the unnamed
    // prepared statement) but not run: PGRES_COMMAND_OK with the field names, or the failure,
    // which is not told to the failure sink nor the statement to the observer, since nothing
    // ran. A text holding several statements fails.
    Result describe(const QString& statement);
    // One statement only (the extended protocol refuses a text holding several), for texts
    // the operator typed that must not smuggle a COMMIT past a read-only transaction.
    Result execSingle(const QString& statement);

    // Streaming a result as it arrives (single-row mode), so that no whole result is held:
    // startStream sends the statement; then, whenever the socket is readable, consumeInput()
    // and take nextResult() while !isBusy(), one result per row, then the final one, then an
    // empty Result at the end. No other statement may be sent until the empty Result came.
    // One statement only, as for execSingle: a text of several fails with the server's text.
    bool startStream(const QString& statement);
    // Sends the statement without waiting for its results (take them as for startStream).
    bool send(const QString& statement);
    // The whole answer of a statement sent with send() was taken by its caller: the session is
    // as after any statement (its state told, its idle watched).
    void answerTaken() { afterStatement(); }
    // Whether a statement of this thread waits in a waiter (visible, and stoppable by the operator).
    bool waitsVisibly() const { return waiterHere() != nullptr; }
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
    // Asks the server to cancel the statement in progress (its result then ends in an error);
    // the request is sent from a thread of its own.
    bool requestCancel();
    // A handle to cancel this session's statements from another thread; null without a session.
    std::unique_ptr<CancelHandle> cancelHandle() const;
    void setObserver(Observer observer) { m_observer = std::move(observer); }
    void setFailureSink(FailureSink sink) { m_failureSink = std::move(sink); }
    const FailureSink& failureSink() const { return m_failureSink; }
    void setStateListener(StateListener listener) { m_stateListener = std::move(listener); }
    // The waiter of exec, read, tryExec, execTyped, execSingle, describe and of opening sessions
    // (not owned; null: block in libpq). While it waits, the connection refuses every other
    // statement: a timer or a window painted meanwhile must never send on a session that has not
    // answered yet. The waiter serves the thread that installed it; a worker thread that is
    // handed the session meanwhile (the CSV import) waits in libpq.
    void setWaiter(Waiter* waiter)
    {
        m_waiter = waiter;
        m_waiterThread = std::this_thread::get_id();
    }
    Waiter* waiter() const { return m_waiter; }
    bool isWaiting() const { return m_waiting; }
    // The thread that runs a lent session's owner (the import's worker) says so before its
    // first statement; until then, and on every other thread, statements are refused.
    void holdOnThisThread();
    bool isLent() const { return m_lent; }

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

    // Installed on this session and on every session that replaces it.
    void setNoticeProcessor(PQnoticeProcessor processor, void* context);

    PGconn* raw() const { return m_conn; }

private:
    enum class Kind { Change, Read, Typed };
    enum class Fate { Answered, NotSent, NotRun, Unknown, GaveUp };

    explicit Connection(PGconn* conn);
    void adopt(PGconn* conn);
    void reportFailure(const Result& r);
    // One statement: sends through `sendFn`, takes the answer as PQexec would (waiting in the
    // waiter), and deals with a session lost on the way.
    template <typename Send>
    Result roundTrip(Kind kind, bool tellFailure, const QString& text, Send sendFn,
                     const RowSink* rows = nullptr);
    template <typename Send>
    Result answerOnce(Send sendFn, Fate* fate, const RowSink* rows);
    // A text sent as it stands (the simple protocol), by roundTrip.
    Result sendText(Kind kind, bool tellFailure, const QString& statement);
    // Before a statement: a lost session is opened again, a lost transaction told, the
    // operator's failed transaction offered a rollback. False: the statement is not to be sent.
    bool readyToSend(Kind kind);
    void lose(Fate fate, bool inTransaction, bool commitSent);
    bool restore();
    void unreachable();
    void closeSession();
    void stopWatchingIdle();
    // Before a statement is sent: lets a cancel meant for the one before it arrive first.
    void settleCancels() { m_cancels->settle(kCancelSettleMs); }
    bool readyToSendAsItStands(const QString& statement);
    static constexpr int kCancelSettleMs = 500;
    void afterStatement();
    void watchIdle();
    void onIdleInput();
    void tell(const QString& text);
    void logLine(const QString& text);
    QString refusal() const;
    Result refused(const QString& why);
    friend class SessionLoan;
    void lend(const QString& owner);
    void giveBack();
    Waiter* waiterHere() const;
    // The thread that made the session restorable (the UI's): only there is a lost session
    // opened again, the operator told or asked, the idle session watched.
    bool onOwnerThread() const { return std::this_thread::get_id() == m_ownerThread; }
    bool mayRestoreHere() const { return m_restorable && onOwnerThread(); }

    PGconn* m_conn;
    std::shared_ptr<CancelRequests> m_cancels = std::make_shared<CancelRequests>();
    OpenOutcome m_openOutcome = OpenOutcome::Opened;
    SessionSettings m_settings;  // to open another session like this one
    QStringList m_setup;         // run on every session this connection opens
    QString m_lostError;         // why the lost session could not be opened again
    Waiter* m_waiter = nullptr;
    std::thread::id m_waiterThread;
    bool m_waiting = false;
    std::atomic<bool> m_lent{false};
    std::atomic<std::thread::id> m_lentThread;
    QString m_lentTo;  // written before the loan starts, read while it lasts
    bool m_restorable = false;
    std::thread::id m_ownerThread;
    bool m_lost = false;
    bool m_lostTransaction = false;
    bool m_toldUnreachable = false;  // once per outage
    bool m_operatorTransaction = false;
    bool m_failedTransactionAsked = false;
    bool m_changeUnderSavepoint = false;
    int m_generation = 1;
    QString m_lossReport;
    SessionReporter* m_reporter = nullptr;
    std::unique_ptr<QSocketNotifier> m_idleWatch;
    PQnoticeProcessor m_noticeProcessor = nullptr;
    void* m_noticeContext = nullptr;
    Observer m_observer;
    FailureSink m_failureSink;
    StateListener m_stateListener;
};

// A session lent to one owner on another thread (the CSV import's worker) for the loan's
// lifetime: every statement sent on it from any other thread is refused with the owner's name,
// so a timer or a window of the UI can never send on a session the worker is using. The worker
// calls holdOnThisThread() before its first statement. Made and ended on the session's own
// thread; a stream or a COPY on the UI thread needs no loan: the session refuses any other
// statement while it still answers one.
class SessionLoan {
public:
    SessionLoan(Connection& conn, const QString& owner);
    ~SessionLoan();
    SessionLoan(const SessionLoan&) = delete;
    SessionLoan& operator=(const SessionLoan&) = delete;

private:
    Connection& m_conn;
};
