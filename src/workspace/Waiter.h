#pragma once

#include <QString>

// What a connection is waiting on, as a waiter sees it: a statement's answer, or a session
// being opened. Only the connection makes one; it lives for the duration of one Waiter::wait
// call.
class WaitingStatement {
public:
    enum class Direction { Read, Write };
    virtual ~WaitingStatement() = default;
    // The socket to watch (PQsocket), and for what. Both may change with every advance() (a
    // session being opened writes, then reads, and may move to another socket), so the waiter
    // asks again after each.
    virtual int socket() const = 0;
    virtual Direction direction() const { return Direction::Read; }
    // Takes whatever the socket is ready for; true once the whole answer is in (or the
    // connection failed), and the waiter must return then.
    virtual bool advance() = 0;
    // The operator's "中止". A statement asks the server to cancel it (PQcancel): its answer
    // then ends in the server's cancel error, which advance() takes as any other failure. A
    // session being opened is abandoned at once. Either way the waiter calls advance() right
    // after, without waiting for the socket.
    virtual void cancel() = 0;
    // What has come in so far, for the operator to see while waiting (the rows received of a
    // large result); empty when there is nothing to tell.
    virtual QString progress() const { return {}; }
};

// How the operator waits on the server. Without a waiter a connection blocks in libpq as it
// always did; with one, the connection sends the statement (or starts opening a session)
// without blocking and hands the wait to the waiter, which watches the socket and calls
// advance() until it answers true. The UI's waiter keeps the windows painting and offers the
// operator a way to cancel.
class Waiter {
public:
    virtual ~Waiter() = default;
    // Returns only once s.advance() answered true.
    virtual void wait(WaitingStatement& s) = 0;
};
