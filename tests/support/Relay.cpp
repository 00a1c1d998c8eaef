#include "support/Relay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <list>

namespace {

qint64 clockMs()
{
    static QElapsedTimer clock = [] {
        QElapsedTimer c;
        c.start();
        return c;
    }();
    return clock.elapsed();
}

void nonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

}  // namespace

Relay::Relay(int port, const QString& host) : m_host(host), m_target(port)
{
    // Close-on-exec: a server restarted by a test must not inherit the relay's sockets.
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(m_listen, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len) != 0 ||
        ::listen(m_listen, 64) != 0 || ::pipe2(m_wake, O_CLOEXEC) != 0) {
        std::perror("relay");
        return;
    }
    m_port = ntohs(a.sin_port);
    nonBlocking(m_listen);
    nonBlocking(m_wake[0]);
    m_thread = std::thread([this] { run(); });
}

Relay::~Relay()
{
    m_stop = true;
    wake();
    if (m_thread.joinable()) m_thread.join();
    for (int fd : {m_listen, m_wake[0], m_wake[1]})
        if (fd >= 0) ::close(fd);
}

void Relay::wake()
{
    if (m_wake[1] >= 0) (void)::write(m_wake[1], "x", 1);
}

void Relay::setSilent(bool silent)
{
    m_silent = silent;
    wake();
}

void Relay::closeAll()
{
    m_closeAll = true;
    wake();
}

void Relay::cutAfter(const QByteArray& marker)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_cutMarker = marker;
}

void Relay::joinServer(Pair& p)
{
    p.server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(quint16(m_target));
    ::inet_pton(AF_INET, m_host.toLatin1().constData(), &a.sin_addr);
    if (::connect(p.server, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(p);
        return;
    }
    const int yes = 1;
    ::setsockopt(p.server, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    nonBlocking(p.server);
}

void Relay::close(Pair& p)
{
    if (p.closed) return;
    for (int fd : {p.client, p.server})
        if (fd >= 0) ::close(fd);
    p.client = p.server = -1;
    p.closed = true;
    --m_open;
}

// Writes the pieces that are due; false when the peer is gone.
bool Relay::flush(int fd, std::vector<Piece>& queue, qint64 now)
{
    while (!queue.empty() && queue.front().due <= now) {
        Piece& piece = queue.front();
        const ssize_t n = ::send(fd, piece.bytes.constData(), size_t(piece.bytes.size()), MSG_NOSIGNAL);
        if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
        piece.bytes.remove(0, qsizetype(n));
        if (!piece.bytes.isEmpty()) return true;
        queue.erase(queue.begin());
    }
    return true;
}

void Relay::run()
{
    std::list<Pair> pairs;
    char buffer[65536];
    while (!m_stop) {
        if (m_closeAll.exchange(false))
            for (Pair& p : pairs) close(p);
        pairs.remove_if([](const Pair& p) { return p.closed; });
        const bool silent = m_silent;
        const qint64 now = clockMs();
        if (!silent)
            for (Pair& p : pairs)
                if (p.server < 0 && !p.held) joinServer(p);
        pairs.remove_if([](const Pair& p) { return p.closed; });

        std::vector<pollfd> fds{{m_wake[0], POLLIN, 0}, {m_listen, POLLIN, 0}};
        std::vector<std::pair<Pair*, bool>> owners;  // pair, client side
        int timeout = -1;
        const auto dueIn = [&](const std::vector<Piece>& q) {
            if (q.empty()) return;
            const int ms = int(std::max<qint64>(0, q.front().due - now));
            if (timeout < 0 || ms < timeout) timeout = ms;
        };
        if (!silent) {
            for (Pair& p : pairs) {
                const auto ready = [&](const std::vector<Piece>& q) {
                    return !q.empty() && q.front().due <= now ? POLLOUT : 0;
                };
                fds.push_back({p.client, short(POLLIN | ready(p.toClient)), 0});
                owners.emplace_back(&p, true);
                fds.push_back({p.server, short(POLLIN | ready(p.toServer)), 0});
                owners.emplace_back(&p, false);
                dueIn(p.toClient);
                dueIn(p.toServer);
            }
        }
        if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;
        if (fds[0].revents) {
            while (::read(m_wake[0], buffer, sizeof buffer) > 0) {
            }
        }
        if (fds[1].revents & POLLIN) {
            for (int c; (c = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
                Pair p;
                p.client = c;
                const int yes = 1;
                ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
                nonBlocking(c);
                p.held = m_holding;
                if (p.held) ++m_held;
                ++m_open;
                pairs.push_back(std::move(p));
            }
        }
        if (m_silent) continue;
        const qint64 later = clockMs();
        for (size_t i = 2; i < fds.size(); ++i) {
            Pair& p = *owners[i - 2].first;
            const bool clientSide = owners[i - 2].second;
            if (p.closed || !fds[i].revents) continue;
            const int fd = clientSide ? p.client : p.server;
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)) {
                    close(p);
                    continue;
                }
                if (n > 0) {
                    const QByteArray bytes(buffer, qsizetype(n));
                    if (clientSide) {
                        std::lock_guard<std::mutex> guard(m_lock);
                        if (!m_cutMarker.isEmpty() && bytes.contains(m_cutMarker)) {
                            m_cutMarker.clear();
                            p.cutArmed = true;
                        }
                    } else if (p.cutting) {
                        // The server answered the request: the answer goes nowhere.
                        ++m_cuts;
                        close(p);
                        continue;
                    }
                    (clientSide ? p.toServer : p.toClient).push_back({bytes, later + m_delayMs});
                }
            }
            const bool ok = clientSide ? flush(p.client, p.toClient, later)
                                       : flush(p.server, p.toServer, later);
            if (!ok) close(p);
            if (!clientSide && p.cutArmed && p.toServer.empty()) p.cutting = true;
        }
        // Pieces that fell due while nothing was readable.
        for (Pair& p : pairs) {
            if (p.closed || p.server < 0) continue;
            if (!flush(p.client, p.toClient, later) || !flush(p.server, p.toServer, later)) close(p);
            if (p.cutArmed && p.toServer.empty()) p.cutting = true;
        }
    }
    for (Pair& p : pairs) close(p);
}
