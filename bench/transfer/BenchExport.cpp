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
// with 1,1 for one session); KBENCH_TABLE_ONLY=1 leaves the SQL mode out; KBENCH_KEEP=1 keeps
// the table for the next run and takes the one a run kept (so that builds run alternately
// read the same table, and the server's work of making it does not fall into the run);
// KBENCH_DETAIL=1 adds, per export (medians): the CPU of threads other than the one the
// export runs on, the page faults, and the voluntary and involuntary context switches; and,
// when the server runs on this machine, its CPU during \copy and during the export (the
// server's processes alive and those it reaped), which tells how far the cores allow the
// export to run ahead of \copy.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
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

// CPU time of this process so far, in ms: user and system; that of the calling thread alone;
// page faults and context switches of the process.
struct Cpu {
    double user = 0, system = 0, thread = 0, faults = 0, waits = 0, preempted = 0;
    static Cpu now()
    {
        const auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
        rusage u{}, self{};
        getrusage(RUSAGE_SELF, &u);
        getrusage(RUSAGE_THREAD, &self);
        return {ms(u.ru_utime), ms(u.ru_stime), ms(self.ru_utime) + ms(self.ru_stime),
                double(u.ru_minflt + u.ru_majflt), double(u.ru_nvcsw), double(u.ru_nivcsw)};
    }
};

// A field of /proc/PID/stat (numbered as proc(5) numbers them, from 1), as a number.
double statField(pid_t pid, int field)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return -1;
    const QByteArray line = f.readAll();
    // The command name, field 2, is in parentheses and may hold spaces.
    const QList<QByteArray> rest = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return field >= 3 && field - 3 < rest.size() ? rest[field - 3].toDouble() : -1;
}

// The server's processes: its postmaster (found as the parent of a backend of ours, when the
// server runs on this machine) and its children.
struct Server {
    pid_t postmaster = 0;

    static Server of(Connection& conn)
    {
        const Result r = conn.exec(QStringLiteral("select pg_backend_pid()"));
        const pid_t backend = r.tuplesOk() ? pid_t(QString::fromUtf8(r.rawValue(0, 0)).toInt()) : 0;
        QFile comm(QStringLiteral("/proc/%1/comm").arg(backend));
        if (backend <= 0 || !comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != "postgres")
            return {};
        return {pid_t(statField(backend, 4))};
    }

    std::vector<pid_t> children() const
    {
        std::vector<pid_t> pids;
        for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            bool number = false;
            const pid_t pid = pid_t(entry.toInt(&number));
            if (number && statField(pid, 4) == postmaster) pids.push_back(pid);
        }
        return pids;
    }

    // CPU in ms so far: the postmaster's, its children's alive and those it has reaped. Waits
    // (a little) until the children are as many as `settled`, so that those that ended are
    // reaped; -1 when the server is not on this machine.
    double cpuMs(size_t settled = 0) const
    {
        if (postmaster <= 0) return -1;
        std::vector<pid_t> pids = children();
        for (int i = 0; settled && pids.size() > settled && i < 100; ++i) {
            QThread::msleep(20);
            pids = children();
        }
        double ticks = statField(postmaster, 14) + statField(postmaster, 15) +
                       statField(postmaster, 16) + statField(postmaster, 17);
        for (pid_t pid : pids) ticks += std::max(0.0, statField(pid, 14) + statField(pid, 15));
        return ticks * 1000.0 / double(sysconf(_SC_CLK_TCK));
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
    const bool keep = qEnvironmentVariableIsSet("KBENCH_KEEP");
    const bool kept =
        keep && conn->exec(QStringLiteral("select 1 from pg_class where relname = '%1'").arg(table))
                        .rows() == 1;
    if (!kept) conn->exec(QStringLiteral("drop table if exists %1").arg(table));
    if (!kept && !conn->exec(QStringLiteral(
                        "create table %1 as select g as id, 'name ' || g as name, "
                        "(g * 1.5)::numeric(12,2) as amount, "
                        "timestamp '2024-01-01' + g * interval '1 second' as at "
                        "from generate_series(1, %2) g")
                        .arg(table)
                        .arg(rows))
             .commandOk())
        return 3;
    if (!kept) conn->exec(QStringLiteral("vacuum analyze %1").arg(table));

    const QString copyFile = dir.filePath(QStringLiteral("copy.txt"));
    const QString csvFile = dir.filePath(QStringLiteral("export.csv"));
    const CsvSettings settings{QStringLiteral(","), QStringLiteral("\""), true};
    const int repeats = rows >= 5000000 ? 3 : 5;
    std::vector<double> copyMs, exportMs, selectMs, exportCpu, exportUser, exportSystem;
    std::vector<double> otherThreads, faults, waits, preempted, copyServer, exportServer;
    const bool detail = qEnvironmentVariableIsSet("KBENCH_DETAIL");
    const Server server = detail ? Server::of(*conn) : Server();
    const size_t settled = server.postmaster > 0 ? server.children().size() : 0;
    double idle = 0, peak = 0;
    for (int i = 0; i < repeats; ++i) {
        const double copyServer0 = server.cpuMs(settled);
        QElapsedTimer t;
        t.start();
        const int rc = QProcess::execute(
            QStringLiteral("psql"),
            {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-c"),
             QStringLiteral("\\copy %1 to '%2'").arg(table, copyFile)});
        copyMs.push_back(t.nsecsElapsed() / 1e6);
        if (rc != 0) return 4;
        copyServer.push_back(server.cpuMs(settled) - copyServer0);

        idle = statusMiB("VmRSS");
        resetPeak();
        CsvExportJob job(*conn);
        if (qEnvironmentVariableIsSet("KBENCH_SPLIT")) {
            const QStringList split = qEnvironmentVariable("KBENCH_SPLIT").split(u',');
            job.setTableSplit(split.value(0).toInt(), split.value(1).toInt(),
                              split.size() > 2 ? split.value(2).toLongLong() << 10
                                               : CsvExportJob::kDefaultHeldLimit);
        }
        const double exportServer0 = server.cpuMs(settled);
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
        otherThreads.push_back(exportCpu.back() - (cpu1.thread - cpu0.thread));
        faults.push_back(cpu1.faults - cpu0.faults);
        waits.push_back(cpu1.waits - cpu0.waits);
        preempted.push_back(cpu1.preempted - cpu0.preempted);
        exportServer.push_back(server.cpuMs(settled) - exportServer0);
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
    if (!keep) conn->exec(QStringLiteral("drop table %1").arg(table));
    const double copy = median(copyMs), exported = median(exportMs), selected = median(selectMs);
    const double cpu = median(exportCpu);
    std::printf("%9d  %10.1f  %10.1f  %12.2f  %12.1f  %11.1f  %13s  %10.1f  %12.2f  %9.1f  %14.1f  "
                "%9.1f  %9.1f\n",
                rows, copy, exported, copy / exported, cpu, cpu * 1e6 / rows,
                qPrintable(QStringLiteral("%1/%2").arg(median(exportUser), 0, 'f', 0)
                               .arg(median(exportSystem), 0, 'f', 0)),
                selected, copy / selected, idle, peak,
                QFileInfo(copyFile).size() / 1048576.0, QFileInfo(csvFile).size() / 1048576.0);
    if (detail) {
        std::printf("           other threads %.1f ms, faults %.0f, waits %.0f, preempted %.0f",
                    median(otherThreads), median(faults), median(waits), median(preempted));
        if (server.postmaster > 0)
            std::printf("; server cpu ms: \\copy %.0f, table %.0f", median(copyServer), median(exportServer));
        std::printf("\n");
    }
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
