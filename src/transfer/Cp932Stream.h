#pragma once

#include <QByteArray>
#include <QString>

// UTF-8 text (the connection's bytes) to CP932 for bulk output. ASCII is the same in both, so
// runs of ASCII bytes are copied as they are; only the rest goes through iconv, and it must
// read back unchanged (a character glibc writes as another, like 〜 U+301C, is refused).
// Holds its two iconv descriptors for its lifetime; one thread at a time.
class Cp932Stream {
public:
    Cp932Stream();
    ~Cp932Stream();
    Cp932Stream(const Cp932Stream&) = delete;
    Cp932Stream& operator=(const Cp932Stream&) = delete;

    // Appends the CP932 bytes of utf8[0, size) to out. On a character CP932 cannot hold,
    // returns false with out unchanged and *unencodable (when given) set to that character.
    bool append(QByteArray& out, const char* utf8, qsizetype size, QString* unencodable = nullptr);

    // The first character of text that CP932 cannot hold; empty when it can hold all of it.
    QString firstUnencodable(const QByteArray& utf8);

private:
    bool convertRun(QByteArray& out, const char* run, qsizetype size, QString* unencodable);
    QString findUnencodable(const char* run, qsizetype size);
    bool roundTrips(const char* run, qsizetype size, const char* cp932, qsizetype cpSize);

    void* m_toCp932;
    void* m_fromCp932;
    QByteArray m_back;
};
