#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>

class Connection;
class Result;

inline const QString kUserRegistered = QStringLiteral("ユーザを登録しました");
inline const QString kCheckPassword = QStringLiteral("パスワードを確認してください");
inline const QString kGroupCreateFailed =
    QStringLiteral("新規グループを作成することができませんでした。");

// What "作成" of the user registration reads from its form.
struct UserRegistration {
    QString userName;  // as typed
    QString password;
    QString confirmation;
    bool createDb = false;
    bool superUser = false;
    std::optional<QDateTime> expiry;  // only when "有効期間" is checked
};

// The text between the quotes of WITH PASSWORD '...': the verifier made for the server's
// password_encryption, or an empty text for an empty password (the server then stores none).
// nullopt when no verifier could be made.
std::optional<QString> PasswordVerifier(Connection& conn, const QString& password,
                                        const QString& roleName);

// "Create User %s WITH PASSWORD '%s'" and its options; `roleName` is the name as the server
// keeps it (typed names folded), `verifier` goes between the quotes escaped.
QString CreateUserStatement(const Connection& conn, const QString& roleName,
                            const QString& verifier, const UserRegistration& r);
// "Create Database %s " (the trailing blank belongs to it).
QString CreateDatabaseStatement(const QString& databaseName);

// User registration and database creation judge their statements leniently: only no result or
// a fatal error is a failure.
bool NotFatal(const Result& r);

// "作成" of the user registration: CREATE USER, then CREATE DATABASE of the same name, each on
// its own (no transaction). Tells the operator every outcome; true when both succeeded.
bool RegisterUser(Connection& conn, const UserRegistration& r);

// "作成" of the database creation: true when the database was created; otherwise the
// connection's error text has been shown.
bool CreateDatabase(Connection& conn, const QString& typedName);

// The group names of pg_group, in its order.
QStringList LoadGroupNames(Connection& conn);

// CREATE GROUP in a confirmed transaction; true when committed.
bool CreateGroup(Connection& conn, const QString& typedName);
