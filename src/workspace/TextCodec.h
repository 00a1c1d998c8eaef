#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The system's files are CP932 (Shift_JIS, Microsoft table). Conversion happens here, at the
// file boundary, and nowhere else.
//
// Strict both ways: a character counts as one CP932 can hold only when its bytes read back as
// the very same character (〜 U+301C, for one, is written as bytes that read back as ～ U+FF5E,
// so it is refused like €). Bytes of the system's own files that are not CP932, or that would
// not be written back the same, are kept in the text as U+DC80 to U+DCFF (one per byte, the
// byte's value plus U+DC00); encode() writes such a character back as that very byte, so a name
// or a history line another writer damaged survives every later save unchanged.
namespace Cp932 {

// The CP932 bytes of text, or nothing when a character cannot be held; then *unencodable
// (when given) receives the first such character, so the caller can name it. A kept byte
// (U+DC80 to U+DCFF, see decodeKept) is written as the byte it stands for.
std::optional<QByteArray> encode(const QString& text, QString* unencodable = nullptr);

// Decodes CP932 bytes; a byte sequence that is not CP932 becomes U+FFFD.
QString decode(const QByteArray& bytes);

// Decodes the bytes of one of the system's own files: every byte that is not part of a
// character that reads and writes back the same is kept as U+DC00 plus its value, so that
// encode(decodeKept(b)) == b for any bytes b.
QString decodeKept(const QByteArray& bytes);

// Whether c stands for a kept byte of decodeKept.
inline bool isKeptByte(QChar c) { return c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF; }

}  // namespace Cp932
