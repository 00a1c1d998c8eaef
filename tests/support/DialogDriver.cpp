#include "support/DialogDriver.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPointer>
#include <QTableWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

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

QLineEdit* lineEdit(QWidget& parent, const char* name) { return control<QLineEdit>(parent, name); }

QAbstractButton* button(QWidget& parent, const char* name) { return control<QAbstractButton>(parent, name); }

void typeOver(QLineEdit* box, const QString& text)
{
    box->selectAll();
    if (text.isEmpty()) {
        QKeyEvent del(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier);
        QApplication::sendEvent(box, &del);
    }
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(box, &press);
    }
}

void doubleClick(QAbstractItemView* view, const QPoint& at)
{
    QWidget* port = view->viewport();
    const QPoint global = port->mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QMouseEvent dbl(QEvent::MouseButtonDblClick, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(port, &press);
    QApplication::sendEvent(port, &release);
    QApplication::sendEvent(port, &dbl);
}

QStringList itemTexts(const QListWidget* list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
    return out;
}

QStringList cellTexts(const QTableWidget* table, int row)
{
    QStringList out;
    for (int c = 0; c < table->columnCount(); ++c)
        out << (table->item(row, c) ? table->item(row, c)->text() : QString());
    return out;
}

QStringList rowTexts(const QTableWidget* table)
{
    QStringList out;
    for (int r = 0; r < table->rowCount(); ++r) out << cellTexts(table, r).join(u'|');
    return out;
}

QStringList captions(const QTreeWidgetItem* parent)
{
    QStringList out;
    for (int i = 0; parent && i < parent->childCount(); ++i) out << parent->child(i)->text(0);
    return out;
}

QTreeWidgetItem* child(QTreeWidgetItem* parent, const QString& caption)
{
    for (int i = 0; parent && i < parent->childCount(); ++i)
        if (parent->child(i)->text(0) == caption) return parent->child(i);
    return nullptr;
}

QTreeWidgetItem* findNode(QTreeWidget& tree, const QString& caption, int depth)
{
    for (QTreeWidgetItemIterator it(&tree); *it; ++it) {
        if ((*it)->text(0) != caption) continue;
        int d = 0;
        for (QTreeWidgetItem* up = (*it)->parent(); up; up = up->parent()) ++d;
        if (depth < 0 || d == depth) return *it;
    }
    return nullptr;
}
