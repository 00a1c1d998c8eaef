#pragma once

#include <QString>

class QLineEdit;
class QPushButton;
class QTableWidget;
class QWidget;

// Controls of the dialogs of every folder, named so that tests can find them.
QLineEdit* NamedBox(QWidget* parent, const char* name, bool readOnly);
// A push button that does not take Enter for itself; the dialog's default button does.
QPushButton* NamedButton(QWidget* parent, const QString& label, const char* name);
// Widens a box so that its whole text shows without scrolling (a long name, the largest bigint).
void FitBoxToText(QLineEdit* box);
// Shows a name in a read-only box from its start (never its end alone), the box widened to
// hold it whole up to half the screen's width; the whole name is also the box's tool tip.
void ShowName(QLineEdit* box, const QString& name);
// Widens a box, before it shows anything, so that `widest` would show whole (a record count's
// estimate of a table of billions of rows).
void ReserveBoxWidth(QLineEdit* box, const QString& widest);
// Widens each column of a report list to its content and heading where they need more than
// the column has; the operator can still narrow a column by hand.
void WidenColumnsToContents(QTableWidget* list);
