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

// A change the program makes while the operator holds a transaction open (begun in the SQL
// window) runs inside that transaction, under a savepoint, once the operator agreed: the
// program never commits nor rolls back the operator's transaction. Its message then says that
// nothing is committed until the operator commits.
inline const QString kInsideOperatorsQuestion = QStringLiteral(
    "ＳＱＬ発行画面で開いたトランザクションが続いています。この変更はそのトランザクションの中で行い、"
    "COMMIT するまで確定しません。\n続けますか？");
inline const QString kNotYetCommitted = QStringLiteral(
    "この変更はまだコミットされていません。ＳＱＬ発行画面で COMMIT すると確定します。");
inline const QString kChangeUndone =
    QStringLiteral("変更を取り消しました。（開いているトランザクションは続いています）");
inline const QString kNotInsideTransaction = QStringLiteral(
    "トランザクションの中では実行できません。ＳＱＬ発行画面で COMMIT または ROLLBACK してから"
    "実行してください。");

// True when a COMMIT's result means the transaction was committed. The server answers a
// COMMIT of a failed transaction with PGRES_COMMAND_OK and the tag ROLLBACK.
bool CommitSucceeded(const Result& r);

// "BEGIN"; false (after the BEGIN message) when it failed, and nothing is open then. Inside the
// operator's transaction: the question above, then "SAVEPOINT kestrel_change"; false when the
// operator declined (nothing sent).
bool BeginTransaction(Connection& conn);
// "COMMIT" (or the savepoint's RELEASE); false (after the COMMIT message) when it did not
// commit. Sends nothing more: the caller decides whether a ROLLBACK follows.
bool CommitTransaction(Connection& conn);
// "ROLLBACK" (or back to the savepoint); false (after the ROLLBACK message) when it failed.
bool RollBackTransaction(Connection& conn);
// After a failed step: ROLLBACK, then `meanwhile` (a reload of what the dialog shows, when
// given), then `abortMessage` (kChangeUndone under the operator's transaction), or the
// ROLLBACK message when the ROLLBACK failed.
void AbandonTransaction(Connection& conn, const QString& abortMessage,
                        const std::function<void()>& meanwhile = {});

// Shows a change's success message; inside the operator's transaction it adds that nothing is
// committed yet (and shows only that when the change has no message of its own).
void TellChangeDone(const Connection& conn, const QString& message = {});
// A statement that cannot run inside a transaction block (CREATE DATABASE, VACUUM): true, after
// saying so, when a transaction is open.
bool RefuseInsideTransaction(const Connection& conn);

// A change sent as one statement without a transaction of its own (DROP TABLE). Inside the
// operator's transaction it runs, once the operator agreed, under a savepoint that is undone
// when it fails, so the operator's transaction goes on either way.
enum class SingleChange { Done, Failed, Declined };
SingleChange RunSingleChange(Connection& conn, const QString& statement);

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

// The text that says why a statement failed: the server's, else what the lost session meant,
// else libpq's, else that no answer came. Never empty.
QString FailureText(const Connection& conn, const Result& r);

// The short transaction: begin text ("BEGIN TRANSACTION" or "BEGIN"), the statement, COMMIT.
// A failed step shows the server's text for it; the open block is then ended with a
// ROLLBACK, so the session stays usable. Returns true when all three succeeded.
bool RunShortTransaction(Connection& conn, const QString& beginText, const QString& statement);
