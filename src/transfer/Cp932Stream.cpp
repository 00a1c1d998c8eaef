#include "transfer/Cp932Stream.h"

#include <iconv.h>

#include <QtGlobal>
#include <cstring>

namespace {

iconv_t cd(void* p) { return static_cast<iconv_t>(p); }
const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// One whole conversion into dst (large enough); the number of bytes written, or -1.
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

// Length of the UTF-8 sequence that starts with lead byte b.
int sequenceLength(unsigned char b)
{
    if (b >= 0xF0) return 4;
    if (b >= 0xE0) return 3;
    if (b >= 0xC0) return 2;
    return 1;
}

// QByteArray::append goes through the general insert; a line per row wants the plain copy.
void appendBytes(QByteArray& out, const char* bytes, qsizetype n)
{
    const qsizetype at = out.size();
    out.resize(at + n);
    std::memcpy(out.data() + at, bytes, size_t(n));
}

}  // namespace

Cp932Stream::Cp932Stream()
    : m_toCp932(iconv_open("CP932", "UTF-8")), m_fromCp932(iconv_open("UTF-8", "CP932"))
{
}

Cp932Stream::~Cp932Stream()
{
    if (cd(m_toCp932) != kNoConverter) iconv_close(cd(m_toCp932));
    if (cd(m_fromCp932) != kNoConverter) iconv_close(cd(m_fromCp932));
}

bool Cp932Stream::append(QByteArray& out, const char* utf8, qsizetype size, QString* unencodable)
{
    const qsizetype start = out.size();
    const char* p = utf8;
    const char* end = utf8 + size;
    while (p < end) {
        const char* run = p;
        // Eight bytes at a time while none has its high bit set.
        while (end - p >= 8) {
            quint64 word;
            std::memcpy(&word, p, 8);
            if (word & 0x8080808080808080ULL) break;
            p += 8;
        }
        while (p < end && static_cast<unsigned char>(*p) < 0x80) ++p;
        if (p > run) appendBytes(out, run, p - run);
        if (p == end) break;
        run = p;
        while (p < end && static_cast<unsigned char>(*p) >= 0x80) ++p;
        if (!convertRun(out, run, p - run, unencodable)) {
            out.truncate(start);
            return false;
        }
    }
    return true;
}

QString Cp932Stream::firstUnencodable(const QByteArray& utf8)
{
    QByteArray scratch;
    QString bad;
    return append(scratch, utf8.constData(), utf8.size(), &bad) ? QString() : bad;
}

bool Cp932Stream::convertRun(QByteArray& out, const char* run, qsizetype size,
                             QString* unencodable)
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

bool Cp932Stream::roundTrips(const char* run, qsizetype size, const char* cp932, qsizetype cpSize)
{
    const qsizetype room = cpSize * 3 + 8;
    if (m_back.size() < room) m_back.resize(room);
    const qsizetype back = convertAll(cd(m_fromCp932), cp932, cpSize, m_back.data(), room);
    return back == size && std::memcmp(m_back.constData(), run, size_t(size)) == 0;
}

QString Cp932Stream::findUnencodable(const char* run, qsizetype size)
{
    char buf[16];
    for (qsizetype i = 0; i < size;) {
        const qsizetype n = std::min<qsizetype>(sequenceLength(static_cast<unsigned char>(run[i])),
                                                size - i);
        const qsizetype written = convertAll(cd(m_toCp932), run + i, n, buf, sizeof buf);
        if (written < 0 || !roundTrips(run + i, n, buf, written))
            return QString::fromUtf8(run + i, n);
        i += n;
    }
    return QString::fromUtf8(run, size);
}
