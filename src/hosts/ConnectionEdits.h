#pragma once

#include <QString>

#include "hosts/HostEntry.h"
#include "workspace/Connection.h"

class QBoxLayout;
class QDialog;
class QFormLayout;
class QLineEdit;
class QPushButton;
class QWidget;

// The seven connection fields shared by the login and host dialogs, in the forms' order.
struct ConnectionEdits {
    QLineEdit* user = nullptr;
    QLineEdit* password = nullptr;
    QLineEdit* host = nullptr;
    QLineEdit* database = nullptr;
    QLineEdit* port = nullptr;
    QLineEdit* options = nullptr;
    QLineEdit* tty = nullptr;

    static ConnectionEdits addTo(QFormLayout& form, QWidget* owner);

    void show(const HostEntry& entry);
    // The seven values into `entry`; its display name is left alone.
    void readInto(HostEntry& entry) const;
    LoginParameters parameters() const;
};

QLineEdit* AddFormField(QFormLayout& form, QWidget* owner, const QString& label,
                        const QString& objectName);

// Adds to the right end of `row` a column of "OK" (the default button) and "ｷｬﾝｾﾙ" (rejects
// the dialog), as every dialog of the login has them; returns OK.
QPushButton* AddOkCancelColumn(QDialog& dialog, QBoxLayout& row);
