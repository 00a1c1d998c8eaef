#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <string>
#include <vector>

#include "workspace/TextCodec.h"

class QIODevice;

// The CSV reader shared by the import dialog's preview and the import run.
//
// A field enclosed in the quote text loses the enclosing quotes; inside it a doubled quote is
// one quote, the delimiter does not split and a line end continues the record, kept in the
// value as the file holds it (LF or CR LF). A quote inside
// an enclosed field that is followed neither by the delimiter nor by the line end is kept as it
// is (the export writes values unchanged between the quotes, so its files read back exactly).
// A field not enclosed is taken exactly as it stands. An empty delimiter never splits; an empty
// quote encloses nothing (the import's settings give the double quote when none was chosen:
// see ImportQuote).
//
// A quote still open at the end of the file (or past kMaxRecordBytes) is a stray one, not a
// value holding the rest of the file: the line where its record starts is refused alone, and
// reading goes on with the line after it, so one stray quote costs one line.

// Delimiter and quote as UTF-8 bytes: records are split after decoding, so a delimiter can
// never match the second byte of a double-byte CP932 character.
struct CsvFormat {
    QByteArray delimiter;
    QByteArray quote;
    static CsvFormat from(const QString& delimiter, const QString& quote);
};

// The file's encoding: UTF-8 when it starts with a byte-order mark, CP932 otherwise.
enum class CsvEncoding { Cp932, Utf8 };

// One record: its fields, UTF-8, one after another in `data`.
struct CsvRecord {
    std::string data;
    std::vector<qsizetype> ends;  // end of each field in data
    qint64 firstLine = 0;         // 1-based line of the file where the record starts
    // False when some byte is not valid in the file's encoding (or the record is too long);
    // the fields then hold U+FFFD for what could not be read, and `raw` the offending lines
    // as they were in the file.
    bool valid = true;
    QString problem;
    QByteArray raw;

    int fieldCount() const { return int(ends.size()); }
    QByteArrayView field(int i) const
    {
        if (i < 0 || i >= fieldCount()) return {};
        const qsizetype b = i == 0 ? 0 : ends[size_t(i - 1)];
        return QByteArrayView(data.data() + b, ends[size_t(i)] - b);
    }
    QString text(int i) const { return QString::fromUtf8(field(i)); }
    void clear();
};

// Splits decoded lines into the fields of records (no I/O).
class CsvSplitter {
public:
    explicit CsvSplitter(const CsvFormat& format) : m_format(format) {}
    // Feeds one line without its line end (`crlf`: it ended in CR LF, not LF alone); true when
    // it completed the record, false when the line ended inside an enclosed field and the
    // record goes on with the next line (the line end then belongs to the value).
    bool feedLine(const char* p, qsizetype n, CsvRecord& rec, bool crlf = false);
    // The input ended inside an enclosed field: close the record with what it has; with
    // `keepQuote` the open field keeps its opening quote, as the line shows it.
    void finish(CsvRecord& rec, bool keepQuote = false);
    bool inRecord() const { return m_open; }
    void reset() { m_open = false; }

private:
    void closeField(CsvRecord& rec) { rec.ends.push_back(qsizetype(rec.data.size())); }
    CsvFormat m_format;
    qsizetype m_openField = 0;  // where the open enclosed field starts in the record's data
    bool m_open = false;    // a record is under way (continued across a line end)
    bool m_openCrLf = false;  // ... and the line it continues ended in CR LF
};

// Reads records from a device, a line at a time; the file is never held whole. A line (or a
// record) longer than kMaxRecordBytes is cut there and reported as not valid.
class CsvRecordReader {
public:
    static constexpr qsizetype kMaxRecordBytes = 16 * 1024 * 1024;

    CsvRecordReader(QIODevice& device, const CsvFormat& format);
    CsvRecordReader(const CsvRecordReader&) = delete;
    CsvRecordReader& operator=(const CsvRecordReader&) = delete;

    CsvEncoding encoding() const { return m_encoding; }
    // Records with more fields than this are not valid: their problem names the line, and raw
    // holds their lines (0: no limit).
    void setFieldLimit(int fields) { m_fieldLimit = fields; }
    // The next record; false at the end of the input.
    bool next(CsvRecord& rec);

private:
    // Why a record whose quote never closed is refused at its first line.
    enum class OpenQuote { None, AtEnd, TooLong };

    bool fill();
    bool nextLine(const char*& p, qsizetype& n, bool& tooLong, bool& crlf);
    // Back to the first line of the open record, to read it alone.
    void rewindToRecordStart(OpenQuote why, CsvRecord& rec);
    void checkFieldCount(CsvRecord& rec, const char* lastLine, qsizetype n);
    // Appends the line decoded to UTF-8 to m_decoded; false when some byte was not valid.
    // A NUL byte is never text of a CSV file, in either encoding.
    bool decode(const char* p, qsizetype n);

    QIODevice& m_device;
    CsvSplitter m_splitter;
    CsvEncoding m_encoding = CsvEncoding::Cp932;
    QByteArray m_buffer;
    qsizetype m_pos = 0, m_end = 0;
    bool m_eof = false;
    bool m_started = false;
    // While a record runs over several lines the buffer keeps its first line from here on
    // (at most kMaxRecordBytes and a line), so an open quote can be read again as one line.
    qsizetype m_recordStart = 0;
    OpenQuote m_readAlone = OpenQuote::None;  // the next line is read as a record of its own
    bool m_skipAfterCut = false;
    qint64 m_line = 0;
    QByteArray m_decoded;
    int m_fieldLimit = 0;
    QByteArray m_earlierLines;  // with a field limit: the lines of the record before this one
    Cp932::Decoder m_cp932{Cp932::Decoder::Nul::Broken};
};

// Everything a byte string holds, as records (for tests and the fuzz target).
std::vector<CsvRecord> ReadCsvRecords(const QByteArray& bytes, const CsvFormat& format);

// What a file is when its first bytes show that it is not text the reader can read (UTF-16 or
// UTF-32, or NUL bytes in most lines), as a sentence for the operator; empty for CP932 text
// or UTF-8 with its byte-order mark. A NUL in an odd line is left to the reader, which
// refuses that line alone.
QString NotCsvText(QByteArrayView head);
constexpr qsizetype kCsvHeadBytes = 64 * 1024;  // what NotCsvText is given of a file

// The quote the import reads with: the chosen one, or the double quote when none was chosen
// (a field that begins with " is quoted, as every CSV reader takes it).
QString ImportQuote(const QString& chosen);

// The first line of a file, as bytes without its line end; false when the file cannot be
// opened or is empty.
bool ReadFirstCsvLine(const QString& fileName, QByteArray* line);

// The reader's operations on one record given as text (its line end, if any, removed):
// CountCsvFields gives the number of fields, or -1 beyond kMaxCsvFields; GetCsvField the value
// of field n (0-based), empty when there is no such field.
constexpr int kMaxCsvFields = 602;
int CountCsvFields(const QString& line, const QString& delimiter, const QString& quote);
QString GetCsvField(const QString& line, const QString& delimiter, int n, const QString& quote);
// The same count for a record already read.
int CountCsvFields(const CsvRecord& rec);
