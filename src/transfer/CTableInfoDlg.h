#pragma once

#include <QDialog>
#include <functional>
#include <optional>

#include "widgets/FeatureDialogs.h"
#include "workspace/Connection.h"
#include "workspace/ObjectName.h"

class QLineEdit;
class QMenu;
class QTableWidget;
class RecordCountFeed;
class TableRowCounter;
struct TableDetail;

// "テーブル明細": one table's database, owner, counts, columns and indexes, with VACUUM,
// VACUUM ANALYZE, rename, column change and CSV export. The opener reads table() and
// renamed() after the dialog has closed.
class CTableInfoDlg : public QDialog {
    Q_OBJECT
public:
    using ExportRunner = std::function<void(const ObjectName& table)>;

    CTableInfoDlg(Connection& conn, const ObjectName& table, const QString& databaseName,
                  QWidget* parent = nullptr);
    ~CTableInfoDlg() override;

    // Runs the dialog for one table as the tree and the list view open it, with `dialogs`
    // for renaming and column changes; the table under its new name when it was renamed in
    // the dialog.
    static std::optional<ObjectName> open(Connection& conn, const ObjectName& table,
                                          const QString& databaseName, QWidget* parent,
                                          const FeatureDialogs& dialogs);

    const ObjectName& table() const { return m_table; }
    bool renamed() const { return m_renamed; }
    // What "CSV出力" runs with the current table.
    void setExportRunner(ExportRunner runner) { m_exportRunner = std::move(runner); }
    // The dialogs of "テーブル名変更" and of the column menu's "変更".
    void setFeatureDialogs(FeatureDialogs dialogs) { m_dialogs = std::move(dialogs); }

    // The row of the column list the context menu is about (-1: not on a row).
    void setMenuRow(int row) { m_menuRow = row; }
    // The image index a column-list row carries.
    int columnImage(int row) const;
    TableRowCounter* rowCounter() const;

    void load();

private:
    void buildLists();
    void showDetail(const TableDetail& detail);
    void maintain(bool analyze);
    void renameTable();
    void changeField();
    void showColumnMenu(const QPoint& pos);

    Connection& m_conn;
    ObjectName m_table;
    QString m_databaseName;
    bool m_renamed = false;
    int m_menuRow = -1;
    ExportRunner m_exportRunner;
    FeatureDialogs m_dialogs;
    RecordCountFeed* m_counts;

    QLineEdit *m_databaseBox, *m_oidBox, *m_lastSysOidBox, *m_ownerIdBox, *m_ownerNameBox,
        *m_encodingBox, *m_templateBox, *m_allowConnBox;
    QLineEdit *m_tableNameBox, *m_countBox, *m_ownerBox, *m_recordLengthBox, *m_fieldCountBox;
    QTableWidget* m_indexList;
    QTableWidget* m_fieldList;
    QMenu* m_columnMenu;
};
