#include "transfer/CsvReader.h"

#include <QBuffer>
#include <QFile>
#include <algorithm>
#include <cstring>
#include <utility>

namespace {

const char* findBytes(const char* p, const char* end, const QByteArray& pattern)
{
    const qsizetype len = pattern.size();
    if (len == 0 || end - p < len) return nullptr;
    if (len == 1) return static_cast<const char*>(std::memchr(p, pattern[0], size_t(end - p)));
    return static_cast<const char*>(memmem(p, size_t(end - p), pattern.constData(), size_t(len)));
}

bool startsWith(const char* p, const char* end, const QByteArray& pattern)
{
    const qsizetype len = pattern.size();
    return len > 0 && end - p >= len && std::memcmp(p, pattern.constData(), size_t(len)) == 0;
}

// True when every byte is ASCII and none is NUL (the common line, passed on without a copy).
bool plainAscii(const char* p, qsizetype n)
{
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    unsigned char any = 0, least = 0xFF;
    for (qsizetype i = 0; i < n; ++i) {
        any |= u[i];
        least = std::min(least, u[i]);
    }
    return any < 0x80 && (n == 0 || least > 0);
}

// Length of the valid UTF-8 sequence at p, or 0.
int utf8SequenceLength(const unsigned char* p, qsizetype left)
{
    const unsigned char c = p[0];
    int len;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) len = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        if (c == 0xE0) lo = 0xA0;
        if (c == 0xED) hi = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        if (c == 0xF0) lo = 0x90;
        if (c == 0xF4) hi = 0x8F;
    } else
        return 0;
    if (left < len) return 0;
    if (p[1] < lo || p[1] > hi) return 0;
    for (int i = 2; i < len; ++i)
        if (p[i] < 0x80 || p[i] > 0xBF) return 0;
    return len;
}

const char kReplacement[] = "\xEF\xBF\xBD";

}  // namespace

CsvFormat CsvFormat::from(const QString& delimiter, const QString& quote)
{
    return {delimiter.toUtf8(), quote.toUtf8()};
}

void CsvRecord::clear()
{
    data.clear();
    ends.clear();
    firstLine = 0;
    // Capacities are kept: a reader fills the same record again and again.
    if (!valid) {
        valid = true;
        problem.clear();
        raw.resize(0);
    }
}

bool CsvSplitter::feedLine(const char* p, qsizetype n, CsvRecord& rec, bool crlf)
{
    const QByteArray& d = m_format.delimiter;
    const QByteArray& q = m_format.quote;
    const char* end = p + n;
    const char* i = p;
    bool enclosed = false;
    if (m_open) {
        if (m_openCrLf) rec.data.push_back('\r');
        rec.data.push_back('\n');
        enclosed = true;
        m_open = false;
    }
    for (;;) {
        if (!enclosed) {
            if (startsWith(i, end, q)) {
                enclosed = true;
                m_openField = rec.ends.empty() ? 0 : rec.ends.back();
                i += q.size();
            } else {
                const char* j = findBytes(i, end, d);
                if (!j) {
                    rec.data.append(i, size_t(end - i));
                    closeField(rec);
                    return true;
                }
                rec.data.append(i, size_t(j - i));
                closeField(rec);
                i = j + d.size();
                continue;
            }
        }
        // Inside an enclosed field, up to its closing quote.
        for (;;) {
            const char* k = findBytes(i, end, q);
            if (!k) {
                rec.data.append(i, size_t(end - i));
                m_open = true;
                m_openCrLf = crlf;
                return false;
            }
            rec.data.append(i, size_t(k - i));
            const char* after = k + q.size();
            if (startsWith(after, end, q)) {
                rec.data.append(q.constData(), size_t(q.size()));
                i = after + q.size();
            } else if (after == end) {
                closeField(rec);
                return true;
            } else if (startsWith(after, end, d)) {
                closeField(rec);
                i = after + d.size();
                enclosed = false;
                break;
            } else {
                rec.data.append(q.constData(), size_t(q.size()));
                i = after;
            }
        }
    }
}

void CsvSplitter::finish(CsvRecord& rec, bool keepQuote)
{
    if (!m_open) return;
    if (keepQuote) rec.data.insert(size_t(m_openField), m_format.quote.constData(), size_t(m_format.quote.size()));
    closeField(rec);
    m_open = false;
}

CsvRecordReader::CsvRecordReader(QIODevice& device, const CsvFormat& format)
    : m_device(device), m_splitter(format)
{
    m_buffer.resize(1 << 20);
}

bool CsvRecordReader::fill()
{
    if (m_eof) return false;
    const bool keepRecord = m_splitter.inRecord();
    const qsizetype from = keepRecord ? std::min(m_pos, m_recordStart) : m_pos;
    if (from > 0) {
        std::memmove(m_buffer.data(), m_buffer.constData() + from, size_t(m_end - from));
        m_end -= from;
        m_pos -= from;
        if (keepRecord) m_recordStart -= from;
    }
    if (m_end == m_buffer.size()) m_buffer.resize(m_buffer.size() * 2);
    const qint64 got = m_device.read(m_buffer.data() + m_end, m_buffer.size() - m_end);
    if (got <= 0) {
        m_eof = true;
        return false;
    }
    m_end += got;
    return true;
}

bool CsvRecordReader::nextLine(const char*& p, qsizetype& n, bool& tooLong, bool& crlf)
{
    tooLong = false;
    crlf = false;
    if (!m_started) {
        m_started = true;
        while (m_end < 3 && fill()) {}
        if (m_end >= 3 && std::memcmp(m_buffer.constData(), "\xEF\xBB\xBF", 3) == 0) {
            m_encoding = CsvEncoding::Utf8;
            m_pos = 3;
        }
    }
    for (;;) {
        const char* s = m_buffer.constData() + m_pos;
        const char* nl = static_cast<const char*>(std::memchr(s, '\n', size_t(m_end - m_pos)));
        if (nl) {
            m_pos = nl - m_buffer.constData() + 1;
            p = s;
            n = nl - s;
            break;
        }
        if (m_end - m_pos >= kMaxRecordBytes) {
            // Too long: the line is returned cut, and its rest is passed over on the next call
            // (so memory stays bounded whatever the file holds).
            p = s;
            n = kMaxRecordBytes;
            m_pos += n;
            tooLong = true;
            ++m_line;
            m_skipAfterCut = true;
            return true;
        }
        if (!fill()) {
            if (m_pos >= m_end) return false;
            p = m_buffer.constData() + m_pos;
            n = m_end - m_pos;
            m_pos = m_end;
            break;
        }
    }
    if (n > 0 && p[n - 1] == '\r') {
        --n;
        crlf = true;
    }
    ++m_line;
    return true;
}

bool CsvRecordReader::decode(const char* p, qsizetype n)
{
    if (m_encoding == CsvEncoding::Cp932) return m_cp932.append(m_decoded, p, n);
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    bool valid = true;
    qsizetype i = 0;
    while (i < n) {
        if (u[i] == 0) {
            m_decoded.append(kReplacement);
            valid = false;
            ++i;
            continue;
        }
        if (u[i] < 0x80) {
            qsizetype j = i + 1;
            while (j < n && u[j] < 0x80 && u[j] != 0) ++j;
            m_decoded.append(p + i, j - i);
            i = j;
            continue;
        }
        const int len = utf8SequenceLength(u + i, n - i);
        if (len == 0) {
            m_decoded.append(kReplacement);
            valid = false;
            ++i;
        } else {
            m_decoded.append(p + i, len);
            i += len;
        }
    }
    return valid;
}

bool CsvRecordReader::next(CsvRecord& rec)
{
    rec.clear();
    for (;;) {
        if (m_skipAfterCut) {
            // Pass over the rest of a line that was cut.
            m_skipAfterCut = false;
            for (;;) {
                const char* nl = static_cast<const char*>(
                    std::memchr(m_buffer.constData() + m_pos, '\n', size_t(m_end - m_pos)));
                if (nl) {
                    m_pos = nl - m_buffer.constData() + 1;
                    break;
                }
                m_pos = m_end;
                if (!fill()) break;
            }
        }
        const char* p = nullptr;
        qsizetype n = 0;
        bool tooLong = false, crlf = false;
        if (!nextLine(p, n, tooLong, crlf)) {
            if (!m_splitter.inRecord()) return false;
            rewindToRecordStart(OpenQuote::AtEnd, rec);
            continue;
        }
        const OpenQuote alone = std::exchange(m_readAlone, OpenQuote::None);
        if (!m_splitter.inRecord()) {
            rec.firstLine = m_line;
            m_recordStart = p - m_buffer.constData();
        }
        bool lineValid = true;
        const char* text = p;
        qsizetype textLength = n;
        if (!plainAscii(p, n)) {
            m_decoded.resize(0);
            lineValid = decode(p, n);
            text = m_decoded.constData();
            textLength = m_decoded.size();
        }
        if (!lineValid || tooLong) {
            if (rec.valid)
                rec.problem = tooLong ? QStringLiteral("%1 行目が長すぎます").arg(m_line)
                                      : QStringLiteral("%1 行目に %2 として読めない文字があります")
                                            .arg(m_line)
                                            .arg(m_encoding == CsvEncoding::Utf8
                                                     ? QStringLiteral("UTF-8")
                                                     : QStringLiteral("CP932"));
            rec.valid = false;
            if (rec.raw.size() < 65536) {
                if (!rec.raw.isEmpty()) rec.raw.append('\n');
                rec.raw.append(p, std::min<qsizetype>(n, 65536));
            }
        }
        if (m_splitter.feedLine(text, textLength, rec, crlf)) {
            checkFieldCount(rec, p, n);
            return true;
        }
        if (alone != OpenQuote::None) {
            m_splitter.finish(rec, true);
            rec.valid = false;
            rec.problem = alone == OpenQuote::AtEnd
                              ? QStringLiteral("%1 行目で開いた引用符がファイルの終わりまで閉じられていません").arg(m_line)
                              : QStringLiteral("%1 行目で開いた引用符が閉じられないまま、レコードが長すぎます").arg(m_line);
            rec.raw = QByteArray(p, std::min<qsizetype>(n, 65536));
            m_earlierLines.resize(0);
            return true;
        }
        if (m_fieldLimit > 0 && m_earlierLines.size() < 65536) {
            m_earlierLines.append(p, std::min<qsizetype>(n, 65536));
            m_earlierLines.append('\n');
        }
        if (qsizetype(rec.data.size()) > kMaxRecordBytes) rewindToRecordStart(OpenQuote::TooLong, rec);
    }
}

void CsvRecordReader::rewindToRecordStart(OpenQuote why, CsvRecord& rec)
{
    // The buffer still holds everything from the record's first line on (see fill()).
    m_pos = m_recordStart;
    m_line = rec.firstLine - 1;
    m_skipAfterCut = false;
    m_readAlone = why;
    m_splitter.reset();
    m_earlierLines.resize(0);
    rec.clear();
}

void CsvRecordReader::checkFieldCount(CsvRecord& rec, const char* lastLine, qsizetype n)
{
    if (m_fieldLimit > 0 && rec.valid && rec.fieldCount() > m_fieldLimit) {
        rec.valid = false;
        rec.problem = QStringLiteral("%1 行目のフィールドが多すぎます（%2 個、列は %3 個）")
                          .arg(rec.firstLine)
                          .arg(rec.fieldCount())
                          .arg(m_fieldLimit);
        rec.raw = m_earlierLines;
        if (lastLine) rec.raw.append(lastLine, std::min<qsizetype>(n, 65536));
        if (!lastLine && rec.raw.endsWith('\n')) rec.raw.chop(1);
    }
    m_earlierLines.resize(0);
}

std::vector<CsvRecord> ReadCsvRecords(const QByteArray& bytes, const CsvFormat& format)
{
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    CsvRecordReader reader(buffer, format);
    std::vector<CsvRecord> out;
    CsvRecord rec;
    while (reader.next(rec)) out.push_back(rec);
    return out;
}

QString NotCsvText(QByteArrayView head)
{
    if (head.startsWith(QByteArrayView("\xFF\xFE\0\0", 4)) || head.startsWith(QByteArrayView("\0\0\xFE\xFF", 4)))
        return QStringLiteral("UTF-32 のファイルです（バイト順マーク付き）。");
    if (head.startsWith("\xFF\xFE") || head.startsWith("\xFE\xFF"))
        return QStringLiteral("UTF-16 のファイルです（バイト順マーク付き）。");
    // Without a mark: UTF-16 writes the ASCII of a CSV file (delimiters, line ends) as the
    // character and a NUL, so its NULs sit on one side of the byte pairs and its line feeds
    // are 0A 00 (little end first) or 00 0A.
    qsizetype nul[2] = {0, 0}, feeds = 0, feedsLe = 0, feedsBe = 0, lines = 0, linesWithNul = 0;
    bool nulInLine = false;
    for (qsizetype i = 0; i < head.size(); ++i) {
        if (head[i] == '\0') {
            ++nul[i % 2];
            nulInLine = true;
        } else if (head[i] == '\n') {
            ++feeds;
            feedsLe += i % 2 == 0 && i + 1 < head.size() && head[i + 1] == '\0';
            feedsBe += i % 2 == 1 && head[i - 1] == '\0';
            ++lines;
            linesWithNul += nulInLine;
            nulInLine = false;
        }
    }
    if (!head.endsWith('\n') && !head.isEmpty()) {
        ++lines;
        linesWithNul += nulInLine;
    }
    const qsizetype pairs = head.size() / 2;
    auto utf16 = [&](qsizetype zeros, qsizetype others, qsizetype wideFeeds) {
        return zeros >= 2 && zeros * 16 >= pairs && others * 8 <= zeros && (feeds == 0 || wideFeeds * 5 >= feeds * 4);
    };
    if (utf16(nul[1], nul[0], feedsLe) || utf16(nul[0], nul[1], feedsBe))
        return QStringLiteral("UTF-16 のファイルです（バイト順マークなし）。");
    if (linesWithNul * 2 > lines) return QStringLiteral("NUL 文字を含む行が大半で、テキストのファイルではありません。");
    return {};
}

QString ImportQuote(const QString& chosen)
{
    return chosen.isEmpty() ? QStringLiteral("\"") : chosen;
}

bool ReadFirstCsvLine(const QString& fileName, QByteArray* line)
{
    QFile f(fileName);
    if (fileName.isEmpty() || !f.open(QIODevice::ReadOnly)) return false;
    QByteArray l = f.readLine(655350);
    if (l.isEmpty()) return false;
    if (l.startsWith("\xEF\xBB\xBF")) l.remove(0, 3);
    if (l.endsWith('\n')) l.chop(1);
    if (l.endsWith('\r')) l.chop(1);
    *line = l;
    return true;
}

namespace {

CsvRecord splitText(const QString& line, const QString& delimiter, const QString& quote)
{
    QByteArray bytes = line.toUtf8();
    if (bytes.endsWith('\n')) bytes.chop(1);
    if (bytes.endsWith('\r')) bytes.chop(1);
    CsvSplitter splitter(CsvFormat::from(delimiter, quote));
    CsvRecord rec;
    const char* p = bytes.constData();
    const char* end = p + bytes.size();
    for (;;) {
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
        const char* lineEnd = nl ? nl : end;
        if (splitter.feedLine(p, lineEnd - p, rec) || !nl) break;
        p = nl + 1;
    }
    splitter.finish(rec);
    return rec;
}

}  // namespace

int CountCsvFields(const CsvRecord& rec)
{
    return rec.fieldCount() > kMaxCsvFields ? -1 : rec.fieldCount();
}

int CountCsvFields(const QString& line, const QString& delimiter, const QString& quote)
{
    return CountCsvFields(splitText(line, delimiter, quote));
}

QString GetCsvField(const QString& line, const QString& delimiter, int n, const QString& quote)
{
    if (n >= kMaxCsvFields) return {};
    return splitText(line, delimiter, quote).text(n);
}
