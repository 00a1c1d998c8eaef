#include <gtest/gtest.h>

#include "support/ServerFixture.h"
#include "workspace/Statements.h"
#include "workspace/Transaction.h"

namespace {

const QString kFail = QStringLiteral("データを更新することが出来ませんでした");

// The tool's connection (`conn`) beside the administrator's, and the table tx_t.
class TransactionTest : public ServerFixture {
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        if (HasFatalFailure()) return;
        TestServer::run(*admin, QStringLiteral("CREATE TABLE tx_t (id int PRIMARY KEY)"));
        conn = TestServer::connect();
    }
    void cleanUp() override { TestServer::run(*admin, QStringLiteral("DROP TABLE IF EXISTS tx_child, tx_t")); }
    int rowCount() { return value(QStringLiteral("select count(*) from tx_t")).toInt(); }

    std::unique_ptr<Connection> conn;
};

TEST_F(TransactionTest, AllStepsSucceedAndCommit)
{
    StatementLog log(*conn);
    EXPECT_TRUE(RunConfirmedTransaction(
        *conn, {QStringLiteral("insert into tx_t values (1)"), QStringLiteral("insert into tx_t values (2)")},
        kFail));
    EXPECT_EQ(log.statements(), (QStringList{"BEGIN", "insert into tx_t values (1)",
                                             "insert into tx_t values (2)", "COMMIT"}));
    EXPECT_TRUE(prompts.shown().isEmpty());
    EXPECT_EQ(rowCount(), 2);
}

TEST_F(TransactionTest, RefusedBeginSendsNothingElse)
{
    TestServer::endSession(*conn);  // as a lost server would
    StatementLog log(*conn);
    EXPECT_FALSE(RunConfirmedTransaction(*conn, {QStringLiteral("insert into tx_t values (1)")}, kFail));
    EXPECT_EQ(log.statements(), QStringList{"BEGIN"});
    EXPECT_EQ(prompts.messages(), QStringList{kBeginError});
    EXPECT_EQ(prompts.shown().front().kind, BoxKind::Window);
}

TEST_F(TransactionTest, FailingSecondStatementRollsBackFirstAndSkipsThird)
{
    StatementLog log(*conn);
    const QStringList steps{QStringLiteral("insert into tx_t values (1)"),
                            QStringLiteral("insert into no_such_table values (2)"),
                            QStringLiteral("insert into tx_t values (3)")};
    EXPECT_FALSE(RunConfirmedTransaction(*conn, steps, kFail));
    EXPECT_EQ(log.statements(), (QStringList{"BEGIN", steps[0], steps[1], "ROLLBACK"}));
    EXPECT_EQ(prompts.messages(), (QStringList{kFail, kAbortMessage}));
    EXPECT_EQ(rowCount(), 0);
    // The session is usable afterwards.
    EXPECT_TRUE(conn->exec(QStringLiteral("select 1")).tuplesOk());
}

TEST_F(TransactionTest, DeferredConstraintFailsAtCommit)
{
    TestServer::run(*conn, QStringLiteral("CREATE TABLE tx_child (id int REFERENCES tx_t(id) "
                                          "DEFERRABLE INITIALLY DEFERRED)"));
    StatementLog log(*conn);
    EXPECT_FALSE(RunConfirmedTransaction(*conn, {QStringLiteral("insert into tx_child values (42)")},
                                         kFail, kDeleteAbortMessage));
    EXPECT_EQ(log.statements(),
              (QStringList{"BEGIN", "insert into tx_child values (42)", "COMMIT", "ROLLBACK"}));
    EXPECT_EQ(prompts.messages(), (QStringList{kCommitError, kDeleteAbortMessage}));
}

TEST_F(TransactionTest, CommitAnsweredWithRollbackTagIsAFailure)
{
    // A step whose own test lets a failed statement through leaves the block failed; the
    // server then answers COMMIT with the tag ROLLBACK, which must not count as success.
    std::vector<TransactionStep> steps{
        {QStringLiteral("insert into tx_t values (1)"), {}},
        {QStringLiteral("insert into tx_t values (1)"), [](const Result&) { return true; }}};
    EXPECT_FALSE(RunConfirmedTransaction(*conn, steps, kFail));
    EXPECT_EQ(prompts.messages(), (QStringList{kCommitError, kAbortMessage}));
    EXPECT_EQ(rowCount(), 0);
}

TEST_F(TransactionTest, StepThatTouchesNoRowFails)
{
    TestServer::run(*conn, QStringLiteral("insert into tx_t values (1)"));
    std::vector<TransactionStep> steps{
        {QStringLiteral("delete from tx_t where id = 1"), TouchedExactlyOneRow},
        {QStringLiteral("delete from tx_t where id = 99"), TouchedExactlyOneRow}};
    EXPECT_FALSE(RunConfirmedTransaction(*conn, steps, kFail, kDeleteAbortMessage));
    // The step ran and reached no row: said after the fixed message.
    EXPECT_EQ(prompts.messages(), (QStringList{kFail, kRowChangedElsewhere, kDeleteAbortMessage}));
    EXPECT_EQ(rowCount(), 1);
}

TEST_F(TransactionTest, ASessionLostInsideTheTransactionSendsNothingMore)
{
    StatementLog log(*conn);
    // The second step ends the tool's own session: its transaction went with it, so no ROLLBACK
    // is sent after it and no abort is claimed; the loss says what became of the transaction.
    EXPECT_FALSE(RunConfirmedTransaction(
        *conn,
        {QStringLiteral("insert into tx_t values (1)"),
         QStringLiteral("select pg_terminate_backend(pg_backend_pid())")},
        kFail));
    EXPECT_TRUE(log.statements().last().contains(QStringLiteral("pg_terminate_backend")));
    EXPECT_EQ(prompts.messages(), (QStringList{kFail}));
    EXPECT_TRUE(conn->lossReport().contains(QStringLiteral("トランザクションは失われました")));
    EXPECT_EQ(rowCount(), 0);
}

TEST_F(TransactionTest, ShortTransactionFailureEndsTheBlock)
{
    StatementLog log(*conn);
    EXPECT_FALSE(RunShortTransaction(*conn, QStringLiteral("BEGIN TRANSACTION"),
                                     QStringLiteral("ALTER TABLE no_such_table RENAME TO x")));
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].contains(QStringLiteral("no_such_table")));
    EXPECT_EQ(log.statements(), (QStringList{"BEGIN TRANSACTION",
                                             "ALTER TABLE no_such_table RENAME TO x", "ROLLBACK"}));
    EXPECT_EQ(PQtransactionStatus(conn->raw()), PQTRANS_IDLE);
    // Later statements of the program work.
    EXPECT_TRUE(ExecCommand(*conn, QStringLiteral("insert into tx_t values (7)")).ok);
    EXPECT_EQ(rowCount(), 1);

    prompts.clear();
    log.clear();
    EXPECT_TRUE(RunShortTransaction(*conn, QStringLiteral("BEGIN"),
                                    QStringLiteral("ALTER TABLE tx_t RENAME COLUMN id TO ident")));
    EXPECT_EQ(log.statements().last(), QStringLiteral("COMMIT"));
    EXPECT_TRUE(prompts.shown().isEmpty());
    EXPECT_TRUE(conn->exec(QStringLiteral("select ident from tx_t")).tuplesOk());
}

}  // namespace
