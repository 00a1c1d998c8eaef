#include "workspace/Connection.h"

#include <vector>

#include <QByteArray>
#include <QLocale>

namespace {
bool isCopyStart(ExecStatusType st)
{
    return st == PGRES_COPY_IN || st == PGRES_COPY_OUT || st == PGRES_COPY_BOTH;
}

bool sendCancel(PGconn* conn)
{
    PGcancel* raw = conn ? PQgetCancel(conn) : nullptr;
    return raw && CancelHandle(raw).cancel();
}

// The answer to one sent statement, taken as PQexec takes it: every result in turn, the last
// one kept, stopping at the start of a COPY. With a row sink, the rows of single-row mode go
// there as they arrive and are counted for the operator to see.
class PendingAnswer : public WaitingStatement {
public:
    PendingAnswer(PGconn* conn, const Connection::RowSink* rows) : m_conn(conn), m_rows(rows) {}
    int socket() const override { return PQsocket(m_conn); }
    bool advance() override
    {
        if (m_done) return true;
        if (PQconsumeInput(m_conn) != 1) {
            // The session is lost; finish() takes libpq's report of it.
            m_done = true;
            return true;
        }
        while (!m_done && PQisBusy(m_conn) == 0) take(PQgetResult(m_conn));
        return m_done;
    }
    void cancel() override { sendCancel(m_conn); }
    QString progress() const override
    {
        if (m_received == 0) return {};
        return QStringLiteral("%1 行を受信").arg(QLocale(QLocale::Japanese).toString(m_received));
    }
    // Whatever advance() has not taken yet, waiting in libpq (immediate once advance() was
    // true, unless the session was lost).
    Result finish()
    {
        while (!m_copy && !m_ended) take(PQgetResult(m_conn));
        return std::move(m_last);
    }

private:
    void take(PGresult* r)
    {
        if (!r) {
            m_done = m_ended = true;
            return;
        }
        if (m_rows && PQresultStatus(r) == PGRES_SINGLE_TUPLE) {
            const Result row(r);
            if (m_stopped) return;
            ++m_received;
            if (!(*m_rows)(row)) {
                m_stopped = true;
                sendCancel(m_conn);
            }
            return;
        }
        m_last = Result(r);
        if (m_rows && !m_stopped) (*m_rows)(m_last);
        if (isCopyStart(m_last.status())) m_done = m_copy = true;
    }
    PGconn* m_conn;
    const Connection::RowSink* m_rows;
    qint64 m_received = 0;
    bool m_stopped = false;  // the sink refused a row: the rest is let go
    Result m_last;
    bool m_done = false;
    bool m_ended = false;
    bool m_copy = false;
};
// A session being opened (PQconnectStartParams), polled as libpq asks: the socket written
// to, then read from, maybe another one after a failed host.
class OpeningSession : public WaitingStatement {
public:
    explicit OpeningSession(PGconn* conn) : m_conn(conn) {}
    int socket() const override { return PQsocket(m_conn); }
    Direction direction() const override
    {
        return m_polled == PGRES_POLLING_READING ? Direction::Read : Direction::Write;
    }
    bool advance() override
    {
        if (!m_abandoned && m_polled != PGRES_POLLING_OK && m_polled != PGRES_POLLING_FAILED)
            m_polled = PQconnectPoll(m_conn);
        return m_abandoned || m_polled == PGRES_POLLING_OK || m_polled == PGRES_POLLING_FAILED;
    }
    void cancel() override { m_abandoned = true; }
    bool opened() const { return !m_abandoned && PQstatus(m_conn) == CONNECTION_OK; }

private:
    PGconn* m_conn;
    // As libpq's connection start leaves it: the socket is to be written first.
    PostgresPollingStatusType m_polled = PGRES_POLLING_WRITING;
    bool m_abandoned = false;
};
}  // namespace

std::unique_ptr<Connection> Connection::login(const LoginParameters& p)
{
    // The texts are handed over as typed; an empty text is passed as an empty string, which
    // libpq treats like an absent parameter (defaults and environment apply).
    const QByteArray host = p.hostName.toUtf8(), port = p.port.toUtf8(),
                     options = p.options.toUtf8(), tty = p.tty.toUtf8(),
                     db = p.databaseName.toUtf8(), user = p.userName.toUtf8(),
                     pwd = p.password.toUtf8();
    PGconn* c = PQsetdbLogin(host.constData(), port.constData(), options.constData(),
                             tty.constData(), db.constData(), user.constData(), pwd.constData());
    return std::unique_ptr<Connection>(new Connection(c));
}

Connection::~Connection()
{
    if (m_conn) PQfinish(m_conn);
}

bool Connection::isBad() const { return !m_conn || PQstatus(m_conn) == CONNECTION_BAD; }

QString Connection::errorMessage() const
{
    return m_conn ? QString::fromUtf8(PQerrorMessage(m_conn)) : QString();
}

int Connection::backendPid() const { return m_conn ? PQbackendPID(m_conn) : 0; }
int Connection::serverVersion() const { return m_conn ? PQserverVersion(m_conn) : 0; }

bool Connection::inTransaction() const
{
    if (!m_conn) return false;
    const PGTransactionStatusType st = PQtransactionStatus(m_conn);
    return st == PQTRANS_INTRANS || st == PQTRANS_INERROR;
}

std::unique_ptr<Connection> Connection::openLike(const Connection& like)
{
    PQconninfoOption* options = like.m_conn ? PQconninfo(like.m_conn) : nullptr;
    if (!options) return nullptr;
    Waiter* waiter = like.waiterHere();
    std::vector<const char*> keywords, values;
    for (PQconninfoOption* o = options; o->keyword; ++o) {
        // Opened without blocking, the session is told its encoding at its start: setting it
        // afterwards would be a statement waited on in libpq.
        const bool encoding = waiter && qstrcmp(o->keyword, "client_encoding") == 0;
        if (!o->val && !encoding) continue;
        keywords.push_back(o->keyword);
        values.push_back(encoding ? "UTF8" : o->val);
    }
    keywords.push_back(nullptr);
    values.push_back(nullptr);
    std::unique_ptr<Connection> conn(new Connection(
        waiter ? PQconnectStartParams(keywords.data(), values.data(), 0)
               : PQconnectdbParams(keywords.data(), values.data(), 0)));
    PQconninfoFree(options);
    if (conn->isBad()) return nullptr;
    if (!waiter) return PQsetClientEncoding(conn->m_conn, "UTF8") == 0 ? std::move(conn) : nullptr;
    OpeningSession opening(conn->m_conn);
    waiter->wait(opening);
    if (!opening.opened()) return nullptr;
    conn->setWaiter(waiter);
    return conn;
}

Waiter* Connection::waiterHere() const
{
    return m_waiter && std::this_thread::get_id() == m_waiterThread ? m_waiter : nullptr;
}

Result Connection::refusedWhileWaiting()
{
    if (m_failureSink) m_failureSink(QStringLiteral("前の文の応答を待っているため、送信できません"));
    return Result();
}

template <typename Send>
Result Connection::execWaiting(Send sendFn, const RowSink* rows)
{
    if (!sendFn()) return Result();
    PendingAnswer answer(m_conn, rows);
    m_waiting = true;
    if (Waiter* waiter = waiterHere(); waiter && !answer.advance()) waiter->wait(answer);
    Result last = answer.finish();
    m_waiting = false;
    return last;
}

Result Connection::exec(const QString& statement)
{
    if (m_waiting) return refusedWhileWaiting();
    if (m_observer) m_observer(statement);
    if (!m_conn) return Result();
    const QByteArray text = statement.toUtf8();
    Result r = waiterHere() ? execWaiting([&] { return PQsendQuery(m_conn, text.constData()) == 1; })
                        : Result(PQexec(m_conn, text.constData()));
    reportFailure(r);
    return r;
}

void Connection::reportFailure(const Result& r)
{
    if (!m_failureSink) return;
    const ExecStatusType st = r.status();
    if (!r.exists() || st == PGRES_FATAL_ERROR || st == PGRES_BAD_RESPONSE) {
        QString text = r.exists() ? r.errorMessage() : errorMessage();
        while (text.endsWith(u'\n')) text.chop(1);
        m_failureSink(text);
    }
}

Result Connection::tryExec(const QString& statement)
{
    if (m_waiting) return refusedWhileWaiting();
    if (m_observer) m_observer(statement);
    if (!m_conn) return Result();
    const QByteArray text = statement.toUtf8();
    return waiterHere() ? execWaiting([&] { return PQsendQuery(m_conn, text.constData()) == 1; })
                    : Result(PQexec(m_conn, text.constData()));
}

Result Connection::describe(const QString& statement)
{
    if (m_waiting) return refusedWhileWaiting();
    if (!m_conn) return Result();
    const QByteArray text = statement.toUtf8();
    if (!waiterHere()) {
        Result prepared(PQprepare(m_conn, "", text.constData(), 0, nullptr));
        if (!prepared.commandOk()) return prepared;
        return Result(PQdescribePrepared(m_conn, ""));
    }
    Result prepared =
        execWaiting([&] { return PQsendPrepare(m_conn, "", text.constData(), 0, nullptr) == 1; });
    if (!prepared.commandOk()) return prepared;
    return execWaiting([&] { return PQsendDescribePrepared(m_conn, "") == 1; });
}

Result Connection::execSingle(const QString& statement)
{
    if (m_waiting) return refusedWhileWaiting();
    if (m_observer) m_observer(statement);
    if (!m_conn) return Result();
    const QByteArray text = statement.toUtf8();
    Result r = waiterHere() ? execWaiting([&] {
        return PQsendQueryParams(m_conn, text.constData(), 0, nullptr, nullptr, nullptr,
                                 nullptr, 0) == 1;
    })
                        : Result(PQexecParams(m_conn, text.constData(), 0, nullptr, nullptr,
                                              nullptr, nullptr, 0));
    reportFailure(r);
    return r;
}

Result Connection::execStreaming(const QString& statement, const RowSink& rows)
{
    if (m_waiting) return refusedWhileWaiting();
    if (m_observer) m_observer(statement);
    if (!m_conn) return Result();
    const QByteArray text = statement.toUtf8();
    Result r = execWaiting(
        [&] {
            if (PQsendQuery(m_conn, text.constData()) != 1) return false;
            PQsetSingleRowMode(m_conn);
            return true;
        },
        &rows);
    reportFailure(r);
    return r;
}

bool Connection::send(const QString& statement)
{
    if (m_waiting) {
        refusedWhileWaiting();
        return false;
    }
    if (m_observer) m_observer(statement);
    if (!m_conn || !PQsendQuery(m_conn, statement.toUtf8().constData())) {
        reportFailure(Result());
        return false;
    }
    return true;
}

bool Connection::startStream(const QString& statement)
{
    if (m_observer) m_observer(statement);
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
    if (m_conn) PQsetNoticeProcessor(m_conn, processor, context);
}

bool Connection::setClientEncodingUtf8()
{
    return m_conn && PQsetClientEncoding(m_conn, "UTF8") == 0;
}

bool Connection::requestCancel() { return sendCancel(m_conn); }

std::unique_ptr<CancelHandle> Connection::cancelHandle() const
{
    PGcancel* cancel = m_conn ? PQgetCancel(m_conn) : nullptr;
    return cancel ? std::make_unique<CancelHandle>(cancel) : nullptr;
}

CancelHandle::~CancelHandle() { PQfreeCancel(m_cancel); }

bool CancelHandle::cancel() const
{
    char error[256];
    return PQcancel(m_cancel, error, int(sizeof error)) == 1;
}
