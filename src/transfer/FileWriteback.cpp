#include "transfer/FileWriteback.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace {

// The kernel writes the range and the call waits for it: 0, or the errno of a failed write.
// A file system that cannot say (EINVAL, ESPIPE) is left to the final sync.
int writeRange(int fd, qint64 from, qint64 to)
{
    if (::sync_file_range(fd, from, to - from,
                          SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                              SYNC_FILE_RANGE_WAIT_AFTER) == 0) {
        ::posix_fadvise(fd, from, to - from, POSIX_FADV_DONTNEED);
        return 0;
    }
    return errno == EINVAL || errno == ESPIPE ? 0 : errno;
}

int syncFile(int fd) { return ::fdatasync(fd) == 0 ? 0 : errno; }

}  // namespace

// Shared by the object and its thread, which may outlive the object by one step.
struct FileWriteback::State {
    std::mutex mutex;
    std::condition_variable wake;
    // Guarded by mutex: what the writer told.
    qint64 written = 0;
    bool finishing = false;
    bool quit = false;                // the object is gone: end without calling back
    std::function<void(int)> done;   // called under mutex, so never after the object is gone
    int writersFd = -1;               // without a thread (no descriptor to spare): finish() syncs this

    void run(int fd, qint64 step);
};

void FileWriteback::State::run(int fd, qint64 step)
{
    qint64 onDisk = 0;  // written, waited for and dropped from the page cache
    int steps = 0;
    int error = 0;  // the first failure
    while (true) {
        qint64 upto = 0;
        bool last = false;
        {
            std::unique_lock lock(mutex);
            wake.wait(lock, [&] { return quit || finishing || written - onDisk >= step; });
            if (quit) break;
            last = finishing;
            upto = last ? written : onDisk + (written - onDisk) / step * step;
        }
        if (upto > onDisk) {
            const int failed = writeRange(fd, onDisk, upto);
            error = error ? error : failed;
            steps += int((upto - onDisk + step - 1) / step);
            onDisk = upto;
        }
        if (last || steps >= kStepsPerSync) {
            const int failed = syncFile(fd);
            error = error ? error : failed;
            steps = 0;
        }
        if (last) {
            std::lock_guard lock(mutex);
            if (done) done(error);
            break;
        }
    }
    ::close(fd);
}

FileWriteback::FileWriteback(int fd, qint64 stepBytes) : m_state(std::make_shared<State>())
{
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0) {
        m_state->writersFd = fd;
        return;
    }
    std::thread([state = m_state, own, step = std::max<qint64>(1, stepBytes)] {
        state->run(own, step);
    }).detach();
}

FileWriteback::~FileWriteback()
{
    std::lock_guard lock(m_state->mutex);
    m_state->quit = true;
    m_state->done = nullptr;
    m_state->wake.notify_one();
}

void FileWriteback::written(qint64 bytes)
{
    std::lock_guard lock(m_state->mutex);
    m_state->written = bytes;
    m_state->wake.notify_one();
}

void FileWriteback::finish(std::function<void(int error)> done)
{
    if (m_state->writersFd >= 0) {
        done(syncFile(m_state->writersFd));
        return;
    }
    std::lock_guard lock(m_state->mutex);
    m_state->finishing = true;
    m_state->done = std::move(done);
    m_state->wake.notify_one();
}
