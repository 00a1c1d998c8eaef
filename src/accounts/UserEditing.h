#pragma once

#include <QDate>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class Connection;

inline const QString kUserModified = QStringLiteral("修正が完了しました");
inline const QString kPasswordsDiffer = QStringLiteral("２のパスワードが一致しません");
inline const QString kGroupAddFailed = QStringLiteral("グループに追加できませんでした。");
inline const QString kGroupDropFailed = QStringLiteral("グループから削除できませんでした。");

// One user as pg_user describes it.
struct UserRecord {
    bool found = false;
    QString sysId;
    QString password;  // pg_user shows "********", never the stored verifier
    bool createDb = false;
    bool trace = false;
    bool superUser = false;
    bool catalogueUpdate = false;
    std::optional<QDate> expiry;
};

// Reads the user's row; `found` only when its name is the one asked for. A failed read shows
// the connection's error text. The expiry is read in a form that no DateStyle changes.
UserRecord LoadUserRecord(Connection& conn, const QString& userName);

struct GroupMembership {
    QStringList memberOf;
    QStringList others;
};

// Every group of pg_group, in its order, split by whether `sysId` is one of its members, in
// one statement.
GroupMembership LoadGroupMembership(Connection& conn, const QString& sysId);

// What the operator changed since the last "更新" (set by clicks and typing, not by loading).
struct UserMarks {
    bool createDb = false;
    bool superUser = false;
    bool catalogueUpdate = false;
    bool expiry = false;
    bool password = false;
};

// The form's values at "更新".
struct UserEdits {
    bool createDb = false;
    bool superUser = false;
    bool catalogueUpdate = false;
    QDate expiry;
    QString password;
    QString confirmation;
};

// "更新": the marked changes in one transaction, each mark cleared as its step is taken; a
// failed step rolls back the earlier ones and leaves the later marks set. `reload` loads the
// user again after a commit and after a rollback. True when committed.
bool UpdateUser(Connection& conn, const QString& userName, UserMarks& marks,
                const UserEdits& edits, const std::function<void()>& reload);

// A double-click in a group list: adds the user to the group (`add`) or drops it, in a
// transaction of its own. `reloadUser` after a failed statement, `reloadGroups` after a commit
// or a failed COMMIT. True when committed.
bool ChangeGroupMembership(Connection& conn, const QString& groupName, const QString& userName,
                           bool add, const std::function<void()>& reloadUser,
                           const std::function<void()>& reloadGroups);
