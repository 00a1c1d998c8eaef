#include "accounts/CGroupCreateDlg.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "accounts/AccountStatements.h"
#include "accounts/GroupIconList.h"
#include "widgets/DialogControls.h"

CGroupCreateDlg::CGroupCreateDlg(Connection& conn, QWidget* parent)
    : QDialog(parent), m_conn(conn)
{
    setObjectName(QStringLiteral("groupCreateDlg"));
    setWindowTitle(QStringLiteral("新規グループ作成"));
    m_groups = new GroupIconList(this, "groupList");
    m_name = NamedBox(this, "groupNameEdit", false);
    m_create = NamedButton(this, QStringLiteral("作成"), "createButton");
    m_create->setDefault(true);
    QPushButton* cancel = NamedButton(this, QStringLiteral("ｷｬﾝｾﾙ"), "cancelButton");

    auto* layout = new QGridLayout(this);
    layout->addWidget(m_groups, 0, 0, 1, 2);
    layout->addWidget(new QLabel(QStringLiteral("新規グループ名"), this), 1, 0);
    layout->addWidget(m_name, 1, 1);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(m_create);
    buttons->addWidget(cancel);
    buttons->addStretch();
    layout->addLayout(buttons, 0, 2, 2, 1);
    resize(420, 300);

    connect(m_name, &QLineEdit::textChanged, this, [this] { m_create->setEnabled(true); });
    connect(m_groups, &GroupIconList::groupDoubleClicked, m_name, &QLineEdit::setText);
    connect(m_create, &QPushButton::clicked, this, [this] {
        if (CreateGroup(m_conn, m_name->text())) accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    m_groups->setGroups(LoadGroupNames(m_conn));
    m_create->setEnabled(false);
}
