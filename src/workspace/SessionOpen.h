#pragma once

#include <libpq-fe.h>

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "workspace/Waiter.h"

// The connection parameters in the order the login form uses them.
struct LoginParameters {
    QString userName;
    QString password;
    QString hostName;
    QString port;
    QString options;
    QString tty;
    QString databaseName;
};

// Connection parameters as libpq keywords, in the order libpq applies them (a later one wins).
using SessionSettings = std::vector<std::pair<QByteArray, QByteArray>>;

// What every session of the program asks for unless the operator's own options say otherwise:
// the program's name in the server's log and pg_stat_activity, a dead link noticed within about
// half a minute (keepalives when idle, tcp_user_timeout while data is unanswered), and a limit
// on each connect attempt, which otherwise waits as long as the system does.
const SessionSettings& DefaultSessionSettings();

// The settings of a login: the defaults above, then the database field (libpq reads a
// connection string there, "dbname=x sslmode=verify-full ...", or a URI, and its settings then
// override the defaults), then each login text that is not empty (which overrides the string, as
// the login fields always did). The session is told to speak UTF8 once it is open.
SessionSettings LoginSessionSettings(const LoginParameters& p);
// Every setting a session was opened with, as libpq holds them now (a second session like it).
SessionSettings SettingsOf(PGconn* conn);

// Opens a session on a thread of its own, so that neither a name lookup, nor a connect to a
// host that does not answer, nor the session's first statements ever hold the thread that waits:
// that thread waits on a descriptor the opening thread signals when it is done.
//
// The session is opened with the settings given, told to speak UTF8, and set up with the given
// statements (each may fail without failing the open). "中止" abandons the open at once; the
// opening thread then closes what it opened whenever its connect ends.
class SessionOpening : public WaitingStatement {
public:
    enum class Outcome { Running, Opened, Failed, NotUtf8, Abandoned };

    SessionOpening(SessionSettings settings, QStringList setup);
    ~SessionOpening() override;
    SessionOpening(const SessionOpening&) = delete;
    SessionOpening& operator=(const SessionOpening&) = delete;

    // Starts the opening thread. Without it, run() opens on the calling thread.
    void start();
    // Opens on the calling thread, blocking until done (no waiter: tests and the import's worker).
    void run();
    // Opens inside the waiter's wait when one is given (on the opening thread), otherwise run().
    void openIn(Waiter* waiter);

    int socket() const override;
    bool advance() override;
    void cancel() override;

    Outcome outcome() const { return m_outcome; }
    // libpq's text when the open failed, or the encoding's refusal.
    QString errorText() const { return m_error; }
    // The session once opened (or a failed one, kept for its error), for the caller to own.
    PGconn* take();

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
    Outcome m_outcome = Outcome::Running;
    QString m_error;
    PGconn* m_conn = nullptr;
};

// Asks the server to cancel the statement a session runs now, from a thread of its own: the
// request connects to the server, which takes as long as the link does (for ever, when it went
// silent), so no thread that matters waits for it. Returns at once; false without a session.
bool CancelInBackground(PGconn* conn);

// The cancel requests sent for one session that have not reached the server yet. One that
// arrives after its statement has ended stops whatever the session runs next, so the session's
// next statement first waits for them, briefly: a request the link holds up longer than that is
// a risk taken rather than a window frozen, and costs no more than that statement failing as
// cancelled.
class CancelRequests : public std::enable_shared_from_this<CancelRequests> {
public:
    // Sends the request from a thread of its own (see CancelInBackground); false without a session.
    bool send(PGconn* conn);
    // The same with a cancel object made earlier on the thread that owns the session.
    void send(const std::shared_ptr<PGcancel>& cancel);
    // Waits until every request sent has arrived, for at most `limitMs`.
    void settle(int limitMs);

private:
    std::mutex m_lock;
    std::condition_variable m_arrived;
    int m_travelling = 0;
};
