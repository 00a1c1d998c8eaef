// CSV import against psql's \copy of the same file, in the same run.
//
//   PGHOST=... PGPORT=... PGUSER=... build/bench/bench_import [lines...]
//
// For each size (default 200000 and 2000000 lines) a CP932 file in the export's format is
// written (quoted values, CR LF, some Japanese text), once clean and once with 100 bad lines
// spread over it. The reference is `\copy ... (format csv, encoding 'SJIS')` of the clean file
// (a file with bad lines cannot be copied at all); the import run is the program's own, with
// its per-line counts and log. Each time is the best of three; the ratio is \copy time divided
// by import time (above 1 is faster than \copy). Peak memory is the process's maximum resident
// size after each size, to show it stays flat.
#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

#include "BenchSession.h"
#include "transfer/CsvImport.h"
#include "workspace/Connection.h"
#include "workspace/TextCodec.h"

namespace {

void writeFile(const QString& path, long lines, int badLines)
{
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    const QByteArray kanji = *Cp932::encode(QStringLiteral("東京都千代田区"));
    const long every = badLines > 0 ? lines / badLines : 0;
    QByteArray chunk;
    for (long i = 1; i <= lines; ++i) {
        const bool bad = every > 0 && i % every == every / 2;
        chunk += '"';
        chunk += bad ? QByteArray("x") : QByteArray::number(qlonglong(i));
        chunk += "\",\"name number ";
        chunk += QByteArray::number(qlonglong(i));
        chunk += "\",\"";
        if (i % 10 == 0) chunk += kanji;
        else chunk += "a note of plain ASCII text, with a comma";
        chunk += "\",\"";
        chunk += QByteArray::number(qlonglong(i % 1000)) + ".25";
        chunk += "\"\r\n";
        if (chunk.size() > (1 << 20)) {
            f.write(chunk);
            chunk.clear();
        }
    }
    f.write(chunk);
}

void exec(Connection& c, const char* sql)
{
    Result r = c.exec(QString::fromUtf8(sql));
    if (!r.commandOk()) std::fprintf(stderr, "%s: %s", sql, r.errorMessage().toUtf8().constData());
}

double timeCopy(Connection& c, const QString& file)
{
    exec(c, "TRUNCATE bench_imp");
    QProcess psql;
    const QString cmd = QStringLiteral("\\copy bench_imp from '%1' with (format csv, encoding 'SJIS')").arg(file);
    QElapsedTimer t;
    t.start();
    psql.start(QStringLiteral("psql"), {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-c"), cmd});
    psql.waitForFinished(-1);
    const double s = t.nsecsElapsed() / 1e9;
    if (psql.exitCode() != 0) std::fprintf(stderr, "psql: %s\n", psql.readAllStandardError().constData());
    return s;
}

double timeImport(Connection& c, const QString& file, const QString& log, long* errors)
{
    exec(c, "TRUNCATE bench_imp");
    ImportSettings s;
    s.fileName = file;
    s.table = {QString(), QStringLiteral("bench_imp"), true};
    s.delimiter = QStringLiteral(",");
    s.quote = QStringLiteral("\"");
    for (const char* col : {"id", "name", "note", "amount"}) s.fields.push_back({QString::fromLatin1(col), "text", ""});
    s.fieldNamesExact = true;
    s.logPath = log;
    ImportRunState state;
    QElapsedTimer t;
    t.start();
    const bool ok = RunImport(c, s, state);
    const double sec = t.nsecsElapsed() / 1e9;
    if (!ok) std::fprintf(stderr, "import not committed\n");
    *errors = long(state.errors.load());
    return sec;
}

long peakKb()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::vector<long> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(std::atol(argv[i]));
    if (sizes.empty()) sizes = {200000, 2000000};
    auto conn = Connection::login(BenchLogin());
    if (conn->isBad()) {
        std::fprintf(stderr, "%s", conn->errorMessage().toUtf8().constData());
        return 1;
    }
    exec(*conn, "DROP TABLE IF EXISTS bench_imp");
    exec(*conn, "CREATE TABLE bench_imp (id int, name text, note text, amount numeric)");
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("ImportError.log"));
    std::printf("%10s %5s %10s %10s %7s %7s %10s\n", "lines", "bad", "copy s", "import s", "ratio", "errors",
                "peak KiB");
    for (long lines : sizes) {
        const QString clean = dir.filePath(QStringLiteral("clean.csv")), dirty = dir.filePath(QStringLiteral("bad.csv"));
        writeFile(clean, lines, 0);
        writeFile(dirty, lines, 100);
        double copy = 1e9;
        for (int i = 0; i < 3; ++i) copy = std::min(copy, timeCopy(*conn, clean));
        for (const QString& file : {clean, dirty}) {
            double import = 1e9;
            long errors = 0;
            for (int i = 0; i < 3; ++i) import = std::min(import, timeImport(*conn, file, log, &errors));
            std::printf("%10ld %5d %10.3f %10.3f %7.2f %7ld %10ld\n", lines, file == clean ? 0 : 100, copy, import,
                        copy / import, errors, peakKb());
            std::fflush(stdout);
        }
        QFile::remove(clean);
        QFile::remove(dirty);
    }
    exec(*conn, "DROP TABLE IF EXISTS bench_imp");
    return 0;
}
