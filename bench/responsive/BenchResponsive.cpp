// How the windows answer while the server makes them wait: the real dialogs (offscreen) on a
// real server, with the visible wait installed as the application installs it.
//
//   PGHOST=... PGPORT=... PGUSER=... bench_responsive
//
// A 10 ms timer on the UI thread records every turn of the event loop; "stall" is the longest
// gap between two of its ticks (the longest the windows went unpainted and deaf). "stop" is the
// time from pressing "中止" on the wait box (or the dialog's own stop button when no wait box
// is up) until the window is usable again: the wait box gone, the dialog's controls back and
// the event loop ticking. Cases:
//   1. "select pg_sleep(5)" in the SQL window, stopped after about 1 s;
//   2. the table detail of a table another session holds locked, stopped after about 1 s;
//   3. ten characters typed into the import's "テーブル名", one per 100 ms, the last naming a
//      table of 10,000,000 rows (bench_resp_big, made once and kept);
//   4. an SQL-mode export whose first row takes 5 s, stopped after about 1 s;
//   5. a 1,000,000-row result in the SQL window: the stall outside the time from sending to the
//      list shown (that fill time is given apart, beside libpq receiving the same result);
//   6-8. through a relay that goes silent (stops passing anything on, closes nothing): a tables
//      listing, "select 1" in the SQL window and a login, each stopped after about 1 s;
//   9-10. the same relay's link dropped for real (iptables drops its packets on loopback, as a
//      dead VPN would), while the session is idle and while a statement waits: the time until
//      the program knows the session is dead (target 35 s; not measured without iptables).
// The reference beside each stopped case is the same statement by plain libpq cancelled after
// 1 s: the time from PQcancel to its answer, which no window can beat.
// Targets: stall <= 100 ms, stop <= 500 ms. Every wait has a cap, so a case that never ends is
// reported as such instead of hanging the run.

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QFile>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include <QProcess>

#include "BenchSession.h"
#include "support/Relay.h"
#include "workspace/BrowseRules.h"
#include "console/CQueryDlg.h"
#include "transfer/CCsvExportDlg.h"
#include "transfer/CCsvImportDlg.h"
#include "transfer/CTableInfoDlg.h"
#include "widgets/QtWaiter.h"
#include "workspace/CKestrelDoc.h"
#include "workspace/Catalogue.h"
#include "workspace/Prompter.h"

namespace {

constexpr qint64 kStallTarget = 100;
constexpr qint64 kStopTarget = 500;
constexpr int kStopAfterMs = 1000;
constexpr int kCaseCapMs = 20000;
const QString kLockedTable = QStringLiteral("bench_resp_lock");
const QString kBigTable = QStringLiteral("bench_resp_big");
constexpr int kBigRows = 10000000;
constexpr int kListRows = 1000000;

// Answers every question Yes and keeps what it was told, so that no message box holds the run.
class QuietPrompter : public Prompter {
public:
    bool askYesNo(BoxKind, const QString& text, const QString&) override
    {
        texts << text;
        return true;
    }
    void message(BoxKind, const QString& text, const QString&) override { texts << text; }
    QStringList texts;
};

// The visible wait box when it is up.
QWidget* waitBox()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == u"kestrelWait" && w->isVisible()) return w;
    }
    return nullptr;
}

// The event loop's turns, as a 10 ms timer on the UI thread sees them.
class Ticker {
public:
    Ticker()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 t = now();
            if (waitBox()) waitBoxMs += t - m_ticks.back();
            m_ticks.push_back(t);
            if (onTick) onTick();
        });
        m_clock.start();
    }
    void start()
    {
        waitBoxMs = 0;
        m_ticks.clear();
        m_ticks.push_back(now());
        m_timer.start();
    }
    void stop() { m_timer.stop(); }
    qint64 now() const { return m_clock.elapsed(); }
    // The longest gap between ticks that lies wholly outside [from, to] (none: the whole run).
    qint64 longestGap(std::optional<std::pair<qint64, qint64>> outside = std::nullopt) const
    {
        qint64 longest = 0;
        for (size_t i = 1; i < m_ticks.size(); ++i) {
            const qint64 a = m_ticks[i - 1], b = m_ticks[i];
            if (outside && b > outside->first && a < outside->second) continue;
            longest = std::max(longest, b - a);
        }
        return longest;
    }
    // The longest gap that overlaps [from, to].
    qint64 longestGapWithin(qint64 from, qint64 to) const
    {
        qint64 longest = 0;
        for (size_t i = 1; i < m_ticks.size(); ++i) {
            if (m_ticks[i] > from && m_ticks[i - 1] < to)
                longest = std::max(longest, m_ticks[i] - m_ticks[i - 1]);
        }
        return longest;
    }
    std::function<void()> onTick;
    qint64 waitBoxMs = 0;  // how long a wait box was up while ticking

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    std::vector<qint64> m_ticks;
};

// Runs the event loop until `done` holds, checking every 5 ms, for at most `capMs`.
bool spinUntil(const std::function<bool()>& done, int capMs)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > capMs) return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

void spinFor(int ms)
{
    spinUntil([] { return false; }, ms);
}

// Presses "中止" of the wait box; false when none is up.
bool pressWaitStop()
{
    QWidget* box = waitBox();
    if (!box) return false;
    auto* stop = box->findChild<QAbstractButton*>(QStringLiteral("waitStop"));
    if (!stop || !stop->isEnabled()) return false;
    stop->click();
    return true;
}

// The same statement by plain libpq on a session of its own, cancelled after kStopAfterMs:
// the time from PQcancel to the answer; -1 when it did not end within the cap.
qint64 libpqCancelReference(const Connection& like, const QString& sql)
{
    std::unique_ptr<Connection> session = Connection::openLike(like);
    // The server ends the statement itself should the cancel be lost, so the join below returns.
    if (!session || !BenchRun(*session, QStringLiteral("SET statement_timeout = %1").arg(kCaseCapMs))) return -1;
    const std::unique_ptr<CancelHandle> handle = session->cancelHandle();
    std::atomic<bool> done{false};
    std::thread worker([&] {
        session->tryExec(sql);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(kStopAfterMs));
    QElapsedTimer t;
    t.start();
    handle->cancel();
    while (!done && t.elapsed() < kCaseCapMs) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const qint64 took = done ? t.elapsed() : -1;
    worker.join();
    return took;
}

struct Outcome {
    const char* name;
    qint64 stall = -1;
    qint64 stop = -1;          // -1: not measured (no stop in this case) or not reached
    bool stopMeasured = false;
    bool stopped = false;      // a case that presses "中止"
    QString reference;         // what plain libpq took, where meaningful
    QString remark;
    qint64 waitBoxMs = 0;
};

void note(Outcome& o, const QString& text)
{
    o.remark += (o.remark.isEmpty() ? QString() : QStringLiteral("; ")) + text;
}

// A stopped wait: `begin` starts the work from the event loop (it may not return until the
// work ends), `stopButton` is the dialog's own stop for when no wait box is up, `usable` tells
// whether the window is back. Returns stall over the whole case and stop-to-usable.
Outcome stoppedCase(const char* name, Ticker& ticker, const std::function<void()>& begin,
                    const std::function<QAbstractButton*()>& stopButton,
                    const std::function<bool()>& usable)
{
    Outcome out{name};
    out.stopped = true;
    qint64 stopAt = -1, usableAt = -1;
    int waitBoxesStopped = 0;
    bool begun = false, returned = false;
    ticker.onTick = [&] {
        if (stopAt < 0) return;
        // A later statement that waits again is stopped too: the operator wants out.
        if (pressWaitStop()) ++waitBoxesStopped;
        if (usableAt < 0 && returned && !waitBox() && usable()) usableAt = ticker.now();
    };
    ticker.start();
    QTimer stopper;
    stopper.setSingleShot(true);
    QObject::connect(&stopper, &QTimer::timeout, [&] {
        stopAt = ticker.now();
        if (pressWaitStop()) {
            ++waitBoxesStopped;
        } else if (QAbstractButton* b = stopButton ? stopButton() : nullptr) {
            out.remark = QStringLiteral("no wait box; the dialog's stop pressed");
            b->click();
        } else {
            out.remark = QStringLiteral("nothing to press at 1 s");
        }
    });
    stopper.start(kStopAfterMs);
    QTimer::singleShot(0, [&] {
        begun = true;
        begin();
        returned = true;
    });
    const bool ended = spinUntil([&] { return usableAt >= 0; }, kCaseCapMs);
    spinFor(200);
    ticker.stop();
    ticker.onTick = nullptr;
    out.stall = ticker.longestGap();
    out.waitBoxMs = ticker.waitBoxMs;
    if (ended && stopAt >= 0) {
        out.stop = usableAt - stopAt;
        out.stopMeasured = true;
    } else {
        note(out, !begun ? QStringLiteral("never started")
                         : QStringLiteral("not usable within %1 s").arg(kCaseCapMs / 1000));
    }
    if (waitBoxesStopped > 1) note(out, QStringLiteral("%1 wait boxes stopped").arg(waitBoxesStopped));
    return out;
}

// Drops (or lets through again) every packet to and from a loopback port: a link that died
// without a word. false when iptables cannot be used here.
bool dropLink(int port, bool drop)
{
    bool ok = true;
    for (const char* side : {"--dport", "--sport"}) {
        ok = QProcess::execute(QStringLiteral("iptables"),
                               {drop ? QStringLiteral("-I") : QStringLiteral("-D"), QStringLiteral("INPUT"),
                                QStringLiteral("-i"), QStringLiteral("lo"), QStringLiteral("-p"), QStringLiteral("tcp"),
                                QString::fromLatin1(side), QString::number(port), QStringLiteral("-j"),
                                QStringLiteral("DROP")}) == 0 && ok;
    }
    return ok;
}

QString statementForRows(int rows)
{
    return QStringLiteral(
               "select g as id, 'name ' || g as name, (g * 1.5)::numeric(12,2) as amount, "
               "timestamp '2024-01-01' + g * interval '1 second' as at "
               "from generate_series(1, %1) g")
        .arg(rows);
}

QString ms(qint64 v) { return v < 0 ? QStringLiteral("-") : QString::number(v); }

void printHeader()
{
    std::printf("\n%-34s %9s %8s %9s %16s  %-22s %s\n", "case", "stall ms", "stop ms", "wait box",
                "libpq ref ms", "target", "met");
    std::fflush(stdout);
}

void print(const std::vector<Outcome>& outcomes)
{
    for (const Outcome& o : outcomes) {
        const bool stallMet = o.stall >= 0 && o.stall <= kStallTarget;
        const bool stopMet = !o.stopped || (o.stopMeasured && o.stop <= kStopTarget);
        const char* target = o.stopped ? "stall<=100, stop<=500" : "stall<=100";
        std::printf("%-34s %9s %8s %9s %16s  %-22s %s%s%s\n", o.name, qPrintable(ms(o.stall)),
                    o.stopMeasured ? qPrintable(ms(o.stop)) : "-", qPrintable(ms(o.waitBoxMs)),
                    qPrintable(o.reference), target,
                    stallMet && stopMet ? "yes" : "NO", o.remark.isEmpty() ? "" : "  ",
                    qPrintable(o.remark));
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QuietPrompter prompts;
    installPrompter(&prompts);
    QtWaiter waiter;
    QTemporaryDir scratch;
    CKestrelDoc doc;
    doc.setLoginRunner(BenchLogin);
    doc.setWaiter(&waiter);
    if (doc.Connect() != 0) {
        std::fprintf(stderr, "no server: %s\n",
                     qPrintable(doc.connection() ? doc.connection()->errorMessage() : QString()));
        return 2;
    }
    doc.installNoticeReceiver();
    doc.startDirectory = scratch.path();
    Connection& conn = *doc.connection();
    std::unique_ptr<Connection> admin = Connection::openLike(conn);
    if (!admin) return 2;
    BenchRun(*admin, QStringLiteral("SET client_min_messages TO warning"));

    // Set-up: the locked table, the delay the export's first row waits for, the big table.
    if (!BenchRun(*admin, QStringLiteral("DROP TABLE IF EXISTS %1; CREATE TABLE %1 (id int, v text DEFAULT 'x'); "
                                    "INSERT INTO %1 SELECT g, 'v' || g FROM generate_series(1, 100) g")
                         .arg(kLockedTable)) ||
        !BenchRun(*admin, QStringLiteral("DROP FUNCTION IF EXISTS bench_resp_delay(); "
                                    "DROP TABLE IF EXISTS bench_resp_delay; CREATE TABLE bench_resp_delay (seconds float8); "
                                    "INSERT INTO bench_resp_delay VALUES (0); "
                                    "CREATE OR REPLACE FUNCTION bench_resp_delay() RETURNS float8 "
                                    "LANGUAGE sql VOLATILE AS 'select seconds from bench_resp_delay'")))
        return 3;
    {
        const Result r = admin->exec(QStringLiteral("select count(*) from pg_class where relname = '%1' "
                                                    "and relkind = 'r' and reltuples >= %2")
                                         .arg(kBigTable)
                                         .arg(kBigRows - 1));
        if (r.value(0, 0) != u"1") {
            std::printf("making %s (%d rows, once)...\n", qPrintable(kBigTable), kBigRows);
            std::fflush(stdout);
            if (!BenchRun(*admin, QStringLiteral("DROP TABLE IF EXISTS %1; CREATE TABLE %1 (id int, v text); "
                                            "INSERT INTO %1 SELECT g, 'row ' || g FROM generate_series(1, %2) g")
                                 .arg(kBigTable)
                                 .arg(kBigRows)) ||
                !BenchRun(*admin, QStringLiteral("VACUUM ANALYZE %1").arg(kBigTable)))
                return 3;
        }
    }

    Ticker ticker;
    std::vector<Outcome> outcomes;
    printHeader();

    // 1. pg_sleep in the SQL window.
    {
        CQueryDlg dlg(doc);
        dlg.show();
        auto* query = dlg.findChild<QLineEdit*>(QStringLiteral("queryEdit"));
        auto* execute = dlg.findChild<QAbstractButton*>(QStringLiteral("executeButton"));
        const QString sql = QStringLiteral("select pg_sleep(5)");
        query->setText(sql);
        Outcome o = stoppedCase(
            "1 SQL window pg_sleep(5)", ticker, [&] { execute->click(); }, nullptr,
            [&] { return execute->isEnabled() && !conn.isWaiting(); });
        o.reference = ms(libpqCancelReference(conn, sql));
        outcomes.push_back(o);
        print({o});
    }

    // 2. The table detail of a locked table.
    {
        std::unique_ptr<Connection> locker = Connection::openLike(conn);
        if (!locker || !BenchRun(*locker, QStringLiteral("BEGIN; LOCK TABLE %1 IN ACCESS EXCLUSIVE MODE").arg(kLockedTable)))
            return 3;
        std::unique_ptr<CTableInfoDlg> dlg;
        const ObjectName table{QStringLiteral("public"), kLockedTable, true};
        Outcome o = stoppedCase(
            "2 table detail of a locked table", ticker,
            [&] {
                dlg = std::make_unique<CTableInfoDlg>(conn, table, BenchLogin().databaseName);
                dlg->show();
            },
            nullptr, [&] { return dlg && dlg->isVisible() && !conn.isWaiting(); });
        dlg.reset();
        // The detail's first statement that waits on the lock, by plain libpq.
        o.reference = ms(libpqCancelReference(conn, Catalogue::ColumnListStatement(conn, table)));
        BenchRun(*locker, QStringLiteral("ROLLBACK"));
        outcomes.push_back(o);
        print({o});
    }

    // 3. Typing the import's table name.
    {
        CCsvImportDlg dlg(conn);
        dlg.show();
        auto* box = dlg.findChild<QLineEdit*>(QStringLiteral("tableNameBox"));
        const QString typed = kBigTable.right(10);
        box->setText(kBigTable.left(kBigTable.size() - typed.size()));
        spinFor(500);
        int counts = 0, statements = 0;
        conn.setObserver([&](const QString& s) {
            ++statements;
            // A count of the table's rows, not the catalogue question that finds the table.
            if (s.contains(QStringLiteral("count("), Qt::CaseInsensitive) &&
                !s.contains(QStringLiteral("pg_class"), Qt::CaseInsensitive))
                ++counts;
        });
        int next = 0, held = 0;
        qint64 lastKey = -1;
        // Keys come from a timer of their own: a slot of the ticker's timer that waited in a
        // nested event loop would keep that very timer from firing, and hide the stall.
        QTimer typist;
        typist.setInterval(100);
        QObject::connect(&typist, &QTimer::timeout, [&] {
            if (next >= typed.size()) return;
            // While a wait box is up the operator's keys reach nothing: the key waits.
            if (waitBox()) {
                ++held;
                return;
            }
            box->setFocus();
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(typed[next]));
            QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(typed[next]));
            ++next;
            lastKey = ticker.now();
            QApplication::sendEvent(box, &press);
            QApplication::sendEvent(box, &release);
            lastKey = ticker.now();
        });
        ticker.start();
        lastKey = ticker.now();
        typist.start();
        const bool typedAll = spinUntil([&] { return next >= typed.size(); }, kCaseCapMs);
        // The check once typing rests and the count behind it.
        spinUntil([&] { return !waitBox() && !conn.isWaiting() && ticker.now() - lastKey > 3000; }, kCaseCapMs);
        typist.stop();
        ticker.stop();
        conn.setObserver(nullptr);
        Outcome o{"3 typing the import's table name"};
        o.stall = ticker.longestGap();
        o.waitBoxMs = ticker.waitBoxMs;
        o.remark = QStringLiteral("%1 statements, %2 counts on the workspace's session").arg(statements).arg(counts);
        if (!typedAll) note(o, QStringLiteral("not all keys typed"));
        if (held) note(o, QStringLiteral("%1 keys held back by a wait box").arg(held));
        if (box->text() != kBigTable) note(o, QStringLiteral("box reads ") + box->text());
        // What one count of the table costs by plain libpq.
        QElapsedTimer t;
        t.start();
        admin->exec(Catalogue::ImportCountStatement(ObjectName{QString(), kBigTable, true}));
        o.reference = QStringLiteral("count %1").arg(t.elapsed());
        outcomes.push_back(o);
        print({o});
    }

    // 4. An SQL-mode export whose first row takes 5 s.
    {
        const QString sql = QStringLiteral("select pg_sleep(bench_resp_delay()), x from generate_series(1, 3) x");
        // The sample is read at once; only the export's own statement waits.
        CCsvExportDlg dlg(conn, sql);
        dlg.show();
        const QString file = scratch.filePath(QStringLiteral("stopped.csv"));
        dlg.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(file);
        BenchRun(*admin, QStringLiteral("UPDATE bench_resp_delay SET seconds = 5"));
        bool finished = false;
        QObject::connect(&dlg, &CCsvExportDlg::exportFinished, &dlg, [&] { finished = true; });
        auto* output = dlg.findChild<QAbstractButton*>(QStringLiteral("outputButton"));
        prompts.texts.clear();
        Outcome o = stoppedCase(
            "4 SQL-mode export, first row 5 s", ticker, [&] { output->click(); },
            [&] { return dlg.findChild<QAbstractButton*>(QStringLiteral("cancelButton")); },
            [&] { return finished && output->isEnabled() && !conn.isWaiting(); });
        o.reference = ms(libpqCancelReference(conn, sql));
        BenchRun(*admin, QStringLiteral("UPDATE bench_resp_delay SET seconds = 0"));
        if (!prompts.texts.contains(QStringLiteral("出力を中止しました。")))
            note(o, QStringLiteral("told: ") + prompts.texts.join(u'/').simplified().left(60));
        if (QFile::exists(file)) note(o, QStringLiteral("the stopped file was left"));
        outcomes.push_back(o);
        print({o});
    }

    // 5. A 1,000,000-row result in the SQL window.
    {
        CQueryDlg dlg(doc);
        dlg.show();
        auto* query = dlg.findChild<QLineEdit*>(QStringLiteral("queryEdit"));
        auto* execute = dlg.findChild<QAbstractButton*>(QStringLiteral("executeButton"));
        auto* list = dlg.findChild<QAbstractItemView*>(QStringLiteral("resultList"));
        const QString sql = statementForRows(kListRows);
        query->setText(sql);
        qint64 sentAt = -1, filledAt = -1;
        bool returned = false;
        ticker.onTick = [&] {
            if (filledAt < 0 && returned && list->model() && list->model()->rowCount() == kListRows)
                filledAt = ticker.now();
        };
        ticker.start();
        spinFor(300);
        QTimer::singleShot(0, [&] {
            sentAt = ticker.now();
            execute->click();
            returned = true;
        });
        const bool filled = spinUntil([&] { return filledAt >= 0; }, kCaseCapMs * 3);
        // The operator looks at the result: to its end and back.
        spinFor(300);
        list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum());
        spinFor(300);
        list->verticalScrollBar()->setValue(0);
        spinFor(300);
        ticker.stop();
        ticker.onTick = nullptr;
        Outcome o{"5 SQL window 1,000,000 rows"};
        o.waitBoxMs = ticker.waitBoxMs;
        if (filled) {
            o.stall = ticker.longestGap(std::make_pair(sentAt, filledAt));
            o.remark = QStringLiteral("fill %1 ms (longest stall within it %2 ms)")
                           .arg(filledAt - sentAt)
                           .arg(ticker.longestGapWithin(sentAt, filledAt));
        } else {
            o.stall = ticker.longestGap();
            o.remark = QStringLiteral("the list was not filled within the cap");
        }
        QElapsedTimer t;
        t.start();
        const Result r = admin->exec(sql);
        o.reference = QStringLiteral("receive %1").arg(r.rows() == kListRows ? t.elapsed() : -1);
        outcomes.push_back(o);
        print({o});
    }

    // 6-10. Over a relay: silent, then dead.
    {
        Relay relay(BenchLogin().port.toInt(), BenchLogin().hostName);
        LoginParameters through = BenchLogin();
        through.port = QString::number(relay.port());
        CKestrelDoc linked;
        linked.setWaiter(&waiter);
        linked.setLoginRunner([&] { return std::optional<LoginParameters>(through); });
        if (linked.Connect() != 0) return 3;
        linked.startDirectory = scratch.path();
        Connection& lc = *linked.connection();
        const auto silentCase = [&](const char* name, const std::function<void()>& begin,
                                    const std::function<bool()>& usable) {
            lc.read(QStringLiteral("select 1"));  // a sound session (opened again after a case before)
            relay.setSilent(true);
            Outcome o = stoppedCase(name, ticker, begin, nullptr, usable);
            relay.setSilent(false);
            o.reference = QStringLiteral("-");
            note(o, lc.isLost() ? QStringLiteral("session given up") : QStringLiteral("session kept"));
            outcomes.push_back(o);
            print({o});
        };
        silentCase("6 listing, link silent",
                   [&] { lc.read(Browse::FolderQuery(Browse::kTablesFolder)); },
                   [&] { return !lc.isWaiting(); });
        {
            CQueryDlg dlg(linked);
            dlg.show();
            dlg.findChild<QLineEdit*>(QStringLiteral("queryEdit"))->setText(QStringLiteral("select 1"));
            auto* execute = dlg.findChild<QAbstractButton*>(QStringLiteral("executeButton"));
            silentCase("7 SQL window, link silent", [&] { execute->click(); },
                       [&] { return execute->isEnabled() && !lc.isWaiting(); });
        }
        {
            CKestrelDoc fresh;
            fresh.setWaiter(&waiter);
            fresh.setLoginRunner([&] { return std::optional<LoginParameters>(through); });
            silentCase("8 login, link silent", [&] { fresh.Connect(); }, [] { return true; });
        }

        // The link dies for real: how long until the program knows.
        const auto deadCase = [&](const char* name, bool waiting) {
            Outcome o{name};
            lc.read(QStringLiteral("select 1"));  // a sound session to begin with
            if (lc.isLost() || !dropLink(relay.port(), true)) {
                dropLink(relay.port(), false);
                note(o, QStringLiteral("not measured: iptables cannot drop packets here"));
                outcomes.push_back(o);
                print({o});
                return;
            }
            ticker.start();
            const qint64 droppedAt = ticker.now();
            qint64 knownAt = -1;
            if (waiting) {
                QTimer::singleShot(0, [&] {
                    lc.tryExec(QStringLiteral("select pg_sleep(600)"));
                    knownAt = ticker.now();
                });
                spinUntil([&] { return knownAt >= 0; }, 90000);
            } else {
                spinUntil([&] { return lc.isLost(); }, 90000);
                if (lc.isLost()) knownAt = ticker.now();
            }
            ticker.stop();
            dropLink(relay.port(), false);
            o.stall = ticker.longestGap();
            o.remark = knownAt < 0 ? QStringLiteral("not noticed within 90 s")
                                   : QStringLiteral("dead link noticed after %1 ms (target 35000)")
                                         .arg(knownAt - droppedAt);
            outcomes.push_back(o);
            print({o});
        };
        deadCase("9 link dead while idle", false);
        deadCase("10 link dead while waiting", true);
    }

    BenchRun(*admin, QStringLiteral("DROP TABLE IF EXISTS %1; DROP FUNCTION IF EXISTS bench_resp_delay(); "
                               "DROP TABLE IF EXISTS bench_resp_delay")
                    .arg(kLockedTable));
    std::printf("\nAll cases (%s is kept for the next run):", qPrintable(kBigTable));
    printHeader();
    print(outcomes);
    installPrompter(nullptr);
    return 0;
}
