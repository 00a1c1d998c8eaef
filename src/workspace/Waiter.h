#pragma once

// The statement a connection is waiting on, as a waiter sees it. Only the connection makes
// one; it lives for the duration of one Waiter::wait call.
class WaitingStatement {
public:
    virtual ~WaitingStatement() = default;
    // The socket to watch for readability (PQsocket).
    virtual int socket() const = 0;
    // Reads what has arrived and takes every result that is complete; true once the whole
    // answer is in (or the connection failed), and the waiter must return then.
    virtual bool advance() = 0;
    // Asks the server to cancel the statement (PQcancel); the answer then ends in the
    // server's cancel error, which advance() takes as any other failure.
    virtual void cancel() = 0;
};

// How the operator waits on a statement of the workspace's session. Without a waiter a
// connection blocks in libpq as it always did; with one, the connection sends the statement
// without blocking and hands the wait to the waiter, which watches the socket and calls
// advance() until it answers true. The UI's waiter keeps the windows painting and offers the
// operator a way to cancel.
class Waiter {
public:
    virtual ~Waiter() = default;
    // Returns only once s.advance() answered true.
    virtual void wait(WaitingStatement& s) = 0;
};
