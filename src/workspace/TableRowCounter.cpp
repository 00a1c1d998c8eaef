#include "workspace/TableRowCounter.h"

#include <QByteArray>
#include <QSocketNotifier>
#include <vector>


namespace {

// A connection to the same server, database and role as `like` (PQconninfo gives back every
// parameter it was opened with, the password included).
PGconn* connectLike(PGconn* like)
{
    PQconninfoOption* options = PQconninfo(like);
    if (!options) return nullptr;
    std::vector<const char*> keywords, values;
    for (PQconninfoOption* o = options; o->keyword; ++o) {
        if (!o->val) continue;
        keywords.push_back(o->keyword);
        values.push_back(o->val);
    }
    keywords.push_back(nullptr);
    values.push_back(nullptr);
    PGconn* conn = PQconnectdbParams(keywords.data(), values.data(), 0);
    PQconninfoFree(options);
    if (PQstatus(conn) != CONNECTION_OK || PQsetClientEncoding(conn, "UTF8") != 0) {
        PQfinish(conn);
        return nullptr;
    }
    return conn;
}

}  // namespace

TableRowCounter::TableRowCounter(QObject* parent) : QObject(parent) {}

TableRowCounter::~TableRowCounter() { cancel(); }

bool TableRowCounter::start(const Connection& like, const QString& countStatement)
{
    cancel();
    if (!like.raw()) return false;
    m_conn = connectLike(like.raw());
    if (!m_conn) return false;
    const QByteArray statement = countStatement.toUtf8();
    if (!PQsendQuery(m_conn, statement.constData()) || PQsetnonblocking(m_conn, 1) != 0) {
        finish();
        return false;
    }
    m_notifier = new QSocketNotifier(qintptr(PQsocket(m_conn)), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TableRowCounter::readAnswer);
    return true;
}

void TableRowCounter::cancel()
{
    if (m_conn && PQisBusy(m_conn)) {
        if (PGcancel* c = PQgetCancel(m_conn)) {
            char error[256];
            PQcancel(c, error, sizeof error);
            PQfreeCancel(c);
        }
    }
    finish();
}

void TableRowCounter::finish()
{
    delete m_notifier;
    m_notifier = nullptr;
    m_answer = Result();
    if (m_conn) PQfinish(m_conn);
    m_conn = nullptr;
}

void TableRowCounter::readAnswer()
{
    if (!PQconsumeInput(m_conn)) {
        const QString text = QString::fromUtf8(PQerrorMessage(m_conn)).trimmed();
        finish();
        emit failed(text);
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
        emit failed(answer.exists() ? answer.errorMessage().trimmed() : QString());
}
