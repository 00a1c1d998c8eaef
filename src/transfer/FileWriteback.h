#pragma once

#include <QtGlobal>
#include <functional>
#include <memory>

// Puts a file being written on disk while it is written, so that making it durable at the end
// costs little and the writer never waits for the disk. A thread of its own follows the
// writer: every few MiB written it has the kernel write them and waits for that, drops them
// from the page cache (the writer never reads them back, and a page cache grown by the whole
// file costs more to fill than pages used again), and now and then syncs the file, whose
// metadata a sync of the data alone leaves behind.
// Owns: its own descriptor of the file (a duplicate of the writer's), so that the writer may
// close or remove the file at any time; the thread lets go of it when it ends.
// Keeps: once finish() has called back 0, every byte written before finish() is on disk.
// A failed step is never forgotten: a later sync of the same file would report success again,
// so the failure is what finish() calls back with.
// Threads: written() and finish() are the writer's; the callback runs on the writeback thread,
// never after the object is destroyed. The destructor never waits for the disk: the thread
// ends after the step it is in.
class FileWriteback {
public:
    explicit FileWriteback(int fd, qint64 stepBytes = kDefaultStep);
    ~FileWriteback();
    FileWriteback(const FileWriteback&) = delete;
    FileWriteback& operator=(const FileWriteback&) = delete;

    // The file now holds `bytes` bytes from its start, all written.
    void written(qint64 bytes);
    // Puts the rest on disk, syncs the file and calls done with 0, or with the errno of the
    // first step that failed. Nothing may be written after.
    void finish(std::function<void(int error)> done);

    static constexpr qint64 kDefaultStep = qint64(8) << 20;
    // Steps between two syncs of the whole file.
    static constexpr int kStepsPerSync = 8;

private:
    struct State;
    std::shared_ptr<State> m_state;
};
