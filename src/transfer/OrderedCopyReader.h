#pragma once

#include <QByteArray>
#include <QString>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "workspace/Connection.h"

class QObject;
class QSocketNotifier;

// Where the ordered reader's rows go, and what it asks of the job that owns it (asked for
// every row, so the two questions are answered without a call).
class CopyRowSink {
public:
    // A failure was met: rows are read only to be thrown away, nothing more is written.
    bool stopped() const { return m_stopped; }
    // Ends the export with the text (once: later failures are not the operator's business).
    virtual void fail(const QString& text) = 0;
    // One row of COPY text, in the table's order.
    virtual void writeCopyRow(const char* row, qsizetype size) = 0;
    // Rows of COPY text, each ending in its line feed, in the table's order (rows held).
    virtual void writeCopyRows(const char* rows, qsizetype size) = 0;
    // Whether the rows handled in this turn are enough and the event loop gets its turn: asks
    // turnOver() every 256 rows.
    bool yieldDue()
    {
        if (++m_rowsSinceTurnCheck < 256) return false;
        m_rowsSinceTurnCheck = 0;
        return turnOver();
    }

protected:
    ~CopyRowSink() = default;
    virtual bool turnOver() = 0;

    bool m_stopped = false;
    int m_rowsSinceTurnCheck = 0;
};

// Reads a table's COPY from several sessions at once and hands its rows on in the table's
// order. The table is cut into ranges of heap blocks, numbered in the table's order; session
// k of n copies ranges k, k + n, k + 2n ..., sent as texts of several COPY statements, so
// that its server goes from one range to the next without a round trip. One session and one
// range is the case of a table not shared out, or of a query's COPY.
// Keeps: the rows of range r reach the sink only after every row of the ranges before it;
// rows of a later range are held meanwhile, at most about heldLimit bytes per session (its
// socket then goes unread and its server waits); it ends only once no session is answering
// any more. After a failure the sessions the export opened are closed at once and the
// workspace session's statement is cancelled, its rest read and thrown away, so that the
// session ends idle, or is given up (giveUp()): never left in the middle of an answer.
// Never waits for a socket: it reads what has come, whenever the event loop says so.
class OrderedCopyReader {
public:
    enum class Turn {
        Waiting,  // waits for the sockets
        Yielded,  // the event loop gets its turn; more is to be read at once
        Ended,    // every range is written or a failure was met, and nothing runs any more
    };

    OrderedCopyReader(CopyRowSink& sink, QObject* notifierOwner, std::function<void()> readable);
    ~OrderedCopyReader();

    // Forgets every session (closing those it owns): one range, none copying.
    void clear();
    // A session that copies its share of rangeCount ranges of rangeBlocks blocks of the table
    // (tableSql: the table as that session addresses it); owned when the export opened it.
    void addSession(Connection& conn, std::unique_ptr<Connection> owned, const QString& tableSql);
    void setRanges(int rangeCount, int rangeBlocks);
    void setHeldLimit(qsizetype bytes) { m_heldLimit = bytes; }
    // Sends each session its first text of COPY statements; false (after sink.fail) when one
    // could not be sent.
    bool sendFirstRanges();
    // The workspace's session, whose one COPY has begun already (a query's); cancelled: its
    // cancel request went out already.
    void adoptRunningCopy(Connection& conn, bool cancelled = false);
    // Starts watching the sessions' sockets.
    void watchSessions();

    // Reads what has come, writing the range whose turn it is and holding the others' rows.
    Turn readInOrder();
    // After a failure or when the export is ended early: the sessions the export opened are
    // closed, the workspace session's statement still running is cancelled (once), and held
    // rows are dropped.
    void cancel();
    // Sends the cancel request again to the workspace's session while it still answers (one
    // that reached a server still reading its statement was not seen).
    void cancelAgain();
    // The workspace's session still answering, when it is one of the reader's; null once every
    // session is idle or closed.
    Connection* answering() const;

    int sessionCount() const { return int(m_sessions.size()); }
    // How many ranges each session copied to their end, in session order (the workspace's
    // first).
    std::vector<int> rangesCopied() const;

private:
    // One session's part of the table's COPY.
    struct Session {
        // A range begun by the session: the rows of it not written yet (COPY text, a line per
        // row), held until its turn comes.
        struct Range {
            QByteArray rows;
            bool complete = false;  // its COPY has ended
        };
        Connection* conn = nullptr;
        std::unique_ptr<Connection> owned;  // a session the export opened
        QSocketNotifier* notifier = nullptr;
        QString tableSql;
        int nextRange = 0;      // the first of its ranges not sent yet
        bool textRunning = false;  // a text of COPY statements is running
        bool abandoned = false;    // cancelled: an owned session is closed by the next read
        // Begun, oldest first (every n-th range from the oldest not written); only the last may
        // still be copying.
        std::deque<Range> ranges;
        int rangesCopied = 0;

        bool copying() const { return !ranges.empty() && !ranges.back().complete; }
        qsizetype held() const;
    };
    enum class Read { Waiting, Yielded, RangeEnded, Idle };

    Session& sessionOf(int range) { return m_sessions[size_t(range) % m_sessions.size()]; }
    bool isTurnOf(const Session& s) const;
    bool sendRanges(Session& s);
    void addNotifier(Session& s);
    void readAhead();
    Read readSession(Session& s, bool write);
    void writeHeldRows(Session::Range& range);
    void dropLostSession(Session& s);
    void close(Session& s);
    void closeAbandoned();

    CopyRowSink& m_sink;
    QObject* m_notifierOwner;
    std::function<void()> m_readable;
    std::vector<Session> m_sessions;
    std::vector<QByteArray> m_spareRows;  // buffers of written ranges, for later ones
    int m_nextRange = 0;   // the range being written: every range before it is written
    int m_rangeCount = 1;  // ranges in all; one when the table is not cut
    int m_rangeBlocks = 1;
    qsizetype m_heldLimit = 1;
    bool m_cancelled = false;  // the cancel requests went out
    unsigned m_rowsSinceReadAhead = 0;
};
