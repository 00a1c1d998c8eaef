#pragma once

#include <QDialog>
#include <functional>

// Drives a modal dialog from a test: `interact` runs once the dialog's event loop has started;
// a watchdog rejects the dialog after `watchdogMs` so a broken test fails instead of hanging.
// Returns exec()'s result; *timedOut tells whether the watchdog fired.
int runModal(QDialog& dialog, const std::function<void(QDialog&)>& interact,
             bool* timedOut = nullptr, int watchdogMs = 10000);

// Runs `interact` on the next modal dialog that opens (for code that creates its own dialog),
// with the same watchdog. Call before the code that opens the dialog.
void onNextModal(const std::function<void(QDialog&)>& interact, int watchdogMs = 10000);

// Text-field helpers by object name; they fail the test when the control is missing.
class QLineEdit;
class QAbstractButton;
QLineEdit* lineEdit(QWidget& parent, const char* name);
QAbstractButton* button(QWidget& parent, const char* name);
