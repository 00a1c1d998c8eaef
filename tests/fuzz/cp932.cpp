// The CP932 codec. Decoded text, written again and read back, stays the same text; text that
// decoding did not mark as broken can always be written; any text either encodes to bytes
// that decode cleanly or names a character it cannot hold.
#include <cstddef>
#include <cstdint>

#include "FuzzCheck.h"
#include "workspace/TextCodec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    // The system's own files keep every byte, readable or not.
    const std::optional<QByteArray> kept = Cp932::encode(Cp932::decodeKept(bytes));
    FUZZ_CHECK(kept.has_value() && *kept == bytes);

    const QString text = Cp932::decode(bytes);
    if (!text.contains(QChar::ReplacementCharacter)) {
        const std::optional<QByteArray> encoded = Cp932::encode(text);
        FUZZ_CHECK(encoded.has_value());
        FUZZ_CHECK(Cp932::decode(*encoded) == text);
    }

    // The same bytes taken as UTF-16 text typed by the operator (whole characters only).
    const QString typed =
        QString::fromUtf16(reinterpret_cast<const char16_t*>(bytes.constData()), bytes.size() / 2);
    if (!QStringView(typed).isValidUtf16()) return 0;
    QString bad;
    if (const std::optional<QByteArray> encoded = Cp932::encode(typed, &bad)) {
        // Strict both ways: what could be written reads back as the very text. (Valid UTF-16
        // holds no lone U+DC80..U+DCFF, so no kept byte is involved.)
        FUZZ_CHECK(Cp932::decode(*encoded) == typed);
    } else {
        FUZZ_CHECK(!bad.isEmpty() && typed.contains(bad));
    }
    return 0;
}
