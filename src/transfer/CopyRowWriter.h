#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <array>

#include "transfer/Cp932Stream.h"
#include "transfer/CsvLine.h"

// Turns the rows of a COPY ... TO STDOUT (text form: fields split by tabs, \N for NULL,
// backslash escapes) into the file's CSV lines in CP932, with no server and no widgets.
// Owns: the line builder and the CP932 stream of the rows, and the byte table of the direct
// path. Keeps: every row is written exactly as CsvLineBuilder writes the same
// values, NULL as an empty value, CR LF at the end; the direct path (a one-byte ASCII quote
// and delimiter, no escape but NULL's) is only a faster way to those bytes.
class CopyRowWriter {
public:
    explicit CopyRowWriter(const CsvSettings& settings);

    // The rows have fields (a COPY of no columns sends an empty line per row, written as an
    // empty line, where a COPY of one column sends an empty value).
    void setHasFields(bool hasFields) { m_hasFields = hasFields; }

    // Appends the CSV line of one COPY row (its line feed may end it) to out; false, out
    // unchanged, when a value holds a character CP932 cannot hold.
    bool append(QByteArray& out, const char* row, qsizetype size);

    // Appends the CSV lines of the whole rows that begin rows[0, size) (each ending in its
    // line feed), up to the first the direct path does not take: one with an escape other than
    // NULL's or a character CP932 cannot hold, or any row under settings the direct path does
    // not take (a quote or a delimiter of more than one byte or past ASCII). Returns the bytes
    // of the rows taken and counts them in taken; what it leaves is for append(), a row at a
    // time. The lines are those append() writes.
    qsizetype appendRows(QByteArray& out, const char* rows, qsizetype size, qint64& taken);

    // Why append refused the row: the first field CP932 cannot hold, named after columns and
    // the record's number (1 for the first).
    QString unencodableMessage(const char* row, qsizetype size, qint64 number,
                               const QStringList& columns);

private:
    bool appendDirect(QByteArray& out, const char* row, qsizetype size);
    char* writeLine(const char* row, const char* first, const char* end, char* o,
                    const char* outFirst, const char*& next, bool& wide) const;

    CsvLineBuilder m_line;
    Cp932Stream m_cp932;
    QByteArray m_scratch;
    bool m_hasFields = true;
    // The direct path: the quote and the delimiter are one ASCII byte each, and the quote is
    // none of the bytes COPY's text form gives a meaning (backslash, tab, line feed).
    bool m_direct = false;
    char m_quoteByte = 0;
    char m_delimiterByte = 0;
    // The bytes the direct path stops at where it goes byte by byte (a row shorter than a
    // block, or no SSE2): tab, backslash, line feed, the quote, and any byte past ASCII.
    std::array<bool, 256> m_special{};
};

// A field of COPY's text form as the value a select returns: \N (NULL) is empty, the
// backslash escapes are undone (scratch holds the value then).
QByteArrayView CopyTextValue(const char* value, qsizetype size, QByteArray& scratch);
