#include "workspace/TextCodec.h"

#include <QStringDecoder>

#include <iconv.h>

#include <cerrno>
#include <cstring>

namespace {

// One iconv conversion of a whole text. A byte sequence the target cannot hold (or that is not
// valid in the source) either ends the conversion, reporting where it stands in `in`, or is
// replaced by `substitute` and skipped one byte at a time.
std::optional<QByteArray> convert(const char* to, const char* from, const QByteArray& input,
                                  const char* substitute, qsizetype* badOffset)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    QByteArray in = input;
    QByteArray out;
    out.resize(in.size() * 3 + 16);
    char* src = in.data();
    size_t srcLeft = size_t(in.size());
    char* dst = out.data();
    size_t dstLeft = size_t(out.size());
    auto grow = [&](qsizetype extra) {
        const qsizetype used = dst - out.data();
        out.resize(out.size() + extra);
        dst = out.data() + used;
        dstLeft = size_t(out.size() - used);
    };
    std::optional<QByteArray> result;
    while (true) {
        if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) != size_t(-1)) {
            out.truncate(dst - out.data());
            result = out;
            break;
        }
        if (errno == E2BIG) {
            grow(out.size());
            continue;
        }
        if (!substitute) {
            if (badOffset) *badOffset = src - in.data();
            break;
        }
        const size_t n = std::strlen(substitute);
        if (dstLeft < n) grow(qsizetype(n) + 16);
        std::memcpy(dst, substitute, n);
        dst += n;
        dstLeft -= n;
        ++src;
        --srcLeft;
    }
    iconv_close(cd);
    return result;
}

// The strict conversions of a whole text, without substitution.
std::optional<QByteArray> toCp932(const QString& text)
{
    return convert("CP932", "UTF-8", text.toUtf8(), nullptr, nullptr);
}

std::optional<QString> fromCp932(const QByteArray& bytes)
{
    std::optional<QByteArray> utf8 = convert("UTF-8", "CP932", bytes, nullptr, nullptr);
    if (!utf8) return std::nullopt;
    return QString::fromUtf8(*utf8);
}

// The CP932 bytes of text when every character reads back as itself.
std::optional<QByteArray> roundTrip(const QString& text)
{
    std::optional<QByteArray> bytes = toCp932(text);
    if (!bytes) return std::nullopt;
    const std::optional<QString> back = fromCp932(*bytes);
    if (!back || *back != text) return std::nullopt;
    return bytes;
}

// The first character (a whole surrogate pair when it is one) that CP932 cannot hold.
QString firstUnencodable(const QString& text)
{
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype width = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString c = text.mid(i, width);
        if (!roundTrip(c)) return c;
        i += width;
    }
    return text.left(1);
}

// Appends the bytes of a run without kept bytes; false when a character cannot be held.
bool encodeRun(const QString& run, QByteArray& out, QString* unencodable)
{
    if (run.isEmpty()) return true;
    const std::optional<QByteArray> bytes = roundTrip(run);
    if (!bytes) {
        if (unencodable) *unencodable = firstUnencodable(run);
        return false;
    }
    out += *bytes;
    return true;
}

bool isLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

}  // namespace

namespace Cp932 {

std::optional<QByteArray> encode(const QString& text, QString* unencodable)
{
    QByteArray out;
    qsizetype runStart = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!isKeptByte(text.at(i))) continue;
        if (!encodeRun(text.mid(runStart, i - runStart), out, unencodable)) return std::nullopt;
        out += char(text.at(i).unicode() - 0xDC00);
        runStart = i + 1;
    }
    if (!encodeRun(text.mid(runStart), out, unencodable)) return std::nullopt;
    return out;
}

QString decode(const QByteArray& bytes)
{
    // Not CP932 (or cut short): marked with U+FFFD, and decoding goes on after the byte.
    std::optional<QByteArray> utf8 = convert("UTF-8", "CP932", bytes, "\xEF\xBF\xBD", nullptr);
    return utf8 ? QString::fromUtf8(*utf8) : QString::fromLatin1(bytes);
}

QString decodeKept(const QByteArray& bytes)
{
    if (const std::optional<QString> whole = fromCp932(bytes)) {
        if (toCp932(*whole) == bytes) return *whole;
    }
    // Character by character: what does not come back as the same bytes is kept byte by byte.
    QString text;
    for (qsizetype i = 0; i < bytes.size();) {
        const auto b = static_cast<unsigned char>(bytes.at(i));
        if (b < 0x80) {
            text += QChar(b);
            ++i;
            continue;
        }
        const qsizetype width = isLeadByte(b) && i + 1 < bytes.size() ? 2 : 1;
        const QByteArray piece = bytes.mid(i, width);
        const std::optional<QString> c = fromCp932(piece);
        if (c && !c->isEmpty() && toCp932(*c) == piece) {
            text += *c;
            i += width;
        } else {
            text += QChar(char16_t(0xDC00 + b));
            ++i;
        }
    }
    return text;
}

}  // namespace Cp932
