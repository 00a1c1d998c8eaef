#include "transfer/CSequenceInfoDlg.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "transfer/SequenceDetail.h"
#include "widgets/DialogControls.h"

CSequenceInfoDlg::CSequenceInfoDlg(Connection& conn, const ObjectName& sequence, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("sequenceInfoDlg"));
    setWindowTitle(QStringLiteral("シーケンス明細"));

    const SequenceDetail detail = LoadSequenceDetail(conn, sequence);
    auto* grid = new QGridLayout;
    QLineEdit* nameBox = NamedBox(this, "sequenceNameBox", true);
    nameBox->setText(sequence.caption());
    FitBoxToText(nameBox);
    grid->addWidget(new QLabel(QStringLiteral("シーケンス名"), this), 0, 0);
    grid->addWidget(nameBox, 0, 1);
    const char* names[] = {"lastValueBox", "incrementBox", "maxValueBox",
                           "minValueBox",  "cacheBox",     "logCountBox"};
    const char16_t* labels[] = {u"現在の値", u"増分値", u"最大値", u"最小値", u"キャッシュ", u"ログカウント"};
    for (int i = 0; i < 6; ++i) {
        QLineEdit* box = NamedBox(this, names[i], true);
        box->setAlignment(Qt::AlignRight);
        box->setText(detail.values[size_t(i)]);
        FitBoxToText(box);
        grid->addWidget(new QLabel(QString::fromUtf16(labels[i]), this), i + 1, 0);
        grid->addWidget(box, i + 1, 1);
    }
    QPushButton* ok = NamedButton(this, QStringLiteral("OK"), "okButton");
    ok->setDefault(true);
    QPushButton* cancel = NamedButton(this, QStringLiteral("ｷｬﾝｾﾙ"), "cancelButton");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);

    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}
