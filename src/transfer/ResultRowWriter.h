#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "transfer/Cp932Stream.h"
#include "transfer/CsvLine.h"
#include "workspace/Result.h"

// Turns the rows of results into the file's CSV lines in CP932, with no server and no widgets:
// the line of field names before a result set's first row when the settings ask for it, then
// the rows. Owns: the line builder and the CP932 stream of the lines.
class ResultRowWriter {
public:
    explicit ResultRowWriter(const CsvSettings& settings) : m_header(settings.header), m_line(settings) {}

    // The line of field names (the header of rows that come apart, as a COPY's); false, with
    // failure(), when CP932 cannot hold one.
    bool appendHeader(QByteArray& out, const QStringList& names);
    // The rows of a result: one row (single-row mode), or a whole result set, whose end lets
    // the next result set begin with a header of its own. rows counts the records written (for
    // the messages); false, with failure(), when CP932 cannot hold a value.
    bool appendResult(QByteArray& out, const Result& r, qint64& rows);
    // The header written is forgotten: the next result writes its own.
    void forgetHeader() { m_headerDone = false; }
    const QString& failure() const { return m_failure; }

private:
    const bool m_header;
    bool m_headerDone = false;
    CsvLineBuilder m_line;
    Cp932Stream m_cp932;
    QString m_failure;
};
