#include "TableInfoFixture.h"

#include <QAbstractButton>
#include <QAction>
#include <QLineEdit>
#include <QTableWidget>

#include "app/FeatureWiring.h"
#include "transfer/CSequenceInfoDlg.h"
#include "transfer/CTableInfoDlg.h"
#include "transfer/TableDetail.h"

namespace {

QString box(QWidget& d, const char* name) { return lineEdit(d, name)->text(); }

QStringList listRows(QWidget& d, const char* name) { return rowTexts(control<QTableWidget>(d, name)); }

QList<int> images(const CTableInfoDlg& d, int rows)
{
    QList<int> out;
    for (int r = 0; r < rows; ++r) out << d.columnImage(r);
    return out;
}

class TableInfoTest : public TableInfoFixture {};

TEST_F(TableInfoTest, BoxesShowLengthsCountOwnerAndDatabase)
{
    run("CREATE TABLE ti_mix (a int, b int, c text)");
    run("INSERT INTO ti_mix SELECT g, g, 'x' FROM generate_series(1, 3) g");
    run("CREATE TABLE ti_fixed (a int, b int8)");

    CTableInfoDlg mix(*conn, ObjectName{"", "ti_mix", true}, QStringLiteral("postgres"));
    EXPECT_EQ(box(mix, "tableNameBox"), QStringLiteral("ti_mix"));
    EXPECT_EQ(box(mix, "recordLengthBox"), QStringLiteral("8+α"));
    EXPECT_EQ(box(mix, "fieldCountBox"), QStringLiteral("3"));
    // Until the count arrives the box shows the catalogue's estimate, marked as one.
    EXPECT_TRUE(box(mix, "countBox").contains(QStringLiteral("(推定)")) ||
                box(mix, "countBox") == QStringLiteral("(計数中)"))
        << box(mix, "countBox").toStdString();
    ASSERT_TRUE(waitForCount(mix.rowCounter()));
    EXPECT_EQ(box(mix, "countBox"), QStringLiteral("3"));
    EXPECT_EQ(box(mix, "ownerBox"), value("select current_user"));
    EXPECT_EQ(box(mix, "databaseBox"), QStringLiteral("postgres"));
    EXPECT_EQ(box(mix, "oidBox"), value("select oid from pg_database where datname = 'postgres'"));
    EXPECT_EQ(box(mix, "encodingBox"),
              value("select pg_encoding_to_char(encoding) from pg_database where datname = 'postgres'"));
    EXPECT_EQ(box(mix, "ownerNameBox"),
              value("select r.rolname from pg_database d join pg_roles r on r.oid = d.datdba "
                    "where datname = 'postgres'"));
    EXPECT_EQ(box(mix, "ownerIdBox"), value("select datdba from pg_database where datname = 'postgres'"));
    EXPECT_EQ(box(mix, "templateBox"), QStringLiteral("FALSE"));
    EXPECT_EQ(box(mix, "allowConnBox"), QStringLiteral("TRUE"));
    // Servers from 15 on no longer keep the last system oid.
    const QString lastSysOid =
        value("select current_setting('server_version_num')::int") .toInt() >= 150000
            ? QString()
            : value("select datlastsysoid from pg_database where datname = 'postgres'");
    EXPECT_EQ(box(mix, "lastSysOidBox"), lastSysOid);
    // No indexes: an empty index list and every column plain.
    EXPECT_TRUE(listRows(mix, "indexList").isEmpty());
    EXPECT_EQ(images(mix, 3), (QList<int>{0, 0, 0}));
    EXPECT_EQ(listRows(mix, "fieldList").value(2).section(u'|', 0, 2), QStringLiteral("c|text|可変長"));

    CTableInfoDlg fixed(*conn, ObjectName{"", "ti_fixed", true}, QStringLiteral("postgres"));
    EXPECT_EQ(box(fixed, "recordLengthBox"), QStringLiteral("12"));
    EXPECT_EQ(box(fixed, "fieldCountBox"), QStringLiteral("2"));
    ASSERT_TRUE(waitForCount(fixed.rowCounter()));
    EXPECT_EQ(box(fixed, "countBox"), QStringLiteral("0"));

    // A table that does not exist ends the load after the (empty) column list.
    CTableInfoDlg missing(*conn, ObjectName{"", "ti_none", true}, QStringLiteral("postgres"));
    EXPECT_EQ(box(missing, "tableNameBox"), QStringLiteral("ti_none"));
    EXPECT_EQ(box(missing, "countBox"), QString());
    EXPECT_EQ(box(missing, "ownerBox"), QString());
    EXPECT_EQ(box(missing, "databaseBox"), QString());
    EXPECT_FALSE(missing.rowCounter()->running());
}

TEST_F(TableInfoTest, CountWithoutASecondConnectionOrWithoutTheRightToRead)
{
    run("CREATE TABLE ti_m (a int)");
    run("INSERT INTO ti_m SELECT generate_series(1, 4)");
    run("CREATE TABLE ti_r (a int)");
    run("CREATE ROLE ti_nobody LOGIN CONNECTION LIMIT 1");
    run("GRANT SELECT ON ti_m TO ti_nobody");
    {
        // The role may hold one session only: the count runs on the workspace's connection.
        auto own = TestServer::connect(TestServer::loginAs(QStringLiteral("ti_nobody")));
        CTableInfoDlg dlg(*own, ObjectName{"", "ti_m", true}, QStringLiteral("postgres"));
        EXPECT_FALSE(dlg.rowCounter()->running());
        EXPECT_EQ(box(dlg, "countBox"), QStringLiteral("4"));
    }
    run("ALTER ROLE ti_nobody CONNECTION LIMIT -1");
    {
        // The count is refused: the box says so (the reason goes to the log pane), and the
        // rest is shown.
        auto own = TestServer::connect(TestServer::loginAs(QStringLiteral("ti_nobody")));
        CTableInfoDlg dlg(*own, ObjectName{"", "ti_r", true}, QStringLiteral("postgres"));
        ASSERT_TRUE(waitForCount(dlg.rowCounter()));
        EXPECT_EQ(box(dlg, "countBox"), QStringLiteral("(計数失敗)"));
        EXPECT_EQ(box(dlg, "ownerBox"), value("select current_user"));
    }
}

// The table lives outside the search path, needs quoting, has a dropped column before its
// keys, and a same-named decoy sits in public: everything must describe the picked one.
TEST_F(TableInfoTest, IndexesMarkTheirKeyColumnsOfThePickedTable)
{
    run("CREATE SCHEMA ti_s");
    run("CREATE TABLE ti_s.\"TiKeys\" (gone int, a int, b int, c int, d int, e text)");
    run("ALTER TABLE ti_s.\"TiKeys\" DROP COLUMN gone");
    run("ALTER TABLE ti_s.\"TiKeys\" ADD PRIMARY KEY (a, b)");
    run("CREATE UNIQUE INDEX ti_keys_u ON ti_s.\"TiKeys\" (c)");
    run("CREATE INDEX ti_keys_x ON ti_s.\"TiKeys\" (d)");
    run("CREATE UNIQUE INDEX ti_keys_z ON ti_s.\"TiKeys\" (a)");
    run("INSERT INTO ti_s.\"TiKeys\" VALUES (1, 1, 1, 1, 'x'), (2, 2, 2, 2, 'y')");
    run("CREATE TABLE \"TiKeys\" (z int PRIMARY KEY)");
    run("INSERT INTO \"TiKeys\" SELECT generate_series(1, 5)");

    CTableInfoDlg dlg(*conn, ObjectName{"ti_s", "TiKeys", false}, QStringLiteral("postgres"));
    EXPECT_EQ(box(dlg, "tableNameBox"), QStringLiteral("ti_s.\"TiKeys\""));
    EXPECT_EQ(box(dlg, "fieldCountBox"), QStringLiteral("5"));
    EXPECT_EQ(listRows(dlg, "indexList"),
              (QStringList{"TiKeys_pkey|TRUE|TRUE||a  b  ", "ti_keys_u||TRUE||c  ",
                           "ti_keys_x|||TRUE|d  ", "ti_keys_z||TRUE||a  "}));
    // a is in the primary key and in ti_keys_z, listed last: its unique image wins.
    EXPECT_EQ(images(dlg, 5), (QList<int>{2, 1, 2, 3, 0}));
    ASSERT_TRUE(waitForCount(dlg.rowCounter()));
    EXPECT_EQ(box(dlg, "countBox"), QStringLiteral("2"));

    // The two-column primary key alone marks both its columns with the primary image.
    run("DROP INDEX ti_s.ti_keys_z");
    button(dlg, "refreshButton")->click();
    EXPECT_EQ(images(dlg, 5), (QList<int>{1, 1, 2, 3, 0}));
    EXPECT_EQ(listRows(dlg, "indexList").size(), 3);
}

TEST_F(TableInfoTest, MaintenanceAsksAndReportsWhatTheServerDid)
{
    run("CREATE TABLE ti_m (a int)");
    run("CREATE ROLE ti_nobody");
    CTableInfoDlg dlg(*conn, ObjectName{"", "ti_m", true}, QStringLiteral("postgres"));
    StatementLog log(*conn);

    // No sends nothing, for both questions.
    prompts.answer(false);
    button(dlg, "vacuumButton")->click();
    prompts.answer(false);
    button(dlg, "analyzeButton")->click();
    EXPECT_TRUE(log.statements().isEmpty()) << log.statements().join(u'\n').toStdString();
    ASSERT_EQ(prompts.shown().size(), 2);
    EXPECT_EQ(prompts.shown()[0].text, QStringLiteral("テーブルのゴミ清掃を行いますか？"));
    EXPECT_EQ(prompts.shown()[0].caption, QStringLiteral("警告"));
    EXPECT_EQ(prompts.shown()[1].text, QStringLiteral("テーブルの統計情報を更新しますか？"));
    EXPECT_EQ(prompts.shown()[1].caption, QStringLiteral("警告"));

    // Yes: the statement alone, the success message, then a reload.
    prompts.clear();
    prompts.answer(true);
    button(dlg, "analyzeButton")->click();
    ASSERT_FALSE(log.statements().isEmpty());
    EXPECT_EQ(log.statements().first(), QStringLiteral("VACUUM ANALYZE ti_m"));
    EXPECT_GT(log.statements().size(), 1);
    EXPECT_EQ(prompts.messages(), QStringList{kMaintenanceDone});

    // A role that may not vacuum the table gets a warning and success status: the warning
    // is shown, never the success message.
    run("SET ROLE ti_nobody");
    prompts.clear();
    log.clear();
    prompts.answer(true);
    button(dlg, "vacuumButton")->click();
    EXPECT_EQ(log.statements(), QStringList{QStringLiteral("VACUUM ti_m")});
    run("RESET ROLE");
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_NE(prompts.messages()[0], kMaintenanceDone);
    EXPECT_TRUE(prompts.messages()[0].contains(QStringLiteral("ti_m")))
        << prompts.messages()[0].toStdString();

    // A failing VACUUM shows the server's text and reloads nothing.
    run("DROP TABLE ti_m");
    prompts.clear();
    log.clear();
    prompts.answer(true);
    button(dlg, "vacuumButton")->click();
    EXPECT_EQ(log.statements(), QStringList{QStringLiteral("VACUUM ti_m")});
    ASSERT_EQ(prompts.messages().size(), 1);
    EXPECT_TRUE(prompts.messages()[0].contains(QStringLiteral("ti_m")));
}

TEST_F(TableInfoTest, RenameThenVacuumUsesTheNewNameAndUpdateKeepsTheDialogOpen)
{
    run("CREATE TABLE ti_r (a int)");
    CTableInfoDlg dlg(*conn, ObjectName{"", "ti_r", true}, QStringLiteral("postgres"));
    dlg.setFeatureDialogs(AppFeatureDialogs());
    StatementLog log(*conn);
    QStringList steps;
    bool stayedOpen = false;
    runModal(dlg, [&](QDialog& d) {
        // A cancelled rename changes nothing.
        onNextModal([](QDialog& r) { button(r, "cancelButton")->click(); });
        button(d, "renameButton")->click();
        steps << box(d, "tableNameBox");
        // An empty name is refused by the server; the rename dialog stays open.
        onNextModal([&](QDialog& r) {
            button(r, "okButton")->click();
            steps << QString::number(r.isVisible());
            lineEdit(r, "newNameBox")->setText(QStringLiteral("Ti_Renamed"));
            log.clear();
            button(r, "okButton")->click();
        });
        button(d, "renameButton")->click();
        steps << box(d, "tableNameBox");
        const QStringList renameStatements = log.statements().mid(0, 3);
        steps << renameStatements;
        log.clear();
        prompts.answer(true);
        button(d, "vacuumButton")->click();
        steps << log.statements().value(0);
        button(d, "refreshButton")->click();
        stayedOpen = d.isVisible();
        button(d, "cancelButton")->click();
    });
    EXPECT_EQ(steps, (QStringList{"ti_r", "1", "ti_renamed", "BEGIN",
                                  "ALTER TABLE ti_r RENAME TO ti_renamed", "COMMIT",
                                  "VACUUM ti_renamed"}));
    EXPECT_TRUE(stayedOpen);
    EXPECT_TRUE(dlg.renamed());
    EXPECT_EQ(dlg.table().name, QStringLiteral("ti_renamed"));
    ASSERT_GE(prompts.messages().size(), 2);
    EXPECT_EQ(prompts.messages().last(), kMaintenanceDone);
    // After the failed rename the session is usable again.
    EXPECT_EQ(value("select count(*) from pg_tables where tablename = 'ti_renamed'"), QStringLiteral("1"));
}

TEST_F(TableInfoTest, ExportButtonHandsOverTheCurrentTable)
{
    run("CREATE SCHEMA ti_s");
    run("CREATE TABLE ti_s.ti_f (a int)");
    CTableInfoDlg dlg(*conn, ObjectName{"ti_s", "ti_f", false}, QStringLiteral("postgres"));
    QList<ObjectName> exported;
    dlg.setExportRunner([&](const ObjectName& t) { exported << t; });
    button(dlg, "csvButton")->click();
    ASSERT_EQ(exported.size(), 1);
    EXPECT_EQ(exported[0], (ObjectName{"ti_s", "ti_f", false}));
}

TEST_F(TableInfoTest, SequenceDetailShowsTheServersTexts)
{
    run("CREATE SEQUENCE ti_seq INCREMENT 5 START 100 MAXVALUE 1000000 CACHE 3");
    value("select nextval('ti_seq')");
    value("select nextval('ti_seq')");
    run("CREATE SCHEMA ti_s");
    run("CREATE SEQUENCE ti_s.ti_seq INCREMENT 7 MINVALUE -9 START 1");
    run("CREATE TABLE ti_notseq (last_name text)");

    const char* boxes[] = {"sequenceNameBox", "lastValueBox", "incrementBox", "maxValueBox",
                           "minValueBox", "cacheBox", "logCountBox"};
    auto shown = [&](const ObjectName& name) {
        CSequenceInfoDlg dlg(*conn, name);
        QStringList out;
        for (const char* b : boxes) out << box(dlg, b);
        return out.join(u'|');
    };
    // With a cache of 3 the sequence's own last_value runs ahead of what nextval gave.
    const QString state = value("select last_value || '|' || log_cnt from ti_seq");
    EXPECT_EQ(shown({"", "ti_seq", true}), QStringLiteral("ti_seq|%1|5|1000000|1|3|%2")
                                               .arg(state.section(u'|', 0, 0), state.section(u'|', 1, 1)));
    EXPECT_EQ(shown({"ti_s", "ti_seq", false}),
              QStringLiteral("ti_s.ti_seq|1|7|9223372036854775807|-9|1|0"));
    EXPECT_EQ(shown({"", "ti_notseq", true}), QStringLiteral("ti_notseq||||||"));
    EXPECT_EQ(shown({"", "ti_noname", true}), QStringLiteral("ti_noname||||||"));
}

}  // namespace
