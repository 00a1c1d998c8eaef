#include "accounts/UserEditing.h"

#include "accounts/AccountStatements.h"
#include "workspace/Catalogue.h"
#include "workspace/Connection.h"
#include "workspace/Prompter.h"
#include "workspace/SqlQuote.h"
#include "workspace/Statements.h"
#include "workspace/Transaction.h"

namespace {

bool isTrue(const QString& v) { return v.startsWith(u't'); }

// COMMIT; when it did not commit, the (COMMIT) message and the rollback with `reload`.
bool commit(Connection& conn, const std::function<void()>& reload)
{
    if (CommitTransaction(conn)) return true;
    AbandonTransaction(conn, kAbortMessage, reload);
    return false;
}

}  // namespace

UserRecord LoadUserRecord(Connection& conn, const QString& userName)
{
    UserRecord u;
    Result r = conn.read(Catalogue::UserRowStatement(conn, userName));
    if (!r.tuplesOk()) {
        prompter().tell(BoxKind::Window, FailureText(conn, r));
        return u;
    }
    if (r.rows() < 1 || r.value(0, r.fieldNumber("usename")) != userName) return u;
    u.found = true;
    u.sysId = r.value(0, r.fieldNumber("usesysid"));
    u.createDb = isTrue(r.value(0, r.fieldNumber("usecreatedb")));
    u.trace = isTrue(r.value(0, r.fieldNumber("usetrace")));
    u.superUser = isTrue(r.value(0, r.fieldNumber("usesuper")));
    u.catalogueUpdate = isTrue(r.value(0, r.fieldNumber("usecatupd")));
    u.password = r.value(0, r.fieldNumber("passwd"));
    const QString until = r.value(0, r.fieldNumber("valuntil"));
    // No expiry and an infinite one both read as an empty text.
    const QDate date = QDate::fromString(until.left(10), QStringLiteral("yyyy-MM-dd"));
    if (date.isValid()) u.expiry = date;
    return u;
}

GroupMembership LoadGroupMembership(Connection& conn, const QString& sysId)
{
    GroupMembership g;
    const Result r = conn.read(Catalogue::GroupMembershipStatement(sysId));
    const int name = r.fieldNumber("groname");
    const int member = r.fieldNumber("member");
    if (!r.tuplesOk() || name < 0 || member < 0) return g;
    for (int row = 0; row < r.rows(); ++row)
        (r.value(row, member) == u"t" ? g.memberOf : g.others) << r.value(row, name);
    return g;
}

bool UpdateUser(Connection& conn, const QString& userName, UserMarks& marks,
                const UserEdits& edits, const std::function<void()>& reload)
{
    if (!BeginTransaction(conn)) return false;
    const QString user = QuoteIdent(userName);
    // One step: clear its mark, send it; on failure tell why and roll everything back.
    auto step = [&](bool& mark, const QString& statement, const QString& failure) {
        if (!mark) return true;
        mark = false;
        if (ExecCommand(conn, statement).ok) return true;
        prompter().tell(BoxKind::Window, failure);
        AbandonTransaction(conn, kAbortMessage, reload);
        return false;
    };
    if (!step(marks.createDb,
              QStringLiteral("ALTER USER %1 %2").arg(user, edits.createDb ? u"CREATEDB" : u"NOCREATEDB"),
              QStringLiteral("データベース作成権限の変更を行うことができませんでした")))
        return false;
    if (!step(marks.superUser,
              QStringLiteral("ALTER USER %1 %2").arg(user, edits.superUser ? u"SUPERUSER" : u"NOSUPERUSER"),
              QStringLiteral("ユーザ作成権限の変更を行うことができませんでした")))
        return false;
    // Today's servers have no catalogue-update right: the mark is dropped, nothing is sent.
    marks.catalogueUpdate = false;
    if (!step(marks.expiry,
              QStringLiteral("ALTER USER %1 VALID UNTIL '%2'")
                  .arg(user, QString::asprintf("%04d-%02d-%02d 00:00:00", edits.expiry.year(),
                                               edits.expiry.month(), edits.expiry.day())),
              QStringLiteral("有効期間を変更を行うことができませんでした")))
        return false;
    if (marks.password) {
        marks.password = false;
        const QString failure = QStringLiteral("パスワードの変更を行うことができませんでした");
        if (edits.password != edits.confirmation) {
            prompter().tell(BoxKind::Window, kPasswordsDiffer);
            AbandonTransaction(conn, kAbortMessage, reload);
            return false;
        }
        const std::optional<QString> verifier = PasswordVerifier(conn, edits.password, userName);
        if (!verifier) {
            prompter().tell(BoxKind::Window, failure);
            AbandonTransaction(conn, kAbortMessage, reload);
            return false;
        }
        bool send = true;
        if (!step(send,
                  QStringLiteral("ALTER USER %1 WITH PASSWORD '%2'").arg(user, conn.escapeValue(*verifier)),
                  failure))
            return false;
    }
    if (!commit(conn, reload)) return false;
    TellChangeDone(conn, kUserModified);
    reload();
    return true;
}

bool ChangeGroupMembership(Connection& conn, const QString& groupName, const QString& userName,
                           bool add, const std::function<void()>& reloadUser,
                           const std::function<void()>& reloadGroups)
{
    if (!BeginTransaction(conn)) return false;
    const QString sql = QStringLiteral("alter group %1 %2 user %3")
                            .arg(QuoteIdent(groupName), add ? u"add" : u"drop", QuoteIdent(userName));
    if (!ExecCommand(conn, sql).ok) {
        prompter().tell(BoxKind::Window, add ? kGroupAddFailed : kGroupDropFailed);
        AbandonTransaction(conn, kAbortMessage, reloadUser);
        return false;
    }
    if (!commit(conn, reloadGroups)) return false;
    reloadGroups();
    return true;
}
