// Pages of table rows through the list view, from the server's answer to the painted list,
// next to the time libpq itself took to receive the same result.
//
//   PGHOST=... PGPORT=... PGUSER=... bench_listview [repetitions]
//
// For every page: the statement is sent by the list view as on a tree selection; "libpq" is
// the time from sending it to the result being handed to the model, "display" the time from
// there to the list being laid out and painted once (offscreen). Medians of the repetitions.
//
// Then a table of 10,000,000 rows (skipped with "--no-deep"): the first page, and at depths 1M,
// 5M and the last page the time from the command to the painted page for "next" (from the
// page before, shown by its number), "previous" and the page number typed in the bar, beside
// the time libpq alone takes for the OFFSET statement of the same page. Targets: "next" and
// "previous" within 50 ms at every depth.
//
// Then 20,000 tables: the tree's tables folder filled and the tables summary shown, each from
// the selection to the painted control, beside libpq alone receiving the same statement.
// Target: within 0.5 s each.

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <vector>

#include "BenchSession.h"
#include "browser/CLeftView.h"
#include "listview/CKestrelView.h"
#include "listview/Listings.h"
#include "workspace/CKestrelDoc.h"

namespace {

const QString kTable = QStringLiteral("bench_listview_rows");
constexpr int kMaxRows = 100000;

// Twenty columns: numbers, short texts, a date and a flag, as an ordinary table has.
bool createTable(Connection& conn)
{
    QStringList columns, values;
    for (int c = 1; c <= 20; ++c) {
        const QString name = QStringLiteral("c%1").arg(c, 2, 10, QLatin1Char('0'));
        switch (c % 4) {
        case 0: columns << name + QStringLiteral(" int"); values << QStringLiteral("g * %1").arg(c); break;
        case 1: columns << name + QStringLiteral(" text"); values << QStringLiteral("'text ' || g || ' of %1'").arg(c); break;
        case 2: columns << name + QStringLiteral(" date"); values << QStringLiteral("date '2000-01-01' + g % 9000"); break;
        default: columns << name + QStringLiteral(" boolean"); values << QStringLiteral("g % 3 = 0"); break;
        }
    }
    return BenchRun(conn, QStringLiteral("DROP TABLE IF EXISTS %1").arg(kTable)) &&
           BenchRun(conn, QStringLiteral("CREATE UNLOGGED TABLE %1 (%2)").arg(kTable, columns.join(u','))) &&
           BenchRun(conn, QStringLiteral("INSERT INTO %1 SELECT %2 FROM generate_series(1, %3) g")
                         .arg(kTable, values.join(u','))
                         .arg(kMaxRows)) &&
           BenchRun(conn, QStringLiteral("VACUUM ANALYZE %1").arg(kTable));
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Sample {
    double libpqMs;
    double displayMs;
};

// One page shown the way a tree selection shows it: the view sends the statement, the model
// takes the result, the list is laid out and painted.
Sample showPage(CKestrelDoc& doc, CKestrelView& view)
{
    QElapsedTimer clock;
    qint64 sent = -1, answered = -1;
    doc.connection()->setObserver([&](const QString&) { sent = clock.nsecsElapsed(); });
    // The list is emptied before the statement goes out; the reset after it is the answer.
    const auto conn = QObject::connect(view.model(), &QAbstractItemModel::modelAboutToBeReset, [&] {
        if (sent >= 0 && answered < 0) answered = clock.nsecsElapsed();
    });
    clock.start();
    view.onUpdate();
    // The layout the view would run from its posted timer, then one full paint of the list.
    view.doItemsLayout();
    const QPixmap painted = view.grab();
    const qint64 shown = clock.nsecsElapsed();
    // Drain what the update posted (a second paint of the window), outside the measurement.
    QCoreApplication::processEvents();
    QObject::disconnect(conn);
    doc.connection()->setObserver({});
    if (painted.isNull() || answered < 0 || view.model()->rowCount() == 0) {
        std::fprintf(stderr, "the page was not shown\n");
        std::exit(1);
    }
    return {(answered - sent) / 1e6, (shown - answered) / 1e6};
}

double msSince(const QElapsedTimer& clock) { return clock.nsecsElapsed() / 1e6; }

// The statement alone through libpq: the reference beside each figure.
double libpqMs(Connection& conn, const QString& sql)
{
    QElapsedTimer clock;
    clock.start();
    const Result r = conn.exec(sql);
    const double ms = msSince(clock);
    if (!r.tuplesOk()) std::fprintf(stderr, "%s: %s\n", qPrintable(sql), qPrintable(r.errorMessage()));
    return ms;
}

// One command of the list view, to the page laid out and painted.
double commandMs(CKestrelView& view, const std::function<void()>& command)
{
    QElapsedTimer clock;
    clock.start();
    command();
    view.doItemsLayout();
    const QPixmap painted = view.grab();
    const double ms = msSince(clock);
    QCoreApplication::processEvents();
    return ms;
}

const QString kDeepTable = QStringLiteral("bench_listview_deep");
constexpr qint64 kDeepRows = 10000000;

void deepPages(CKestrelDoc& doc, CKestrelView& view)
{
    Connection& conn = *doc.connection();
    QElapsedTimer build;
    build.start();
    if (!BenchRun(conn, QStringLiteral("DROP TABLE IF EXISTS %1").arg(kDeepTable)) ||
        !BenchRun(conn, QStringLiteral("CREATE UNLOGGED TABLE %1 (id int, name text, made date)").arg(kDeepTable)) ||
        !BenchRun(conn, QStringLiteral("INSERT INTO %1 SELECT g, 'name ' || g, date '2000-01-01' + g % 9000 "
                                  "FROM generate_series(1, %2) g").arg(kDeepTable).arg(kDeepRows)) ||
        !BenchRun(conn, QStringLiteral("VACUUM ANALYZE %1").arg(kDeepTable)))
        std::exit(1);
    std::printf("\n%lld rows built in %.1f s (server %d)\n", kDeepRows, msSince(build) / 1000,
                conn.serverVersion());
    doc.nodeCaption = doc.objectName = kDeepTable;
    doc.pageLength = 1000;
    const ObjectName table{{}, kDeepTable, true};
    doc.pageIndex = 0;
    const double first = commandMs(view, [&] { view.onUpdate(); });
    std::printf("first page: %.2f ms shown, %.2f ms libpq\n", first,
                libpqMs(conn, TableContentsStatement(table, true, 1000, 0)));
    std::printf("depth    | next ms | previous ms | typed page ms | OFFSET libpq ms | OFFSET / next\n");
    for (qint64 depth : {qint64(1000000), qint64(5000000), kDeepRows - 1000}) {
        const int page = int(depth / 1000);
        const double offset = libpqMs(conn, TableContentsStatement(table, true, 1000, page));
        // The page before, as a page number typed in the bar shows it; then one real "next".
        doc.pageIndex = page - 1;
        view.ShowTableContents(table);
        const double next = commandMs(view, [&] { view.runCommand(Cmd::NextPage); });
        const QString firstId = view.cellText(0, 1);
        const double previous = commandMs(view, [&] { view.runCommand(Cmd::PreviousPage); });
        const QString previousId = view.cellText(0, 1);
        doc.pageIndex = page;
        const double typed = commandMs(view, [&] { view.ShowTableContents(table); });
        if (firstId != view.cellText(0, 1) || previousId.toLongLong() != depth - 999) {
            std::fprintf(stderr, "wrong page at %lld: next %s, typed %s, previous %s\n", depth,
                         qPrintable(firstId), qPrintable(view.cellText(0, 1)), qPrintable(previousId));
            std::exit(1);
        }
        std::printf("%8lld | %7.2f | %11.2f | %13.2f | %15.2f | %13.1f\n", depth, next, previous,
                    typed, offset, offset / next);
    }
    BenchRun(conn, QStringLiteral("DROP TABLE IF EXISTS %1").arg(kDeepTable));
}

const QString kManySchema = QStringLiteral("bench_listview_many");
constexpr int kManyTables = 20000;

// Tables made and dropped a thousand per transaction: one transaction holding a lock on every
// one would exhaust the server's lock table.
bool manyTables(Connection& conn, bool create)
{
    for (int from = 1; from <= kManyTables; from += 1000) {
        const QString body = create ? QStringLiteral("CREATE TABLE IF NOT EXISTS %1.t%s (id int, name text)")
                                    : QStringLiteral("DROP TABLE IF EXISTS %1.t%s");
        if (!BenchRun(conn, QStringLiteral("DO $$ BEGIN FOR i IN %1..%2 LOOP EXECUTE format('%3', i); "
                                      "END LOOP; END $$")
                           .arg(from).arg(from + 999).arg(body.arg(kManySchema))))
            return false;
    }
    return true;
}

void manyObjects(CKestrelDoc& doc, CKestrelView& view)
{
    BenchRun(*doc.connection(), QStringLiteral("CREATE SCHEMA IF NOT EXISTS %1").arg(kManySchema));
    if (!manyTables(*doc.connection(), true)) std::exit(1);
    CLeftView tree(doc, nullptr);
    tree.resize(300, 800);
    tree.show();
    tree.initialUpdate();  // logs in again: a new connection
    Connection& conn = *doc.connection();
    QTreeWidgetItem* tables = nullptr;
    for (QTreeWidgetItemIterator it(&tree); *it && !tables; ++it)
        if ((*it)->text(0) == kTablesFolder) tables = *it;
    // The selection also shows the summary in the list view, as the window wires it.
    const auto wiring = QObject::connect(&doc, &CKestrelDoc::viewsUpdateRequested, &view, [&] { view.onUpdate(); });
    QElapsedTimer clock;
    clock.start();
    tree.setCurrentItem(tables);
    tree.doItemsLayout();
    view.doItemsLayout();
    const QPixmap treePainted = tree.grab(), listPainted = view.grab();
    const double both = msSince(clock);
    QObject::disconnect(wiring);
    QCoreApplication::processEvents();
    const double summary = commandMs(view, [&] { view.onUpdate(); });
    std::printf("\n%d tables | folder and summary ms | summary alone ms | libpq tree ms | libpq summary ms\n"
                "%12d | %21.2f | %16.2f | %13.2f | %16.2f\n(children %d, summary rows %d)\n",
                kManyTables, kManyTables, both, summary,
                libpqMs(conn, Browse::FolderQuery(kTablesFolder)),
                libpqMs(conn, ListingStatement(Listing::Tables)), tables->childCount(),
                view.model()->rowCount());
    manyTables(conn, false);
    BenchRun(conn, QStringLiteral("DROP SCHEMA IF EXISTS %1").arg(kManySchema));
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    setvbuf(stdout, nullptr, _IOLBF, 0);
    const int repetitions = argc > 1 && atoi(argv[1]) > 0 ? atoi(argv[1]) : 7;

    CKestrelDoc doc;
    doc.setLoginRunner([] { return std::optional<LoginParameters>(BenchLogin()); });
    if (doc.Connect() != 0) {
        std::fprintf(stderr, "cannot connect: %s\n", qPrintable(doc.connection() ? doc.connection()->errorMessage() : QString()));
        return 1;
    }
    if (!createTable(*doc.connection())) return 1;

    CKestrelView view(doc, nullptr);
    view.resize(1280, 800);
    view.show();
    doc.nodeDepth = 3;
    doc.parentCaption = kTablesFolder;
    doc.nodeCaption = doc.objectName = kTable;
    doc.tableFlag = 1;

    std::printf("page rows x columns | libpq receive ms | view shown ms | shown / libpq\n");
    for (int pageLength : {1000, kMaxRows}) {
        doc.pageLength = pageLength;
        showPage(doc, view);  // warm-up: caches of the server and of the fonts
        std::vector<double> libpq, display, ratio;
        for (int i = 0; i < repetitions; ++i) {
            const Sample s = showPage(doc, view);
            libpq.push_back(s.libpqMs);
            display.push_back(s.displayMs);
            ratio.push_back(s.displayMs / s.libpqMs);
        }
        std::printf("%7d x %d | %16.2f | %13.2f | %13.3f\n", view.model()->rowCount(),
                    view.model()->columnCount() - 1, median(libpq), median(display), median(ratio));
    }
    BenchRun(*doc.connection(), QStringLiteral("DROP TABLE IF EXISTS %1").arg(kTable));
    bool deep = true;
    for (int i = 1; i < argc; ++i) deep = deep && QByteArray(argv[i]) != "--no-deep";
    if (deep) deepPages(doc, view);
    doc.nodeDepth = 2;
    doc.parentCaption = Browse::DatabaseCaption(doc.databaseName);
    doc.nodeCaption = kTablesFolder;
    doc.tableFlag = 0;
    manyObjects(doc, view);
    return 0;
}
