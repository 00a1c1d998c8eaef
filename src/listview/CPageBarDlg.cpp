#include "listview/CPageBarDlg.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "listview/Listings.h"
#include "widgets/DialogControls.h"

CPageBarDlg::CPageBarDlg(int pageIndex, int pageLength, QWidget* parent)
    : QDialog(parent), m_pageIndex(pageIndex), m_pageLength(pageLength)
{
    setObjectName(QStringLiteral("pageBarDlg"));
    setWindowTitle(QString());

    m_pageBox = NamedBox(this, "pageBox", false);
    m_pageBox->setText(QString::number(m_pageIndex + 1));
    m_pageBox->setAlignment(Qt::AlignRight);
    m_pageLengthBox = NamedBox(this, "pageLengthBox", false);
    m_pageLengthBox->setText(QString::number(m_pageLength));

    QPushButton* up = NamedButton(this, QStringLiteral("↑"), "upButton");
    QPushButton* down = NamedButton(this, QStringLiteral("↓"), "downButton");
    QPushButton* ok = NamedButton(this, QStringLiteral("OK"), "okButton");
    ok->setDefault(true);
    QPushButton* cancel = NamedButton(this, QStringLiteral("ｷｬﾝｾﾙ"), "cancelButton");

    auto* grid = new QGridLayout(this);
    grid->addWidget(m_pageBox, 0, 0);
    grid->addWidget(new QLabel(QStringLiteral("／"), this), 0, 1);
    grid->addWidget(NamedBox(this, "pageCountBox", true), 0, 2);
    grid->addWidget(m_pageLengthBox, 0, 3);
    grid->addWidget(up, 0, 4);
    grid->addWidget(ok, 0, 5);
    grid->addWidget(NamedBox(this, "pageInfoBox", true), 1, 0, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("レコード数"), this), 1, 2, Qt::AlignRight);
    grid->addWidget(NamedBox(this, "recordCountBox", true), 1, 3);
    grid->addWidget(down, 1, 4);
    grid->addWidget(cancel, 1, 5);
    resize(390, 75);

    connect(up, &QPushButton::clicked, this, [this] { step(1); });
    connect(down, &QPushButton::clicked, this, [this] { step(-1); });
    connect(ok, &QPushButton::clicked, this, &CPageBarDlg::onOk);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CPageBarDlg::step(int by)
{
    // From the stored index, not the box: a number typed into the box is overwritten.
    m_pageIndex = by < 0 ? (m_pageIndex > 0 ? m_pageIndex - 1 : 0) : m_pageIndex + 1;
    m_pageBox->setText(QString::number(m_pageIndex + 1));
}

void CPageBarDlg::onOk()
{
    const PageChoice c = ReadPageBar(m_pageBox->text(), m_pageLengthBox->text());
    m_pageIndex = c.pageIndex;
    m_pageLength = c.pageLength;
    accept();
}
