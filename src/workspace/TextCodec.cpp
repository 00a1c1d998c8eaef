#include "workspace/TextCodec.h"

#include <iconv.h>

#include <QStringDecoder>
#include <QtGlobal>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

iconv_t cd(void* p) { return static_cast<iconv_t>(p); }
const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);
const char kReplacement[] = "\xEF\xBF\xBD";

// One whole conversion into dst (large enough); the number of bytes written, or -1 when some
// byte sequence cannot be converted.
qsizetype convertAll(iconv_t c, const char* src, qsizetype size, char* dst, qsizetype room)
{
    if (c == kNoConverter) return -1;
    iconv(c, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(src);
    size_t inLeft = size_t(size);
    char* out = dst;
    size_t outLeft = size_t(room);
    if (iconv(c, &in, &inLeft, &out, &outLeft) == size_t(-1)) return -1;
    if (iconv(c, nullptr, nullptr, &out, &outLeft) == size_t(-1)) return -1;
    return out - dst;
}

// QByteArray::append goes through the general insert; a line per row wants the plain copy.
void appendBytes(QByteArray& out, const char* bytes, qsizetype n)
{
    const qsizetype at = out.size();
    out.resize(at + n);
    std::memcpy(out.data() + at, bytes, size_t(n));
}

// Length of the UTF-8 sequence that starts with lead byte b.
int sequenceLength(unsigned char b)
{
    if (b >= 0xF0) return 4;
    if (b >= 0xE0) return 3;
    if (b >= 0xC0) return 2;
    return 1;
}

// The text of UTF-8 bytes, a leading U+FEFF included (QString::fromUtf8 drops it as a
// byte-order mark, and a character CP932 cannot hold must never be named as nothing).
QString utf8Text(const char* utf8, qsizetype size)
{
    QStringDecoder toText(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return toText(QByteArrayView(utf8, size));
}

// The first byte of a double-byte CP932 character.
bool isLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// End of the run of non-ASCII CP932 characters that starts at i: a lead byte takes its trail
// byte along, which may be an ASCII byte.
qsizetype cp932RunEnd(const unsigned char* p, qsizetype i, qsizetype n)
{
    while (i < n && p[i] >= 0x80) i += isLeadByte(p[i]) ? 2 : 1;
    return std::min(i, n);
}

constexpr quint64 kHighBits = 0x8080808080808080ULL;
constexpr quint64 kLowBits = 0x0101010101010101ULL;

// End of the run of ASCII bytes that starts at i, eight bytes at a time while it can; a NUL
// byte ends it too when stopAtNul.
qsizetype asciiRunEnd(const unsigned char* p, qsizetype i, qsizetype n, bool stopAtNul)
{
    while (n - i >= 8) {
        quint64 word;
        std::memcpy(&word, p + i, 8);
        if (word & kHighBits) break;
        if (stopAtNul && ((word - kLowBits) & ~word & kHighBits)) break;
        i += 8;
    }
    while (i < n && p[i] < 0x80 && !(stopAtNul && p[i] == 0)) ++i;
    return i;
}

// Where text holds half of a surrogate pair alone (no character at all: a kept byte is split
// off before), or its size when it holds none.
qsizetype loneSurrogate(QStringView text)
{
    for (qsizetype k = 0; k < text.size(); ++k) {
        const QChar c = text.at(k);
        if (c.isHighSurrogate() && k + 1 < text.size() && text.at(k + 1).isLowSurrogate())
            ++k;
        else if (c.isSurrogate())
            return k;
    }
    return text.size();
}

}  // namespace

namespace Cp932 {

Encoder::Encoder()
    : m_toCp932(iconv_open("CP932", "UTF-8")), m_fromCp932(iconv_open("UTF-8", "CP932"))
{
}

Encoder::~Encoder()
{
    if (cd(m_toCp932) != kNoConverter) iconv_close(cd(m_toCp932));
    if (cd(m_fromCp932) != kNoConverter) iconv_close(cd(m_fromCp932));
}

bool Encoder::append(QByteArray& out, const char* utf8, qsizetype size, QString* unencodable)
{
    const qsizetype start = out.size();
    const auto* u = reinterpret_cast<const unsigned char*>(utf8);
    qsizetype i = 0;
    while (i < size) {
        const qsizetype ascii = asciiRunEnd(u, i, size, false);
        if (ascii > i) appendBytes(out, utf8 + i, ascii - i);
        if (ascii == size) break;
        i = ascii;
        while (i < size && u[i] >= 0x80) ++i;
        if (!convertRun(out, utf8 + ascii, i - ascii, unencodable)) {
            out.truncate(start);
            return false;
        }
    }
    return true;
}

QString Encoder::firstUnencodable(const QByteArray& utf8)
{
    QByteArray scratch;
    QString bad;
    return append(scratch, utf8.constData(), utf8.size(), &bad) ? QString() : bad;
}

bool Encoder::convertRun(QByteArray& out, const char* run, qsizetype size, QString* unencodable)
{
    // A character CP932 holds takes no more bytes in CP932 than in UTF-8.
    const qsizetype at = out.size();
    out.resize(at + size + 8);
    const qsizetype written = convertAll(cd(m_toCp932), run, size, out.data() + at, size + 8);
    if (written < 0 || !roundTrips(run, size, out.constData() + at, written)) {
        out.truncate(at);
        if (unencodable) *unencodable = findUnencodable(run, size);
        return false;
    }
    out.truncate(at + written);
    return true;
}

bool Encoder::roundTrips(const char* run, qsizetype size, const char* cp932, qsizetype cpSize)
{
    const qsizetype room = cpSize * 3 + 8;
    if (m_back.size() < room) m_back.resize(room);
    const qsizetype back = convertAll(cd(m_fromCp932), cp932, cpSize, m_back.data(), room);
    return back == size && std::memcmp(m_back.constData(), run, size_t(size)) == 0;
}

QString Encoder::findUnencodable(const char* run, qsizetype size)
{
    char buf[16];
    for (qsizetype i = 0; i < size;) {
        const qsizetype n = std::min<qsizetype>(sequenceLength(static_cast<unsigned char>(run[i])),
                                                size - i);
        const qsizetype written = convertAll(cd(m_toCp932), run + i, n, buf, sizeof buf);
        if (written < 0 || !roundTrips(run + i, n, buf, written))
            return utf8Text(run + i, n);
        i += n;
    }
    return utf8Text(run, size);
}

Decoder::Decoder(Nul nul) : m_nul(nul), m_fromCp932(iconv_open("UTF-8", "CP932")) {}

Decoder::~Decoder()
{
    if (cd(m_fromCp932) != kNoConverter) iconv_close(cd(m_fromCp932));
    if (m_toCp932 && cd(m_toCp932) != kNoConverter) iconv_close(cd(m_toCp932));
}

qsizetype Decoder::asciiEnd(const unsigned char* p, qsizetype i, qsizetype n) const
{
    return asciiRunEnd(p, i, n, m_nul == Nul::Broken);
}

bool Decoder::append(QByteArray& out, const char* cp932, qsizetype size)
{
    const auto* u = reinterpret_cast<const unsigned char*>(cp932);
    bool valid = true;
    qsizetype i = 0;
    while (i < size) {
        const qsizetype ascii = asciiEnd(u, i, size);
        if (ascii > i) {
            appendBytes(out, cp932 + i, ascii - i);
            i = ascii;
            continue;
        }
        if (u[i] != 0) {
            const qsizetype end = cp932RunEnd(u, i, size);
            const qsizetype read = convertRun(out, cp932 + i, end - i);
            i += read;
            if (i == end) continue;
        }
        // Not CP932 (or cut short): marked, and reading goes on after the first byte, which
        // may leave a trail byte to begin the next character.
        appendBytes(out, kReplacement, 3);
        valid = false;
        ++i;
    }
    return valid;
}

qsizetype Decoder::convertRun(QByteArray& out, const char* run, qsizetype size)
{
    if (cd(m_fromCp932) == kNoConverter) return 0;
    iconv(cd(m_fromCp932), nullptr, nullptr, nullptr, nullptr);
    // Three UTF-8 bytes at most for each CP932 byte, so the room is never short.
    const qsizetype used = out.size();
    out.resize(used + size * 3 + 8);
    char* src = const_cast<char*>(run);
    size_t srcLeft = size_t(size);
    char* dst = out.data() + used;
    size_t dstLeft = size_t(size) * 3 + 8;
    iconv(cd(m_fromCp932), &src, &srcLeft, &dst, &dstLeft);
    out.truncate(dst - out.constData());
    return src - run;
}

bool Decoder::convertExact(const char* run, qsizetype size)
{
    if (!m_toCp932) m_toCp932 = iconv_open("CP932", "UTF-8");
    m_utf8.resize(size * 3 + 8);
    const qsizetype written = convertAll(cd(m_fromCp932), run, size, m_utf8.data(), m_utf8.size());
    if (written <= 0) return false;
    m_utf8.truncate(written);
    m_back.resize(written + 8);
    const qsizetype back = convertAll(cd(m_toCp932), m_utf8.constData(), written, m_back.data(),
                                      m_back.size());
    return back == size && std::memcmp(m_back.constData(), run, size_t(size)) == 0;
}

void Decoder::appendKept(QString& out, const char* cp932, qsizetype size)
{
    const auto* u = reinterpret_cast<const unsigned char*>(cp932);
    qsizetype i = 0;
    while (i < size) {
        const qsizetype ascii = asciiRunEnd(u, i, size, false);
        if (ascii > i) {
            out += QLatin1StringView(cp932 + i, ascii - i);
            i = ascii;
            continue;
        }
        const qsizetype end = cp932RunEnd(u, i, size);
        if (convertExact(cp932 + i, end - i)) {
            out += QString::fromUtf8(m_utf8);
            i = end;
            continue;
        }
        // Character by character until an ASCII byte begins one again: what does not come back
        // as the same bytes is kept byte by byte (its trail byte may then begin a character).
        do {
            const qsizetype width = isLeadByte(u[i]) && i + 1 < size ? 2 : 1;
            if (convertExact(cp932 + i, width)) {
                out += QString::fromUtf8(m_utf8);
                i += width;
            } else {
                out += QChar(char16_t(0xDC00 + u[i]));
                ++i;
            }
        } while (i < size && u[i] >= 0x80);
    }
}

std::optional<QByteArray> encode(const QString& text, QString* unencodable)
{
    Encoder encoder;
    QByteArray out;
    QString bad;
    auto encodeRun = [&](QStringView run) {
        const qsizetype lone = loneSurrogate(run);
        const QByteArray utf8 = run.left(lone).toUtf8();
        if (!encoder.append(out, utf8.constData(), utf8.size(), &bad)) return false;
        if (lone == run.size()) return true;
        bad = run.at(lone);
        return false;
    };
    qsizetype runStart = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !isKeptByte(text.at(i))) continue;
        if (!encodeRun(QStringView(text).mid(runStart, i - runStart))) {
            if (unencodable) *unencodable = bad;
            return std::nullopt;
        }
        if (i < text.size()) out += char(text.at(i).unicode() - 0xDC00);
        runStart = i + 1;
    }
    return out;
}

QString decode(const QByteArray& bytes)
{
    Decoder decoder;
    QByteArray utf8;
    utf8.reserve(bytes.size());
    decoder.append(utf8, bytes.constData(), bytes.size());
    return QString::fromUtf8(utf8);
}

QString decodeKept(const QByteArray& bytes)
{
    Decoder decoder;
    QString text;
    text.reserve(bytes.size());
    decoder.appendKept(text, bytes.constData(), bytes.size());
    return text;
}

}  // namespace Cp932
