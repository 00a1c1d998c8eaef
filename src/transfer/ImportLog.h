#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <optional>

// The import's error log: one entry per failed line, "Query:<statement> Error:<server text>"
// and CR LF, appended to the file the run names. The file is CP932 text with CR LF line ends;
// nothing of an entry is dropped (see ImportLogBytes). Used by the worker thread alone.
class ImportErrorLog {
public:
    // Opens `path` for appending; nothing, or why it cannot be opened (ImportFileRefusal).
    std::optional<QString> open(const QString& path);
    void close() { m_file.close(); }
    // `query` is already in the log's bytes (a raw file line, or ImportLogBytes of a statement).
    void add(const QByteArray& query, const QString& error);

private:
    QFile m_file;
};

// Why a file of the run cannot be opened, for the operator: the file and the system's reason.
QString ImportFileRefusal(const QFile& file);
// Opens the CSV file for reading, then the error log; nothing, or why one cannot be opened.
std::optional<QString> OpenImportFiles(QFile& input, ImportErrorLog& log, const QString& logPath);

// A text in the log's bytes: CP932 with CR LF line ends. A character CP932 cannot hold is
// written as its code point (<U+XXXX>), so the entry stays readable and nothing is dropped.
QByteArray ImportLogBytes(const QString& text);
