#include "accounts/CDatabaseCreateDlg.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "accounts/AccountStatements.h"
#include "widgets/DialogControls.h"

CDatabaseCreateDlg::CDatabaseCreateDlg(Connection& conn, QWidget* parent)
    : QDialog(parent), m_conn(conn)
{
    setObjectName(QStringLiteral("databaseCreateDlg"));
    setWindowTitle(QStringLiteral("新規データベースの作成"));
    m_name = NamedBox(this, "databaseNameEdit", false);
    QPushButton* create = NamedButton(this, QStringLiteral("作成"), "createButton");
    create->setDefault(true);
    QPushButton* cancel = NamedButton(this, QStringLiteral("ｷｬﾝｾﾙ"), "cancelButton");

    auto* layout = new QGridLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("作成するデータベース名"), this), 0, 0);
    layout->addWidget(m_name, 1, 0);
    layout->addWidget(create, 0, 1);
    layout->addWidget(cancel, 1, 1);

    connect(create, &QPushButton::clicked, this, [this] {
        if (CreateDatabase(m_conn, m_name->text())) accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}
