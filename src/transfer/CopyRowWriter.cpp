#include "transfer/CopyRowWriter.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "transfer/CsvExport.h"

QByteArrayView CopyTextValue(const char* value, qsizetype size, QByteArray& scratch)
{
    if (size == 2 && value[0] == '\\' && value[1] == 'N') return {};
    if (!std::memchr(value, '\\', size_t(size))) return QByteArrayView(value, size);
    scratch.resize(0);
    for (qsizetype i = 0; i < size; ++i) {
        char c = value[i];
        if (c == '\\' && i + 1 < size) {
            c = value[++i];
            switch (c) {
            case 'b': c = '\b'; break;
            case 'f': c = '\f'; break;
            case 'n': c = '\n'; break;
            case 'r': c = '\r'; break;
            case 't': c = '\t'; break;
            case 'v': c = '\v'; break;
            default:
                if (c >= '0' && c <= '7') {
                    int code = c - '0';
                    for (int k = 0; k < 2 && i + 1 < size && value[i + 1] >= '0' && value[i + 1] <= '7'; ++k)
                        code = code * 8 + (value[++i] - '0');
                    c = char(code);
                }
                break;
            }
        }
        scratch.append(c);
    }
    return QByteArrayView(scratch);
}

CopyRowWriter::CopyRowWriter(const CsvSettings& settings)
    : m_line(settings)
{
    const QByteArray quote = settings.quote.toUtf8(), delimiter = settings.delimiter.toUtf8();
    m_direct = quote.size() == 1 && delimiter.size() == 1 && uchar(quote[0]) < 0x80 &&
               uchar(delimiter[0]) < 0x80 && quote[0] != '\\' && quote[0] != '\n' &&
               quote[0] != '\t';
    m_quoteByte = m_direct ? quote[0] : 0;
    m_delimiterByte = m_direct ? delimiter[0] : 0;
    for (int b = 0x80; b < 0x100; ++b) m_special[b] = true;
    m_special[uchar('\t')] = m_special[uchar('\\')] = m_special[uchar(m_quoteByte)] = true;
    m_special[uchar('\n')] = true;
}

#if defined(__SSE2__)
namespace {

// The lanes of a block holding a byte that needs a look: tab, backslash, line feed, the quote.
unsigned stopsIn(__m128i block, __m128i quotes)
{
    const __m128i tabs = _mm_set1_epi8('\t'), backslashes = _mm_set1_epi8('\\'),
                  lineFeeds = _mm_set1_epi8('\n');
    const __m128i hits =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, tabs), _mm_cmpeq_epi8(block, backslashes)),
                     _mm_or_si128(_mm_cmpeq_epi8(block, lineFeeds), _mm_cmpeq_epi8(block, quotes)));
    return unsigned(_mm_movemask_epi8(hits));
}

}  // namespace
#endif

// The CSV line of the COPY row that begins at row, written at o: every field in quotes, the
// delimiter between, the quote doubled, NULL (\N alone in its field) as an empty value, CR LF
// at its end. The row ends at its line feed or at end; next is set past it (past the line
// feed). Returns the end of the line, or null for a row with an escape other than NULL's.
// wide: the row holds a byte past ASCII (its line is to be converted to CP932).
// The bytes between those that need a look go out as they are, a block of 16 at a time: a
// block is stored whole and the output goes on after its plain bytes, so up to 16 bytes past
// the line are written; a row of L bytes takes at most 3L + 4 bytes before those. Reads only
// inside [first, end); the output from outFirst on is this call's caller's (a block may be
// stored over it with the same bytes).
char* CopyRowWriter::writeLine(const char* row, const char* first, const char* end, char* o,
                               const char* outFirst, const char*& next, bool& wide) const
{
    const char q = m_quoteByte, d = m_delimiterByte;
    const char* p = row;
#if defined(__SSE2__)
    const __m128i quotes = _mm_set1_epi8(q);
    const __m128i lanes = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    unsigned high = 0;  // the lanes of plain bytes past ASCII
#endif
    *o++ = q;
    while (p < end) {
#if defined(__SSE2__)
        if (end - p >= 16) {
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o), block);
            const unsigned stops = stopsIn(block, quotes);
            const int plain = stops ? std::countr_zero(stops) : 16;
            high |= unsigned(_mm_movemask_epi8(block)) & ((1u << plain) - 1);
            p += plain;
            o += plain;
            if (!stops) continue;
        } else if (end - first >= 16 && o - outFirst >= 16 - (end - p)) {
            // Fewer than 16 bytes are left: the last block before end is read, and its first
            // lanes, handled already, keep the bytes written for them.
            const int done = int(16 - (end - p));
            const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(end - 16));
            char* const at = o - done;
            const __m128i kept = _mm_cmplt_epi8(lanes, _mm_set1_epi8(char(done)));
            const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(at),
                             _mm_or_si128(_mm_and_si128(kept, before), _mm_andnot_si128(kept, block)));
            const unsigned stops = stopsIn(block, quotes) >> done;
            const int plain = stops ? std::countr_zero(stops) : int(end - p);
            high |= (unsigned(_mm_movemask_epi8(block)) >> done) & ((1u << plain) - 1);
            p += plain;
            o += plain;
        } else
#endif
        {
            const char* run = p;
            while (p < end && !m_special[uchar(*p)]) ++p;
            std::memcpy(o, run, size_t(p - run));
            o += p - run;
        }
        if (p == end) break;
        const char c = *p++;
        if (c == '\t') {
            *o++ = q;
            *o++ = d;
            *o++ = q;
        } else if (c == q) {
            *o++ = q;
            *o++ = q;
        } else if (c == '\n') {
            break;
        } else if (c == '\\') {
            // \N alone in its field is NULL, written as an empty value.
            const bool null = p < end && *p == 'N' && (p - 1 == row || p[-2] == '\t') &&
                              (p + 1 == end || p[1] == '\t' || p[1] == '\n');
            if (!null) return nullptr;
            ++p;
        } else {
            wide = true;
            *o++ = c;
        }
    }
#if defined(__SSE2__)
    wide = wide || high;
#endif
    *o++ = q;
    *o++ = '\r';
    *o++ = '\n';
    next = p;
    return o;
}

// One row straight into the output; false (nothing written) for a row with an escape other
// than NULL's or a line feed inside (COPY never sends one), which the line builder handles,
// or a character CP932 cannot hold. A row that is not all ASCII is converted to CP932
// afterwards.
bool CopyRowWriter::appendDirect(QByteArray& out, const char* row, qsizetype size)
{
    const qsizetype start = out.size();
    out.resize(start + 3 * size + 24);
    char* const line = out.data() + start;
    const char* const end = row + size;
    const char* next = nullptr;
    bool wide = false;
    char* const lineEnd = writeLine(row, row, end, line, line, next, wide);
    if (!lineEnd || next != end || (size > 0 && end[-1] == '\n')) {
        out.truncate(start);
        return false;
    }
    out.truncate(lineEnd - out.constData());
    if (wide) {
        m_scratch.resize(out.size() - start);
        std::memcpy(m_scratch.data(), out.constData() + start, size_t(m_scratch.size()));
        out.truncate(start);
        return m_cp932.append(out, m_scratch.constData(), m_scratch.size());
    }
    return true;
}

qsizetype CopyRowWriter::appendRows(QByteArray& out, const char* rows, qsizetype size, qint64& taken)
{
    taken = 0;
    if (!m_direct || !m_hasFields) return 0;
    const qsizetype start = out.size();
    // A row of L bytes with its line feed: at most 3L + 1 bytes, and the block past them.
    out.resize(start + 4 * size + 24);
    char* base = out.data();
    qsizetype at = start;  // the end of the lines written
    const char* p = rows;
    const char* const end = rows + size;
    while (p < end) {
        char* const o = base + at;
        const char* next = nullptr;
        bool wide = false;
        char* const lineEnd = writeLine(p, rows, end, o, base + start, next, wide);
        if (!lineEnd || next[-1] != '\n') break;
        if (wide) {
            // The line in CP932 (never longer); a row CP932 cannot hold is left to append(),
            // which tells why.
            m_scratch.resize(lineEnd - o);
            std::memcpy(m_scratch.data(), o, size_t(m_scratch.size()));
            out.truncate(at);
            const bool held = m_cp932.append(out, m_scratch.constData(), m_scratch.size());
            at = out.size();
            out.resize(at + 4 * (end - next) + 24);
            base = out.data();
            if (!held) break;
        } else {
            at = lineEnd - base;
        }
        p = next;
        ++taken;
    }
    out.truncate(at);
    return p - rows;
}

bool CopyRowWriter::append(QByteArray& out, const char* row, qsizetype size)
{
    if (size > 0 && row[size - 1] == '\n') --size;
    if (m_direct && m_hasFields) {
        if (appendDirect(out, row, size)) return true;
        // (a refusal of CP932's is found again below, and the line builder's bytes are the same)
    }
    m_line.clear();
    const QByteArrayView whole(row, size);
    if (m_hasFields && whole.indexOf('\\') < 0 && m_line.needsNoEscape(whole)) {
        // No escape, no quote: every field goes as it stands (NULL is the escape \N).
        for (const char* p = row;;) {
            const char* tab = static_cast<const char*>(std::memchr(p, '\t', size_t(row + size - p)));
            const char* stop = tab ? tab : row + size;
            m_line.addFieldAsIs(p, stop - p);
            if (!tab) break;
            p = tab + 1;
        }
    } else if (m_hasFields) {
        for (const char* p = row;;) {
            const char* tab = static_cast<const char*>(std::memchr(p, '\t', size_t(row + size - p)));
            const char* stop = tab ? tab : row + size;
            const QByteArrayView v = CopyTextValue(p, stop - p, m_scratch);
            m_line.addField(v.data(), v.size());
            if (!tab) break;
            p = tab + 1;
        }
    }
    const QByteArrayView line = m_line.finishLine();
    return m_cp932.append(out, line.data(), line.size());
}

QString CopyRowWriter::unencodableMessage(const char* row, qsizetype size, qint64 number,
                                          const QStringList& columns)
{
    if (size > 0 && row[size - 1] == '\n') --size;
    qsizetype f = 0;
    for (const char* p = row;; ++f) {
        const char* tab = static_cast<const char*>(std::memchr(p, '\t', size_t(row + size - p)));
        const char* stop = tab ? tab : row + size;
        const QByteArrayView v = CopyTextValue(p, stop - p, m_scratch);
        const QString bad = m_cp932.firstUnencodable(v.toByteArray());
        if (!bad.isEmpty()) return UnencodableValueMessage(number, columns.value(f), bad);
        if (!tab) break;
        p = tab + 1;
    }
    return UnencodableValueMessage(number, QString(), QString());
}
