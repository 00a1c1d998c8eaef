// Every command reaches the object the operator picked: after the search path changed, as a
// role that may not use every schema nor read every table, and among objects whose names look
// alike.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSet>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "app/FeatureWiring.h"
#include "browser/CLeftView.h"
#include "design/CTableRenameDlg.h"
#include "design/FieldChange.h"
#include "design/TableSelection.h"
#include "listview/CKestrelView.h"
#include "listview/RecordEditing.h"
#include "support/DialogDriver.h"
#include "support/ServerFixture.h"
#include "support/TestFiles.h"
#include "support/WorkspaceFixture.h"
#include "transfer/CCsvExportDlg.h"
#include "transfer/CCsvImportDlg.h"
#include "transfer/CSequenceInfoDlg.h"
#include "transfer/CTableInfoDlg.h"
#include "transfer/CsvExport.h"
#include "transfer/CsvImport.h"
#include "transfer/TableDetail.h"
#include "workspace/CKestrelDoc.h"
#include "workspace/Catalogue.h"
#include "workspace/RecordCount.h"

namespace {

const QString kDb = QStringLiteral("kestrel_ident_db");
const QString kRole = QStringLiteral("kestrel_ident_user");  // no superuser, no CREATEDB

bool allDistinct(const QStringList& list) { return QSet<QString>(list.begin(), list.end()).size() == list.size(); }

// One database of its own for every test, and the ordinary role; both dropped afterwards.
class ObjectIdentity : public ServerFixture {
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        if (HasFatalFailure()) return;
        TestServer::run(*admin, QStringLiteral("CREATE DATABASE %1").arg(database(kDb)));
        TestServer::run(*admin, QStringLiteral("CREATE ROLE %1 LOGIN NOSUPERUSER NOCREATEDB").arg(role(kRole)));
        m_admin = TestServer::connect(TestServer::superuserLogin(kDb));
        tree.setFeatureDialogs(AppFeatureDialogs());
        list.setFeatureDialogs(AppFeatureDialogs());
        ASSERT_TRUE(m_dir.isValid());
    }

    void TearDown() override
    {
        tree.clear();
        m_admin.reset();
        ServerFixture::TearDown();
    }

    void logIn(const QString& user)
    {
        ASSERT_TRUE(::logIn(tree, doc, TestServer::loginAs(user, {}, kDb)));
        doc.pageLength = 1000;
    }

    // Set-up and checks in the test's database.
    void sql(const QString& statement) { TestServer::run(*m_admin, statement); }
    QString value(const QString& query) { return TestServer::value(*m_admin, query); }
    Connection& conn() { return *doc.connection(); }

    QTreeWidgetItem* folder(const QString& caption)
    {
        QTreeWidgetItem* db = child(tree.topLevelItem(0), QStringLiteral("データベース(%1)").arg(kDb));
        QTreeWidgetItem* f = child(db, caption);
        if (f) tree.setCurrentItem(f);  // fills it
        return f;
    }

    // The node of the folder that stands for schema.name.
    QTreeWidgetItem* node(QTreeWidgetItem* folder, const QString& schema, const QString& name)
    {
        for (int i = 0; folder && i < folder->childCount(); ++i) {
            const std::optional<ObjectName> o = CLeftView::objectOf(folder->child(i));
            if (o && o->schema == schema && o->name == name) return folder->child(i);
        }
        return nullptr;
    }

    CKestrelDoc doc;
    CLeftView tree{doc, nullptr};
    CKestrelView list{doc};
    std::unique_ptr<Connection> m_admin;
    QTemporaryDir m_dir;
};

TEST_F(ObjectIdentity, CommandsActOnTheListedTableAfterTheSearchPathChanged)
{
    // Same-named tables in public and kid_s2, the latter's rows marked apart; spread over many
    // blocks so that the export shares the table out among its sessions.
    for (const char* schema : {"public", "kid_s2"}) {
        if (QByteArray(schema) != "public") sql(QStringLiteral("CREATE SCHEMA kid_s2"));
        sql(QStringLiteral("CREATE TABLE %1.shop (id int, v text) WITH (fillfactor = 10); "
                           "INSERT INTO %1.shop SELECT g, '%1' FROM generate_series(1, 400) g")
                .arg(QLatin1String(schema)));
    }
    logIn(QStringLiteral("postgres"));
    QTreeWidgetItem* tables = folder(QStringLiteral("テーブル"));
    QTreeWidgetItem* shop = node(tables, QStringLiteral("public"), QStringLiteral("shop"));
    ASSERT_NE(shop, nullptr);
    EXPECT_EQ(shop->text(0), QStringLiteral("shop"));
    tree.setCurrentItem(shop);
    const ObjectName listed = doc.browsedObject();

    // Typed in the SQL window: now the bare name reaches kid_s2.shop.
    TestServer::run(conn(), QStringLiteral("SET search_path TO kid_s2, public"));
    StatementLog log(conn());

    // The listing's rows and the record dialog.
    list.onUpdate();
    ASSERT_EQ(list.model()->rowCount(), 400);
    for (int r = 0; r < 400; r += 57) EXPECT_EQ(list.cellText(r, 2), QStringLiteral("public"));
    const RowIdentity first = list.rowIdentity(0);
    const RecordDetail record = LoadRecordDetail(conn(), listed, first);
    ASSERT_EQ(record.fields.size(), 2u);
    EXPECT_EQ(record.fields[1].data, QStringLiteral("public"));
    prompts.answer(true);
    ASSERT_TRUE(UpdateRecordField(conn(), listed, QStringLiteral("v"), QStringLiteral("edited"), first));
    EXPECT_EQ(value(QStringLiteral("select count(*) from public.shop where v = 'edited'")), QStringLiteral("1"));
    prompts.answer(true);
    ASSERT_TRUE(DeleteRecord(conn(), listed, list.rowIdentity(1)));
    EXPECT_EQ(value(QStringLiteral("select count(*) from public.shop")), QStringLiteral("399"));

    // The detail's count and VACUUM.
    EXPECT_EQ(CountRows(conn(), listed), QStringLiteral("399"));
    EXPECT_TRUE(RunMaintenance(conn(), MaintenanceKind::Vacuum, listed).done);
    EXPECT_TRUE(log.statements().contains(QStringLiteral("VACUUM public.shop")));

    // The export, in the workspace's session and two more: the rows of public.shop only.
    {
        CsvExportJob job(conn());
        job.setTableSplit(3, 2);
        const QString file = m_dir.filePath(QStringLiteral("shop.csv"));
        ASSERT_TRUE(job.start(ExportSource{listed, QString()}, file,
                              CsvSettings{QStringLiteral(","), QStringLiteral("\""), false}))
            << job.failure().toStdString();
        EXPECT_TRUE(job.runToEnd()) << job.failure().toStdString();
        const QByteArray text = readFile(file);
        EXPECT_EQ(text.count("\r\n"), 399);
        EXPECT_EQ(text.count("kid_s2"), 0);
    }

    // Rename, then drop: public's table each time; kid_s2.shop keeps its 400 rows.
    const std::optional<ObjectName> renamed = RenameTable(conn(), listed, QStringLiteral("shop2"));
    ASSERT_TRUE(renamed);
    EXPECT_EQ(value(QStringLiteral("select to_regclass('public.shop2') is not null")), QStringLiteral("t"));
    TestServer::run(conn(), QStringLiteral("ALTER TABLE public.shop2 RENAME TO shop"));
    prompts.clear();
    prompts.answer(true);
    tree.runCommand(Cmd::TableDrop);
    EXPECT_EQ(prompts.messages(), QStringList{QStringLiteral("テーブルを削除しました")});
    EXPECT_EQ(value(QStringLiteral("select to_regclass('public.shop') is null")), QStringLiteral("t"));
    EXPECT_EQ(value(QStringLiteral("select count(*) from kid_s2.shop where v = 'kid_s2'")), QStringLiteral("400"));
}

TEST_F(ObjectIdentity, AnOrdinaryRoleSeesWhatItMaySeeAndLearnsWhyTheRestIsRefused)
{
    const char* setUp[] = {
        "CREATE SCHEMA kid_secret; CREATE TABLE kid_secret.hidden_t (id int)",
        "CREATE TABLE kid_open (id int, v text); INSERT INTO kid_open VALUES (1, 'seen')",
        "CREATE TABLE kid_refused (id int); INSERT INTO kid_refused VALUES (1)",
        "CREATE VIEW kid_view AS SELECT * FROM kid_open",
        "CREATE SEQUENCE kid_seq_open; CREATE SEQUENCE kid_seq_refused",
        "GRANT USAGE ON SCHEMA public TO kestrel_ident_user",
        "GRANT SELECT ON kid_open, kid_view, kid_seq_open TO kestrel_ident_user",
    };
    for (const char* s : setUp) sql(QString::fromUtf8(s));
    logIn(kRole);
    EXPECT_EQ(doc.superUser, 0);

    // The tree: every table and view, the unusable schema's too.
    const QStringList tableCaptions = captions(folder(QStringLiteral("テーブル")));
    for (const QString& c : {QStringLiteral("kid_open"), QStringLiteral("kid_refused"),
                             QStringLiteral("kid_secret.hidden_t")})
        EXPECT_TRUE(tableCaptions.contains(c)) << c.toStdString();
    EXPECT_TRUE(captions(folder(QStringLiteral("ビュー"))).contains(QStringLiteral("kid_view")));

    // Both summaries and the table selection.
    folder(QStringLiteral("テーブル"));
    list.onUpdate();
    QStringList summary;
    for (int r = 0; r < list.model()->rowCount(); ++r) summary << list.cellText(r, 0);
    EXPECT_EQ(QSet<QString>(summary.begin(), summary.end()),
              QSet<QString>(tableCaptions.begin(), tableCaptions.end()));
    folder(QStringLiteral("シーケンス"));
    list.onUpdate();
    ASSERT_EQ(list.model()->rowCount(), 1);  // the refused sequence cannot be read
    EXPECT_EQ(list.cellText(0, 0), QStringLiteral("kid_seq_open"));
    EXPECT_TRUE(doc.pendingNoticesText().contains(QStringLiteral("kid_seq_refused")));
    // The selection leaves the system catalogues out.
    QStringList selectable;
    for (const ObjectName& t : ListTables(conn())) selectable << t.caption();
    EXPECT_EQ(QSet<QString>(selectable.begin(), selectable.end()),
              (QSet<QString>{QStringLiteral("kid_open"), QStringLiteral("kid_refused"),
                             QStringLiteral("kid_secret.hidden_t")}));

    const ObjectName open{QStringLiteral("public"), QStringLiteral("kid_open"), true};
    const ObjectName refused{QStringLiteral("public"), QStringLiteral("kid_refused"), true};
    // Table detail: the exact count where it may count, a failed count with the reason where not.
    for (const auto& [table, count] : {std::pair{open, QStringLiteral("1")},
                                       std::pair{refused, CountFailedText()}}) {
        SCOPED_TRACE(table.name.toStdString());
        doc.takePendingNotices();
        CTableInfoDlg dlg(conn(), table, kDb);
        QLineEdit* countBox = dlg.findChild<QLineEdit*>(QStringLiteral("countBox"));
        ASSERT_NE(countBox, nullptr);
        EXPECT_TRUE(QTest::qWaitFor([&] { return countBox->text() == count; }, 30000))
            << countBox->text().toStdString();
        if (table.name == refused.name)
            EXPECT_TRUE(doc.pendingNoticesText().contains(QStringLiteral("kid_refused")))
                << doc.pendingNoticesText().toStdString();
    }

    // The record dialog of a readable row; the rows of a refused table say why in the log.
    tree.setCurrentItem(node(folder(QStringLiteral("テーブル")), QStringLiteral("public"), QStringLiteral("kid_open")));
    list.onUpdate();
    ASSERT_EQ(list.model()->rowCount(), 1);
    EXPECT_EQ(LoadRecordDetail(conn(), open, list.rowIdentity(0)).values.value(2), QStringLiteral("seen"));
    doc.takePendingNotices();
    tree.setCurrentItem(node(folder(QStringLiteral("テーブル")), QStringLiteral("public"), QStringLiteral("kid_refused")));
    list.onUpdate();
    EXPECT_EQ(list.model()->rowCount(), 0);
    EXPECT_TRUE(doc.pendingNoticesText().contains(QStringLiteral("kid_refused")));

    // Sequence detail of the readable sequence shows its values.
    {
        CSequenceInfoDlg dlg(conn(), ObjectName{QStringLiteral("public"), QStringLiteral("kid_seq_open"), true});
        EXPECT_EQ(dlg.findChild<QLineEdit*>(QStringLiteral("incrementBox"))->text(), QStringLiteral("1"));
    }

    // Both CSV dialogs open: the export's sample of a refused table says why (the header
    // check rebuilds the sample).
    doc.takePendingNotices();
    {
        CCsvExportDlg dlg(conn(), refused);
        dlg.findChild<QCheckBox*>(QStringLiteral("headerCheck"))->click();
        EXPECT_TRUE(doc.pendingNoticesText().contains(QStringLiteral("kid_refused")));
    }
    {
        CCsvExportDlg dlg(conn(), open);
        dlg.findChild<QCheckBox*>(QStringLiteral("headerCheck"))->click();
        EXPECT_TRUE(dlg.findChild<QPlainTextEdit*>(QStringLiteral("sampleEdit"))->toPlainText().contains(QStringLiteral("seen")));
    }
    // The import's check of its target: the table of the unusable schema is found by the
    // catalogue, and its count's refusal is logged.
    {
        CCsvImportDlg dlg(conn());
        dlg.show();
        EXPECT_TRUE(ImportTableExists(conn(), open));
        EXPECT_EQ(CountOnSession(conn(), Catalogue::ImportCountStatement(open)), QStringLiteral("1"));
        doc.takePendingNotices();
        const ObjectName hidden{QStringLiteral("kid_secret"), QStringLiteral("hidden_t"), false};
        EXPECT_TRUE(ImportTableExists(conn(), hidden));
        EXPECT_FALSE(CountOnSession(conn(), Catalogue::ImportCountStatement(hidden)));
        EXPECT_TRUE(doc.pendingNoticesText().contains(QStringLiteral("kid_secret")));
    }
}

TEST_F(ObjectIdentity, NoTwoCaptionsAreEqualAndEachActsOnItsOwnObject)
{
    const char* setUp[] = {
        "CREATE TABLE \"kid_a.b\" (v text); INSERT INTO \"kid_a.b\" VALUES ('dotted')",
        "CREATE SCHEMA kid_a; CREATE TABLE kid_a.b (v text); INSERT INTO kid_a.b VALUES ('schema')",
        "CREATE TABLE \"Mixed\" (v text); INSERT INTO \"Mixed\" VALUES ('mixed')",
        "CREATE TABLE \"with blank\" (v text); INSERT INTO \"with blank\" VALUES ('blank')",
        "CREATE TABLE plain (v text); INSERT INTO plain VALUES ('plain')",
        "CREATE SEQUENCE inv_seq START 7; CREATE SCHEMA \"Sales Dept\"; "
        "CREATE SEQUENCE \"Sales Dept\".inv_seq START 70",
        "CREATE INDEX kid_dotted ON \"kid_a.b\" (v); CREATE INDEX kid_schema ON kid_a.b (v); "
        "CREATE VIEW kid_v AS SELECT 1 AS v; CREATE VIEW kid_a.kid_v AS SELECT 2 AS v",
    };
    for (const char* s : setUp) sql(QString::fromUtf8(s));
    logIn(QStringLiteral("postgres"));

    const QStringList expected = {
        QStringLiteral("public.\"kid_a.b\""), QStringLiteral("kid_a.b"), QStringLiteral("Mixed"),
        QStringLiteral("with blank"), QStringLiteral("plain"),
    };
    QTreeWidgetItem* tables = folder(QStringLiteral("テーブル"));
    const QStringList tree_ = captions(tables);
    EXPECT_TRUE(allDistinct(tree_));
    for (const QString& c : expected) EXPECT_TRUE(tree_.contains(c)) << c.toStdString();

    list.onUpdate();
    QStringList summary;
    for (int r = 0; r < list.model()->rowCount(); ++r) summary << list.cellText(r, 0);
    EXPECT_EQ(QSet<QString>(summary.begin(), summary.end()), QSet<QString>(tree_.begin(), tree_.end()));
    const QStringList selectable = Captions(ListTables(conn()));
    EXPECT_EQ(QSet<QString>(selectable.begin(), selectable.end()), QSet<QString>(expected.begin(), expected.end()));

    // Each node lists its own rows.
    const QStringList values = {QStringLiteral("dotted"), QStringLiteral("schema"), QStringLiteral("mixed"),
                                QStringLiteral("blank"), QStringLiteral("plain")};
    for (int i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].toStdString());
        tree.setCurrentItem(child(tables, expected[i]));
        list.onUpdate();
        ASSERT_EQ(list.model()->rowCount(), 1);
        EXPECT_EQ(list.cellText(0, 1), values[i]);
    }

    // The views and indexes summaries name their views and indexed tables by the same rule.
    auto rows = [this](int columns) {
        list.onUpdate();
        QStringList out;
        for (int r = 0; r < list.model()->rowCount(); ++r)
            out << (columns == 1 ? list.cellText(r, 0) : list.cellText(r, 0) + u'|' + list.cellText(r, 1));
        return out;
    };
    folder(QStringLiteral("ビュー"));
    EXPECT_TRUE(rows(1).contains(QStringLiteral("kid_v")));
    EXPECT_TRUE(rows(1).contains(QStringLiteral("kid_a.kid_v")));
    folder(QStringLiteral("インデックス"));
    EXPECT_TRUE(rows(2).contains(QStringLiteral("public.\"kid_a.b\"|kid_dotted")));
    EXPECT_TRUE(rows(2).contains(QStringLiteral("kid_a.b|kid_schema")));

    // The sequences listing and each sequence's own detail.
    folder(QStringLiteral("シーケンス"));
    list.onUpdate();
    ASSERT_EQ(list.model()->rowCount(), 2);
    QStringList sequences;
    for (int r = 0; r < 2; ++r) {
        sequences << list.cellText(r, 0);
        CSequenceInfoDlg dlg(conn(), list.listedSequence(r));
        EXPECT_EQ(dlg.findChild<QLineEdit*>(QStringLiteral("lastValueBox"))->text(),
                  list.cellText(r, 0) == u"inv_seq" ? QStringLiteral("7") : QStringLiteral("70"));
    }
    EXPECT_EQ(QSet<QString>(sequences.begin(), sequences.end()),
              (QSet<QString>{QStringLiteral("inv_seq"), QStringLiteral("\"Sales Dept\".inv_seq")}));

    // A right click selects the node under the pointer; the drop question names it, and the
    // drop takes it, not the node selected before.
    QTreeWidgetItem* dotted = child(tables, expected[0]);
    QTreeWidgetItem* other = child(tables, expected[1]);
    tree.show();
    tree.expandAll();
    tree.setCurrentItem(dotted);
    tree.scrollToItem(other);
    const QPoint at = tree.visualItemRect(other).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, tree.viewport()->mapToGlobal(at));
    QTimer::singleShot(0, [] {
        if (QWidget* menu = QApplication::activePopupWidget()) menu->close();
    });
    QApplication::sendEvent(tree.viewport(), &event);
    EXPECT_EQ(tree.currentItem(), other);
    prompts.clear();
    prompts.answer(true);
    tree.runCommand(Cmd::TableDrop);
    EXPECT_EQ(prompts.texts().value(0), QStringLiteral("テーブルを削除してもよろしいですか？\nkid_a.b"));
    EXPECT_EQ(value(QStringLiteral("select to_regclass('kid_a.b') is null")), QStringLiteral("t"));
    EXPECT_EQ(value(QStringLiteral("select to_regclass('public.\"kid_a.b\"') is null")), QStringLiteral("f"));
}

TEST(SequenceDetailBoxes, ShowTheLargestBigintAndALongNameWhole)
{
    const QString name = QStringLiteral("kid_") + QString(59, u'n');  // 63 bytes
    auto admin = TestServer::connect();
    TestServer::run(*admin, QStringLiteral("DROP SEQUENCE IF EXISTS %1; CREATE SEQUENCE %1 AS bigint").arg(name));
    {
        CSequenceInfoDlg dlg(*admin, ObjectName{QStringLiteral("public"), name, true});
        dlg.show();
        for (const char* box : {"sequenceNameBox", "maxValueBox", "minValueBox"}) {
            SCOPED_TRACE(box);
            QLineEdit* edit = dlg.findChild<QLineEdit*>(QLatin1String(box));
            ASSERT_NE(edit, nullptr);
            EXPECT_FALSE(edit->text().isEmpty());
            const int room = edit->contentsRect().width() - edit->textMargins().left() - edit->textMargins().right() - 4;
            EXPECT_GE(room, edit->fontMetrics().horizontalAdvance(edit->text())) << edit->text().toStdString();
        }
        EXPECT_EQ(dlg.findChild<QLineEdit*>(QStringLiteral("sequenceNameBox"))->text(), name);
        EXPECT_EQ(dlg.findChild<QLineEdit*>(QStringLiteral("maxValueBox"))->text(),
                  QStringLiteral("9223372036854775807"));
    }
    TestServer::run(*admin, QStringLiteral("DROP SEQUENCE %1").arg(name));
}

// A long name outside the search path shows whole and from its start in the boxes that name
// a table; the table detail's columns are as wide as what they hold.
TEST(NameBoxes, ShowALongNameFromItsStartAndTheDetailsColumnsWhole)
{
    const ObjectName table{QStringLiteral("kid Sales Dept"), QStringLiteral("注文.明細_") + QString(20, u'x'), false};
    auto admin = TestServer::connect();
    TestServer::run(*admin, QStringLiteral("DROP SCHEMA IF EXISTS \"kid Sales Dept\" CASCADE; CREATE SCHEMA \"kid Sales Dept\"; "
                                           "CREATE TABLE %1 (id bigserial, at timestamp(3) with time zone)").arg(table.sql()));
    {
        CTableInfoDlg detail(*admin, table, QStringLiteral("postgres"));
        CTableRenameDlg rename(*admin, table);
        for (const auto& [dialog, name] : {std::pair<QDialog*, const char*>{&detail, "tableNameBox"}, {&rename, "currentNameBox"}}) {
            dialog->show();
            QLineEdit* box = dialog->findChild<QLineEdit*>(QLatin1String(name));
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->text(), table.qualifiedSql());
            EXPECT_EQ(box->cursorPosition(), 0);
            EXPECT_GE(box->contentsRect().width() - 4, box->fontMetrics().horizontalAdvance(box->text()));
        }
        auto* fields = detail.findChild<QTableWidget*>(QStringLiteral("fieldList"));
        ASSERT_EQ(fields->rowCount(), 2);
        for (const auto& [row, column] : {std::pair{0, 4}, {1, 1}})  // nextval(...), timestamp(3) with time zone
            EXPECT_GT(fields->columnWidth(column), fields->fontMetrics().horizontalAdvance(fields->item(row, column)->text()));
    }
    TestServer::run(*admin, QStringLiteral("DROP SCHEMA \"kid Sales Dept\" CASCADE"));
}

}  // namespace
