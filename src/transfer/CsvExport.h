#pragma once

#include <QFile>
#include <QObject>
#include <QString>
#include <QStringList>
#include <optional>

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
    // the same line for every row; a statement's rows through single-row mode.
    bool start(const ExportSource& source, const QString& fileName, const CsvSettings& settings);

    bool running() const { return m_running; }
    qint64 rowsWritten() const { return m_rows; }
    // Why the export failed, for the operator; empty after a success.
    const QString& failure() const { return m_failure; }

    // Runs the job to its end without returning to the caller's event loop (tools and benches).
    bool runToEnd();

signals:
    void progress(qint64 rows);
    void finished(bool ok);

private:
    bool startTable(const ObjectName& table);
    bool startStatement(const QString& statement);
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
    qint64 m_rows = 0;
    qint64 m_reported = 0;
    QString m_failure;
};
