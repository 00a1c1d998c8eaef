#include "workspace/Statements.h"

#include "workspace/Prompter.h"

CommandOutcome ExecCommand(Connection& conn, const QString& statement)
{
    CommandOutcome out;
    out.result = conn.exec(statement);
    out.ok = out.result.commandOk();
    return out;
}

bool TouchedExactlyOneRow(const Result& r)
{
    return (r.commandOk() || r.tuplesOk()) && r.affectedRows() == 1;
}

bool CommitSucceeded(const Result& r)
{
    return r.commandOk() && r.commandStatus() != QLatin1String("ROLLBACK");
}

namespace {

// After a failed step or COMMIT: ROLLBACK, then the abort message or the ROLLBACK error.
void rollBackAndReport(Connection& conn, const QString& abortMessage)
{
    if (!ExecCommand(conn, QStringLiteral("ROLLBACK")).ok) {
        prompter().tell(BoxKind::Window, kRollbackError);
        return;
    }
    prompter().tell(BoxKind::Window, abortMessage);
}

}  // namespace

bool RunConfirmedTransaction(Connection& conn, const std::vector<TransactionStep>& steps,
                             const QString& failureMessage, const QString& abortMessage)
{
    if (!ExecCommand(conn, QStringLiteral("BEGIN")).ok) {
        prompter().tell(BoxKind::Window, kBeginError);
        return false;
    }
    for (const TransactionStep& step : steps) {
        Result r = conn.exec(step.statement);
        const bool ok = step.accept ? step.accept(r) : r.commandOk();
        if (!ok) {
            prompter().tell(BoxKind::Window, failureMessage);
            r.release();
            rollBackAndReport(conn, abortMessage);
            return false;
        }
    }
    Result commit = conn.exec(QStringLiteral("COMMIT"));
    if (!CommitSucceeded(commit)) {
        prompter().tell(BoxKind::Window, kCommitError);
        commit.release();
        rollBackAndReport(conn, abortMessage);
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
