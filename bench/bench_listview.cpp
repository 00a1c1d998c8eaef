// Pages of table rows through the list view, from the server's answer to the painted list,
// next to the time libpq itself took to receive the same result.
//
//   PGHOST=... PGPORT=... PGUSER=... bench_listview [repetitions]
//
// For every page: the statement is sent by the list view as on a tree selection; "libpq" is
// the time from sending it to the result being handed to the model, "display" the time from
// there to the list being laid out and painted once (offscreen). Medians of the repetitions.

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

#include "listview/CKestrelView.h"
#include "listview/Listings.h"
#include "workspace/CKestrelDoc.h"

namespace {

const QString kTable = QStringLiteral("bench_listview_rows");
constexpr int kMaxRows = 100000;

LoginParameters loginFromEnvironment()
{
    LoginParameters p;
    p.hostName = qEnvironmentVariable("PGHOST", QStringLiteral("127.0.0.1"));
    p.port = qEnvironmentVariable("PGPORT", QStringLiteral("5432"));
    p.userName = qEnvironmentVariable("PGUSER", QStringLiteral("postgres"));
    p.databaseName = qEnvironmentVariable("PGDATABASE", QStringLiteral("postgres"));
    return p;
}

bool run(Connection& conn, const QString& sql)
{
    const Result r = conn.exec(sql);
    if (r.commandOk() || r.tuplesOk()) return true;
    std::fprintf(stderr, "%s: %s\n", qPrintable(sql), qPrintable(r.errorMessage()));
    return false;
}

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
    return run(conn, QStringLiteral("DROP TABLE IF EXISTS %1").arg(kTable)) &&
           run(conn, QStringLiteral("CREATE UNLOGGED TABLE %1 (%2)").arg(kTable, columns.join(u','))) &&
           run(conn, QStringLiteral("INSERT INTO %1 SELECT %2 FROM generate_series(1, %3) g")
                         .arg(kTable, values.join(u','))
                         .arg(kMaxRows)) &&
           run(conn, QStringLiteral("VACUUM ANALYZE %1").arg(kTable));
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

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int repetitions = argc > 1 ? std::max(1, atoi(argv[1])) : 7;

    CKestrelDoc doc;
    doc.setLoginRunner([] { return std::optional<LoginParameters>(loginFromEnvironment()); });
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
    run(*doc.connection(), QStringLiteral("DROP TABLE IF EXISTS %1").arg(kTable));
    return 0;
}
