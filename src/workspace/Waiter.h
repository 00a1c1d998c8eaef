#pragma once

#include <QString>

// What a connection is waiting on, as a waiter sees it: a statement's answer, a session being
// opened, or work on another thread (a connect, a cancel request) that signals when it is done.
// Only the connection makes one; it lives for the duration of one Waiter::wait call.
class WaitingStatement {
public:
    enum class Direction { Read, Write };
    virtual ~WaitingStatement() = default;
    // The descriptor to watch (PQsocket, or the one a thread signals on), and for what. Both may
    // change with every advance() (a statement being sent is written, then read), so the waiter
    // asks again after each.
    virtual int socket() const = 0;
    virtual Direction direction() const { return Direction::Read; }
    // Takes whatever the descriptor is ready for; true once the whole answer is in (or the
    // connection failed, or a time limit ran out), and the waiter must return then.
    virtual bool advance() = 0;
    // The operator's "中止". A statement asks the server to cancel it without waiting for the
    // request to get through: its answer then ends in the server's cancel error, which advance()
    // takes as any other failure, or, when no answer comes in time, the session is given up.
    // Work on another thread is abandoned at once. Either way the waiter calls advance() right
    // after, without waiting for the descriptor.
    virtual void cancel() = 0;
    // Milliseconds after which advance() must be called even when the descriptor never gets
    // ready (a time limit, such as the one after "中止"); -1 for none. Asked after each advance().
    virtual int timeLimitMs() const { return -1; }
    // What has come in so far, for the operator to see while waiting (the rows received of a
    // large result); empty when there is nothing to tell.
    virtual QString progress() const { return {}; }
};

// How the operator waits on the server. Without a waiter a connection blocks in libpq as it
// always did; with one, the connection sends the statement (or starts opening a session)
// without blocking and hands the wait to the waiter, which watches the descriptor and calls
// advance() until it answers true. The UI's waiter keeps the windows painting and offers the
// operator a way to cancel.
class Waiter {
public:
    virtual ~Waiter() = default;
    // Returns only once s.advance() answered true.
    virtual void wait(WaitingStatement& s) = 0;
};
