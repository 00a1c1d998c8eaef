#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

struct LoginParameters;

// One saved connection: a fixed-size record of Host.DAT, keyed by its display name.
struct HostEntry {
    QString displayName;
    QString host;
    QString user;
    QString password;
    QString database;
    QString port;
    QString tty;
    QString options;

    // Every record is exactly this long; records sit back to back without a header.
    static constexpr int kRecordSize = 1546;

    // Why the entry cannot be stored (a value too long for its field, or a character CP932
    // cannot hold), as a message naming the field and its limit; nothing when it fits.
    std::optional<QString> fitProblem() const;

    // The record bytes: CP932 texts, each terminated within its field and followed by zero
    // bytes, the in-use mark '1' last. Nothing when fitProblem() has something to say.
    std::optional<QByteArray> toRecord() const;
    // Reads the fields of a record of kRecordSize bytes.
    static HostEntry fromRecord(const QByteArray& record);
    // The display name field of a record as stored (up to its terminator).
    static QByteArray storedName(const QByteArray& record);
    // Turns a record into a deletion mark: "*" in display name, host, user, password, database
    // and port; TTY, options and the in-use mark keep their bytes.
    static void markDeleted(QByteArray& record);

    // Whether logging in with this entry reaches what `p` reaches: the same host, port,
    // database, user, options and TTY (the password may have been typed anew).
    bool reaches(const LoginParameters& p) const;
    // The seven values of a login as an entry without a display name.
    static HostEntry fromLogin(const LoginParameters& p);

    bool operator==(const HostEntry&) const = default;
};

// The message for a value of `field` that is longer than `maxBytes` CP932 bytes, or that holds
// a character CP932 cannot; nothing when the value fits.
std::optional<QString> FieldFitProblem(const QString& field, const QString& value, int maxBytes);
