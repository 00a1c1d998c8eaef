#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <optional>

// The import's error log: one entry per failed line, "Query:<statement> Error:<why>" and CR LF,
// appended to the file the run names. Every entry's why begins with the line of the file where
// the refused record starts ("12 行目…"). The file is CP932 text with CR LF line ends; nothing
// of an entry is dropped (see ImportLogBytes). Used by the worker thread alone. A log that is
// not open takes nothing (the operator agreed to run without it).
class ImportErrorLog {
public:
    // Opens `path` for appending; nothing, or why it cannot be opened (ImportFileRefusal).
    std::optional<QString> open(const QString& path);
    void close() { m_file.close(); }
    // `query` is already in the log's bytes (a raw file line, or ImportLogBytes of a statement).
    // `why` names its line already (the reader's reasons); with `line` it is the server's text,
    // and the entry names that line first.
    void add(const QByteArray& query, const QString& why, qint64 line = 0);

private:
    QFile m_file;
};

// Why a file of the run cannot be opened, for the operator: the file and the system's reason.
QString ImportFileRefusal(const QFile& file);
// Opens the CSV file for reading; nothing, or why the run cannot read it: it cannot be opened,
// or it is not CP932 text (nor UTF-8 with its byte-order mark).
std::optional<QString> OpenImportInput(QFile& input);
// The question asked before a run whose error log cannot be opened (`why`: ImportFileRefusal).
QString ImportWithoutLogQuestion(const QString& why);

// A text in the log's bytes: CP932 with CR LF line ends. A character CP932 cannot hold is
// written as its code point (<U+XXXX>), so the entry stays readable and nothing is dropped.
QByteArray ImportLogBytes(const QString& text);
