#include "widgets/QtWaiter.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <functional>

namespace {
// The time elapsed, and beside it what has come in so far (the rows received) when there is any.
QString elapsedText(qint64 ms, const QString& progress = {})
{
    const QString text = QStringLiteral("サーバーの応答を待っています　経過時間 %1 秒")
                             .arg(double(ms) / 1000.0, 0, 'f', 1);
    return progress.isEmpty() ? text : text + QStringLiteral("　") + progress;
}

// The visible wait. It is closed only by the code that showed it, once the answer is in:
// Escape and the close box ask for the cancel, as "中止" does.
class CWaitDlg : public QDialog {
public:
    CWaitDlg(QWidget* owner, WaitingStatement& s, std::function<void()> stopped)
        : QDialog(owner), m_statement(s), m_stopped(std::move(stopped))
    {
        setObjectName(QStringLiteral("kestrelWait"));
        setWindowTitle(QStringLiteral("マーロウKestrel"));
        setWindowModality(Qt::ApplicationModal);
        m_label = new QLabel(elapsedText(0), this);
        m_label->setObjectName(QStringLiteral("waitElapsed"));
        m_stop = new QPushButton(QStringLiteral("中止"), this);
        m_stop->setObjectName(QStringLiteral("waitStop"));
        auto* row = new QHBoxLayout(this);
        row->addWidget(m_label);
        row->addWidget(m_stop);
        connect(m_stop, &QPushButton::clicked, this, [this] { stop(); });
    }
    void showElapsed(qint64 ms) { m_label->setText(elapsedText(ms, m_statement.progress())); }
    void reject() override { stop(); }

protected:
    void closeEvent(QCloseEvent* e) override
    {
        e->ignore();
        stop();
    }

private:
    void stop()
    {
        if (m_stopRequested) return;
        m_stopRequested = true;
        m_stop->setEnabled(false);
        m_statement.cancel();
        m_stopped();
    }
    WaitingStatement& m_statement;
    std::function<void()> m_stopped;
    QLabel* m_label = nullptr;
    QPushButton* m_stop = nullptr;
    bool m_stopRequested = false;
};
}  // namespace

void QtWaiter::wait(WaitingStatement& s)
{
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    bool done = false;
    // Watches the socket for what the waited thing asks next; a notifier that no longer fits is
    // let go after its own signal has been handled.
    QSocketNotifier* notifier = nullptr;
    // Fires when the waited thing's time limit runs out (the answer after "中止").
    QTimer limit;
    limit.setSingleShot(true);
    std::function<void()> step;
    QObject::connect(&limit, &QTimer::timeout, &loop, [&] { step(); });
    const auto watch = [&] {
        const int ms = s.timeLimitMs();
        if (ms >= 0 && (!limit.isActive() || limit.remainingTime() > ms)) limit.start(ms);
        const QSocketNotifier::Type type = s.direction() == WaitingStatement::Direction::Write
                                               ? QSocketNotifier::Write
                                               : QSocketNotifier::Read;
        if (notifier && notifier->socket() == s.socket() && notifier->type() == type) return;
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
        notifier = new QSocketNotifier(qintptr(s.socket()), type);
        QObject::connect(notifier, &QSocketNotifier::activated, &loop, [&] { step(); });
    };
    step = [&] {
        if (done) return;
        if (!s.advance()) {
            watch();
            return;
        }
        done = true;
        if (notifier) notifier->setEnabled(false);
        limit.stop();
        loop.quit();
    };
    watch();
    QTimer::singleShot(kShowAfterMs, &loop, [&] { loop.quit(); });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (!done) {
        QWidget* owner = QApplication::activeModalWidget();
        if (!owner) owner = QApplication::activeWindow();
        CWaitDlg dlg(owner, s, [&] { step(); });
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, &dlg, [&] { dlg.showElapsed(clock.elapsed()); });
        tick.start(100);
        dlg.showElapsed(clock.elapsed());
        dlg.show();
        if (!done) loop.exec();
        tick.stop();
        dlg.hide();
    }
    delete notifier;
}
