#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The system's files are CP932 (Shift_JIS, Microsoft table). Conversion happens here, at the
// file boundary, and nowhere else: the whole-text functions for the small files, the streaming
// Encoder and Decoder for CSV files. ASCII is the same in CP932 and UTF-8, so both directions
// copy runs of ASCII bytes as they are and give only the rest to glibc iconv "CP932".
//
// Strict both ways: a character counts as one CP932 can hold only when its bytes read back as
// the very same character (〜 U+301C, for one, is written as bytes that read back as ～ U+FF5E,
// so it is refused like €). Bytes of the system's own files that are not CP932, or that would
// not be written back the same, are kept in the text as U+DC80 to U+DCFF (one per byte, the
// byte's value plus U+DC00); encode() writes such a character back as that very byte, so a name
// or a history line another writer damaged survives every later save unchanged.
namespace Cp932 {

// UTF-8 to CP932, a piece at a time (the export's rows). Each piece holds whole characters.
// Holds its iconv descriptors for its lifetime; one thread at a time.
class Encoder {
public:
    Encoder();
    ~Encoder();
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    // Appends the CP932 bytes of utf8[0, size) to out. On a character CP932 cannot hold,
    // returns false with out unchanged and *unencodable (when given) set to that character.
    bool append(QByteArray& out, const char* utf8, qsizetype size, QString* unencodable = nullptr);

    // The first character of utf8 that CP932 cannot hold; empty when it can hold all of it.
    QString firstUnencodable(const QByteArray& utf8);

private:
    bool convertRun(QByteArray& out, const char* run, qsizetype size, QString* unencodable);
    QString findUnencodable(const char* run, qsizetype size);
    bool roundTrips(const char* run, qsizetype size, const char* cp932, qsizetype cpSize);

    void* m_toCp932;
    void* m_fromCp932;
    QByteArray m_back;
};

// CP932 to UTF-8, a piece at a time (the import's lines). A piece ends between characters:
// a lead byte at its very end is read as a broken character, not carried to the next piece.
// Holds its iconv descriptors for its lifetime; one thread at a time.
class Decoder {
public:
    // A NUL byte is a character like any ASCII byte, or (CSV files) a byte that is not text.
    enum class Nul { Character, Broken };

    explicit Decoder(Nul nul = Nul::Character);
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Appends the UTF-8 of cp932[0, size) to out. A byte sequence that is not CP932 becomes
    // U+FFFD and reading goes on after its first byte; false when that happened.
    bool append(QByteArray& out, const char* cp932, qsizetype size);

    // Appends the text of bytes of one of the system's own files to out: every byte that is
    // not part of a character that reads and writes back the same is kept (see decodeKept).
    void appendKept(QString& out, const char* cp932, qsizetype size);

private:
    qsizetype convertRun(QByteArray& out, const char* run, qsizetype size);
    bool convertExact(const char* run, qsizetype size);
    qsizetype asciiEnd(const unsigned char* p, qsizetype i, qsizetype n) const;

    Nul m_nul;
    void* m_fromCp932;
    void* m_toCp932 = nullptr;  // opened by the first appendKept that needs it
    QByteArray m_utf8;
    QByteArray m_back;
};

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
