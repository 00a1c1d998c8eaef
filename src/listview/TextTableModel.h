#pragma once

#include <QAbstractTableModel>

#include "listview/Listings.h"

// A listing gathered from several results (the sequences), held as texts. Left aligned like
// the lists over a single result.
class TextTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TextTableModel(QObject* parent = nullptr);

    void setTable(TextTable table);
    void clear() { setTable({}); }
    const TextTable& table() const { return m_table; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    TextTable m_table;
};
