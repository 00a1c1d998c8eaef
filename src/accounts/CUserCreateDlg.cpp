#include "accounts/CUserCreateDlg.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTimeEdit>
#include <QVBoxLayout>

#include "accounts/AccountStatements.h"
#include "widgets/DialogControls.h"

namespace {

QCheckBox* namedCheck(QWidget* parent, const QString& label, const char* name)
{
    auto* c = new QCheckBox(label, parent);
    c->setObjectName(QLatin1String(name));
    return c;
}

}  // namespace

CUserCreateDlg::CUserCreateDlg(Connection& conn, QWidget* parent) : QDialog(parent), m_conn(conn)
{
    setObjectName(QStringLiteral("userCreateDlg"));
    setWindowTitle(QStringLiteral("ユーザ登録"));

    m_userName = NamedBox(this, "userNameEdit", false);
    m_password = NamedBox(this, "passwordEdit", false);
    m_confirmation = NamedBox(this, "confirmEdit", false);
    m_password->setEchoMode(QLineEdit::Password);
    m_confirmation->setEchoMode(QLineEdit::Password);
    QPushButton* create = NamedButton(this, QStringLiteral("作成"), "createButton");
    create->setDefault(true);
    QPushButton* cancel = NamedButton(this, QStringLiteral("ｷｬﾝｾﾙ"), "cancelButton");

    auto* settings = new QGroupBox(QStringLiteral("詳細設定"), this);
    m_createDb = namedCheck(settings, QStringLiteral("データベース作成を許可"), "createDbCheck");
    m_createUser = namedCheck(settings, QStringLiteral("ユーザ作成を許可"), "createUserCheck");
    m_trace = namedCheck(settings, QStringLiteral("トレースを許可"), "traceCheck");
    m_trace->setEnabled(false);
    QPushButton* allowAll = NamedButton(settings, QStringLiteral("すべて許可"), "allowAllButton");
    QPushButton* ordinary = NamedButton(settings, QStringLiteral("一般ユーザ"), "ordinaryButton");
    m_expiry = namedCheck(settings, QStringLiteral("有効期間"), "expiryCheck");
    const QDateTime now = QDateTime::currentDateTime();
    m_date = new QDateEdit(now.date(), settings);
    m_date->setObjectName(QStringLiteral("expiryDate"));
    m_date->setDisplayFormat(QLocale().dateFormat(QLocale::LongFormat));
    m_date->setCalendarPopup(true);
    m_time = new QTimeEdit(now.time(), settings);
    m_time->setObjectName(QStringLiteral("expiryTime"));
    m_time->setDisplayFormat(QStringLiteral("HH:mm:ss"));

    auto* fields = new QGridLayout;
    const std::pair<const char16_t*, QLineEdit*> rows[] = {
        {u"ユーザ名", m_userName}, {u"パスワード", m_password}, {u"確認", m_confirmation}};
    for (int r = 0; r < 3; ++r) {
        fields->addWidget(new QLabel(QString::fromUtf16(rows[r].first), this), r, 0);
        fields->addWidget(rows[r].second, r, 1);
    }
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(create);
    buttons->addWidget(cancel);
    buttons->addStretch();
    auto* top = new QHBoxLayout;
    top->addLayout(fields, 1);
    top->addLayout(buttons);

    auto* inner = new QGridLayout(settings);
    inner->addWidget(m_createDb, 0, 0);
    inner->addWidget(allowAll, 0, 1);
    inner->addWidget(m_createUser, 1, 0);
    inner->addWidget(ordinary, 1, 1);
    inner->addWidget(m_trace, 2, 0);
    inner->addWidget(m_expiry, 3, 0);
    inner->addWidget(m_date, 3, 1);
    inner->addWidget(m_time, 4, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(settings);

    connect(allowAll, &QPushButton::clicked, this, [this] { setAll(true); });
    connect(ordinary, &QPushButton::clicked, this, [this] { setAll(false); });
    connect(create, &QPushButton::clicked, this, &CUserCreateDlg::create);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CUserCreateDlg::setAll(bool on)
{
    for (QCheckBox* c : {m_createDb, m_createUser, m_expiry, m_trace}) c->setChecked(on);
}

void CUserCreateDlg::create()
{
    UserRegistration r;
    r.userName = m_userName->text();
    r.password = m_password->text();
    r.confirmation = m_confirmation->text();
    r.createDb = m_createDb->isChecked();
    r.superUser = m_createUser->isChecked();
    if (m_expiry->isChecked()) r.expiry = QDateTime(m_date->date(), m_time->time());
    if (RegisterUser(m_conn, r)) accept();
}
