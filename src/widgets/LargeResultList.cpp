#include "widgets/LargeResultList.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <climits>

namespace {
// Viewport heights of rows far from the top, kept inside int.
int clampToInt(qint64 v) { return int(std::clamp<qint64>(v, INT_MIN / 2, INT_MAX / 2)); }
}  // namespace

LargeResultList::LargeResultList(QWidget* parent)
    : QAbstractItemView(parent), m_header(new QHeaderView(Qt::Horizontal, this))
{
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setMouseTracking(true);
    viewport()->setMouseTracking(true);
    m_rowHeight = fontMetrics().height() + 6;
    m_header->setDefaultSectionSize(100);
    m_header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_header->setHighlightSections(false);
    m_header->setSectionResizeMode(QHeaderView::Interactive);
    m_header->setSectionsClickable(false);
    connect(m_header, &QHeaderView::sectionResized, this, [this] {
        updateGeometries();
        viewport()->update();
    });
    connect(m_header, &QHeaderView::sectionCountChanged, this, [this] { updateGeometries(); });
    verticalScrollBar()->setSingleStep(1);
    horizontalScrollBar()->setSingleStep(20);
}

void LargeResultList::setModel(QAbstractItemModel* model)
{
    QAbstractItemView::setModel(model);
    m_header->setModel(model);
    m_hoverRow = -1;
    updateGeometries();
}

int LargeResultList::rowCount() const { return model() ? model()->rowCount(rootIndex()) : 0; }

int LargeResultList::topRow() const { return verticalScrollBar()->value(); }

int LargeResultList::fullRows() const { return std::max(1, viewport()->height() / m_rowHeight); }

qint64 LargeResultList::rowAtY(int y) const
{
    // Rounded down, so a height above the viewport names a row above the first on show.
    const qint64 steps = y >= 0 ? y / m_rowHeight : -((qint64(-y) + m_rowHeight - 1) / m_rowHeight);
    return topRow() + steps;
}

QRect LargeResultList::visualRect(const QModelIndex& index) const
{
    if (!index.isValid() || index.parent() != rootIndex()) return {};
    const int y = clampToInt((qint64(index.row()) - topRow()) * m_rowHeight);
    return QRect(m_header->sectionViewportPosition(index.column()), y,
                 m_header->sectionSize(index.column()), m_rowHeight);
}

QModelIndex LargeResultList::indexAt(const QPoint& point) const
{
    const qint64 row = rowAtY(point.y());
    const int column = m_header->logicalIndexAt(point.x());
    if (row < 0 || row >= rowCount() || column < 0) return {};
    return model()->index(int(row), column, rootIndex());
}

void LargeResultList::scrollTo(const QModelIndex& index, ScrollHint hint)
{
    if (!index.isValid()) return;
    const int row = index.row(), full = fullRows();
    int top = topRow();
    switch (hint) {
    case PositionAtTop:
        top = row;
        break;
    case PositionAtBottom:
        top = row - full + 1;
        break;
    case PositionAtCenter:
        top = row - full / 2;
        break;
    case EnsureVisible:
        if (row < top) top = row;
        else if (row >= top + full) top = row - full + 1;
        break;
    }
    verticalScrollBar()->setValue(top);

    const int x = m_header->sectionPosition(index.column());
    const int width = m_header->sectionSize(index.column());
    const int shown = viewport()->width();
    int left = horizontalScrollBar()->value();
    if (x < left) left = x;
    else if (x + width > left + shown) left = std::min(x, x + width - shown);
    horizontalScrollBar()->setValue(left);
}

QModelIndex LargeResultList::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers)
{
    const int rows = rowCount();
    const int columns = model() ? model()->columnCount(rootIndex()) : 0;
    if (rows == 0 || columns == 0) return {};
    const QModelIndex current = currentIndex();
    qint64 row = current.isValid() ? current.row() : 0;
    int column = current.isValid() ? current.column() : 0;
    const bool control = modifiers & Qt::ControlModifier;
    switch (action) {
    case MoveUp:
        --row;
        break;
    case MoveDown:
        ++row;
        break;
    case MoveLeft:
    case MovePrevious:
        --column;
        break;
    case MoveRight:
    case MoveNext:
        ++column;
        break;
    case MovePageUp:
        row -= fullRows();
        break;
    case MovePageDown:
        row += fullRows();
        break;
    case MoveHome:
        column = 0;
        if (control) row = 0;
        break;
    case MoveEnd:
        column = columns - 1;
        if (control) row = rows - 1;
        break;
    }
    return model()->index(int(std::clamp<qint64>(row, 0, rows - 1)), std::clamp(column, 0, columns - 1),
                          rootIndex());
}

int LargeResultList::horizontalOffset() const { return horizontalScrollBar()->value(); }

int LargeResultList::verticalOffset() const { return clampToInt(qint64(topRow()) * m_rowHeight); }

void LargeResultList::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command)
{
    const int rows = rowCount();
    const int columns = model() ? model()->columnCount(rootIndex()) : 0;
    const QRect r = rect.normalized();
    const qint64 first = std::max<qint64>(rowAtY(r.top()), 0);
    const qint64 last = std::min<qint64>(rowAtY(r.bottom()), rows - 1);
    QItemSelection selection;
    if (columns > 0 && first <= last)
        selection.select(model()->index(int(first), 0, rootIndex()),
                         model()->index(int(last), columns - 1, rootIndex()));
    selectionModel()->select(selection, command);
}

QRegion LargeResultList::visualRegionForSelection(const QItemSelection& selection) const
{
    QRegion region;
    const int top = topRow();
    const int bottom = top + fullRows();  // the row partly on show included
    for (const QItemSelectionRange& range : selection) {
        if (range.parent() != rootIndex()) continue;
        const int first = std::max(range.top(), top), last = std::min(range.bottom(), bottom);
        if (first > last) continue;
        const int left = m_header->sectionViewportPosition(range.left());
        const int right = m_header->sectionViewportPosition(range.right()) +
                          m_header->sectionSize(range.right());
        region += QRect(left, (first - top) * m_rowHeight, right - left,
                        (last - first + 1) * m_rowHeight);
    }
    return region;
}

void LargeResultList::updateGeometries()
{
    const int headerHeight = m_header->isHidden() ? 0 : m_header->sizeHint().height();
    setViewportMargins(0, headerHeight, 0, 0);
    const QRect shown = viewport()->geometry();
    m_header->setGeometry(shown.left(), shown.top() - headerHeight, shown.width(), headerHeight);

    const int full = fullRows();
    verticalScrollBar()->setPageStep(full);
    verticalScrollBar()->setRange(0, std::max(0, rowCount() - full));
    horizontalScrollBar()->setPageStep(shown.width());
    horizontalScrollBar()->setRange(0, std::max(0, m_header->length() - shown.width()));
    m_header->setOffset(horizontalScrollBar()->value());
    QAbstractItemView::updateGeometries();
}

void LargeResultList::scrollContentsBy(int dx, int)
{
    if (dx) m_header->setOffset(horizontalScrollBar()->value());
    viewport()->update();
}

void LargeResultList::rowsInserted(const QModelIndex& parent, int start, int end)
{
    QAbstractItemView::rowsInserted(parent, start, end);
    updateGeometries();
    if (start <= topRow() + fullRows()) viewport()->update();
}

void LargeResultList::reset()
{
    QAbstractItemView::reset();
    m_hoverRow = -1;
    verticalScrollBar()->setValue(0);
    updateGeometries();
    viewport()->update();
}

void LargeResultList::updateRow(int row)
{
    if (row < 0) return;
    const qint64 y = (qint64(row) - topRow()) * m_rowHeight;
    if (y + m_rowHeight < 0 || y > viewport()->height()) return;
    viewport()->update(QRect(0, int(y), viewport()->width(), m_rowHeight));
}

void LargeResultList::setHoverRow(int row)
{
    if (row == m_hoverRow) return;
    updateRow(m_hoverRow);
    m_hoverRow = row;
    updateRow(m_hoverRow);
}

void LargeResultList::mouseMoveEvent(QMouseEvent* event)
{
    const QModelIndex under = indexAt(event->position().toPoint());
    setHoverRow(under.isValid() ? under.row() : -1);
    QAbstractItemView::mouseMoveEvent(event);
}

bool LargeResultList::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::Leave) setHoverRow(-1);
    return QAbstractItemView::viewportEvent(event);
}

void LargeResultList::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    const int rows = rowCount();
    const int columns = model() ? model()->columnCount(rootIndex()) : 0;
    if (rows == 0 || columns == 0) return;

    QStyleOptionViewItem base;
    initViewItemOption(&base);
    const QRect area = event->rect();
    const int top = topRow();
    const int first = top + std::max(0, area.top() / m_rowHeight);
    const int last = int(std::min<qint64>(rows - 1, qint64(top) + area.bottom() / m_rowHeight));
    int firstColumn = m_header->visualIndexAt(area.left());
    int lastColumn = m_header->visualIndexAt(area.right());
    if (firstColumn < 0) firstColumn = 0;
    if (lastColumn < 0) lastColumn = m_header->count() - 1;

    const QModelIndex current = currentIndex();
    const QItemSelectionModel* selection = selectionModel();
    const QColor grid = QColor::fromRgba(
        QRgb(style()->styleHint(QStyle::SH_Table_GridLineColor, &base, this)));
    QColor hover = palette().color(QPalette::Highlight);
    hover.setAlpha(40);
    const int right = m_header->sectionViewportPosition(m_header->logicalIndex(lastColumn)) +
                      m_header->sectionSize(m_header->logicalIndex(lastColumn));

    for (int row = first; row <= last; ++row) {
        const int y = (row - top) * m_rowHeight;
        if (row == m_hoverRow) painter.fillRect(QRect(0, y, right, m_rowHeight), hover);
        for (int v = firstColumn; v <= lastColumn; ++v) {
            const int column = m_header->logicalIndex(v);
            if (m_header->isSectionHidden(column)) continue;
            const QModelIndex index = model()->index(row, column, rootIndex());
            QStyleOptionViewItem option = base;
            option.rect = QRect(m_header->sectionViewportPosition(column), y,
                                m_header->sectionSize(column) - 1, m_rowHeight - 1);
            if (selection && selection->isSelected(index)) option.state |= QStyle::State_Selected;
            if (row == m_hoverRow) option.state |= QStyle::State_MouseOver;
            if (index == current && hasFocus()) option.state |= QStyle::State_HasFocus;
            itemDelegateForIndex(index)->paint(&painter, option, index);
        }
    }
    // Grid lines below and right of every cell on show.
    painter.setPen(grid);
    const int bottom = (last - top + 1) * m_rowHeight;
    for (int row = first; row <= last; ++row) {
        const int y = (row - top + 1) * m_rowHeight - 1;
        painter.drawLine(0, y, right - 1, y);
    }
    for (int v = firstColumn; v <= lastColumn; ++v) {
        const int column = m_header->logicalIndex(v);
        if (m_header->isSectionHidden(column)) continue;
        const int x = m_header->sectionViewportPosition(column) + m_header->sectionSize(column) - 1;
        painter.drawLine(x, (first - top) * m_rowHeight, x, bottom - 1);
    }
}
