#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <functional>
#include <string>
#include <vector>

#include "transfer/CsvImport.h"
#include "transfer/ImportLog.h"

// The import's worker: reads the file's records and sends them inside the transaction the
// caller opened, as COPY batches under the savepoint b (RELEASE b;SAVEPOINT b;COPY ... in one
// string), or one INSERT per line where COPY would not do what the INSERT does (a view, a
// table with rules, a COPY the server refuses). A failed batch is rolled back to b; the lines
// before its failing one are sent again, the failing line runs alone as its INSERT (counted
// and logged with its own text) and the rest follows. Invariants: every line read is counted
// as executed once (a failed one also as an error), but for the line that stops the run; after
// run() no piece is left failed under b, so the transaction can still commit; nothing is sent
// after the connection was lost.
class ImportBatches {
public:
    ImportBatches(Connection& conn, const ImportSettings& s, ImportRunState& state,
                  const std::function<void()>& progress)
        : m_conn(conn), m_s(s), m_state(state), m_progress(progress)
    {
    }
    ImportOutcome run();

private:
    static constexpr qsizetype kFirstBatch = 1000;       // lines of the first COPY, and after a failure
    static constexpr qsizetype kLargestBatch = 65536;    // lines
    static constexpr qsizetype kBatchBytes = 8 << 20;    // a batch ends here whatever its line count
    static constexpr qint64 kBatchMillis = 150;          // ... and after this long, so counters stay live
    static constexpr qsizetype kSendChunk = 64 << 10;    // COPY data goes out in pieces of this size
    static constexpr qsizetype kFirstRetrySlice = 16;    // lines sent after a failed line, doubling

    static inline const QString kBackToSavepoint = QStringLiteral("ROLLBACK TO SAVEPOINT b");

    bool copyAllowed();
    QString savepointStatements();
    void backToSavepoint()
    {
        m_rollbackPending = true;
        m_savepointClean = true;
    }
    void settleSavepoint();
    bool lostIfBad(const QString& serverText);

    void appendLine(const CsvRecord& rec);
    qsizetype lineStart(qsizetype i) const { return i == 0 ? 0 : m_lineEnds[size_t(i - 1)]; }
    QByteArrayView batchLine(qsizetype i) const
    {
        return QByteArrayView(m_batch.data() + lineStart(i), m_lineEnds[size_t(i)] - lineStart(i) - 1);
    }
    bool startCopy();
    void streamBatch();
    void flushBatch();
    bool copyRange(qsizetype from, qsizetype to, int* failedLine);
    void afterFailedCopy(qsizetype from, qsizetype count, int failedLine);
    void insertEach(qsizetype from, qsizetype to);

    void insertValues(const QStringList& values, qint64 line);
    // `line`: the refusal is the server's, for the record starting at that line of the file;
    // 0: `error` is the reader's reason, which names its line itself.
    void lineFailed(const QString& query, const QByteArray& logQuery, const QString& error, qint64 line);
    void countExecuted(long long n);
    void tick(bool force = false);

    Connection& m_conn;
    const ImportSettings& m_s;
    ImportRunState& m_state;
    const std::function<void()>& m_progress;
    ImportOutcome m_outcome;
    bool m_abort = false;
    // Every piece of work (a COPY, an INSERT) runs under the savepoint b, so a failure undoes
    // that piece alone. The savepoint statements travel with the next COPY where they can.
    bool m_haveSavepoint = false;
    bool m_savepointClean = false;   // nothing done under b since it was set or rolled back to
    bool m_rollbackPending = false;  // the last piece failed: roll back to b before the next

    ImportErrorLog m_log;
    QString m_prefix;
    QString m_copyStatement;
    int m_columns = 0;
    bool m_useCopy = false;

    // The current batch: COPY text lines, each ending in a line feed, kept until the batch
    // is through so that the lines before a failed one can be sent again.
    std::string m_batch;
    std::vector<qsizetype> m_lineEnds;
    std::vector<qint64> m_fileLines;  // where each batch line's record starts in the file
    qsizetype m_sent = 0;        // bytes of the batch already streamed
    bool m_copyOpen = false;
    qsizetype m_batchTarget = kFirstBatch;
    long long m_goodSinceFailure = 0;  // lines through since the last failed one
    long long m_lastGap = kFirstBatch * 4;  // good lines between the last two failed ones
    QElapsedTimer m_batchClock;
    QElapsedTimer m_tickClock;
};
