#include "workspace/ResultModel.h"

#include <algorithm>

ResultModel::ResultModel(QObject* parent) : QAbstractTableModel(parent) {}

void ResultModel::setResult(Result result, CellTranslator translator, int hiddenFields)
{
    beginResetModel();
    m_result = std::move(result);
    m_translate = std::move(translator);
    m_rows.clear();
    m_mapped = false;
    m_overrides.clear();
    const bool hasRows = m_result.exists() &&
                         (m_result.status() == PGRES_TUPLES_OK ||
                          m_result.status() == PGRES_SINGLE_TUPLE);
    m_hiddenCount = hasRows ? qBound(0, hiddenFields, m_result.fields()) : 0;
    m_columnCount = hasRows ? m_result.fields() - m_hiddenCount : 0;
    m_rowCount = hasRows ? m_result.rows() : 0;
    endResetModel();
}

void ResultModel::clear() { setResult(Result()); }

QString ResultModel::cell(int row, int field) const
{
    const int src = sourceRow(row);
    if (!m_overrides.isEmpty()) {
        auto it = m_overrides.constFind((quint64(quint32(src)) << 32) | quint32(field));
        if (it != m_overrides.constEnd()) return *it;
    }
    return m_result.value(src, field);
}

void ResultModel::overrideCell(int row, int field, const QString& text)
{
    m_overrides.insert((quint64(quint32(sourceRow(row))) << 32) | quint32(field), text);
}

QString ResultModel::text(int row, int column) const
{
    if (row < 0 || row >= m_rowCount || column < 0 || column >= m_columnCount) return {};
    const int src = sourceRow(row);
    if (!m_overrides.isEmpty()) {
        auto it = m_overrides.constFind((quint64(quint32(src)) << 32) | quint32(column));
        if (it != m_overrides.constEnd()) return *it;
    }
    const QString value = m_result.value(src, column);
    return m_translate ? m_translate(column, value) : value;
}

void ResultModel::setText(int row, int column, const QString& text)
{
    if (row < 0 || row >= m_rowCount || column < 0 || column >= m_columnCount) return;
    overrideCell(row, column, text);
    const QModelIndex i = index(row, column);
    emit dataChanged(i, i);
}

QString ResultModel::hiddenText(int row, int k) const
{
    if (row < 0 || row >= m_rowCount || k < 0 || k >= m_hiddenCount) return {};
    return cell(row, m_columnCount + k);
}

void ResultModel::setHiddenText(int row, int k, const QString& text)
{
    if (row < 0 || row >= m_rowCount || k < 0 || k >= m_hiddenCount) return;
    overrideCell(row, m_columnCount + k, text);
}

void ResultModel::removeRowsAt(std::vector<int> rows)
{
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    if (!m_mapped) {
        m_rows.resize(size_t(m_rowCount));
        for (int i = 0; i < m_rowCount; ++i) m_rows[size_t(i)] = i;
        m_mapped = true;
    }
    // From the last to the first, so earlier indexes stay valid.
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        const int r = *it;
        if (r < 0 || r >= m_rowCount) continue;
        beginRemoveRows({}, r, r);
        m_rows.erase(m_rows.begin() + r);
        --m_rowCount;
        endRemoveRows();
    }
}

int ResultModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rowCount;
}

int ResultModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_columnCount;
}

QVariant ResultModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid()) return {};
    if (role == Qt::DisplayRole) return text(index.row(), index.column());
    if (role == Qt::TextAlignmentRole) return int(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

QVariant ResultModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal) {
        if (role == Qt::DisplayRole) return m_result.fieldName(section);
        if (role == Qt::TextAlignmentRole) return int(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}
