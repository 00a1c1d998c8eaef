#pragma once

#include <libpq-fe.h>

#include <QElapsedTimer>
#include <QLocale>
#include <QString>
#include <algorithm>
#include <functional>

#include "workspace/Result.h"
#include "workspace/SessionOpen.h"
#include "workspace/Waiter.h"

// After "中止", how long the answer may take before the session is given up: the waiting box
// closes within half a second on a link that went silent...
constexpr qint64 kGiveUpMs = 450;
// ...measured from the last answer that still came in, but never longer than this in all.
constexpr qint64 kGiveUpStreamingMs = 1500;

// The answer to one sent statement, taken as PQexec takes it: every result in turn, the last
// one kept, stopping at the start of a COPY. A statement too long for the socket's buffer is
// written as the socket takes it. With a row sink, the rows of single-row mode go there as they
// arrive and are counted for the operator to see.
class PendingAnswer : public WaitingStatement {
public:
    using RowSink = std::function<bool(const Result& answer)>;
    PendingAnswer(PGconn* conn, CancelRequests& cancels, bool flushing, const RowSink* rows)
        : m_conn(conn), m_cancels(cancels), m_flushing(flushing), m_rows(rows)
    {
    }
    int socket() const override { return PQsocket(m_conn); }
    Direction direction() const override { return m_flushing ? Direction::Write : Direction::Read; }
    bool advance() override
    {
        if (m_done) return true;
        if (m_stopClock.isValid() && stopWaitLeft() <= 0) {
            m_gaveUp = m_done = true;
            return true;
        }
        if (m_flushing) {
            const int flushed = PQflush(m_conn);
            if (flushed > 0) return false;
            m_flushing = false;
            if (flushed < 0) return m_done = true;
        }
        if (PQconsumeInput(m_conn) != 1) {
            // The session is lost; finish() takes libpq's report of it.
            m_done = true;
            return true;
        }
        const qint64 taken = m_taken;
        while (!m_done && PQisBusy(m_conn) == 0) take(PQgetResult(m_conn));
        // Answers still coming after "中止" (the rows sent before the cancel arrived): the link
        // is alive, so the wait for the cancel's answer starts again, within a limit.
        if (m_stopClock.isValid() && m_taken != taken) m_lastAnswerAt = m_stopClock.elapsed();
        return m_done;
    }
    void cancel() override
    {
        if (m_stopClock.isValid()) return;
        m_stopClock.start();
        m_cancels.send(m_conn);
    }
    int timeLimitMs() const override
    {
        return m_stopClock.isValid() ? int(std::max<qint64>(0, stopWaitLeft())) : -1;
    }
    QString progress() const override
    {
        if (m_received == 0) return {};
        return QStringLiteral("%1 行を受信").arg(QLocale(QLocale::Japanese).toString(m_received));
    }
    bool gaveUp() const { return m_gaveUp; }
    // A result before the last one succeeded: part of the text ran, whatever came after.
    bool sawSuccess() const { return m_sawSuccess; }
    // Whatever advance() has not taken yet, waiting in libpq (immediate once advance() was
    // true, unless the session was lost).
    Result finish()
    {
        while (!m_copy && !m_ended) take(PQgetResult(m_conn));
        return std::move(m_last);
    }

private:
    // How long the answer to "中止" may still take.
    qint64 stopWaitLeft() const
    {
        const qint64 now = m_stopClock.elapsed();
        return std::min(m_lastAnswerAt + kGiveUpMs - now, kGiveUpStreamingMs - now);
    }
    void take(PGresult* r)
    {
        ++m_taken;
        if (!r) {
            m_done = m_ended = true;
            return;
        }
        if (m_rows && PQresultStatus(r) == PGRES_SINGLE_TUPLE) {
            const Result row(r);
            m_sawSuccess = true;
            if (m_sinkStopped) return;
            ++m_received;
            if (!(*m_rows)(row)) {
                m_sinkStopped = true;
                m_cancels.send(m_conn);
            }
            return;
        }
        if (m_last.commandOk() || m_last.tuplesOk()) m_sawSuccess = true;
        m_last = Result(r);
        if (m_rows && !m_sinkStopped) (*m_rows)(m_last);
        if (isCopyStart()) m_done = m_copy = true;
    }
    bool isCopyStart() const
    {
        const ExecStatusType st = m_last.status();
        return st == PGRES_COPY_IN || st == PGRES_COPY_OUT || st == PGRES_COPY_BOTH;
    }
    PGconn* m_conn;
    CancelRequests& m_cancels;
    bool m_flushing;
    const RowSink* m_rows;
    qint64 m_received = 0;
    bool m_sinkStopped = false;  // the sink refused a row: the rest is let go
    Result m_last;
    QElapsedTimer m_stopClock;
    qint64 m_lastAnswerAt = 0;  // on m_stopClock
    qint64 m_taken = 0;
    bool m_done = false;
    bool m_ended = false;
    bool m_copy = false;
    bool m_gaveUp = false;
    bool m_sawSuccess = false;
};
