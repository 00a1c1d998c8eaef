#include "workspace/ResultStore.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "workspace/Result.h"

namespace {

constexpr size_t kPage = 4096;
constexpr size_t kLargestBlock = size_t(256) << 10;

size_t roundToPages(size_t n) { return (n + kPage - 1) / kPage * kPage; }

// A value's length is stored as length + 1 in 7-bit groups, low group first; 0 is NULL.
int varintSize(quint64 v)
{
    int n = 1;
    while (v >= 0x80) {
        v >>= 7;
        ++n;
    }
    return n;
}

char* putVarint(char* p, quint64 v)
{
    while (v >= 0x80) {
        *p++ = char(quint8(v) | 0x80);
        v >>= 7;
    }
    *p++ = char(v);
    return p;
}

quint64 getVarint(const char*& p)
{
    quint64 v = 0;
    for (int shift = 0;; shift += 7) {
        const quint8 byte = quint8(*p++);
        v |= quint64(byte & 0x7f) << shift;
        if (!(byte & 0x80)) return v;
    }
}

// Where row k's offset sits: the offsets are stored downward from the end of the block.
quint32 rowOffset(const char* blockEnd, quint32 k)
{
    quint32 offset;
    std::memcpy(&offset, blockEnd - 4 * (size_t(k) + 1), 4);
    return offset;
}

bool writeAll(int fd, const char* data, size_t size, qint64 at)
{
    while (size > 0) {
        const ssize_t n = pwrite(fd, data, size, off_t(at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        data += n;
        size -= size_t(n);
        at += n;
    }
    return true;
}

bool readAll(int fd, char* data, size_t size, qint64 at)
{
    while (size > 0) {
        const ssize_t n = pread(fd, data, size, off_t(at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        data += n;
        size -= size_t(n);
        at += n;
    }
    return true;
}

}  // namespace

ResultStore::Pages::Pages(size_t size)
{
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return;
    m_data = static_cast<char*>(p);
    m_size = size;
}

ResultStore::Pages::~Pages()
{
    if (m_data) munmap(m_data, m_size);
}

ResultStore::Pages::Pages(Pages&& other) noexcept : m_data(other.m_data), m_size(other.m_size)
{
    other.m_data = nullptr;
    other.m_size = 0;
}

ResultStore::Pages& ResultStore::Pages::operator=(Pages&& other) noexcept
{
    if (this != &other) {
        if (m_data) munmap(m_data, m_size);
        m_data = other.m_data;
        m_size = other.m_size;
        other.m_data = nullptr;
        other.m_size = 0;
    }
    return *this;
}

QString ResultStore::defaultDirectory()
{
    const QString chosen = qEnvironmentVariable("TMPDIR");
    if (!chosen.isEmpty()) return chosen;
    const QFileInfo onDisk(QStringLiteral("/var/tmp"));
    if (onDisk.isDir() && onDisk.isWritable()) return onDisk.filePath();
    return QDir::tempPath();
}

ResultStore::ResultStore(Options options) : m_options(std::move(options))
{
    if (m_options.directory.isEmpty()) m_options.directory = defaultDirectory();
    // About 64 blocks to the budget, so that the cache holds a good many screens.
    m_blockBytes = std::clamp(roundToPages(size_t(std::max<qint64>(m_options.budget, 0) / 64)),
                              kPage, kLargestBlock);
}

ResultStore::~ResultStore()
{
    if (m_file >= 0) ::close(m_file);
}

void ResultStore::fail(const QString& what, int error) const
{
    if (m_error.isEmpty())
        m_error = QStringLiteral("%1（%2）").arg(what, QString::fromLocal8Bit(std::strerror(error)));
}

bool ResultStore::append(const Result& result)
{
    const int fieldCount = result.fields();
    if (m_names.isEmpty())
        for (int f = 0; f < fieldCount; ++f) m_names << result.fieldName(f);
    for (int row = 0; row < result.rows(); ++row) {
        size_t rowBytes = 0;
        for (int f = 0; f < fieldCount; ++f) {
            if (result.isNull(row, f)) {
                ++rowBytes;
            } else {
                const quint64 length = quint64(result.rawLength(row, f));
                rowBytes += size_t(varintSize(length + 1)) + length;
            }
        }
        if (m_blocks.empty() || m_blocks.back().dataBytes + rowBytes +
                                        4 * (size_t(m_blocks.back().rowCount) + 1) >
                                    m_blocks.back().pages.size()) {
            if (!startBlock(rowBytes)) return false;
        }
        Block& b = m_blocks.back();
        char* start = b.pages.data() + b.dataBytes;
        char* p = start;
        for (int f = 0; f < fieldCount; ++f) {
            if (result.isNull(row, f)) {
                *p++ = 0;
                continue;
            }
            const int length = result.rawLength(row, f);
            p = putVarint(p, quint64(length) + 1);
            std::memcpy(p, result.rawValue(row, f), size_t(length));
            p += length;
        }
        const quint32 offset = b.dataBytes;
        std::memcpy(b.pages.data() + b.pages.size() - 4 * (size_t(b.rowCount) + 1), &offset, 4);
        b.dataBytes += quint32(p - start);
        if (m_rows % kGroupRows == 0) m_groupBlock.push_back(quint32(m_blocks.size() - 1));
        ++b.rowCount;
        ++m_rows;
    }
    return m_error.isEmpty();
}

bool ResultStore::startBlock(size_t rowBytes)
{
    // A row larger than a block has a block of its own, as large as it needs.
    const size_t size = std::max(m_blockBytes, roundToPages(rowBytes + 4));
    Pages pages(size);
    if (!pages.data()) {
        fail(QStringLiteral("メモリを確保できません"), ENOMEM);
        return false;
    }
    if (!m_blocks.empty()) seal(m_blocks.back());
    Block b;
    b.firstRow = m_rows;
    b.pages = std::move(pages);
    m_memoryBytes += qint64(size);
    m_blocks.push_back(std::move(b));
    return true;
}

void ResultStore::seal(Block& b)
{
    const qint64 size = qint64(b.pages.size());
    if (m_keptBytes + size <= keptLimit()) {
        m_keptBytes += size;
        return;
    }
    // After a failure the block stays in memory, readable; the caller stops taking rows.
    if (!m_error.isEmpty() || !writeBlock(b)) return;
    m_memoryBytes -= size;
    b.pages = Pages();
}

bool ResultStore::openFile()
{
    QByteArray path = QFile::encodeName(QDir(m_options.directory).filePath(
        QStringLiteral("kestrel-rows-XXXXXX")));
    m_file = mkostemp(path.data(), O_CLOEXEC);
    if (m_file < 0) {
        fail(QStringLiteral("一時ファイルを %1 に作れません").arg(m_options.directory), errno);
        return false;
    }
    // Nameless from now on: the space returns when the store closes the file, or the process ends.
    unlink(path.constData());
    return true;
}

bool ResultStore::writeBlock(Block& b)
{
    if (m_file < 0 && !openFile()) return false;
    const size_t offsetBytes = 4 * size_t(b.rowCount);
    if (!writeAll(m_file, b.pages.data(), b.dataBytes, m_fileEnd) ||
        !writeAll(m_file, b.pages.data() + b.pages.size() - offsetBytes, offsetBytes,
                  m_fileEnd + b.dataBytes)) {
        fail(QStringLiteral("一時ファイル（%1）に書き込めません").arg(m_options.directory), errno);
        return false;
    }
    b.fileOffset = m_fileEnd;
    m_fileEnd += qint64(b.dataBytes + offsetBytes);
    return true;
}

size_t ResultStore::blockOf(qint64 row) const
{
    size_t b = m_groupBlock[size_t(row / kGroupRows)];
    // Only blocks that begin inside the row's group are passed over.
    while (row >= m_blocks[b].firstRow + m_blocks[b].rowCount) ++b;
    return b;
}

const char* ResultStore::pagesOf(size_t index) const
{
    Block& b = m_blocks[index];
    b.lastUse = ++m_useClock;
    if (b.pages.data()) return b.pages.data();
    const size_t size = b.dataBytes + 4 * size_t(b.rowCount);
    // Room for it in the cache: the blocks read longest ago go first.
    while (!m_cached.empty() && m_cacheBytes + qint64(size) > cacheLimit()) {
        auto oldest = std::min_element(m_cached.begin(), m_cached.end(), [this](size_t x, size_t y) {
            return m_blocks[x].lastUse < m_blocks[y].lastUse;
        });
        Block& gone = m_blocks[*oldest];
        m_cacheBytes -= qint64(gone.pages.size());
        m_memoryBytes -= qint64(gone.pages.size());
        gone.pages = Pages();
        m_cached.erase(oldest);
    }
    Pages pages(size);
    if (!pages.data()) {
        fail(QStringLiteral("メモリを確保できません"), ENOMEM);
        return nullptr;
    }
    if (!readAll(m_file, pages.data(), size, b.fileOffset)) {
        fail(QStringLiteral("一時ファイル（%1）から読み込めません").arg(m_options.directory), errno);
        return nullptr;
    }
    b.pages = std::move(pages);
    m_cached.push_back(index);
    m_cacheBytes += qint64(size);
    m_memoryBytes += qint64(size);
    return b.pages.data();
}

ResultStore::Cell ResultStore::cell(qint64 row, int field) const
{
    if (row < 0 || row >= m_rows || field < 0 || field >= fields()) return {};
    const size_t index = blockOf(row);
    const char* base = pagesOf(index);
    if (!base) return {};
    const Block& b = m_blocks[index];
    const char* p = base + rowOffset(base + b.pages.size(), quint32(row - b.firstRow));
    for (int f = 0;; ++f) {
        const quint64 stored = getVarint(p);
        if (f == field) {
            if (stored == 0) return {nullptr, 0, CellState::Null};
            return {p, quint32(stored - 1), CellState::Text};
        }
        if (stored) p += stored - 1;
    }
}

QString ResultStore::text(qint64 row, int field, CellState* state) const
{
    const Cell c = cell(row, field);
    if (state) *state = c.state;
    return c.state == CellState::Text ? QString::fromUtf8(c.data, qsizetype(c.size)) : QString();
}

bool ResultStore::isNull(qint64 row, int field) const
{
    return cell(row, field).state == CellState::Null;
}
