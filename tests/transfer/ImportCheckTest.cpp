// The import's table check while the operator types: nothing per keystroke, one check once
// the typing rests, the record count from the catalogue at once and exactly from a second
// session later.
#include "ImportFixture.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

#include "transfer/CCsvImportDlg.h"
#include "workspace/Catalogue.h"
#include "workspace/TableRowCounter.h"

namespace {

class ImportCheck : public ImportFixture {
protected:
    void SetUp() override
    {
        ImportFixture::SetUp();
        if (HasFatalFailure()) return;
        TestServer::run(*admin, QStringLiteral("CREATE TABLE imp_t (id int, name text)"));
        TestServer::run(*admin, QStringLiteral("INSERT INTO imp_t VALUES (1,'a'),(2,'b'),(3,'c')"));
        TestServer::run(*admin, QStringLiteral("CREATE TABLE imp_t2 (x int)"));
        TestServer::run(*admin, QStringLiteral("INSERT INTO imp_t2 VALUES (1),(2)"));
    }
    bool checkSettles(CCsvImportDlg& dlg)
    {
        return QTest::qWaitFor([&] { return !dlg.tableCheckPending(); }, 30000);
    }
};

}  // namespace

TEST_F(ImportCheck, TypingSendsNothingUntilItRestsThenOneCheckWithoutACountOnTheSession)
{
    CCsvImportDlg dlg(*conn);
    dlg.show();
    StatementLog sent(*conn);
    QTest::keyClicks(lineEdit(dlg, "tableNameBox"), QStringLiteral("imp_t"));
    EXPECT_TRUE(dlg.tableCheckPending());
    EXPECT_TRUE(sent.statements().isEmpty()) << sent.statements().join(u'/').toStdString();

    ASSERT_TRUE(checkSettles(dlg));
    const ObjectName typed{QString(), QStringLiteral("imp_t"), true};
    EXPECT_EQ(sent.statements(), (QStringList{Catalogue::InsertableRelationStatement(*conn, typed),
                                              Catalogue::EstimateStatement(*conn, typed),
                                              Catalogue::ColumnListStatement(*conn, typed)}));
    EXPECT_EQ(dlg.findChild<QTableWidget*>(QStringLiteral("fieldList"))->rowCount(), 2);
    EXPECT_EQ(countShown(dlg), QStringLiteral("3"));

    // Typing on and leaving the box checks at once, for the name as it now stands.
    sent.clear();
    QTest::keyClicks(lineEdit(dlg, "tableNameBox"), QStringLiteral("2"));
    EXPECT_TRUE(dlg.tableCheckPending());
    emit lineEdit(dlg, "tableNameBox")->editingFinished();
    EXPECT_FALSE(dlg.tableCheckPending());
    EXPECT_EQ(sent.statements().size(), 3);
    EXPECT_EQ(countShown(dlg), QStringLiteral("2"));
    EXPECT_TRUE(sent.statements().filter(QStringLiteral("from imp_t2")).isEmpty());
}

TEST_F(ImportCheck, ACountForTheNameBeforeIsDroppedAndARefusedCountSaysSo)
{
    // The count of imp_t waits on a lock another session holds; the name changes meanwhile.
    auto holder = TestServer::connect();
    TestServer::run(*holder, QStringLiteral("BEGIN"));
    TestServer::run(*holder, QStringLiteral("LOCK TABLE imp_t IN ACCESS EXCLUSIVE MODE"));
    {
        const QString waiting = QStringLiteral(
            "select count(*) from pg_stat_activity where query = "
            "'select count(*) as RecordCount from imp_t'");
        CCsvImportDlg dlg(*conn);
        lineEdit(dlg, "tableNameBox")->setText(QStringLiteral("imp_t"));
        EXPECT_TRUE(dlg.rowCounter()->running());
        ASSERT_TRUE(QTest::qWaitFor([&] { return value(waiting) == u"1"; }, 30000));
        EXPECT_NE(lineEdit(dlg, "recordCountBox")->text(), QStringLiteral("3"));
        lineEdit(dlg, "tableNameBox")->setText(QStringLiteral("imp_t2"));
        EXPECT_EQ(countShown(dlg), QStringLiteral("2"));
        // Nothing of the first count is left on the server to answer later.
        EXPECT_TRUE(QTest::qWaitFor([&] { return value(waiting) == u"0"; }, 30000));
        TestServer::run(*holder, QStringLiteral("ROLLBACK"));
        QTest::qWait(0);
        EXPECT_EQ(lineEdit(dlg, "recordCountBox")->text(), QStringLiteral("2"));
    }

    // A role that may load the table but not read it: the check finds the table, the count
    // is refused with the server's reason in the log pane.
    TestServer::run(*admin, QStringLiteral("CREATE ROLE %1 LOGIN").arg(role(QStringLiteral("imp_loader"))));
    TestServer::run(*admin, QStringLiteral("GRANT INSERT ON imp_t TO imp_loader"));
    auto loader = TestServer::connect(TestServer::loginAs(QStringLiteral("imp_loader")));
    QStringList logged;
    loader->setFailureSink([&](const QString& text) { logged << text; });
    CCsvImportDlg dlg(*loader);
    lineEdit(dlg, "tableNameBox")->setText(QStringLiteral("imp_t"));
    EXPECT_EQ(countShown(dlg), QStringLiteral("(計数失敗)"));
    EXPECT_TRUE(logged.join(u'\n').contains(QStringLiteral("imp_t"))) << logged.join(u'\n').toStdString();
    EXPECT_EQ(dlg.findChild<QTableWidget*>(QStringLiteral("fieldList"))->rowCount(), 2);
}

TEST_F(ImportCheck, TheRunNeverActsOnACheckStillWaitingForTheTypingToRest)
{
    TestServer::run(*admin, QStringLiteral("TRUNCATE imp_t"));
    CCsvImportDlg dlg(*conn);
    dlg.show();
    dlg.chooseFile(write(QStringLiteral("t.csv"), "1,a\n2,b\n"));
    QTest::keyClicks(lineEdit(dlg, "tableNameBox"), QStringLiteral("imp_t"));
    ASSERT_TRUE(dlg.tableCheckPending());
    QSignalSpy finished(&dlg, &CCsvImportDlg::runFinished);
    dlg.findChild<QAbstractButton*>(QStringLiteral("okButton"))->click();
    if (finished.isEmpty()) ASSERT_TRUE(finished.wait(60000));
    EXPECT_TRUE(finished.first().first().toBool()) << prompts.messages().join(u'/').toStdString();
    EXPECT_EQ(value(QStringLiteral("select string_agg(id || name, '/' order by id) from imp_t")),
              QStringLiteral("1a/2b"));
    // The count follows what the run stored.
    EXPECT_EQ(countShown(dlg), QStringLiteral("2"));
}
