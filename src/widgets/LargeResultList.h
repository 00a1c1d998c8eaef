#pragma once

#include <QAbstractItemView>

class QHeaderView;

// A report-style list for a result of any length: headings are the field names, every column
// 100 pixels wide and left aligned, grid lines, whole-row selection, the row under the pointer
// highlighted. Every row has the same height, so a row's place is found by arithmetic and the
// list costs the same for ten rows as for thirty million (a table view keeps a record of every
// row in its vertical header). The vertical scroll bar counts rows; the model is read only for
// the rows on show.
class LargeResultList : public QAbstractItemView {
    Q_OBJECT
public:
    explicit LargeResultList(QWidget* parent = nullptr);

    void setModel(QAbstractItemModel* model) override;
    QHeaderView* header() const { return m_header; }
    int rowHeight() const { return m_rowHeight; }
    // The first row on show.
    int topRow() const;

    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;
    // Typing does not search: a search would read every row of a long result.
    void keyboardSearch(const QString&) override {}

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex&) const override { return false; }
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void rowsInserted(const QModelIndex& parent, int start, int end) override;
    void reset() override;

private:
    int rowCount() const;
    // Rows that fit whole in the viewport (at least one).
    int fullRows() const;
    // The row at a height of the viewport, which may lie above or below the rows.
    qint64 rowAtY(int y) const;
    void setHoverRow(int row);
    void updateRow(int row);

    QHeaderView* m_header;
    int m_rowHeight;
    int m_hoverRow = -1;
};
