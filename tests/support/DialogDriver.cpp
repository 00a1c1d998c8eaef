#include "support/DialogDriver.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

int runModal(QDialog& dialog, const std::function<void(QDialog&)>& interact, bool* timedOut,
             int watchdogMs)
{
    bool fired = false;
    QPointer<QDialog> guard(&dialog);
    QTimer::singleShot(0, &dialog, [&dialog, interact] { interact(dialog); });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        fired = true;
        if (guard) guard->reject();
    });
    watchdog.start(watchdogMs);
    const int rc = dialog.exec();
    if (timedOut) *timedOut = fired;
    EXPECT_FALSE(fired) << "dialog watchdog fired";
    return rc;
}

void onNextModal(const std::function<void(QDialog&)>& interact, int watchdogMs)
{
    auto* poll = new QTimer;
    auto* started = new QElapsedTimer;
    started->start();
    QObject::connect(poll, &QTimer::timeout, [poll, started, interact, watchdogMs] {
        if (auto* dlg = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            delete started;
            QPointer<QDialog> guard(dlg);
            QTimer::singleShot(watchdogMs, [guard] {
                if (guard && guard->isVisible()) {
                    ADD_FAILURE() << "dialog watchdog fired";
                    guard->reject();
                }
            });
            interact(*dlg);
            return;
        }
        if (started->elapsed() > watchdogMs) {
            poll->stop();
            poll->deleteLater();
            delete started;
            ADD_FAILURE() << "no modal dialog opened";
        }
    });
    poll->start(10);
}

QLineEdit* lineEdit(QWidget& parent, const char* name)
{
    auto* e = parent.findChild<QLineEdit*>(QString::fromLatin1(name));
    EXPECT_NE(e, nullptr) << "no line edit " << name;
    return e;
}

QAbstractButton* button(QWidget& parent, const char* name)
{
    auto* b = parent.findChild<QAbstractButton*>(QString::fromLatin1(name));
    EXPECT_NE(b, nullptr) << "no button " << name;
    return b;
}
