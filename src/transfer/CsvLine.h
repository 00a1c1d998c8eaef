#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstring>

// The output settings of one writing pass: the delimiter text D and the quote text Q (either
// may be several characters long), and whether the first line holds the field names.
struct CsvSettings {
    QString delimiter;
    QString quote;
    bool header = false;
};

// The fixed delimiter and quote choices of the export dialog's lists, in list order.
QString DefaultDelimiter(int choice);  // 0 "カンマ" → ",", 1 "タブ" → "\t"
QString DefaultQuote(int choice);      // 0 "ダブル" → "\"", 1 "シングル" → "'"

// Builds the lines of a CSV file in the connection's bytes (UTF-8): every value enclosed in Q on
// both sides and followed by D, the delimiter behind the last value removed, CR LF appended.
// A one-character Q found inside a value is doubled, so that the value reads back intact; a
// longer Q cannot be escaped and the value is written as it stands. Every other byte of a
// value, its line ends included, is written as it is: only the line's own end is CR LF.
class CsvLineBuilder {
public:
    explicit CsvLineBuilder(const CsvSettings& settings);

    void addField(const char* value, qsizetype size);
    void addField(const QString& value);
    // A value known not to hold the quote: copied as it stands.
    void addFieldAsIs(const char* value, qsizetype size)
    {
        put(m_quote.constData(), m_quote.size());
        put(value, size);
        put(m_quote.constData(), m_quote.size());
        put(m_delimiter.constData(), m_delimiter.size());
    }
    // Whether a text (a whole row, say) holds no quote to double, so that its values may go
    // through addFieldAsIs.
    bool needsNoEscape(QByteArrayView text) const
    {
        return !m_doubleQuote || text.indexOf(QByteArrayView(m_quote)) < 0;
    }
    // Ends the line: the delimiter behind the last value is removed and CR LF appended.
    QByteArrayView finishLine();
    QByteArrayView line() const { return QByteArrayView(m_buffer.constData(), m_used); }
    void clear() { m_used = 0; }

private:
    void appendValue(const char* value, qsizetype size);
    // Room for n more bytes; the buffer keeps its size between lines (one line per row).
    char* room(qsizetype n)
    {
        if (m_used + n > m_buffer.size()) grow(n);
        return m_buffer.data() + m_used;
    }
    void grow(qsizetype n);
    void put(const char* bytes, qsizetype n)
    {
        if (n <= 0) return;
        std::memcpy(room(n), bytes, size_t(n));
        m_used += n;
    }

    QByteArray m_quote;
    QByteArray m_delimiter;
    bool m_doubleQuote;
    QByteArray m_buffer;
    qsizetype m_used = 0;
};
