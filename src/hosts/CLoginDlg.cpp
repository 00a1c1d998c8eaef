#include "hosts/CLoginDlg.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CLoginDlg::CLoginDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("loginDlg"));
    setWindowTitle(QStringLiteral("ログイン画面"));
    m_form = new QFormLayout;
    m_user = addField(QStringLiteral("ユーザ名"), QStringLiteral("userEdit"));
    m_password = addField(QStringLiteral("パスワード"), QStringLiteral("passwordEdit"));
    m_password->setEchoMode(QLineEdit::Password);
    m_host = addField(QStringLiteral("ホスト名"), QStringLiteral("hostEdit"));
    m_database = addField(QStringLiteral("データベース"), QStringLiteral("databaseEdit"));
    m_port = addField(QStringLiteral("ポート番号"), QStringLiteral("portEdit"));
    m_options = addField(QStringLiteral("オプション"), QStringLiteral("optionsEdit"));
    m_tty = addField(QStringLiteral("TTY"), QStringLiteral("ttyEdit"));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("okButton"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("ｷｬﾝｾﾙ"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addStretch();
    auto* top = new QHBoxLayout(this);
    top->addLayout(m_form, 1);
    top->addLayout(buttons);
}

QLineEdit* CLoginDlg::addField(const QString& label, const QString& name)
{
    auto* edit = new QLineEdit(this);
    edit->setObjectName(name);
    m_form->addRow(label, edit);
    return edit;
}

LoginParameters CLoginDlg::parameters() const
{
    return {m_user->text(),    m_password->text(), m_host->text(),    m_port->text(),
            m_options->text(), m_tty->text(),      m_database->text()};
}

std::optional<LoginParameters> CLoginDlg::run(QWidget* parent)
{
    CLoginDlg dlg(parent);
    if (dlg.exec() != QDialog::Accepted) return std::nullopt;
    return dlg.parameters();
}
