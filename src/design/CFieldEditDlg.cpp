#include "design/CFieldEditDlg.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "design/FieldChange.h"
#include "workspace/ColumnList.h"
#include "widgets/DialogControls.h"

namespace {

// One group of the dialog: a read-only current value and a box for the new one.
QGroupBox* changeGroup(QWidget* parent, const QString& title, const char* name,
                       const QString& currentLabel, QLineEdit* current, const QString& newLabel,
                       QLineEdit* next, QHBoxLayout* buttons)
{
    auto* group = new QGroupBox(title, parent);
    group->setObjectName(QLatin1String(name));
    auto* grid = new QGridLayout(group);
    grid->addWidget(new QLabel(currentLabel, group), 0, 0);
    grid->addWidget(current, 0, 1);
    grid->addWidget(new QLabel(newLabel, group), 1, 0);
    grid->addWidget(next, 1, 1);
    grid->addLayout(buttons, 2, 1);
    return group;
}

}  // namespace

CFieldEditDlg::CFieldEditDlg(Connection& conn, const ObjectName& table, const QString& column,
                             const QString& currentDefault, QWidget* parent)
    : QDialog(parent), m_conn(conn), m_table(table), m_column(column), m_default(currentDefault)
{
    setObjectName(QStringLiteral("fieldEditDlg"));
    setWindowTitle(QStringLiteral("フィールド変更"));

    m_currentName = NamedBox(this, "currentFieldBox", true);
    m_currentName->setText(m_column);
    m_newName = NamedBox(this, "newFieldBox", false);
    m_currentDefault = NamedBox(this, "currentDefaultBox", true);
    m_currentDefault->setText(m_default);
    m_newDefault = NamedBox(this, "newDefaultBox", false);

    QPushButton* rename = NamedButton(this, QStringLiteral("変更"), "renameButton");
    QPushButton* setDefault = NamedButton(this, QStringLiteral("変更"), "setDefaultButton");
    QPushButton* drop = NamedButton(this, QStringLiteral("削除"), "dropDefaultButton");
    QPushButton* cancel = NamedButton(this, QStringLiteral("ｷｬﾝｾﾙ"), "cancelButton");
    // Present but never shown.
    QPushButton* ok = NamedButton(this, QStringLiteral("OK"), "okButton");
    ok->hide();

    auto* renameButtons = new QHBoxLayout;
    renameButtons->addStretch();
    renameButtons->addWidget(rename);
    auto* defaultButtons = new QHBoxLayout;
    defaultButtons->addStretch();
    defaultButtons->addWidget(setDefault);
    defaultButtons->addWidget(drop);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(ok);
    bottom->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(changeGroup(this, QStringLiteral("フィールド名変更"), "renameGroup",
                                  QStringLiteral("現在のフィールド名"), m_currentName,
                                  QStringLiteral("新しいフィールド名"), m_newName, renameButtons));
    layout->addWidget(changeGroup(this, QStringLiteral("デフォルト値変更"), "defaultGroup",
                                  QStringLiteral("現在のデフォルト値"), m_currentDefault,
                                  QStringLiteral("新しいデフォルト値"), m_newDefault, defaultButtons));
    layout->addLayout(bottom);

    connect(rename, &QPushButton::clicked, this, &CFieldEditDlg::renameColumn);
    connect(setDefault, &QPushButton::clicked, this, &CFieldEditDlg::setDefault);
    connect(drop, &QPushButton::clicked, this, &CFieldEditDlg::dropDefault);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

void CFieldEditDlg::renameColumn()
{
    if (const std::optional<QString> renamed = RenameColumn(m_conn, m_table, m_column, m_newName->text())) {
        m_column = *renamed;
        m_currentName->setText(m_column);
    }
}

void CFieldEditDlg::setDefault()
{
    const QString value = m_newDefault->text();
    if (SetColumnDefault(m_conn, m_table, m_column, value)) {
        m_default = ShownLiteralDefault(value);  // as the server now shows it
        m_currentDefault->setText(m_default);
    }
}

void CFieldEditDlg::dropDefault()
{
    if (DropColumnDefault(m_conn, m_table, m_column)) {
        m_default.clear();
        m_currentDefault->clear();
    }
}
