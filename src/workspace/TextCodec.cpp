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

}  // namespace

namespace Cp932 {

std::optional<QByteArray> encode(const QString& text, QString* unencodable)
{
    const QByteArray utf8 = text.toUtf8();
    qsizetype bad = -1;
    std::optional<QByteArray> out = convert("CP932", "UTF-8", utf8, nullptr, &bad);
    if (!out && unencodable && bad >= 0) {
        // Kept even when it is U+FEFF, which fromUtf8 would take for a byte order mark and drop.
        const QString rest = QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom)(
            QByteArrayView(utf8).sliced(bad));
        *unencodable = rest.left(!rest.isEmpty() && rest.at(0).isHighSurrogate() ? 2 : 1);
    }
    return out;
}

QString decode(const QByteArray& bytes)
{
    // Not CP932 (or cut short): marked with U+FFFD, and decoding goes on after the byte.
    std::optional<QByteArray> utf8 = convert("UTF-8", "CP932", bytes, "\xEF\xBF\xBD", nullptr);
    return utf8 ? QString::fromUtf8(*utf8) : QString::fromLatin1(bytes);
}

}  // namespace Cp932
