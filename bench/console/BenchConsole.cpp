// Large results in the SQL window: the time from the server's answer to the list shown,
// against the time libpq took to receive that answer, and the peak memory.
//
//   bench_console            runs every size, each in a child process of its own so that
//                            the peak memory belongs to that size alone
//   bench_console ROWS       runs one size
//
// Connects with PGHOST, PGPORT, PGUSER (and PGDATABASE, default postgres).

#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "console/CQueryDlg.h"
#include "widgets/ResultList.h"
#include "workspace/CKestrelDoc.h"

namespace {

// A field of /proc/self/status in MiB (VmRSS, VmHWM).
double statusMiB(const char* field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith(key)) return line.mid(key.size()).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}

LoginParameters loginFromEnvironment()
{
    LoginParameters p;
    p.hostName = qEnvironmentVariable("PGHOST");
    p.port = qEnvironmentVariable("PGPORT");
    p.userName = qEnvironmentVariable("PGUSER", QStringLiteral("postgres"));
    p.databaseName = qEnvironmentVariable("PGDATABASE", QStringLiteral("postgres"));
    return p;
}

QString statementFor(int rows)
{
    return QStringLiteral(
               "select g as id, 'name ' || g as name, (g * 1.5)::numeric(12,2) as amount, "
               "timestamp '2024-01-01' + g * interval '1 second' as at "
               "from generate_series(1, %1) g")
        .arg(rows);
}

// Lets the list lay itself out and paint: what the operator sees once the call returns.
void settle(QWidget& w)
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    w.repaint();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

int runOne(int rows, int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir start;
    CKestrelDoc doc;
    doc.setLoginRunner(loginFromEnvironment);
    if (doc.Connect() != 0) {
        std::fprintf(stderr, "no server: %s\n", qPrintable(doc.connection() ? doc.connection()->errorMessage() : QString()));
        return 2;
    }
    doc.installNoticeReceiver();
    doc.startDirectory = start.path();
    Connection& conn = *doc.connection();
    const QString sql = statementFor(rows);
    const int repeats = rows >= 1000000 ? 3 : 5;

    CQueryDlg dlg(doc);
    dlg.show();
    settle(dlg);
    auto* list = dlg.findChild<ResultList*>(QStringLiteral("resultList"));
    conn.exec(statementFor(1000));  // warm the server's plan and caches
    const double rssBefore = statusMiB("VmRSS");

    std::vector<double> receive, display, ratio, click;
    double rssWithResult = 0;
    for (int i = 0; i < repeats; ++i) {
        // Release the previous result first, as "実行" does, so only one is held at a time.
        ConsoleAnswer cleared;
        cleared.showRows = true;
        dlg.showAnswer(std::move(cleared));
        settle(dlg);

        QElapsedTimer t;
        t.start();
        Result result = conn.exec(sql);
        const double received = t.nsecsElapsed() / 1e6;
        if (!result.tuplesOk() || result.rows() != rows) {
            std::fprintf(stderr, "query failed: %s\n", qPrintable(result.errorMessage()));
            return 3;
        }
        rssWithResult = std::max(rssWithResult, statusMiB("VmRSS"));
        t.restart();
        dlg.showAnswer(QueryConsole::answerFor(std::move(result), &conn, std::nullopt));
        settle(dlg);
        const double shown = t.nsecsElapsed() / 1e6;
        if (list->model()->rowCount() != rows) return 4;
        receive.push_back(received);
        display.push_back(shown);
        ratio.push_back(shown / received);
    }
    // The whole "実行" as the operator runs it: statement, answer and list.
    auto* query = dlg.findChild<QLineEdit*>(QStringLiteral("queryEdit"));
    auto* run = dlg.findChild<QAbstractButton*>(QStringLiteral("executeButton"));
    for (int i = 0; i < repeats; ++i) {
        query->setText(sql);
        QElapsedTimer t;
        t.start();
        run->click();
        settle(dlg);
        click.push_back(t.nsecsElapsed() / 1e6);
    }

    std::printf("%9d  %11.1f  %11.2f  %9.4f  %13.1f  %9.1f  %15.1f  %9.1f\n", rows, median(receive),
                median(display), median(ratio), median(click), rssBefore, rssWithResult,
                statusMiB("VmHWM"));
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1) return runOne(std::atoi(argv[1]), argc, argv);

    std::printf("SQL window, 4 columns; medians of repeated runs; display = from the server's answer "
                "to the list painted\n");
    std::printf("%9s  %11s  %11s  %9s  %13s  %9s  %15s  %9s\n", "rows", "receive ms", "display ms",
                "disp/recv", "execute ms", "RSS0 MiB", "RSS+result MiB", "peak MiB");
    std::fflush(stdout);
    int failed = 0;
    for (const char* rows : {"100000", "1000000"}) {
        const pid_t child = fork();
        if (child == 0) {
            execl("/proc/self/exe", argv[0], rows, static_cast<char*>(nullptr));
            std::_Exit(127);
        }
        int status = 0;
        waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) failed = 1;
    }
    return failed;
}
