#pragma once

#include <QFile>
#include <QObject>
#include <QString>
#include <QStringList>
#include <array>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

#include "transfer/Cp932Stream.h"
#include "transfer/CsvLine.h"
#include "workspace/Connection.h"
#include "workspace/ObjectName.h"

class QElapsedTimer;
class QSocketNotifier;

inline const QString kExportNoFileName = QStringLiteral("ファイル名を入力してください");
inline const QString kExportNoDelimiter = QStringLiteral("フィールド区切り記号を設定してください。");
inline const QString kExportNoQuote = QStringLiteral("クォート記号を設定してください。");

// What the export dialog writes: the rows of one table, or those of the operator's statement
// (SQL mode, decided by the text alone).
struct ExportSource {
    ObjectName table;
    QString sqlText;

    bool sqlMode() const { return !sqlText.isEmpty(); }
    QString exportStatement() const;
};

// The three checks before anything touches the file.
std::optional<QString> CsvExportRefusal(const QString& fileName, const CsvSettings& settings);

// The text that replaces a sample or ends an export when a value cannot be written in CP932.
// row is the record's number (1 for the first), 0 for the line of field names.
QString UnencodableValueMessage(qint64 row, const QString& column, const QString& character);

// The sample: at most ten rows rendered as the file would hold them (CR LF line ends), or the
// text that says why there is none. Table mode runs "select * from %s Limit 10". SQL mode
// never changes data and never holds a whole result: the statement runs inside a read-only
// transaction that is rolled back, through a cursor when it is a query (at most ten rows are
// fetched); a statement the read-only transaction refuses gives an empty sample, its server
// text going to the log pane like every failure.
QString BuildCsvSample(Connection& conn, const ExportSource& source, const CsvSettings& settings);

// One export to a file, streamed: rows are converted and written as they arrive, driven by the
// event loop of the thread that owns the job (the socket's readiness and zero timers), so the
// window stays responsive and no whole result is held. A failure (the server's error, a lost
// connection, a value CP932 cannot hold, a write error) removes the partial file.
class CsvExportJob : public QObject {
    Q_OBJECT
public:
    explicit CsvExportJob(Connection& conn, QObject* parent = nullptr);
    ~CsvExportJob() override;

    // Creates (or truncates) the file and sends the export statement. false, with failure(),
    // when the file cannot be created (nothing is sent then) or the statement failed at once
    // (the file is removed). A table's rows come through COPY (select * from t) TO STDOUT,
    // whose text form is decoded back to the very values a select returns: NULL as empty,
    // the same line for every row; so do the rows of a statement that is one query, outside a
    // transaction; any other statement's rows come through single-row mode.
    bool start(const ExportSource& source, const QString& fileName, const CsvSettings& settings);

    bool running() const { return m_running; }
    qint64 rowsWritten() const { return m_rows; }
    // Why the export failed, for the operator; empty after a success.
    const QString& failure() const { return m_failure; }

    // Runs the job to its end without returning to the caller's event loop (tools and benches).
    bool runToEnd();

    // How a large table's rows are shared out: at most `sessions` sessions (the workspace's and
    // further ones opened like it) each copy every sessions-th range of `chunkBlocks` heap
    // blocks, all in one snapshot, and the ranges are written in the table's order; a session
    // holds at most about `heldLimit` bytes of rows whose turn has not come (then its server
    // waits). The defaults suit the program; tests make the ranges and the limit small.
    void setTableSplit(int sessions, int chunkBlocks, qsizetype heldLimit = kDefaultHeldLimit);
    static constexpr qsizetype kDefaultHeldLimit = 2 << 20;
    // The sessions the last table export used (1 when it was not shared out).
    int sessionsUsed() const { return m_sessionsUsed; }

signals:
    void progress(qint64 rows);
    void finished(bool ok);

private:
    // One session's part of a table's COPY: the ranges it copies in turn (several COPY
    // statements sent as one text, so that its server goes from one to the next at once), and
    // the rows of those it copied while an earlier range was still being written.
    struct CopyLane {
        struct Range {
            QByteArray rows;  // held, COPY text, a line per row
            bool complete = false;  // the range's COPY has ended
        };
        Connection* conn = nullptr;
        std::unique_ptr<Connection> owned;  // the sessions opened for the export
        QSocketNotifier* notifier = nullptr;
        QString tableSql;  // the table's name as this session addresses it
        int nextChunk = 0;        // the first range not sent yet
        bool inQuery = false;     // a text of COPY statements is running
        // Begun, oldest first (every sessions-th range from the oldest not written); only the
        // last may still be copying.
        std::deque<Range> ranges;

        bool copying() const { return !ranges.empty() && !ranges.back().complete; }
        qsizetype held() const;
    };
    enum class LaneStep { Waiting, Sliced, RangeEnded, Idle };

    bool startTable(const ObjectName& table);
    void resetLanes();
    CopyLane& addWorkspaceLane(const QString& tableSql);
    bool shareOutTable(const ObjectName& table);
    void endShare(bool commit);
    bool sendRanges(CopyLane& lane);
    CopyLane& laneOf(int chunk) { return m_lanes[size_t(chunk) % m_lanes.size()]; }
    void addLaneNotifier(CopyLane& lane);
    void feedLanes();
    LaneStep stepLane(CopyLane& lane, bool write, const QElapsedTimer* slice = nullptr,
                      int* sinceCheck = nullptr);
    void writeHeldRows(CopyLane::Range& range);
    void dropLane(CopyLane& lane);
    void cancelLanes();
    void drainLanes();
    bool writePlainCopyRow(const char* row, qsizetype size);
    const char* nextSpecial(const char* p, const char* end) const;
    bool startStatement(const QString& statement);
    bool copyQuery(const QString& statement);
    bool refuseStart(const QString& text);
    bool readInput();
    bool sliceOver(const QElapsedTimer& slice, int& sinceCheck);
    void pump();
    void pumpCopy();
    void writeCopyRow(const char* row, qsizetype size);
    QByteArrayView copyField(const char* value, qsizetype size, QByteArray& scratch) const;
    bool writeHeader(const QStringList& names);
    void take(const Result& r);
    void writeRows(const Result& r, int first, int count);
    bool writeLine(const Result& r, int row);
    void fail(const QString& text);
    void abandon(const QString& text);
    void flush();
    void end();

    Connection& m_conn;
    QFile m_file;
    CsvSettings m_settings;
    std::optional<CsvLineBuilder> m_line;
    Cp932Stream m_cp932;
    QByteArray m_out;
    QSocketNotifier* m_notifier = nullptr;
    bool m_running = false;
    bool m_headerDone = false;
    bool m_draining = false;
    bool m_pumpQueued = false;
    bool m_copying = false;
    QStringList m_columns;
    QByteArray m_scratch;
    std::vector<CopyLane> m_lanes;
    std::vector<QByteArray> m_spareRows;
    int m_chunk = 0;        // the range being written
    int m_chunkCount = 1;
    bool m_snapshotOpen = false;
    bool m_lanesCancelled = false;
    unsigned m_sinceFeed = 0;  // the workspace's session holds the export's transaction
    // Three sessions: while the program writes one range, a server waiting for its turn now
    // and then would leave a core idle; a third keeps the server's work going (measured on
    // two cores, where two sessions gave about 1.5 times one, three about 1.7 times).
    int m_splitSessions = 3;
    int m_chunkBlocks = 256;
    qsizetype m_heldLimit = kDefaultHeldLimit;
    int m_sessionsUsed = 1;
    // The common settings (one-byte ASCII quote and delimiter) write rows without the line
    // builder: the bytes that need a look, the quote and the delimiter.
    std::array<bool, 256> m_special{};
    bool m_plainRows = false;
    char m_quoteByte = 0;
    char m_delimiterByte = 0;
    qint64 m_rows = 0;
    qint64 m_reported = 0;
    QString m_failure;
};
