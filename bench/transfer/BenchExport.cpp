// CSV export of a table of 4 columns (the default format: double quotes, commas, CR LF, CP932)
// against psql's \copy of the same table to a file, in the same run, the client CPU of the
// table mode (in all, per million rows, and user/system), and the export's peak memory above
// the idle size of the process. "table" is the table mode (COPY data decoded), "select" the
// same rows as an SQL-mode statement (single-row mode). Builds are compared by running them
// on the same machine in one sitting, alternating, never against figures of another day.
//
//   bench_export            runs 100k, 1M and 5M rows, each in a child process of its own so
//                           that the peak memory belongs to that size alone
//   bench_export ROWS       runs one size
//
// Connects with PGHOST, PGPORT, PGUSER (and PGDATABASE, default postgres); psql must be on PATH.
// KBENCH_SPLIT=SESSIONS,BLOCKS[,HELD_KIB] sets how the table mode shares a table out (compare
// with 1,1 for one session); KBENCH_TABLE_ONLY=1 leaves the SQL mode out.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "transfer/CsvExport.h"

namespace {

// A field of /proc/self/status in MiB (VmRSS, VmHWM).
double statusMiB(const char* field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}

// Resets VmHWM to the current RSS, so the peak measured afterwards is the export's.
void resetPeak()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly)) f.write("5");
}

// CPU time of this process so far, in ms: user and system.
struct Cpu {
    double user = 0, system = 0;
    static Cpu now()
    {
        rusage u{};
        getrusage(RUSAGE_SELF, &u);
        return {u.ru_utime.tv_sec * 1e3 + u.ru_utime.tv_usec / 1e3,
                u.ru_stime.tv_sec * 1e3 + u.ru_stime.tv_usec / 1e3};
    }
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

int runOne(int rows, int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    LoginParameters p;
    p.hostName = qEnvironmentVariable("PGHOST");
    p.port = qEnvironmentVariable("PGPORT");
    p.userName = qEnvironmentVariable("PGUSER", QStringLiteral("postgres"));
    p.databaseName = qEnvironmentVariable("PGDATABASE", QStringLiteral("postgres"));
    std::unique_ptr<Connection> conn = Connection::login(p);
    if (conn->isBad()) {
        std::fprintf(stderr, "no server: %s\n", qPrintable(conn->errorMessage()));
        return 2;
    }
    const QString table = QStringLiteral("kbench_export_%1").arg(rows);
    conn->exec(QStringLiteral("drop table if exists %1").arg(table));
    if (!conn->exec(QStringLiteral(
                        "create table %1 as select g as id, 'name ' || g as name, "
                        "(g * 1.5)::numeric(12,2) as amount, "
                        "timestamp '2024-01-01' + g * interval '1 second' as at "
                        "from generate_series(1, %2) g")
                        .arg(table)
                        .arg(rows))
             .commandOk())
        return 3;
    conn->exec(QStringLiteral("vacuum analyze %1").arg(table));

    const QString copyFile = dir.filePath(QStringLiteral("copy.txt"));
    const QString csvFile = dir.filePath(QStringLiteral("export.csv"));
    const CsvSettings settings{QStringLiteral(","), QStringLiteral("\""), true};
    const int repeats = rows >= 5000000 ? 3 : 5;
    std::vector<double> copyMs, exportMs, selectMs, exportCpu, exportUser, exportSystem;
    double idle = 0, peak = 0;
    for (int i = 0; i < repeats; ++i) {
        QElapsedTimer t;
        t.start();
        const int rc = QProcess::execute(
            QStringLiteral("psql"),
            {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-c"),
             QStringLiteral("\\copy %1 to '%2'").arg(table, copyFile)});
        copyMs.push_back(t.nsecsElapsed() / 1e6);
        if (rc != 0) return 4;

        idle = statusMiB("VmRSS");
        resetPeak();
        CsvExportJob job(*conn);
        if (qEnvironmentVariableIsSet("KBENCH_SPLIT")) {
            const QStringList split = qEnvironmentVariable("KBENCH_SPLIT").split(u',');
            job.setTableSplit(split.value(0).toInt(), split.value(1).toInt(),
                              split.size() > 2 ? split.value(2).toLongLong() << 10
                                               : CsvExportJob::kDefaultHeldLimit);
        }
        const Cpu cpu0 = Cpu::now();
        t.restart();
        if (!job.start(ExportSource{ObjectName{QStringLiteral("public"), table, true}, QString()},
                       csvFile, settings))
            return 5;
        if (!job.runToEnd() || job.rowsWritten() != rows) {
            std::fprintf(stderr, "export failed: %s\n", qPrintable(job.failure()));
            return 6;
        }
        exportMs.push_back(t.nsecsElapsed() / 1e6);
        const Cpu cpu1 = Cpu::now();
        exportUser.push_back(cpu1.user - cpu0.user);
        exportSystem.push_back(cpu1.system - cpu0.system);
        exportCpu.push_back(exportUser.back() + exportSystem.back());
        peak = std::max(peak, statusMiB("VmHWM") - idle);

        // The same rows as a statement of SQL mode: single-row mode instead of COPY.
        if (qEnvironmentVariableIsSet("KBENCH_TABLE_ONLY")) {
            selectMs.push_back(0);
            continue;
        }
        CsvExportJob statement(*conn);
        t.restart();
        if (!statement.start(ExportSource{ObjectName{}, QStringLiteral("select * from %1").arg(table)},
                             csvFile, settings) ||
            !statement.runToEnd() || statement.rowsWritten() != rows)
            return 7;
        selectMs.push_back(t.nsecsElapsed() / 1e6);
        peak = std::max(peak, statusMiB("VmHWM") - idle);
    }
    conn->exec(QStringLiteral("drop table %1").arg(table));
    const double copy = median(copyMs), exported = median(exportMs), selected = median(selectMs);
    const double cpu = median(exportCpu);
    std::printf("%9d  %10.1f  %10.1f  %12.2f  %12.1f  %11.1f  %13s  %10.1f  %12.2f  %9.1f  %14.1f  "
                "%9.1f  %9.1f\n",
                rows, copy, exported, copy / exported, cpu, cpu * 1e6 / rows,
                qPrintable(QStringLiteral("%1/%2").arg(median(exportUser), 0, 'f', 0)
                               .arg(median(exportSystem), 0, 'f', 0)),
                selected, copy / selected, idle, peak,
                QFileInfo(copyFile).size() / 1048576.0, QFileInfo(csvFile).size() / 1048576.0);
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1) return runOne(std::atoi(argv[1]), argc, argv);

    std::printf("CSV export of 4 columns against psql \\copy of the same table; medians; "
                "speed = copy time / export time\n");
    std::printf("%9s  %10s  %10s  %12s  %12s  %11s  %13s  %10s  %12s  %9s  %14s  %9s  %9s\n",
                "rows", "\\copy ms", "table ms", "table ×copy", "table cpu ms", "cpu ms/Mrow",
                "user/sys ms", "select ms", "select ×copy", "idle MiB", "peak-idle MiB", "copy MiB",
                "csv MiB");
    std::fflush(stdout);
    int failed = 0;
    for (const char* rows : {"100000", "1000000", "5000000"}) {
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
