#include "accounts/CUserEditDlg.h"

#include <QCalendarWidget>
#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "accounts/CGroupCreateDlg.h"
#include "accounts/GroupIconList.h"
#include "widgets/DialogControls.h"

CUserEditDlg::CUserEditDlg(Connection& conn, const QString& userName, QWidget* parent)
    : QDialog(parent), m_conn(conn), m_userName(userName)
{
    setObjectName(QStringLiteral("userEditDlg"));
    setWindowTitle(QStringLiteral("ユーザ変更"));

    m_nameBox = NamedBox(this, "userNameBox", true);
    m_sysIdBox = NamedBox(this, "sysIdBox", true);
    m_password = NamedBox(this, "passwordEdit", false);
    m_confirmation = NamedBox(this, "confirmEdit", false);
    m_password->setEchoMode(QLineEdit::Password);
    m_confirmation->setEchoMode(QLineEdit::Password);
    m_update = NamedButton(this, QStringLiteral("更新"), "updateButton");
    m_update->setDefault(true);
    QPushButton* cancel = NamedButton(this, QStringLiteral("ｷｬﾝｾﾙ"), "cancelButton");
    auto check = [this](const QString& label, const char* name) {
        auto* c = new QCheckBox(label, this);
        c->setObjectName(QLatin1String(name));
        return c;
    };
    m_createDb = check(QStringLiteral("新規データベース作成の権限"), "createDbCheck");
    m_superUser = check(QStringLiteral("スーパーユーザ(ユーザ作成）"), "superUserCheck");
    m_catalogue = check(QStringLiteral("カタログ修正"), "catalogueCheck");
    m_trace = check(QStringLiteral("トレース可能"), "traceCheck");
    // The server has no catalogue-update right any more; the box only shows that.
    m_catalogue->setEnabled(false);
    m_trace->setEnabled(false);
    m_memberOf = new GroupIconList(this, "memberOfList");
    m_others = new GroupIconList(this, "otherGroupsList");
    QPushButton* groupCreate = NamedButton(this, QStringLiteral("グループ作成"), "groupCreateButton");
    m_calendar = new QCalendarWidget(this);
    m_calendar->setObjectName(QStringLiteral("expiryCalendar"));

    auto* layout = new QGridLayout(this);
    const std::pair<const char16_t*, QLineEdit*> rows[] = {{u"ユーザ名", m_nameBox},
                                                           {u"システムID", m_sysIdBox},
                                                           {u"パスワード", m_password},
                                                           {u"確認", m_confirmation}};
    for (int r = 0; r < 4; ++r) {
        layout->addWidget(new QLabel(QString::fromUtf16(rows[r].first), this), r, 0);
        layout->addWidget(rows[r].second, r, 1);
    }
    layout->addWidget(m_update, 0, 2);
    layout->addWidget(cancel, 1, 2);
    auto* checks = new QGridLayout;
    checks->addWidget(m_createDb, 0, 0);
    checks->addWidget(m_superUser, 0, 1);
    checks->addWidget(m_catalogue, 1, 0);
    checks->addWidget(m_trace, 1, 1);
    layout->addLayout(checks, 4, 0, 1, 3);
    layout->addWidget(new QLabel(QStringLiteral("グループの選択"), this), 5, 0);
    auto* groups = new QGridLayout;
    groups->addWidget(new QLabel(QStringLiteral("現在選択されているグループ"), this), 0, 0);
    groups->addWidget(new QLabel(QStringLiteral("グループ一覧（選択可能なグループ）"), this), 0, 1);
    groups->addWidget(m_memberOf, 1, 0);
    groups->addWidget(m_others, 1, 1);
    groups->addWidget(groupCreate, 2, 1, Qt::AlignRight);
    layout->addLayout(groups, 6, 0, 1, 3);
    layout->addWidget(
        new QLabel(QStringLiteral("有効期間の設定 (時間設定はできません　デフォルト 00:00:00）"), this),
        7, 0, 1, 3);
    layout->addWidget(m_calendar, 8, 0, 1, 3);

    connect(m_update, &QPushButton::clicked, this, &CUserEditDlg::update);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_createDb, &QCheckBox::clicked, this, [this] { markChanged(m_marks.createDb); });
    connect(m_superUser, &QCheckBox::clicked, this, [this] { markChanged(m_marks.superUser); });
    connect(m_catalogue, &QCheckBox::clicked, this, [this] { markChanged(m_marks.catalogueUpdate); });
    connect(m_calendar, &QCalendarWidget::selectionChanged, this, [this] {
        if (!m_loading) markChanged(m_marks.expiry);
    });
    // Typing marks the password but leaves "更新" as it is.
    for (QLineEdit* box : {m_password, m_confirmation})
        connect(box, &QLineEdit::textEdited, this, [this] { m_marks.password = true; });
    connect(m_others, &GroupIconList::groupDoubleClicked, this,
            [this](const QString& g) { changeGroup(g, true); });
    connect(m_memberOf, &GroupIconList::groupDoubleClicked, this,
            [this](const QString& g) { changeGroup(g, false); });
    connect(groupCreate, &QPushButton::clicked, this, &CUserEditDlg::createGroup);

    m_update->setEnabled(false);
    loadUser();
}

void CUserEditDlg::loadUser()
{
    m_loading = true;
    m_nameBox->setText(m_userName);
    const UserRecord u = LoadUserRecord(m_conn, m_userName);
    if (u.found) {
        m_sysId = u.sysId;
        m_sysIdBox->setText(u.sysId);
        m_password->setText(u.password);
        m_confirmation->setText(u.password);
        // What was typed is gone from the fields: the mask shown now is never sent.
        m_marks.password = false;
        m_createDb->setChecked(u.createDb);
        m_superUser->setChecked(u.superUser);
        m_catalogue->setChecked(u.catalogueUpdate);
        m_trace->setChecked(u.trace);
        if (u.expiry) m_calendar->setSelectedDate(*u.expiry);
        loadGroups();
    }
    m_loading = false;
}

void CUserEditDlg::loadGroups()
{
    const GroupMembership g = LoadGroupMembership(m_conn, m_sysId);
    m_memberOf->setGroups(g.memberOf);
    m_others->setGroups(g.others);
}

void CUserEditDlg::markChanged(bool& mark)
{
    mark = true;
    m_update->setEnabled(true);
}

void CUserEditDlg::update()
{
    UserEdits e;
    e.createDb = m_createDb->isChecked();
    e.superUser = m_superUser->isChecked();
    e.catalogueUpdate = m_catalogue->isChecked();
    e.expiry = m_calendar->selectedDate();
    e.password = m_password->text();
    e.confirmation = m_confirmation->text();
    UpdateUser(m_conn, m_userName, m_marks, e, [this] { loadUser(); });
    m_update->setEnabled(false);
}

void CUserEditDlg::changeGroup(const QString& group, bool add)
{
    ChangeGroupMembership(m_conn, group, m_userName, add, [this] { loadUser(); },
                          [this] { loadGroups(); });
}

void CUserEditDlg::createGroup()
{
    CGroupCreateDlg dlg(m_conn, this);
    if (dlg.exec() == QDialog::Accepted) loadGroups();
}
