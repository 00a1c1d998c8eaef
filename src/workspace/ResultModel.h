#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <functional>
#include <vector>

#include "workspace/Result.h"

// A query result shown as a table without copying it: cells are read from the PGresult when
// the view asks for them, so a page of a million rows costs what libpq already holds.
// Headings are the field names; a null value shows as an empty cell. Rows can be removed and
// cells overwritten after the fact (record deletion and editing), without touching the result.
class ResultModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // Turns a value as sent into the text shown (per column); empty means "as sent".
    using CellTranslator = std::function<QString(int column, const QString& value)>;

    explicit ResultModel(QObject* parent = nullptr);

    // Takes the result over. A failed result (no result, or a status other than rows) gives
    // no columns and no rows. The translator applies to every cell read from the result.
    // The last `hiddenFields` fields are not shown (nor copied): they travel with their row,
    // read and written through hiddenText/setHiddenText (a row's identity, for one).
    void setResult(Result result, CellTranslator translator = {}, int hiddenFields = 0);
    void clear();

    const Result& result() const { return m_result; }

    // The text of a cell as shown (translation and overrides applied).
    QString text(int row, int column) const;
    void setText(int row, int column, const QString& text);
    // Hidden field k (0 = the first hidden one) of a shown row.
    QString hiddenText(int row, int k) const;
    void setHiddenText(int row, int k, const QString& text);
    // Removes the given rows (indexes as shown now), in any order.
    void removeRowsAt(std::vector<int> rows);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    int sourceRow(int row) const { return m_mapped ? m_rows[size_t(row)] : row; }
    QString cell(int row, int field) const;
    void overrideCell(int row, int field, const QString& text);

    Result m_result;
    CellTranslator m_translate;
    int m_rowCount = 0;
    int m_columnCount = 0;
    int m_hiddenCount = 0;
    bool m_mapped = false;         // m_rows holds the shown rows once any was removed
    std::vector<int> m_rows;
    QHash<quint64, QString> m_overrides;  // key: source row << 32 | column
};
