#pragma once

#include <QTableView>

#include "workspace/ResultModel.h"

// A report-style list of a query result: headings are the field names, every column 100
// pixels wide and left aligned, grid lines, whole-row selection, the row under the pointer
// highlighted. A failed result leaves the list without columns.
class ResultList : public QTableView {
    Q_OBJECT
public:
    explicit ResultList(QWidget* parent = nullptr);

    ResultModel* resultModel() const { return m_model; }

    // Shows the result (FillListFromResult); the translator turns values into shown texts.
    void showResult(Result result, ResultModel::CellTranslator translator = {});
    void clearList();

    // Selected rows in list order.
    std::vector<int> selectedRowIndexes() const;

private:
    ResultModel* m_model;
};

// The shared routine that shows a query result in a list.
void FillListFromResult(ResultList* list, Result result,
                        ResultModel::CellTranslator translator = {});
