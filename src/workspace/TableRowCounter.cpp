#include "workspace/TableRowCounter.h"

#include <QByteArray>
#include <QSocketNotifier>

TableRowCounter::TableRowCounter(QObject* parent) : QObject(parent) {}

TableRowCounter::~TableRowCounter() { cancel(); }

bool TableRowCounter::start(const Connection& like, const QString& countStatement)
{
    if (m_opening) {
        // Asked again from inside the wait for the session to open (a timer, a name typed
        // meanwhile): the count sent once it is open is the latest one asked for.
        m_pending = countStatement;
        return true;
    }
    cancel();
    if (!like.raw()) return false;
    // The session of the last count is used again while it is sound: a click through the
    // tables or a name typed again costs a statement, not a login.
    if (!m_session || m_openedLike != like.backendPid() || PQstatus(m_conn) != CONNECTION_OK) {
        drop();
        m_opening = true;
        m_pending = countStatement;
        std::unique_ptr<Connection> opened = Connection::openLike(like);
        m_opening = false;
        if (!opened) return false;
        m_session = std::move(opened);
        m_openedLike = like.backendPid();
        m_conn = m_session->raw();
        // Cancelled while it opened: the session stays for the next count.
        if (m_pending.isEmpty()) return true;
    } else {
        m_pending = countStatement;
    }
    m_failureSink = like.failureSink();
    const QByteArray statement = m_pending.toUtf8();
    m_pending.clear();
    // Sent whole in blocking mode; the answer is then read without blocking.
    if (PQsetnonblocking(m_conn, 0) != 0 || !PQsendQuery(m_conn, statement.constData()) ||
        PQsetnonblocking(m_conn, 1) != 0) {
        drop();
        return false;
    }
    m_notifier = new QSocketNotifier(qintptr(PQsocket(m_conn)), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TableRowCounter::readAnswer);
    return true;
}

void TableRowCounter::cancel()
{
    if (m_opening) {
        m_pending.clear();
        return;
    }
    if (!running()) return;
    // A count still on its way: the session would have to wait for the rest of its answer
    // before it could be used again, so it goes, with the server asked to stop the count
    // (from a thread of its own: the request waits on the link as long as it takes).
    CancelInBackground(m_conn);
    drop();
}

void TableRowCounter::drop()
{
    finish();
    m_session.reset();
    m_conn = nullptr;
    m_openedLike = 0;
}

void TableRowCounter::finish()
{
    delete m_notifier;
    m_notifier = nullptr;
    m_answer = Result();
}

void TableRowCounter::readAnswer()
{
    if (!PQconsumeInput(m_conn)) {
        const QString text = QString::fromUtf8(PQerrorMessage(m_conn)).trimmed();
        drop();
        fail(text);
        return;
    }
    // The statement's result, then the null that ends it; either may still be on its way.
    while (!PQisBusy(m_conn)) {
        PGresult* next = PQgetResult(m_conn);
        if (!next) break;
        if (m_answer.exists())
            PQclear(next);
        else
            m_answer = Result(next);
    }
    if (PQisBusy(m_conn)) return;
    const Result answer = std::move(m_answer);
    m_answer = Result();
    finish();
    const int f = answer.fieldNumber("RecordCount");
    if (answer.tuplesOk() && f >= 0 && answer.rows() > 0)
        emit counted(answer.value(0, f));
    else
        fail(answer.exists() ? answer.errorMessage().trimmed() : QString());
}

void TableRowCounter::fail(const QString& serverText)
{
    if (m_failureSink && !serverText.isEmpty()) m_failureSink(serverText);
    emit failed(serverText);
}
