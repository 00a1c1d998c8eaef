#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The system's files are CP932 (Shift_JIS, Microsoft table). Conversion happens here, at the
// file boundary, and nowhere else.
namespace Cp932 {

// The CP932 bytes of text, or nothing when a character cannot be held; then *unencodable
// (when given) receives the first such character, so the caller can name it.
std::optional<QByteArray> encode(const QString& text, QString* unencodable = nullptr);

// Decodes CP932 bytes; a byte sequence that is not CP932 becomes U+FFFD.
QString decode(const QByteArray& bytes);

}  // namespace Cp932
