#include "accounts/AccountStatements.h"

#include "workspace/Catalogue.h"
#include "workspace/Connection.h"
#include "workspace/Prompter.h"
#include "workspace/SqlQuote.h"
#include "workspace/Transaction.h"

std::optional<QString> PasswordVerifier(Connection& conn, const QString& password,
                                        const QString& roleName)
{
    if (password.isEmpty()) return QString();
    const QString verifier = conn.encryptPassword(password, roleName);
    if (verifier.isEmpty()) return std::nullopt;
    return verifier;
}

QString CreateUserStatement(const Connection& conn, const QString& roleName,
                            const QString& verifier, const UserRegistration& r)
{
    QString sql = QStringLiteral("Create User %1 WITH PASSWORD '%2'")
                      .arg(QuoteIdent(roleName), conn.escapeValue(verifier));
    sql += r.createDb ? QStringLiteral(" CREATEDB") : QStringLiteral(" NOCREATEDB");
    sql += r.superUser ? QStringLiteral(" SUPERUSER") : QStringLiteral(" NOSUPERUSER");
    if (r.expiry) {
        const QDate d = r.expiry->date();
        const QTime t = r.expiry->time();
        const QString when = QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", d.year(), d.month(),
                                               d.day(), t.hour(), t.minute(), t.second());
        sql += QStringLiteral(" VALID UNTIL '%1'").arg(when);
    }
    return sql;
}

QString CreateDatabaseStatement(const QString& databaseName)
{
    return QStringLiteral("Create Database %1 ").arg(QuoteIdent(databaseName));
}

bool NotFatal(const Result& r) { return r.exists() && r.status() != PGRES_FATAL_ERROR; }

namespace {

// Sends a statement judged leniently; on failure shows the connection's error text.
bool execLenient(Connection& conn, const QString& statement)
{
    Result r = conn.exec(statement);
    if (NotFatal(r)) return true;
    prompter().tell(BoxKind::Window, FailureText(conn, r));
    return false;
}

}  // namespace

bool RegisterUser(Connection& conn, const UserRegistration& r)
{
    if (r.userName.isEmpty()) return false;
    // The user's database cannot be created inside a transaction block.
    if (RefuseInsideTransaction(conn)) return false;
    if (r.password != r.confirmation) {
        prompter().tell(BoxKind::Window, kCheckPassword);
        return false;
    }
    // The name the server will keep: the verifier is made for it, the database is named by it.
    const QString roleName = FoldTypedName(r.userName);
    const std::optional<QString> verifier = PasswordVerifier(conn, r.password, roleName);
    if (!verifier) {
        prompter().tell(BoxKind::Window, conn.errorMessage());
        return false;
    }
    if (!execLenient(conn, CreateUserStatement(conn, roleName, *verifier, r))) return false;
    if (!execLenient(conn, CreateDatabaseStatement(roleName))) return false;
    prompter().tell(BoxKind::Window, kUserRegistered);
    return true;
}

bool CreateDatabase(Connection& conn, const QString& typedName)
{
    if (RefuseInsideTransaction(conn)) return false;
    return execLenient(conn, CreateDatabaseStatement(FoldTypedName(typedName)));
}

QStringList LoadGroupNames(Connection& conn)
{
    Result r = conn.read(Catalogue::GroupsStatement());
    QStringList names;
    const int name = r.fieldNumber("groname");
    if (name < 0) return names;
    for (int row = 0; row < r.rows(); ++row) names << r.value(row, name);
    return names;
}

bool CreateGroup(Connection& conn, const QString& typedName)
{
    return RunConfirmedTransaction(
        conn, QStringList{QStringLiteral("CREATE GROUP %1").arg(QuoteIdent(FoldTypedName(typedName)))},
        kGroupCreateFailed);
}
