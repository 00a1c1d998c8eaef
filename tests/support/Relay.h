#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

// A TCP relay on 127.0.0.1 in front of a server, on a thread of its own, that a test or a
// benchmark makes behave as real links do: slow (a delay on every piece passed on), silent (it
// stops passing anything on and answers nothing, but closes nothing: a dropped VPN, a NAT that
// forgot the connection), closed (every connection ends at once), or cut just after a request
// reached the server, so that its answer never comes back; or as a server that does not get
// round to new clients (holding).
class Relay {
public:
    // Relays to `port` on `host` (an address).
    explicit Relay(int port, const QString& host = QStringLiteral("127.0.0.1"));
    ~Relay();
    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    int port() const { return m_port; }
    // Silent: nothing is read, written or joined to the server any more; connections made
    // meanwhile are taken in and held. Resuming passes on what waited.
    void setSilent(bool silent);
    // Holding: connections made meanwhile are taken in and never joined to the server; they
    // answer nothing until their client gives up. Those open already go on.
    void setHolding(bool holding) { m_holding = holding; }
    // Every piece is passed on this long after it arrived, each way.
    void setDelay(int ms) { m_delayMs = ms; }
    // Ends every connection, both sides.
    void closeAll();
    // The next request holding `marker` is passed on to the server; when the server answers,
    // the connection is closed both ways and the answer thrown away.
    void cutAfter(const QByteArray& marker);
    // Connections open now (joined or held).
    int connections() const { return m_open; }
    // Requests cut so far.
    int cuts() const { return m_cuts; }
    // Connections taken in while holding, in all.
    int held() const { return m_held; }

private:
    struct Piece {
        QByteArray bytes;
        qint64 due = 0;  // ms on the relay's clock
    };
    struct Pair {
        int client = -1;
        int server = -1;  // -1 while held
        std::vector<Piece> toServer, toClient;
        bool cutArmed = false;  // the marked request is on its way to the server
        bool cutting = false;   // it reached the server: close when the answer comes
        bool closed = false;
        bool held = false;      // taken in while holding: never joined
    };
    void run();
    void wake();
    void joinServer(Pair& p);
    void close(Pair& p);
    static bool flush(int fd, std::vector<Piece>& queue, qint64 now);

    QString m_host;
    int m_target;
    int m_port = 0;
    int m_listen = -1;
    int m_wake[2] = {-1, -1};
    std::atomic<bool> m_silent{false};
    std::atomic<int> m_delayMs{0};
    std::atomic<bool> m_closeAll{false};
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_open{0};
    std::atomic<int> m_cuts{0};
    std::atomic<bool> m_holding{false};
    std::atomic<int> m_held{0};
    std::mutex m_lock;
    QByteArray m_cutMarker;  // under m_lock
    std::thread m_thread;
};
