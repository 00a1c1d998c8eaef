#include "workspace/SessionOpen.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

namespace {

const char* const kUtf8 = "UTF8";

// Whether the operator's text (or the environment) already chose a value for `keyword`.
bool containsKey(const SessionSettings& s, const char* keyword)
{
    for (const auto& [k, v] : s)
        if (k == keyword) return true;
    return false;
}

}  // namespace

const SessionSettings& DefaultSessionSettings()
{
    // Idle: a probe after 10 s without traffic, then every 5 s, three unanswered ones end the
    // session (about 25 s). Waiting on an answer with data unacknowledged: 25 s. A connect
    // attempt: 20 s per host. libpq itself would wait two hours for the first, for ever for the
    // others.
    static const SessionSettings defaults = {
        {"fallback_application_name", "kestrel"},
        {"connect_timeout", "20"},
        {"keepalives", "1"},
        {"keepalives_idle", "10"},
        {"keepalives_interval", "5"},
        {"keepalives_count", "3"},
        {"tcp_user_timeout", "25000"},
    };
    return defaults;
}

SessionSettings LoginSessionSettings(const LoginParameters& p)
{
    SessionSettings s = DefaultSessionSettings();
    const auto add = [&s](const char* keyword, const QString& text) {
        if (!text.isEmpty()) s.emplace_back(keyword, text.toUtf8());
    };
    add("dbname", p.databaseName);
    add("host", p.hostName);
    add("port", p.port);
    add("options", p.options);
    add("user", p.userName);
    add("password", p.password);
    return s;
}

SessionSettings SettingsOf(PGconn* conn)
{
    SessionSettings s;
    PQconninfoOption* options = conn ? PQconninfo(conn) : nullptr;
    if (!options) return s;
    for (PQconninfoOption* o = options; o->keyword; ++o)
        if (o->val && *o->val) s.emplace_back(o->keyword, o->val);
    PQconninfoFree(options);
    // A session opened before these settings existed (or by hand) gets them too, unless it set
    // them itself.
    for (const auto& [k, v] : DefaultSessionSettings())
        if (!containsKey(s, k.constData())) s.emplace_back(k, v);
    return s;
}

// What the opening thread and the waiting side share. The thread owns the session until it is
// done; then it hands it over, or closes it when the open was abandoned meanwhile.
struct SessionOpening::Shared {
    SessionSettings settings;
    QStringList setup;
    int signal = -1;  // eventfd, written once the thread is done
    std::mutex lock;
    bool done = false;
    bool abandoned = false;
    Outcome outcome = Outcome::Running;
    QString error;
    PGconn* conn = nullptr;

    ~Shared()
    {
        if (conn) PQfinish(conn);
        if (signal >= 0) ::close(signal);
    }

    void open()
    {
        std::vector<const char*> keywords, values;
        for (const auto& [k, v] : settings) {
            keywords.push_back(k.constData());
            values.push_back(v.constData());
        }
        keywords.push_back(nullptr);
        values.push_back(nullptr);
        PGconn* c = PQconnectdbParams(keywords.data(), values.data(), 1);
        Outcome result = Outcome::Opened;
        QString text;
        if (!c || PQstatus(c) != CONNECTION_OK) {
            result = Outcome::Failed;
            text = c ? QString::fromUtf8(PQerrorMessage(c)) : QString();
        } else if (PQclientEncoding(c) != pg_char_to_encoding(kUtf8) &&
                   PQsetClientEncoding(c, kUtf8) != 0) {
            // Every text the server holds must reach the screen as it is: a session that does
            // not speak UTF8 is not used at all. (Asked for after the connect, not in it: a
            // server that cannot convert would refuse the connect with a text of its own.)
            result = Outcome::NotUtf8;
            text = QString::fromUtf8(PQerrorMessage(c));
        } else {
            for (const QString& statement : setup) PQclear(PQexec(c, statement.toUtf8().constData()));
        }
        while (text.endsWith(u'\n')) text.chop(1);
        std::lock_guard<std::mutex> guard(lock);
        done = true;
        outcome = result;
        error = text;
        if (abandoned) {
            if (c) PQfinish(c);
        } else {
            conn = c;
        }
        if (signal >= 0) {
            const uint64_t one = 1;
            (void)::write(signal, &one, sizeof one);
        }
    }
};

SessionOpening::SessionOpening(SessionSettings settings, QStringList setup)
    : m_shared(std::make_shared<Shared>())
{
    m_shared->settings = std::move(settings);
    m_shared->setup = std::move(setup);
}

SessionOpening::~SessionOpening()
{
    if (m_conn) PQfinish(m_conn);
    // A thread still opening keeps the shared part alive and closes its session itself.
    cancel();
}

void SessionOpening::start()
{
    m_shared->signal = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_shared->signal < 0) {
        run();
        return;
    }
    std::thread([shared = m_shared] { shared->open(); }).detach();
}

void SessionOpening::run()
{
    m_shared->open();
    advance();
}

void SessionOpening::openIn(Waiter* waiter)
{
    if (!waiter) {
        run();
        return;
    }
    start();
    if (!advance()) waiter->wait(*this);
}

int SessionOpening::socket() const { return m_shared->signal; }

bool SessionOpening::advance()
{
    if (m_outcome != Outcome::Running) return true;
    std::lock_guard<std::mutex> guard(m_shared->lock);
    if (m_shared->abandoned) {
        m_outcome = Outcome::Abandoned;
        return true;
    }
    if (!m_shared->done) return false;
    m_outcome = m_shared->outcome;
    m_error = m_shared->error;
    m_conn = m_shared->conn;
    m_shared->conn = nullptr;
    return true;
}

void SessionOpening::cancel()
{
    std::lock_guard<std::mutex> guard(m_shared->lock);
    if (!m_shared->done) m_shared->abandoned = true;
}

PGconn* SessionOpening::take()
{
    PGconn* c = m_conn;
    m_conn = nullptr;
    return c;
}

bool CancelInBackground(PGconn* conn)
{
    // (the session goes right after: nothing waits for the request)
    return std::make_shared<CancelRequests>()->send(conn);
}

bool CancelRequests::send(PGconn* conn)
{
    PGcancel* raw = conn ? PQgetCancel(conn) : nullptr;
    if (!raw) return false;
    send(std::shared_ptr<PGcancel>(raw, PQfreeCancel));
    return true;
}

void CancelRequests::send(const std::shared_ptr<PGcancel>& cancel)
{
    if (!cancel) return;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        ++m_travelling;
    }
    std::thread([self = shared_from_this(), cancel] {
        char error[256];
        // Returns once the server has taken the request (or the connect failed).
        PQcancel(cancel.get(), error, int(sizeof error));
        std::lock_guard<std::mutex> guard(self->m_lock);
        --self->m_travelling;
        self->m_arrived.notify_all();
    }).detach();
}

void CancelRequests::settle(int limitMs)
{
    std::unique_lock<std::mutex> guard(m_lock);
    m_arrived.wait_for(guard, std::chrono::milliseconds(limitMs), [this] { return m_travelling == 0; });
}
