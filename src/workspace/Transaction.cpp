#include "workspace/Transaction.h"

#include "workspace/Prompter.h"
#include "workspace/Statements.h"

namespace {
const QString kNoAnswer = QStringLiteral("サーバーから応答がありませんでした。");
}  // namespace

bool CommitSucceeded(const Result& r)
{
    return r.commandOk() && r.commandStatus() != QLatin1String("ROLLBACK");
}

bool TouchedExactlyOneRow(const Result& r)
{
    return (r.commandOk() || r.tuplesOk()) && r.affectedRows() == 1;
}

namespace {

const QString kChangeSavepoint = QStringLiteral("kestrel_change");

// Whether the change about to start belongs inside the operator's transaction, and whether the
// operator lets it go on (asked once per change). A failed transaction of the operator's is
// first offered a rollback, after which there may be none left to go inside.
enum class Placement { Own, Inside, Declined };
Placement PlaceChange(Connection& conn)
{
    conn.offerRollBackIfFailed();
    if (!conn.operatorTransaction()) return Placement::Own;
    return prompter().ask(BoxKind::Application, kInsideOperatorsQuestion) ? Placement::Inside
                                                                         : Placement::Declined;
}

// Back to the savepoint and out of it; true when both succeeded.
bool UndoSavepoint(Connection& conn)
{
    const bool back = conn.exec(QStringLiteral("ROLLBACK TO SAVEPOINT ") + kChangeSavepoint).commandOk();
    const bool released = conn.exec(QStringLiteral("RELEASE SAVEPOINT ") + kChangeSavepoint).commandOk();
    conn.setChangeUnderSavepoint(false);
    return back && released;
}

}  // namespace

bool BeginTransaction(Connection& conn)
{
    const Placement place = PlaceChange(conn);
    if (place == Placement::Declined) return false;
    if (place == Placement::Inside) {
        if (ExecCommand(conn, QStringLiteral("SAVEPOINT ") + kChangeSavepoint).ok) {
            conn.setChangeUnderSavepoint(true);
            return true;
        }
    } else if (ExecCommand(conn, QStringLiteral("BEGIN")).ok) {
        return true;
    }
    prompter().tell(BoxKind::Window, kBeginError);
    return false;
}

bool CommitTransaction(Connection& conn)
{
    if (conn.changeUnderSavepoint()) {
        if (ExecCommand(conn, QStringLiteral("RELEASE SAVEPOINT ") + kChangeSavepoint).ok) {
            conn.setChangeUnderSavepoint(false);
            return true;
        }
    } else if (CommitSucceeded(conn.exec(QStringLiteral("COMMIT")))) {
        return true;
    }
    prompter().tell(BoxKind::Window, kCommitError);
    return false;
}

bool RollBackTransaction(Connection& conn)
{
    // The session went with its transaction; the operator has been told what that means.
    if (conn.isLost()) return false;
    const bool ok = conn.changeUnderSavepoint() ? UndoSavepoint(conn)
                                                : ExecCommand(conn, QStringLiteral("ROLLBACK")).ok;
    if (!ok) prompter().tell(BoxKind::Window, kRollbackError);
    return ok;
}

void AbandonTransaction(Connection& conn, const QString& abortMessage,
                        const std::function<void()>& meanwhile)
{
    // The session went with its transaction, and the operator has been told what that means
    // (nothing committed, or a COMMIT whose outcome nobody knows): nothing to end, nothing to add.
    if (conn.isLost()) {
        if (meanwhile) meanwhile();
        return;
    }
    const bool inside = conn.changeUnderSavepoint();
    const bool ok = inside ? UndoSavepoint(conn) : ExecCommand(conn, QStringLiteral("ROLLBACK")).ok;
    if (meanwhile) meanwhile();
    prompter().tell(BoxKind::Window, !ok ? kRollbackError : inside ? kChangeUndone : abortMessage);
}

void TellChangeDone(const Connection& conn, const QString& message)
{
    const bool inside = conn.operatorTransaction();
    if (message.isEmpty() && !inside) return;
    QString text = message;
    if (inside) text += (text.isEmpty() ? QString() : QStringLiteral("\n")) + kNotYetCommitted;
    prompter().tell(BoxKind::Window, text);
}

bool RefuseInsideTransaction(const Connection& conn)
{
    if (!conn.inTransaction()) return false;
    prompter().tell(BoxKind::Window, kNotInsideTransaction);
    return true;
}

SingleChange RunSingleChange(Connection& conn, const QString& statement)
{
    const Placement place = PlaceChange(conn);
    if (place == Placement::Declined) return SingleChange::Declined;
    if (place == Placement::Own) return ExecCommand(conn, statement).ok ? SingleChange::Done : SingleChange::Failed;
    if (!ExecCommand(conn, QStringLiteral("SAVEPOINT ") + kChangeSavepoint).ok) return SingleChange::Failed;
    conn.setChangeUnderSavepoint(true);
    if (ExecCommand(conn, statement).ok &&
        ExecCommand(conn, QStringLiteral("RELEASE SAVEPOINT ") + kChangeSavepoint).ok) {
        conn.setChangeUnderSavepoint(false);
        return SingleChange::Done;
    }
    UndoSavepoint(conn);
    return SingleChange::Failed;
}

bool RunConfirmedTransaction(Connection& conn, const std::vector<TransactionStep>& steps,
                             const QString& failureMessage, const QString& abortMessage)
{
    if (!BeginTransaction(conn)) return false;
    for (const TransactionStep& step : steps) {
        Result r = conn.exec(step.statement);
        const bool ok = step.accept ? step.accept(r) : r.commandOk();
        if (!ok) {
            prompter().tell(BoxKind::Window, failureMessage);
            if ((r.commandOk() || r.tuplesOk()) && r.affectedRows() == 0)
                prompter().tell(BoxKind::Window, kRowChangedElsewhere);
            r.release();
            AbandonTransaction(conn, abortMessage);
            return false;
        }
    }
    if (!CommitTransaction(conn)) {
        AbandonTransaction(conn, abortMessage);
        return false;
    }
    return true;
}

bool RunConfirmedTransaction(Connection& conn, const QStringList& statements,
                             const QString& failureMessage, const QString& abortMessage)
{
    std::vector<TransactionStep> steps;
    for (const QString& s : statements) steps.push_back({s, {}});
    return RunConfirmedTransaction(conn, steps, failureMessage, abortMessage);
}

bool RunShortTransaction(Connection& conn, const QString& beginText, const QString& statement)
{
    const Placement place = PlaceChange(conn);
    if (place == Placement::Declined) return false;
    const bool inside = place == Placement::Inside;
    const QString texts[] = {inside ? QStringLiteral("SAVEPOINT ") + kChangeSavepoint : beginText,
                             statement,
                             inside ? QStringLiteral("RELEASE SAVEPOINT ") + kChangeSavepoint
                                    : QStringLiteral("COMMIT")};
    for (int i = 0; i < 3; ++i) {
        Result r = conn.exec(texts[i]);
        const bool ok = i == 2 && !inside ? CommitSucceeded(r) : r.commandOk();
        if (!ok) {
            prompter().tell(BoxKind::Window, FailureText(conn, r));
            r.release();
            // A failed BEGIN opened nothing; a failed COMMIT has already ended the block. Under
            // the operator's transaction the savepoint is undone, and the transaction goes on.
            if (inside && i > 0) {
                conn.setChangeUnderSavepoint(true);
                UndoSavepoint(conn);
            } else if (i == 1) {
                conn.exec(QStringLiteral("ROLLBACK"));
            }
            return false;
        }
    }
    return true;
}

QString FailureText(const Connection& conn, const Result& r)
{
    QString text = r.exists() ? r.errorMessage() : QString();
    if (text.trimmed().isEmpty()) text = conn.lossReport();
    if (text.trimmed().isEmpty()) text = conn.errorMessage();
    if (text.trimmed().isEmpty()) text = kNoAnswer;
    while (text.endsWith(u'\n')) text.chop(1);
    return text;
}

void EndSavepoint(Connection& conn, const QString& name, bool undo)
{
    if (undo) conn.exec(QStringLiteral("ROLLBACK TO SAVEPOINT ") + name);
    conn.exec(QStringLiteral("RELEASE SAVEPOINT ") + name);
}
