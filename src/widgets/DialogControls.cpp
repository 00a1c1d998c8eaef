#include "widgets/DialogControls.h"

#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

QLineEdit* NamedBox(QWidget* parent, const char* name, bool readOnly)
{
    auto* box = new QLineEdit(parent);
    box->setObjectName(QLatin1String(name));
    box->setReadOnly(readOnly);
    return box;
}

QPushButton* NamedButton(QWidget* parent, const QString& label, const char* name)
{
    auto* b = new QPushButton(label, parent);
    b->setObjectName(QLatin1String(name));
    b->setAutoDefault(false);
    return b;
}

void FitBoxToText(QLineEdit* box)
{
    // The text, the box's margins, its frame on both sides, the cursor and the line edit's own
    // two-pixel inner margin on each side, with a character to spare.
    const QFontMetrics metrics = box->fontMetrics();
    const QMargins margins = box->textMargins();
    const int frame = box->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, box);
    const int width = metrics.horizontalAdvance(box->text()) + margins.left() + margins.right() +
                      2 * frame + 4 + 2 + metrics.averageCharWidth();
    if (width > box->minimumWidth()) box->setMinimumWidth(width);
}

void ReserveBoxWidth(QLineEdit* box, const QString& widest)
{
    const QString shown = box->text();
    box->setText(widest);
    FitBoxToText(box);
    box->setText(shown);
}
