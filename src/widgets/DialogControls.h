#pragma once

#include <QString>

class QLineEdit;
class QPushButton;
class QWidget;

// Controls of the dialogs of every folder, named so that tests can find them.
QLineEdit* NamedBox(QWidget* parent, const char* name, bool readOnly);
// A push button that does not take Enter for itself; the dialog's default button does.
QPushButton* NamedButton(QWidget* parent, const QString& label, const char* name);
// Widens a box so that its whole text shows without scrolling (a long name, the largest bigint).
void FitBoxToText(QLineEdit* box);
