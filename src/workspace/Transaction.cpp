#include "workspace/Transaction.h"

#include "workspace/Prompter.h"
#include "workspace/Statements.h"

bool CommitSucceeded(const Result& r)
{
    return r.commandOk() && r.commandStatus() != QLatin1String("ROLLBACK");
}

bool TouchedExactlyOneRow(const Result& r)
{
    return (r.commandOk() || r.tuplesOk()) && r.affectedRows() == 1;
}

bool BeginTransaction(Connection& conn)
{
    if (ExecCommand(conn, QStringLiteral("BEGIN")).ok) return true;
    prompter().tell(BoxKind::Window, kBeginError);
    return false;
}

bool CommitTransaction(Connection& conn)
{
    if (CommitSucceeded(conn.exec(QStringLiteral("COMMIT")))) return true;
    prompter().tell(BoxKind::Window, kCommitError);
    return false;
}

bool RollBackTransaction(Connection& conn)
{
    if (ExecCommand(conn, QStringLiteral("ROLLBACK")).ok) return true;
    prompter().tell(BoxKind::Window, kRollbackError);
    return false;
}

void AbandonTransaction(Connection& conn, const QString& abortMessage,
                        const std::function<void()>& meanwhile)
{
    const bool ok = ExecCommand(conn, QStringLiteral("ROLLBACK")).ok;
    if (meanwhile) meanwhile();
    prompter().tell(BoxKind::Window, ok ? abortMessage : kRollbackError);
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
    const QString texts[] = {beginText, statement, QStringLiteral("COMMIT")};
    for (int i = 0; i < 3; ++i) {
        Result r = conn.exec(texts[i]);
        const bool ok = i == 2 ? CommitSucceeded(r) : r.commandOk();
        if (!ok) {
            prompter().tell(BoxKind::Window, r.errorMessage());
            r.release();
            // A failed BEGIN opened nothing; a failed COMMIT has already ended the block.
            if (i == 1) conn.exec(QStringLiteral("ROLLBACK"));
            return false;
        }
    }
    return true;
}

void EndSavepoint(Connection& conn, const QString& name, bool undo)
{
    if (undo) conn.exec(QStringLiteral("ROLLBACK TO SAVEPOINT ") + name);
    conn.exec(QStringLiteral("RELEASE SAVEPOINT ") + name);
}
