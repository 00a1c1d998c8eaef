#pragma once

#include <QString>
#include <QStringList>
#include <cstddef>
#include <vector>

class Result;

struct ResultStoreOptions {
    qint64 budget = qint64(32) << 20;  // bytes of rows held in memory
    QString directory;                 // of the temporary file; empty: the store's default
};

// The rows of one query result, held by the program instead of libpq so that a result of any
// size fits in bounded memory. Rows are packed as they arrive into blocks: each value as its
// length and its bytes (the UTF-8 the server sent), NULL apart from an empty text, a row never
// split between two blocks, the offsets of a block's rows at its end. An index of one entry per
// 1024 rows names the block holding each group's first row, so any row is found without a
// search over the blocks.
//
// Memory: the first blocks stay in memory up to three quarters of the budget; every block
// completed after that is written to a temporary file and let go, and read back on demand into a
// cache of the last blocks read (a quarter of the budget). The block being filled is always in
// memory. The file is made in `directory` when the first block goes there and unlinked at once:
// it has no name while the store lives, its space returns when the store goes, and nothing is
// left behind after a crash. Blocks are mapped pages of their own, so memory let go returns to
// the system at once.
//
// Used on one thread. Invariants: m_blocks[0..n-2] are complete and each is in memory, in the
// file, or both (read back); the last block is the one being filled; m_groupBlock[g] is the
// block holding row g * kGroupRows.
class ResultStore {
public:
    using Options = ResultStoreOptions;
    // What a value read back is.
    enum class CellState { Text, Null, Lost };

    // TMPDIR when set; otherwise /var/tmp, which is on disk where /tmp may be in memory.
    static QString defaultDirectory();

    explicit ResultStore(Options options = {});
    ~ResultStore();
    ResultStore(const ResultStore&) = delete;
    ResultStore& operator=(const ResultStore&) = delete;

    // The field names are taken from the first result appended unless set before.
    void setFieldNames(const QStringList& names) { m_names = names; }
    const QStringList& fieldNames() const { return m_names; }
    int fields() const { return int(m_names.size()); }
    qint64 rows() const { return m_rows; }

    // Appends every row of `result` (one row in single-row mode). False when a block could not
    // be written to the file or memory could not be had (error() says why); the rows taken
    // stay readable, the block that failed in memory.
    bool append(const Result& result);

    // The value as the server sent it; NULL and a lost value (its block could not be read back
    // from the file, see error()) read as an empty text, told apart by `state`.
    QString text(qint64 row, int field, CellState* state = nullptr) const;
    bool isNull(qint64 row, int field) const;

    QString error() const { return m_error; }
    qint64 memoryBytes() const { return m_memoryBytes; }
    qint64 fileBytes() const { return m_fileEnd; }

private:
    // Anonymous pages of memory, mapped for one block and unmapped with it.
    class Pages {
    public:
        Pages() = default;
        explicit Pages(size_t size);
        ~Pages();
        Pages(Pages&& other) noexcept;
        Pages& operator=(Pages&& other) noexcept;
        char* data() const { return m_data; }
        size_t size() const { return m_size; }

    private:
        char* m_data = nullptr;
        size_t m_size = 0;
    };
    struct Block {
        qint64 firstRow = 0;
        quint32 rowCount = 0;
        quint32 dataBytes = 0;    // the rows' bytes; their offsets follow them in the file
        qint64 fileOffset = -1;   // where the block was written; -1 while it is only in memory
        Pages pages;              // the block in memory; empty when only in the file
        quint64 lastUse = 0;      // read back: when last read, for the cache
    };
    struct Cell {
        const char* data = nullptr;
        quint32 size = 0;
        CellState state = CellState::Lost;
    };
    static constexpr qint64 kGroupRows = 1024;

    Cell cell(qint64 row, int field) const;
    size_t blockOf(qint64 row) const;
    const char* pagesOf(size_t block) const;
    bool startBlock(size_t rowBytes);
    void seal(Block& b);
    bool writeBlock(Block& b);
    bool openFile();
    void fail(const QString& what, int error) const;
    qint64 keptLimit() const { return m_options.budget - cacheLimit(); }
    qint64 cacheLimit() const { return m_options.budget / 4; }

    Options m_options;
    QStringList m_names;
    size_t m_blockBytes;
    qint64 m_rows = 0;
    // Mutable: reading a row may read its block back and let an older one go.
    mutable std::vector<Block> m_blocks;
    std::vector<quint32> m_groupBlock;
    qint64 m_keptBytes = 0;
    mutable qint64 m_memoryBytes = 0;
    int m_file = -1;
    qint64 m_fileEnd = 0;
    mutable QString m_error;
    // The blocks read back from the file (their indexes), and when each was last read.
    mutable std::vector<size_t> m_cached;
    mutable qint64 m_cacheBytes = 0;
    mutable quint64 m_useClock = 0;
};
