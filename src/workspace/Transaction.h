#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

#include "workspace/Connection.h"

// The program's one transaction convention: BEGIN, the steps, then COMMIT, or ROLLBACK after a
// failed step; each of the three ends has its fixed message, shown as a window box. A COMMIT
// the server answers with the tag ROLLBACK (the transaction had failed) is a failed COMMIT.
// Every statement goes through Connection::exec, so the observer sees the very texts.

inline const QString kBeginError = QStringLiteral("トランザクションエラーが発生しました(BIGIN)");
inline const QString kCommitError = QStringLiteral("トランザクションエラーが発生しました(COMMIT)");
inline const QString kRollbackError =
    QStringLiteral("トランザクションエラーが発生しました(ROLLBACK)");
inline const QString kAbortMessage =
    QStringLiteral("修正を中断しました。（トランザクションは破棄されました)");
inline const QString kDeleteAbortMessage =
    QStringLiteral("削除を中断しました。（トランザクションは破棄されました)");

// Said after a row edit's fixed failure message when its statement ran but reached no row:
// the row changed or went since it was listed, so a refresh (not a retry) is what helps.
inline const QString kRowChangedElsewhere = QStringLiteral("他のセッションで変更または削除されました。");

// True when a COMMIT's result means the transaction was committed. The server answers a
// COMMIT of a failed transaction with PGRES_COMMAND_OK and the tag ROLLBACK.
bool CommitSucceeded(const Result& r);

// "BEGIN"; false (after the BEGIN message) when it failed, and nothing is open then.
bool BeginTransaction(Connection& conn);
// "COMMIT"; false (after the COMMIT message) when it did not commit. Sends nothing more: the
// caller decides whether a ROLLBACK follows.
bool CommitTransaction(Connection& conn);
// "ROLLBACK"; false (after the ROLLBACK message) when it failed.
bool RollBackTransaction(Connection& conn);
// After a failed step: ROLLBACK, then `meanwhile` (a reload of what the dialog shows, when
// given), then `abortMessage`, or the ROLLBACK message when the ROLLBACK failed.
void AbandonTransaction(Connection& conn, const QString& abortMessage,
                        const std::function<void()>& meanwhile = {});

// Ends a savepoint of a transaction the operator holds open: "ROLLBACK TO SAVEPOINT name"
// first when `undo`, then "RELEASE SAVEPOINT name". The transaction goes on as it was before
// the savepoint (undone) or with what ran under it.
void EndSavepoint(Connection& conn, const QString& name, bool undo);

// One statement of a confirmed transaction. By default it succeeds on the command test;
// `accept` replaces that test, for example to demand that exactly one row was touched.
struct TransactionStep {
    QString statement;
    std::function<bool(const Result&)> accept;
};

// Accepts a command that touched exactly one row (UPDATE/DELETE of one row by its ctid).
bool TouchedExactlyOneRow(const Result& r);

// The confirmed transaction: BEGIN, the steps in order, COMMIT. A failed step shows
// `failureMessage`, rolls back and shows `abortMessage`; no further statement is sent. All
// messages are window boxes. Returns true only when COMMIT really committed.
bool RunConfirmedTransaction(Connection& conn, const std::vector<TransactionStep>& steps,
                             const QString& failureMessage,
                             const QString& abortMessage = kAbortMessage);
bool RunConfirmedTransaction(Connection& conn, const QStringList& statements,
                             const QString& failureMessage,
                             const QString& abortMessage = kAbortMessage);

// The short transaction: begin text ("BEGIN TRANSACTION" or "BEGIN"), the statement, COMMIT.
// A failed step shows the server's text for it; the open block is then ended with a
// ROLLBACK, so the session stays usable. Returns true when all three succeeded.
bool RunShortTransaction(Connection& conn, const QString& beginText, const QString& statement);
