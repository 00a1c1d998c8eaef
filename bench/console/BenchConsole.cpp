// Large results in the SQL window: `select g, md5(g::text) from generate_series(1, N) g` run as
// the operator runs it ("実行" in the window, offscreen, with the visible wait installed),
// against psql -c of the same statement into /dev/null in the same run.
//
//   bench_console            N = 1,000,000, 10,000,000 and 30,000,000, each in a child process
//                            of its own, so that each peak of memory belongs to its size alone
//   bench_console N          one size
//
// Columns:
//   first ms    from the first rows reaching the program (the wait's first step that brought
//               rows) to the list painted with rows
//   total s     "実行" from the click until every row is in and the list shows them
//   psql s      psql -X -q -c of the same statement into /dev/null
//   peak MiB    the peak resident memory above the idle program (the window open, no result)
//   end ms      Ctrl+End in the list until the list has painted the last row
//   middle ms   the scroll bar moved to the middle until the list has painted there
//   closed MiB  resident memory after closing the window, above idle
// Targets: first <= 100 ms, total <= psql, peak <= 64 MiB, end and middle <= 50 ms,
// closed <= 10 MiB. Connects with PGHOST, PGPORT, PGUSER (PGDATABASE, default postgres); psql is
// taken from PATH or PSQL.

#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProcess>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "BenchSession.h"
#include "console/CQueryDlg.h"
#include "widgets/LargeResultList.h"
#include "widgets/QtWaiter.h"
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

// Starts the peak (VmHWM) again from the memory resident now.
void resetPeak()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly)) f.write("5");
}

QString statementFor(qint64 rows)
{
    return QStringLiteral("select g, md5(g::text) from generate_series(1, %1) g").arg(rows);
}

// The application's visible wait, watched for the first step that brings rows.
class WatchedWaiter : public Waiter {
public:
    QElapsedTimer clock;
    qint64 firstRowsNs = -1;

    void wait(WaitingStatement& s) override
    {
        class Watched : public WaitingStatement {
        public:
            Watched(WaitingStatement& s, WatchedWaiter& w) : m_s(s), m_w(w) { note(); }
            int socket() const override { return m_s.socket(); }
            Direction direction() const override { return m_s.direction(); }
            bool advance() override
            {
                const bool done = m_s.advance();
                note();
                return done;
            }
            void cancel() override { m_s.cancel(); }
            QString progress() const override { return m_s.progress(); }

        private:
            void note()
            {
                if (m_w.firstRowsNs < 0 && !m_s.progress().isEmpty()) m_w.firstRowsNs = m_w.clock.nsecsElapsed();
            }
            WaitingStatement& m_s;
            WatchedWaiter& m_w;
        };
        Watched watched(s, *this);
        m_inner.wait(watched);
    }

private:
    QtWaiter m_inner;
};

// Notes when the list has painted rows for the first time: just after the paint event.
class PaintWatch : public QObject {
public:
    PaintWatch(QAbstractItemView* list, QElapsedTimer& clock) : m_list(list), m_clock(clock)
    {
        list->viewport()->installEventFilter(this);
    }
    qint64 paintedNs = -1;

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint && paintedNs < 0 && m_list->model()->rowCount() > 0 && !m_armed) {
            m_armed = true;
            QTimer::singleShot(0, this, [this] { paintedNs = m_clock.nsecsElapsed(); });
        }
        return false;
    }

private:
    QAbstractItemView* m_list;
    QElapsedTimer& m_clock;
    bool m_armed = false;
};

double psqlSeconds(const QString& sql)
{
    const QString psql = qEnvironmentVariable("PSQL", QStringLiteral("psql"));
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer t;
    t.start();
    p.start(psql, {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-c"), sql});
    if (!p.waitForFinished(-1) || p.exitCode() != 0) {
        std::fprintf(stderr, "psql failed: %s\n", p.readAllStandardError().constData());
        return -1;
    }
    return t.nsecsElapsed() / 1e9;
}

// Runs `action` and repaints the list at once: the time until the operator sees the rows.
double repaintMs(LargeResultList* list, const std::function<void()>& action)
{
    QElapsedTimer t;
    t.start();
    action();
    list->viewport()->repaint();
    return t.nsecsElapsed() / 1e6;
}

void settle()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

int runOne(qint64 rows, int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir start;
    WatchedWaiter waiter;
    CKestrelDoc doc;
    doc.setWaiter(&waiter);
    doc.setLoginRunner([] { return std::optional<LoginParameters>(BenchLogin()); });
    if (doc.Connect() != 0) {
        std::fprintf(stderr, "no server: %s\n", qPrintable(doc.connection() ? doc.connection()->errorMessage() : QString()));
        return 2;
    }
    doc.installNoticeReceiver();
    doc.startDirectory = start.path();
    const QString sql = statementFor(rows);
    const double psql = psqlSeconds(sql);

    auto dlg = std::make_unique<CQueryDlg>(doc);
    dlg->resize(900, 700);
    dlg->show();
    settle();
    auto* list = dlg->findChild<LargeResultList*>(QStringLiteral("resultList"));
    auto* query = dlg->findChild<QLineEdit*>(QStringLiteral("queryEdit"));
    auto* run = dlg->findChild<QAbstractButton*>(QStringLiteral("executeButton"));
    // Warm the window's code paths once with a small result, then take the idle memory.
    query->setText(statementFor(1000));
    run->click();
    query->setText(QStringLiteral("select 1"));
    run->click();
    settle();
    const double idle = statusMiB("VmRSS");
    resetPeak();

    PaintWatch painted(list, waiter.clock);
    query->setText(sql);
    waiter.clock.start();
    waiter.firstRowsNs = -1;
    run->click();
    const double total = waiter.clock.nsecsElapsed() / 1e9;
    settle();
    if (list->model()->rowCount() != rows) {
        std::fprintf(stderr, "%lld rows shown of %lld\n", (long long)list->model()->rowCount(), (long long)rows);
        return 3;
    }
    const double peak = statusMiB("VmHWM") - idle;
    const double first = painted.paintedNs >= 0 && waiter.firstRowsNs >= 0
                             ? (painted.paintedNs - waiter.firstRowsNs) / 1e6
                             : -1;

    list->setFocus();
    const double end = repaintMs(list, [&] {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_End, Qt::ControlModifier);
        QApplication::sendEvent(list, &key);
    });
    if (list->currentIndex().row() != rows - 1) std::fprintf(stderr, "Ctrl+End did not reach the last row\n");
    const double middle = repaintMs(list, [&] { list->verticalScrollBar()->setValue(int(rows / 2)); });

    dlg->reject();
    dlg.reset();
    settle();
    const double closed = statusMiB("VmRSS") - idle;

    std::printf("%11lld  %9.1f  %8.2f  %7.2f  %9.1f  %7.1f  %9.1f  %10.1f\n", (long long)rows, first, total,
                psql, peak, end, middle, closed);
    std::fflush(stdout);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1) return runOne(std::atoll(argv[1]), argc, argv);

    std::printf("SQL window, select g, md5(g::text) from generate_series(1, N) g\n");
    std::printf("%11s  %9s  %8s  %7s  %9s  %7s  %9s  %10s\n", "rows", "first ms", "total s", "psql s",
                "peak MiB", "end ms", "middle ms", "closed MiB");
    std::fflush(stdout);
    int failed = 0;
    for (const char* rows : {"1000000", "10000000", "30000000"}) {
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
