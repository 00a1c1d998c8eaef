#include "transfer/StoppedSession.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

bool DiscardAnswer(Connection& conn, int waitMs)
{
    QElapsedTimer clock;
    clock.start();
    const auto readMore = [&] {
        const qint64 left = waitMs - clock.elapsed();
        pollfd ready{conn.socket(), POLLIN, 0};
        return left > 0 && ::poll(&ready, 1, int(left)) > 0 && conn.consumeInput();
    };
    if (!conn.consumeInput()) return false;
    while (true) {
        if (conn.isBusy()) {
            if (!readMore()) return false;
            continue;
        }
        const Result r = conn.tryNextResult();
        if (!r.exists()) return true;
        if (r.status() != PGRES_COPY_OUT) continue;
        char* row = nullptr;
        int size;
        while ((size = conn.copyRow(&row)) >= 0) {
            Connection::freeCopyRow(row);
            if (size == 0 && !readMore()) return false;
        }
        if (size == -2) return false;
    }
}

bool AwaitAnswerTurning(Connection& conn, int waitMs)
{
    bool answered = false;
    QEventLoop loop;
    const auto take = [&] {
        if (!conn.consumeInput()) return loop.quit();
        while (!conn.isBusy()) {
            if (!conn.tryNextResult().exists()) {
                answered = true;
                return loop.quit();
            }
        }
    };
    QSocketNotifier readable(conn.socket(), QSocketNotifier::Read);
    QObject::connect(&readable, &QSocketNotifier::activated, &loop, take);
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    take();
    if (answered || conn.isBad()) return answered;
    limit.start(waitMs);
    loop.exec();
    return answered;
}

void GiveUpSession(Connection& conn)
{
    const int fd = conn.socket();
    if (fd < 0) return;
    // The session's descriptor is made one end of a pair whose other end is closed: the TCP
    // link goes with the descriptor it replaces, and libpq's next read finds the end of the
    // stream (libpq still owns the descriptor and closes it).
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) == 0) {
        ::close(pair[1]);
        ::dup3(pair[0], fd, O_CLOEXEC);
        ::close(pair[0]);
    } else {
        ::shutdown(fd, SHUT_RDWR);
    }
    conn.consumeInput();
}
