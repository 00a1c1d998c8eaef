#include "widgets/DialogControls.h"

#include <QGuiApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTableWidget>

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

void ShowName(QLineEdit* box, const QString& name)
{
    box->setText(name);
    box->setToolTip(name);
    const QScreen* screen = box->screen() ? box->screen() : QGuiApplication::primaryScreen();
    const int limit = screen ? screen->availableGeometry().width() / 2 : 640;
    FitBoxToText(box);
    if (box->minimumWidth() > limit) box->setMinimumWidth(limit);
    // A line edit keeps its cursor after the text, which scrolls a text wider than the box
    // to its end.
    box->setCursorPosition(0);
}

void ReserveBoxWidth(QLineEdit* box, const QString& widest)
{
    const QString shown = box->text();
    box->setText(widest);
    FitBoxToText(box);
    box->setText(shown);
}

void WidenColumnsToContents(QTableWidget* list)
{
    QHeaderView* header = list->horizontalHeader();
    const QAbstractItemView* view = list;  // the size hint is public there
    for (int c = 0; c < list->columnCount(); ++c) {
        const int wanted = qMax(view->sizeHintForColumn(c), header->sectionSizeHint(c));
        if (wanted > list->columnWidth(c)) list->setColumnWidth(c, wanted);
    }
}
