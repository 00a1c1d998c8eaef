#include "hosts/ConnectionEdits.h"

#include <QBoxLayout>
#include <QDialog>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>

QLineEdit* AddFormField(QFormLayout& form, QWidget* owner, const QString& label,
                        const QString& objectName)
{
    auto* edit = new QLineEdit(owner);
    edit->setObjectName(objectName);
    form.addRow(label, edit);
    return edit;
}

ConnectionEdits ConnectionEdits::addTo(QFormLayout& form, QWidget* owner)
{
    ConnectionEdits e;
    e.user = AddFormField(form, owner, QStringLiteral("ユーザ名"), QStringLiteral("userEdit"));
    e.password =
        AddFormField(form, owner, QStringLiteral("パスワード"), QStringLiteral("passwordEdit"));
    e.password->setEchoMode(QLineEdit::Password);
    e.host = AddFormField(form, owner, QStringLiteral("ホスト名"), QStringLiteral("hostEdit"));
    e.database =
        AddFormField(form, owner, QStringLiteral("データベース"), QStringLiteral("databaseEdit"));
    e.port = AddFormField(form, owner, QStringLiteral("ポート番号"), QStringLiteral("portEdit"));
    e.port->setMaximumWidth(80);
    e.options =
        AddFormField(form, owner, QStringLiteral("オプション"), QStringLiteral("optionsEdit"));
    e.tty = AddFormField(form, owner, QStringLiteral("TTY"), QStringLiteral("ttyEdit"));
    return e;
}

void ConnectionEdits::show(const HostEntry& entry)
{
    host->setText(entry.host);
    port->setText(entry.port);
    password->setText(entry.password);
    database->setText(entry.database);
    user->setText(entry.user);
    options->setText(entry.options);
    tty->setText(entry.tty);
}

void ConnectionEdits::readInto(HostEntry& entry) const
{
    entry.host = host->text();
    entry.port = port->text();
    entry.password = password->text();
    entry.database = database->text();
    entry.user = user->text();
    entry.options = options->text();
    entry.tty = tty->text();
}

LoginParameters ConnectionEdits::parameters() const
{
    return {user->text(),    password->text(), host->text(),    port->text(),
            options->text(), tty->text(),      database->text()};
}

QPushButton* AddOkCancelColumn(QDialog& dialog, QBoxLayout& row)
{
    auto* column = new QVBoxLayout;
    auto* ok = new QPushButton(QStringLiteral("OK"), &dialog);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), &dialog);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    QObject::connect(cancel, &QPushButton::clicked, &dialog, &QDialog::reject);
    column->addWidget(ok);
    column->addWidget(cancel);
    column->addStretch();
    row.addLayout(column);
    return ok;
}
