// The calls of a session that go to libpq as they stand: a stream's or a COPY's pieces, values
// escaped for a statement, cancel requests. Statements and what becomes of them when the
// session is lost are in Connection.cpp.
#include "workspace/Connection.h"

#include <QByteArray>

// What a statement sent as it stands goes through first: the session may refuse it, and takes
// it in blocking mode (a stream's pieces are read by the caller).
bool Connection::readyToSendAsItStands(const QString& statement)
{
    if (const QString why = refusal(); !why.isEmpty()) {
        refused(why);
        return false;
    }
    stopWatchingIdle();
    settleCancels();
    if (m_observer) m_observer(statement);
    if (m_conn) PQsetnonblocking(m_conn, 0);
    return true;
}

bool Connection::send(const QString& statement)
{
    if (!readyToSendAsItStands(statement)) return false;
    if (!m_conn || !PQsendQuery(m_conn, statement.toUtf8().constData())) {
        reportFailure(Result());
        return false;
    }
    return true;
}

bool Connection::startStream(const QString& statement)
{
    if (!readyToSendAsItStands(statement)) return false;
    if (!m_conn || !PQsendQueryParams(m_conn, statement.toUtf8().constData(), 0, nullptr, nullptr,
                                      nullptr, nullptr, 0)) {
        reportFailure(Result());
        return false;
    }
    PQsetSingleRowMode(m_conn);
    return true;
}

bool Connection::consumeInput() { return m_conn && PQconsumeInput(m_conn) == 1; }

bool Connection::isBusy() const { return m_conn && PQisBusy(m_conn) == 1; }

Result Connection::nextResult()
{
    if (!m_conn) return Result();
    Result r(PQgetResult(m_conn));
    if (r.exists()) reportFailure(r);
    return r;
}

Result Connection::tryNextResult() { return m_conn ? Result(PQgetResult(m_conn)) : Result(); }

int Connection::copyRow(char** row)
{
    *row = nullptr;
    return m_conn ? PQgetCopyData(m_conn, row, 1) : -2;
}

void Connection::freeCopyRow(char* row)
{
    if (row) PQfreemem(row);
}

int Connection::socket() const { return m_conn ? PQsocket(m_conn) : -1; }

QString Connection::escapeValue(const QString& value) const
{
    if (!m_conn) {
        QString doubled = value;
        return doubled.replace(QLatin1Char('\''), QLatin1String("''"));
    }
    const QByteArray in = value.toUtf8();
    QByteArray out(in.size() * 2 + 1, '\0');
    int error = 0;
    size_t n = PQescapeStringConn(m_conn, out.data(), in.constData(), size_t(in.size()), &error);
    if (error) {
        // libpq found a byte sequence it could not take and left part of the value out; the
        // whole value is escaped by the server's rules instead, never shortened.
        QString escaped = value;
        const char* conforming = PQparameterStatus(m_conn, "standard_conforming_strings");
        if (!conforming || qstrcmp(conforming, "on") != 0)
            escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
        return escaped.replace(QLatin1Char('\''), QLatin1String("''"));
    }
    out.truncate(int(n));
    return QString::fromUtf8(out);
}

QString Connection::encryptPassword(const QString& password, const QString& roleName) const
{
    if (!m_conn) return {};
    char* verifier = PQencryptPasswordConn(m_conn, password.toUtf8().constData(),
                                           roleName.toUtf8().constData(), nullptr);
    if (!verifier) return {};
    const QString out = QString::fromUtf8(verifier);
    PQfreemem(verifier);
    return out;
}

bool Connection::putCopyData(const char* data, qsizetype length)
{
    return m_conn && PQputCopyData(m_conn, data, int(length)) == 1;
}

Result Connection::endCopy()
{
    if (!m_conn) return Result();
    if (PQputCopyEnd(m_conn, nullptr) != 1) return Result(PQgetResult(m_conn));
    Result r(PQgetResult(m_conn));
    // Drain what follows, so the connection is ready for the next statement.
    while (PGresult* more = PQgetResult(m_conn)) PQclear(more);
    return r;
}

void Connection::setNoticeProcessor(PQnoticeProcessor processor, void* context)
{
    m_noticeProcessor = processor;
    m_noticeContext = context;
    if (m_conn) PQsetNoticeProcessor(m_conn, processor, context);
}

bool Connection::requestCancel() { return m_cancels->send(m_conn); }

std::unique_ptr<CancelHandle> Connection::cancelHandle() const
{
    PGcancel* cancel = m_conn ? PQgetCancel(m_conn) : nullptr;
    return cancel ? std::make_unique<CancelHandle>(cancel, m_cancels) : nullptr;
}

bool CancelHandle::cancel() const
{
    m_requests->send(m_cancel);
    return bool(m_cancel);
}
