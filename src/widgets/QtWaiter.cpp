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

namespace {
QString elapsedText(qint64 ms)
{
    return QStringLiteral("サーバーの応答を待っています　経過時間 %1 秒")
        .arg(double(ms) / 1000.0, 0, 'f', 1);
}

// The visible wait. It is closed only by the code that showed it, once the answer is in:
// Escape and the close box ask for the cancel, as "中止" does.
class CWaitDlg : public QDialog {
public:
    CWaitDlg(QWidget* owner, WaitingStatement& s) : QDialog(owner), m_statement(s)
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
    void showElapsed(qint64 ms) { m_label->setText(elapsedText(ms)); }
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
        if (m_stopped) return;
        m_stopped = true;
        m_stop->setEnabled(false);
        m_statement.cancel();
    }
    WaitingStatement& m_statement;
    QLabel* m_label = nullptr;
    QPushButton* m_stop = nullptr;
    bool m_stopped = false;
};
}  // namespace

void QtWaiter::wait(WaitingStatement& s)
{
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    bool done = false;
    QSocketNotifier notifier(s.socket(), QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &loop, [&] {
        if (s.advance()) {
            done = true;
            notifier.setEnabled(false);
            loop.quit();
        }
    });
    QTimer::singleShot(kShowAfterMs, &loop, [&] { loop.quit(); });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (done) return;

    QWidget* owner = QApplication::activeModalWidget();
    if (!owner) owner = QApplication::activeWindow();
    CWaitDlg dlg(owner, s);
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &dlg, [&] { dlg.showElapsed(clock.elapsed()); });
    tick.start(100);
    dlg.showElapsed(clock.elapsed());
    dlg.show();
    loop.exec();
    tick.stop();
    dlg.hide();
}
