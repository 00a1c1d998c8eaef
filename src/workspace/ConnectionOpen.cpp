#include "workspace/Connection.h"

#include <poll.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <vector>

namespace {

// Several sessions opened at once, each sent its set-up text once it is open. A waiter watches
// one socket: this one is an epoll descriptor holding the socket of every session still under
// way, each for what its session waits on, so it is readable as soon as any of them is ready.
class OpeningSessions : public WaitingStatement {
public:
    OpeningSessions(const std::vector<PGconn*>& conns, QByteArray setup)
        : m_setup(std::move(setup)), m_epoll(::epoll_create1(EPOLL_CLOEXEC))
    {
        for (PGconn* conn : conns) {
            Member& m = m_members.emplace_back();
            m.conn = conn;
            if (PQstatus(conn) == CONNECTION_BAD || m_epoll < 0) m.step = Step::Failed;
            watch(m);
        }
    }
    ~OpeningSessions() override
    {
        if (m_epoll >= 0) ::close(m_epoll);
    }
    int socket() const override { return m_epoll; }
    bool advance() override
    {
        if (m_abandoned) return true;
        std::vector<epoll_event> ready(m_members.size());
        const int n = ::epoll_wait(m_epoll, ready.data(), int(ready.size()), 0);
        for (int i = 0; i < n; ++i) step(m_members[ready[size_t(i)].data.u64]);
        bool underWay = false;
        for (Member& m : m_members) {
            watch(m);
            underWay = underWay || m.underWay();
        }
        return !underWay;
    }
    void cancel() override { m_abandoned = true; }
    bool ready(size_t i) const { return !m_abandoned && m_members[i].step == Step::Ready; }

private:
    enum class Step { Connecting, SettingUp, Ready, Failed };
    struct Member {
        PGconn* conn = nullptr;
        // As libpq's connection start leaves it: the socket is to be written first.
        PostgresPollingStatusType polled = PGRES_POLLING_WRITING;
        Step step = Step::Connecting;
        bool setupFailed = false;
        int watched = -1;  // the socket in the epoll set
        uint32_t events = 0;
        bool underWay() const { return step == Step::Connecting || step == Step::SettingUp; }
    };

    void step(Member& m)
    {
        if (m.step == Step::Connecting) {
            m.polled = PQconnectPoll(m.conn);
            m.events = 0;  // registered again: the socket may be a new one of the same number
            if (m.polled == PGRES_POLLING_FAILED)
                m.step = Step::Failed;
            else if (m.polled == PGRES_POLLING_OK)
                m.step = m_setup.isEmpty()                                   ? Step::Ready
                         : PQsendQuery(m.conn, m_setup.constData()) == 1 ? Step::SettingUp
                                                                          : Step::Failed;
            return;
        }
        if (m.step != Step::SettingUp) return;
        if (PQconsumeInput(m.conn) != 1) {
            m.step = Step::Failed;
            return;
        }
        while (PQisBusy(m.conn) == 0) {
            const Result r(PQgetResult(m.conn));
            if (!r.exists()) {
                m.step = m.setupFailed ? Step::Failed : Step::Ready;
                return;
            }
            m.setupFailed = m.setupFailed || !(r.commandOk() || r.tuplesOk());
        }
    }
    // Keeps the epoll set in step with the session: its socket (libpq may move to another one,
    // which may even get the number of the one it closed) and what it waits for.
    void watch(Member& m)
    {
        const int fd = m.underWay() ? PQsocket(m.conn) : -1;
        const uint32_t events =
            m.step == Step::Connecting && m.polled == PGRES_POLLING_WRITING ? EPOLLOUT : EPOLLIN;
        if (m.watched >= 0 && m.watched != fd) ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, m.watched, nullptr);
        if (fd < 0) {
            m.watched = -1;
            return;
        }
        epoll_event e{};
        e.events = events;
        e.data.u64 = uint64_t(&m - m_members.data());
        if (m.watched == fd && m.events == events) return;
        if (::epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &e) != 0) ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &e);
        m.watched = fd;
        m.events = events;
    }

    std::vector<Member> m_members;
    QByteArray m_setup;
    int m_epoll;
    bool m_abandoned = false;
};
}  // namespace

std::unique_ptr<Connection> Connection::login(const LoginParameters& p, Waiter* waiter,
                                              const QStringList& setup)
{
    SessionOpening opening(LoginSessionSettings(p), setup);
    opening.openIn(waiter);
    if (opening.outcome() == OpenOutcome::Abandoned) return nullptr;
    std::unique_ptr<Connection> conn(new Connection(opening.take()));
    conn->m_openOutcome = opening.outcome();
    conn->m_lostError = opening.errorText();
    conn->m_setup = setup;
    if (conn->m_openOutcome == OpenOutcome::Opened) conn->m_settings = SettingsOf(conn->m_conn);
    return conn;
}

std::unique_ptr<Connection> Connection::openLike(const Connection& like)
{
    SessionSettings settings = like.m_conn ? SettingsOf(like.m_conn) : like.m_settings;
    if (settings.empty()) return nullptr;
    Waiter* waiter = like.waiterHere();
    SessionOpening opening(settings, {});
    opening.openIn(waiter);
    if (opening.outcome() != OpenOutcome::Opened) return nullptr;
    std::unique_ptr<Connection> conn(new Connection(opening.take()));
    conn->m_settings = std::move(settings);
    if (waiter) conn->setWaiter(waiter);
    return conn;
}

std::vector<std::unique_ptr<Connection>> Connection::openSeveralLike(const Connection& like, int count,
                                                                  const QString& setup)
{
    std::vector<std::unique_ptr<Connection>> opened;
    PQconninfoOption* options = like.m_conn && count > 0 ? PQconninfo(like.m_conn) : nullptr;
    if (!options) return opened;
    // The server `like` reached, not the list of hosts it was given: a snapshot is only seen
    // there, and no name is looked up again while the window waits.
    const QByteArray host = PQhost(like.m_conn), address = PQhostaddr(like.m_conn),
                     port = PQport(like.m_conn);
    std::vector<const char*> keywords, values;
    for (PQconninfoOption* o = options; o->keyword; ++o) {
        bool replaced = false;
        for (const char* k : {"host", "hostaddr", "port", "client_encoding"})
            replaced = replaced || qstrcmp(o->keyword, k) == 0;
        if (!o->val || replaced) continue;
        keywords.push_back(o->keyword);
        values.push_back(o->val);
    }
    const std::pair<const char*, const char*> pinned[] = {
        {"host", host.constData()}, {"hostaddr", address.constData()}, {"port", port.constData()},
        {"client_encoding", "UTF8"}};
    for (const auto& [keyword, value] : pinned) {
        if (!*value) continue;
        keywords.push_back(keyword);
        values.push_back(value);
    }
    keywords.push_back(nullptr);
    values.push_back(nullptr);
    std::vector<PGconn*> conns;
    for (int i = 0; i < count; ++i) conns.push_back(PQconnectStartParams(keywords.data(), values.data(), 0));
    PQconninfoFree(options);
    OpeningSessions opening(conns, setup.toUtf8());
    Waiter* waiter = like.waiterHere();
    if (waiter) {
        waiter->wait(opening);
    } else {
        while (!opening.advance()) {
            pollfd ready{opening.socket(), POLLIN, 0};
            ::poll(&ready, 1, -1);
        }
    }
    for (size_t i = 0; i < conns.size(); ++i) {
        std::unique_ptr<Connection> conn(new Connection(conns[i]));
        if (!opening.ready(i)) continue;  // closed as it goes
        conn->setWaiter(waiter);
        opened.push_back(std::move(conn));
    }
    return opened;
}
