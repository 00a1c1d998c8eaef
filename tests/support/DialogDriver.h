#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>

#include <gtest/gtest.h>

class QAbstractButton;
class QAbstractItemView;
class QLineEdit;
class QListWidget;
class QTableWidget;
class QTreeWidget;
class QTreeWidgetItem;

// Drives a modal dialog from a test: `interact` runs once the dialog's event loop has started;
// a watchdog rejects the dialog after `watchdogMs` so a broken test fails instead of hanging.
// Returns exec()'s result; *timedOut tells whether the watchdog fired.
int runModal(QDialog& dialog, const std::function<void(QDialog&)>& interact,
             bool* timedOut = nullptr, int watchdogMs = 10000);

// Runs `interact` on the next modal dialog that opens (for code that creates its own dialog),
// with the same watchdog. Call before the code that opens the dialog.
void onNextModal(const std::function<void(QDialog&)>& interact, int watchdogMs = 10000);

// The control of that object name inside `parent`; the test fails when there is none.
template <class Control> Control* control(QWidget& parent, const char* name)
{
    auto* c = parent.findChild<Control*>(QString::fromLatin1(name));
    EXPECT_NE(c, nullptr) << "no control " << name;
    return c;
}
QLineEdit* lineEdit(QWidget& parent, const char* name);
QAbstractButton* button(QWidget& parent, const char* name);

// Types over the whole text of a box as the operator does, by key presses, so that the box
// tells of an edit.
void typeOver(QLineEdit* box, const QString& text);
// A double click as the window system sends it (press, release, double click) at `at` of the
// view's viewport.
void doubleClick(QAbstractItemView* view, const QPoint& at);

// What the lists show: the items of a list; each row of a table, its cells joined by '|' (an
// empty cell where there is no item); the cells of one row.
QStringList itemTexts(const QListWidget* list);
QStringList rowTexts(const QTableWidget* table);
QStringList cellTexts(const QTableWidget* table, int row);

// Nodes of a tree by caption: the captions of a node's children; the first child of that
// caption; the first node of the tree (at `depth`, 0 for a top node, when given).
QStringList captions(const QTreeWidgetItem* parent);
QTreeWidgetItem* child(QTreeWidgetItem* parent, const QString& caption);
QTreeWidgetItem* findNode(QTreeWidget& tree, const QString& caption, int depth = -1);
