#pragma once

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QTimer>
#include <memory>

#include "workspace/ResultStore.h"

// A result held in a ResultStore, as a table, while its rows still arrive. The model owns the
// store: clearing the model, or giving it another store, frees the rows and their file.
// Headings are the field names; a null value shows as an empty cell. Rows added to the store
// are shown once published: at once until a screenful is in, then at most every
// kPublishEveryMs, so that a long result costs the view a few updates a second.
class ResultStoreModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kFirstScreenRows = 200;
    static constexpr int kPublishEveryMs = 100;
    // Shown for a value whose block could not be read back from the temporary file.
    static inline const QString kLostValue = QStringLiteral("（読み込めません）");

    explicit ResultStoreModel(QObject* parent = nullptr);

    // Shows `store` (null: no columns and no rows) with the rows it holds now.
    void setStore(std::unique_ptr<ResultStore> store);
    void clear() { setStore(nullptr); }
    ResultStore* store() const { return m_store.get(); }

    // Rows were added to the store: they are published soon (see above), from the event loop.
    void rowsArrived();
    // Shows every row and the field names the store holds now.
    void publish();

    // The text of a cell as shown.
    QString text(int row, int column) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::unique_ptr<ResultStore> m_store;
    int m_rows = 0;     // published
    int m_columns = 0;  // published
    QTimer m_publish;
    QElapsedTimer m_sincePublished;
};
