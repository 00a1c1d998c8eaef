#include "workspace/TextCodec.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

namespace {

class Iconv {
public:
    Iconv(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Iconv()
    {
        if (m_cd != reinterpret_cast<iconv_t>(-1)) iconv_close(m_cd);
    }
    bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return m_cd; }

private:
    iconv_t m_cd;
};

}  // namespace

namespace Cp932 {

std::optional<QByteArray> encode(const QString& text, QString* unencodable)
{
    Iconv cd("CP932", "UTF-8");
    if (!cd.ok()) return std::nullopt;
    QByteArray in = text.toUtf8();
    QByteArray out;
    out.resize(in.size() * 2 + 16);
    char* src = in.data();
    size_t srcLeft = size_t(in.size());
    char* dst = out.data();
    size_t dstLeft = size_t(out.size());
    while (srcLeft > 0) {
        if (iconv(cd.get(), &src, &srcLeft, &dst, &dstLeft) != size_t(-1)) break;
        if (errno == E2BIG) {
            const qsizetype used = dst - out.data();
            out.resize(out.size() * 2);
            dst = out.data() + used;
            dstLeft = size_t(out.size() - used);
            continue;
        }
        if (unencodable) {
            const qsizetype at = src - in.data();
            const QString rest = QString::fromUtf8(in.constData() + at, in.size() - at);
            *unencodable = rest.isEmpty() ? QString() : rest.left(rest.at(0).isHighSurrogate() ? 2 : 1);
        }
        return std::nullopt;
    }
    out.truncate(dst - out.data());
    return out;
}

QString decode(const QByteArray& bytes)
{
    Iconv cd("UTF-8", "CP932");
    if (!cd.ok()) return QString::fromLatin1(bytes);
    QByteArray in = bytes;
    QByteArray out;
    out.resize(in.size() * 3 + 16);
    char* src = in.data();
    size_t srcLeft = size_t(in.size());
    char* dst = out.data();
    size_t dstLeft = size_t(out.size());
    while (srcLeft > 0) {
        if (iconv(cd.get(), &src, &srcLeft, &dst, &dstLeft) != size_t(-1)) break;
        if (errno == E2BIG) {
            const qsizetype used = dst - out.data();
            out.resize(out.size() * 2);
            dst = out.data() + used;
            dstLeft = size_t(out.size() - used);
            continue;
        }
        // Not CP932 (or cut short): mark it and go on after the offending byte.
        if (dstLeft < 3) {
            const qsizetype used = dst - out.data();
            out.resize(out.size() + 16);
            dst = out.data() + used;
            dstLeft = size_t(out.size() - used);
        }
        memcpy(dst, "\xEF\xBF\xBD", 3);
        dst += 3;
        dstLeft -= 3;
        ++src;
        --srcLeft;
    }
    out.truncate(dst - out.data());
    return QString::fromUtf8(out);
}

}  // namespace Cp932
