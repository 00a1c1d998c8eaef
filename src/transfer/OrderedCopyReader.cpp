#include "transfer/OrderedCopyReader.h"

#include <QObject>
#include <QSocketNotifier>
#include <cstring>

#include "transfer/ExportChecks.h"

OrderedCopyReader::OrderedCopyReader(CopyRowSink& sink, QObject* notifierOwner,
                                     std::function<void()> readable)
    : m_sink(sink), m_notifierOwner(notifierOwner), m_readable(std::move(readable))
{
}

OrderedCopyReader::~OrderedCopyReader() { clear(); }

void OrderedCopyReader::clear()
{
    for (Session& s : m_sessions) delete s.notifier;
    m_sessions.clear();
    m_spareRows.clear();
    m_nextRange = 0;
    m_rangeCount = 1;
    m_cancelled = false;
}

void OrderedCopyReader::addSession(Connection& conn, std::unique_ptr<Connection> owned,
                                   const QString& tableSql)
{
    Session& s = m_sessions.emplace_back();
    s.conn = &conn;
    s.owned = std::move(owned);
    s.tableSql = tableSql;
}

void OrderedCopyReader::setRanges(int rangeCount, int rangeBlocks)
{
    m_rangeCount = rangeCount;
    m_rangeBlocks = rangeBlocks;
}

bool OrderedCopyReader::sendFirstRanges()
{
    for (size_t i = 0; i < m_sessions.size(); ++i) m_sessions[i].nextRange = int(i);
    for (Session& s : m_sessions) {
        if (!sendRanges(s)) return false;
    }
    return true;
}

void OrderedCopyReader::adoptRunningCopy(Connection& conn, bool cancelled)
{
    m_cancelled = cancelled;
    addSession(conn, nullptr, QString());
    Session& s = m_sessions.back();
    s.nextRange = 1;
    s.textRunning = true;
    s.ranges.emplace_back();
    addNotifier(s);
}

void OrderedCopyReader::watchSessions()
{
    for (Session& s : m_sessions) addNotifier(s);
}

void OrderedCopyReader::addNotifier(Session& s)
{
    s.notifier = new QSocketNotifier(qintptr(s.conn->socket()), QSocketNotifier::Read, m_notifierOwner);
    QObject::connect(s.notifier, &QSocketNotifier::activated, m_notifierOwner, m_readable);
}

std::vector<int> OrderedCopyReader::rangesCopied() const
{
    std::vector<int> counts;
    for (const Session& s : m_sessions) counts.push_back(s.rangesCopied);
    return counts;
}

qsizetype OrderedCopyReader::Session::held() const
{
    qsizetype bytes = 0;
    for (const Range& r : ranges) bytes += r.rows.size();
    return bytes;
}

bool OrderedCopyReader::isTurnOf(const Session& s) const
{
    return !m_sink.stopped() && m_nextRange < m_rangeCount &&
           &s == &m_sessions[size_t(m_nextRange) % m_sessions.size()];
}

// Sends the session's next ranges, as many COPY statements in one text: each range's rows
// follow the last one's without a round trip between.
bool OrderedCopyReader::sendRanges(Session& s)
{
    constexpr int kRangesPerText = 64;
    QString text;
    for (int n = 0; n < kRangesPerText && s.nextRange < m_rangeCount; ++n) {
        const int range = s.nextRange;
        QString where;
        if (m_rangeCount > 1) {
            const qint64 from = qint64(range) * m_rangeBlocks, to = from + m_rangeBlocks;
            if (range > 0) where = QStringLiteral(" where ctid >= '(%1,0)'").arg(from);
            if (range + 1 < m_rangeCount)
                where += QStringLiteral("%1 ctid < '(%2,0)'").arg(where.isEmpty() ? u" where" : u" and").arg(to);
        }
        if (!text.isEmpty()) text += u"; ";
        text += QStringLiteral("COPY (select * from %1%2) TO STDOUT").arg(s.tableSql, where);
        s.nextRange += int(m_sessions.size());
    }
    if (text.isEmpty()) return true;
    // Sent without waiting: the answers are taken with the rows.
    if (!s.conn->send(text)) {
        m_sink.fail(WithoutClosingLineFeeds(s.conn->errorMessage()));
        return false;
    }
    s.textRunning = true;
    return true;
}

OrderedCopyReader::Turn OrderedCopyReader::readInOrder()
{
    closeAbandoned();
    bool yielded = false;
    while (!m_sink.stopped() && m_nextRange < m_rangeCount) {
        Session& current = sessionOf(m_nextRange);
        if (current.ranges.empty()) {
            // Its COPY has not begun yet (or not been sent, when the session held its limit).
            if (!current.textRunning && !sendRanges(current)) break;
            readSession(current, false);
            if (current.ranges.empty()) break;
            continue;
        }
        Session::Range& range = current.ranges.front();
        writeHeldRows(range);
        if (m_sink.stopped()) break;
        if (range.complete) {
            // Its buffer serves a later range: the rows of each are about as many.
            if (m_spareRows.size() < m_sessions.size()) m_spareRows.push_back(std::move(range.rows));
            current.ranges.pop_front();
            ++m_nextRange;
            continue;
        }
        const Read step = readSession(current, true);
        if (step == Read::RangeEnded) continue;
        yielded = step == Read::Yielded;
        break;
    }
    if (m_sink.stopped()) cancel();
    // (also the end of each text of statements, once every range is written)
    readAhead();
    const bool stopped = m_sink.stopped();
    if (stopped) cancel();
    bool running = false;
    for (Session& s : m_sessions) {
        running = running || s.textRunning;
        if (s.notifier)
            s.notifier->setEnabled(s.textRunning && (stopped || isTurnOf(s) || s.held() < m_heldLimit));
    }
    closeAbandoned();
    if ((stopped || m_nextRange == m_rangeCount) && !running) return Turn::Ended;
    // Reading ahead may have taken the rows of the range whose turn it is (all of them, and the
    // end of its session's text, when they came meanwhile): nothing more will come on a socket
    // to wake the reader for them, so another turn is needed at once.
    if (!stopped && !yielded) {
        const Session& current = sessionOf(m_nextRange);
        if (!current.ranges.empty() &&
            (current.ranges.front().complete || !current.ranges.front().rows.isEmpty()))
            return Turn::Yielded;
    }
    return yielded ? Turn::Yielded : Turn::Waiting;
}

// Meanwhile the other sessions go on with their ranges, their rows held up to the limit, so
// that their servers do not wait for the one whose rows are being written.
void OrderedCopyReader::readAhead()
{
    for (Session& s : m_sessions) {
        // (the range whose turn it is is read apart, straight to the sink)
        if (isTurnOf(s) && s.ranges.size() == 1 && s.copying()) continue;
        if (!m_sink.stopped() && !s.textRunning && s.nextRange < m_rangeCount && s.held() < m_heldLimit &&
            !sendRanges(s))
            return;
        if (s.textRunning && (m_sink.stopped() || s.held() < m_heldLimit)) readSession(s, false);
    }
}

// Reads what has arrived on a session: the rows of its range that is copying are written
// (write: the range's turn has come and nothing of it is held) or held, and at the end of
// that range's COPY (whose own result is checked) the next one begins, unless the session
// holds its limit already or writes: a written range ends the read.
OrderedCopyReader::Read OrderedCopyReader::readSession(Session& s, bool write)
{
    Connection& conn = *s.conn;
    if (!conn.consumeInput()) {
        m_sink.fail(WithoutClosingLineFeeds(conn.errorMessage()));
        dropLostSession(s);
        return Read::Idle;
    }
    while (true) {
        if (!s.copying()) {
            if (!s.textRunning) return Read::Idle;
            if (!m_sink.stopped() && s.held() >= m_heldLimit) return Read::Waiting;
            if (conn.isBusy()) return Read::Waiting;
            const Result r = conn.nextResult();
            if (!r.exists()) {
                s.textRunning = false;
                return Read::Idle;
            }
            if (r.status() != PGRES_COPY_OUT) {
                // The server skips the statements after a failed one.
                m_sink.fail(ServerFailureText(r, conn));
                continue;
            }
            s.ranges.emplace_back();
            if (!m_spareRows.empty()) {
                s.ranges.back().rows = std::move(m_spareRows.back());
                m_spareRows.pop_back();
            }
            continue;
        }
        Session::Range& range = s.ranges.back();
        char* row = nullptr;
        const int size = conn.copyRow(&row);
        if (size > 0) {
            if (m_sink.stopped()) {
            } else if (write) {
                m_sink.writeCopyRow(row, size);
            } else {
                range.rows.append(row, size);
            }
            Connection::freeCopyRow(row);
            if (!write && !m_sink.stopped() && s.held() >= m_heldLimit) return Read::Waiting;
            if (write) {
                if (m_sessions.size() > 1 && (++m_rowsSinceReadAhead & 127) == 0) readAhead();
                if (m_sink.yieldDue()) return Read::Yielded;
            }
            continue;
        }
        if (size == 0) return Read::Waiting;  // the socket tells when more has come
        if (size == -2) {
            m_sink.fail(WithoutClosingLineFeeds(conn.errorMessage()));
            if (conn.isBad()) {
                dropLostSession(s);
                return Read::Idle;
            }
        }
        // The COPY's own outcome follows its data: an error here is the server's.
        const Result r = conn.nextResult();
        if (!r.commandOk()) m_sink.fail(ServerFailureText(r, conn));
        range.complete = true;
        ++s.rangesCopied;
        if (m_sink.stopped()) s.ranges.clear();
        if (write) return Read::RangeEnded;
    }
}

// A session whose connection is lost: nothing more is read from it (its socket is gone), and
// one the export opened is closed at once.
void OrderedCopyReader::dropLostSession(Session& s)
{
    s.ranges.clear();
    s.textRunning = false;
    delete s.notifier;
    s.notifier = nullptr;
    if (s.owned) close(s);
}

void OrderedCopyReader::closeAbandoned()
{
    for (Session& s : m_sessions) {
        if (s.abandoned && s.owned) close(s);
    }
}

void OrderedCopyReader::close(Session& s)
{
    delete s.notifier;
    s.notifier = nullptr;
    s.owned.reset();
    s.conn = nullptr;
}

// Rows held for a range, now that its turn has come.
void OrderedCopyReader::writeHeldRows(Session::Range& range)
{
    if (range.rows.isEmpty()) return;
    // A failure while writing drops every range held, this one too.
    QByteArray rows = std::move(range.rows);
    m_sink.writeCopyRows(rows.constData(), rows.size());
    if (m_sink.stopped()) return;
    rows.resize(0);
    range.rows = std::move(rows);
}

void OrderedCopyReader::cancel()
{
    for (Session& s : m_sessions) {
        if (s.owned) {
            // Closed rather than cancelled: nothing of it is wanted any more, and closing waits
            // for no server. (Closed by the next read: a read of it may be under way.)
            s.ranges.clear();
            s.textRunning = false;
            s.abandoned = true;
            if (s.notifier) s.notifier->setEnabled(false);
            continue;
        }
        const bool copying = s.copying();
        s.ranges.clear();
        if (copying) s.ranges.emplace_back();
        if (s.textRunning && !m_cancelled) s.conn->requestCancel();
    }
    m_cancelled = true;
}

void OrderedCopyReader::cancelAgain()
{
    if (Connection* conn = answering()) conn->requestCancel();
}

Connection* OrderedCopyReader::answering() const
{
    for (const Session& s : m_sessions) {
        if (!s.owned && s.textRunning) return s.conn;
    }
    return nullptr;
}
