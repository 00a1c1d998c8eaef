#include "widgets/ResultList.h"

#include <QHeaderView>

#include <algorithm>

ResultList::ResultList(QWidget* parent) : QTableView(parent), m_model(new ResultModel(this))
{
    setModel(m_model);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    setMouseTracking(true);
    setWordWrap(false);
    setSortingEnabled(false);
    horizontalHeader()->setDefaultSectionSize(100);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    verticalHeader()->setVisible(false);
    // Fixed row heights: the view then never measures a row, which keeps long pages instant.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
}

void ResultList::showResult(Result result, ResultModel::CellTranslator translator)
{
    m_model->setResult(std::move(result), std::move(translator));
}

void ResultList::clearList() { m_model->clear(); }

std::vector<int> ResultList::selectedRowIndexes() const
{
    std::vector<int> rows;
    if (!selectionModel()) return rows;
    for (const QModelIndex& i : selectionModel()->selectedRows()) rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void FillListFromResult(ResultList* list, Result result, ResultModel::CellTranslator translator)
{
    list->showResult(std::move(result), std::move(translator));
}
