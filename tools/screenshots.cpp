// Opens the program's windows on the demo database and saves each as a PNG, for the README:
//   kestrel_screenshots START_FOLDER HOST PORT OUT_FOLDER
// START_FOLDER holds Host.DAT with the saved host "demo" (kestrel_seed_demo writes it). Run
// it with QT_QPA_PLATFORM=offscreen; scripts/screenshots.sh starts the demo server and does.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <functional>

#include "app/CMainFrame.h"
#include "browser/CLeftView.h"
#include "console/CQueryDlg.h"
#include "design/CTableCreateDlg.h"
#include "hosts/CLoginDlg.h"
#include "listview/CKestrelView.h"
#include "transfer/CCsvExportDlg.h"
#include "transfer/CCsvImportDlg.h"
#include "transfer/CTableInfoDlg.h"
#include "workspace/CKestrelDoc.h"
#include "workspace/Prompter.h"

namespace {

// No window waits for an answer here: every question is answered No, and every text a box
// would show is printed, so that a picture taken over a message is noticed.
class PrintingPrompter : public Prompter {
public:
    bool askYesNo(BoxKind, const QString& text, const QString&) override
    {
        std::fprintf(stderr, "screenshots: asked (answered No): %s\n", qPrintable(text));
        return false;
    }
    void message(BoxKind, const QString& text, const QString&) override
    {
        std::fprintf(stderr, "screenshots: told: %s\n", qPrintable(text));
    }
};

QString g_out;
int g_failures = 0;

// Lets timers, the log pane's poll and background counts run for a while.
void settle(int ms = 600)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Waits (at most a few seconds) until `done` holds.
void settleUntil(const std::function<bool()>& done)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < 5000) settle(100);
}

void save(QWidget& w, const char* name)
{
    settle();
    const QString path = g_out + u'/' + QLatin1String(name) + QStringLiteral(".png");
    if (!w.grab().save(path, "PNG", 9)) {
        std::fprintf(stderr, "screenshots: cannot write %s\n", qPrintable(path));
        ++g_failures;
        return;
    }
    std::printf("screenshots: %s (%dx%d)\n", qPrintable(path), w.width(), w.height());
}

QTreeWidgetItem* findNode(QTreeWidget& tree, const QString& caption)
{
    const auto found = tree.findItems(caption, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.first();
}

void selectNode(QTreeWidget& tree, const QString& caption)
{
    QTreeWidgetItem* node = findNode(tree, caption);
    if (!node) {
        std::fprintf(stderr, "screenshots: no tree node %s\n", qPrintable(caption));
        ++g_failures;
        return;
    }
    tree.setCurrentItem(node);
    node->setExpanded(true);
}

// Widens every column of the window's lists to its longest text, as the operator would.
// Columns the window keeps out of sight (the list's ctid, width 0) stay so.
void wholeValues(QTableView& list)
{
    for (int c = 0; c < list.model()->columnCount(); ++c)
        if (!list.isColumnHidden(c) && list.columnWidth(c) > 0) list.resizeColumnToContents(c);
}
void wholeValues(QWidget& window)
{
    for (QTableView* list : window.findChildren<QTableView*>()) wholeValues(*list);
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 5) {
        std::fprintf(stderr, "usage: kestrel_screenshots START_FOLDER HOST PORT OUT_FOLDER\n");
        return 2;
    }
    g_out = QDir(QString::fromLocal8Bit(argv[4])).absolutePath();
    if (!QDir::setCurrent(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "screenshots: cannot enter %s\n", argv[1]);
        return 1;
    }
    PrintingPrompter prompter;
    installPrompter(&prompter);

    // The login dialog on the saved host, as the operator first sees it.
    {
        CLoginDlg login;
        login.resize(login.sizeHint().expandedTo(QSize(560, 400)));
        login.show();
        if (auto* tree = login.findChild<QTreeWidget*>()) selectNode(*tree, QStringLiteral("demo"));
        save(login, "login");
    }

    LoginParameters demo;
    demo.userName = QStringLiteral("postgres");
    demo.hostName = QString::fromLocal8Bit(argv[2]);
    demo.port = QString::fromLocal8Bit(argv[3]);
    demo.databaseName = QStringLiteral("demo");
    CKestrelDoc doc;
    doc.setLoginRunner([demo] { return std::optional<LoginParameters>(demo); });
    CMainFrame frame(doc, nullptr);
    frame.resize(1280, 800);
    frame.initialUpdateViews();
    frame.show();
    Connection* conn = doc.connection();
    if (!conn) {
        std::fprintf(stderr, "screenshots: cannot log in to the demo server\n");
        return 1;
    }

    // Main window: the tables folder open, the item table's rows listed, a notice in the log.
    CLeftView& tree = *frame.leftView();
    selectNode(tree, QStringLiteral("テーブル"));
    if (QTreeWidgetItem* tables = tree.currentItem()) {
        for (int i = 0; i < tables->childCount(); ++i)
            if (tables->child(i)->text(0) == QStringLiteral("item")) tree.setCurrentItem(tables->child(i));
    }
    if (!tree.currentItem() || tree.currentItem()->text(0) != QStringLiteral("item")) {
        std::fprintf(stderr, "screenshots: no table item under テーブル\n");
        ++g_failures;
    }
    // Every value whole, as the operator would widen the columns.
    wholeValues(static_cast<QTableView&>(*frame.listView()));
    conn->exec(QStringLiteral("DO $$ BEGIN RAISE NOTICE '在庫の確認: %件', (SELECT count(*) FROM item); END $$"));
    settle(1200);
    save(frame, "main");

    // The SQL window with a query and its answer.
    {
        CQueryDlg query(doc, &frame);
        query.resize(900, 560);
        query.show();
        if (auto* edit = query.findChild<QLineEdit*>(QStringLiteral("queryEdit")))
            edit->setText(QStringLiteral("select s.name, s.city, count(*) as 品目数, sum(i.stock) as 在庫 "
                                         "from shop s join item i on i.shop_id = s.id group by s.name, s.city"));
        if (auto* run = query.findChild<QPushButton*>(QStringLiteral("executeButton"))) run->click();
        if (auto* edit = query.findChild<QLineEdit*>(QStringLiteral("queryEdit"))) edit->setCursorPosition(0);
        save(query, "sql");
    }

    // Table design with a few columns.
    {
        CTableCreateDlg design(*conn, &frame);
        if (auto* name = design.findChild<QLineEdit*>(QStringLiteral("tableNameBox")))
            name->setText(QStringLiteral("customer"));
        auto column = [](const char* name, const char* type, const char* length, bool nullable,
                         const char* def) {
            FieldDefinition f;
            f.name = QString::fromUtf8(name);
            f.type = QString::fromUtf8(type);
            f.length = QString::fromUtf8(length);
            f.nullable = nullable;
            f.defaultValue = QString::fromUtf8(def);
            return f;
        };
        design.appendRow(column("id", "int4", "", false, ""));
        design.appendRow(column("name", "varchar", "40", false, ""));
        design.appendRow(column("city", "text", "", true, "東京"));
        design.appendRow(column("joined", "date", "", true, ""));
        design.resize(design.sizeHint().expandedTo(QSize(760, 480)));
        design.show();
        save(design, "table-design");
    }

    const ObjectName item{QStringLiteral("public"), QStringLiteral("item"), true};
    // Table detail, once the exact count has come.
    {
        CTableInfoDlg detail(*conn, item, QStringLiteral("demo"), &frame);
        detail.resize(detail.sizeHint().expandedTo(QSize(760, 560)));
        detail.show();
        settle(1500);
        wholeValues(detail);
        save(detail, "table-detail");
    }

    // CSV export of the shop table, with its sample.
    {
        const ObjectName shop{QStringLiteral("public"), QStringLiteral("shop"), true};
        CCsvExportDlg exporter(*conn, shop, &frame);
        if (auto* file = exporter.findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            file->setText(QStringLiteral("shop.csv"));
        exporter.resize(exporter.sizeHint().expandedTo(QSize(640, 420)));
        exporter.show();
        if (auto* header = exporter.findChild<QCheckBox*>(QStringLiteral("headerCheck"))) header->click();
        settleUntil([&] {
            auto* sample = exporter.findChild<QPlainTextEdit*>(QStringLiteral("sampleEdit"));
            return !sample || !sample->toPlainText().isEmpty();
        });
        save(exporter, "csv-export");
    }

    // CSV import of a small file (UTF-8 with a byte-order mark), with its preview.
    {
        const QString csv = QStringLiteral("支店.csv");
        QFile f(csv);
        if (f.open(QIODevice::WriteOnly)) {
            f.write("\xEF\xBB\xBF");
            f.write(QStringLiteral("\"name\",\"city\"\r\n名古屋支店,名古屋\r\n福岡支店,福岡\r\n\"札幌, 北口\",札幌\r\n")
                        .toUtf8());
            f.close();
        }
        CCsvImportDlg importer(*conn, &frame);
        importer.resize(importer.sizeHint().expandedTo(QSize(760, 560)));
        importer.show();
        importer.chooseFile(csv);
        if (auto* header = importer.findChild<QCheckBox*>(QStringLiteral("headerCheck"))) header->click();
        if (auto* table = importer.findChild<QLineEdit*>(QStringLiteral("tableNameBox")))
            table->setText(QStringLiteral("shop"));
        settle(1500);
        wholeValues(importer);
        save(importer, "csv-import");
        QFile::remove(csv);
    }
    installPrompter(nullptr);
    return g_failures == 0 ? 0 : 1;
}
