#include "design/CTableRenameDlg.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "design/FieldChange.h"
#include "widgets/DialogControls.h"

CTableRenameDlg::CTableRenameDlg(Connection& conn, const ObjectName& table, QWidget* parent)
    : QDialog(parent), m_conn(conn), m_table(table)
{
    setObjectName(QStringLiteral("tableRenameDlg"));
    setWindowTitle(QStringLiteral("テーブル名変更"));

    QLineEdit* current = NamedBox(this, "currentNameBox", true);
    ShowName(current, m_table.caption());
    m_newName = NamedBox(this, "newNameBox", false);
    QPushButton* ok = NamedButton(this, QStringLiteral("OK"), "okButton");
    ok->setDefault(true);
    QPushButton* cancel = NamedButton(this, QStringLiteral("ｷｬﾝｾﾙ"), "cancelButton");

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("現在のテーブル名"), this), 0, 0);
    grid->addWidget(current, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("↓　変更"), this), 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("新しいテーブル名"), this), 2, 0);
    grid->addWidget(m_newName, 2, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);

    connect(ok, &QPushButton::clicked, this, &CTableRenameDlg::rename);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CTableRenameDlg::rename()
{
    if (const std::optional<ObjectName> renamed = RenameTable(m_conn, m_table, m_newName->text())) {
        m_table = *renamed;
        accept();
    }
}
