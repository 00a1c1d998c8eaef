#include "workspace/ResultStoreModel.h"

#include <climits>

ResultStoreModel::ResultStoreModel(QObject* parent) : QAbstractTableModel(parent)
{
    m_publish.setSingleShot(true);
    connect(&m_publish, &QTimer::timeout, this, &ResultStoreModel::publish);
    m_sincePublished.start();
}

void ResultStoreModel::setStore(std::unique_ptr<ResultStore> store)
{
    m_publish.stop();
    beginResetModel();
    m_store = std::move(store);
    m_columns = m_store ? m_store->fields() : 0;
    // A list view counts rows in int; a longer result shows its first INT_MAX rows.
    m_rows = m_store ? int(std::min<qint64>(m_store->rows(), INT_MAX)) : 0;
    endResetModel();
    m_sincePublished.restart();
}

void ResultStoreModel::rowsArrived()
{
    if (m_publish.isActive()) return;
    const qint64 wait =
        m_rows < kFirstScreenRows ? 0 : qMax<qint64>(0, kPublishEveryMs - m_sincePublished.elapsed());
    m_publish.start(int(wait));
}

void ResultStoreModel::publish()
{
    m_publish.stop();
    if (!m_store) return;
    const int rows = int(std::min<qint64>(m_store->rows(), INT_MAX));
    if (m_store->fields() != m_columns) {
        beginResetModel();
        m_columns = m_store->fields();
        m_rows = rows;
        endResetModel();
    } else if (rows > m_rows) {
        beginInsertRows({}, m_rows, rows - 1);
        m_rows = rows;
        endInsertRows();
    }
    m_sincePublished.restart();
}

QString ResultStoreModel::text(int row, int column) const
{
    if (!m_store || row < 0 || row >= m_rows || column < 0 || column >= m_columns) return {};
    ResultStore::CellState state;
    const QString value = m_store->text(row, column, &state);
    return state == ResultStore::CellState::Lost ? kLostValue : value;
}

int ResultStoreModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int ResultStoreModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_columns;
}

QVariant ResultStoreModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid()) return {};
    if (role == Qt::DisplayRole) return text(index.row(), index.column());
    if (role == Qt::TextAlignmentRole) return int(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

QVariant ResultStoreModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && m_store && section >= 0 && section < m_columns) {
        if (role == Qt::DisplayRole) return m_store->fieldNames().at(section);
        if (role == Qt::TextAlignmentRole) return int(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}
