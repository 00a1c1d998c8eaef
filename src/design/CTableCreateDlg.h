#pragma once

#include <QDialog>
#include <QIcon>
#include <vector>

#include "design/TableDesign.h"

class Connection;
class QLineEdit;
class QMenu;
class QTableWidget;

// "テーブルの作成": a new table designed column by column (with CFieldDefDlg) or from the
// columns of an existing table (with CTableSelectDlg), its key columns marked in the list, and
// created in one transaction. Closes with OK only once the table is committed.
class CTableCreateDlg : public QDialog {
    Q_OBJECT
public:
    explicit CTableCreateDlg(Connection& conn, QWidget* parent = nullptr);

    // After OK: the new table, its name as the server stores it, in the schema it went into.
    const ObjectName& table() const { return m_table; }

    // The column list as designed, in order, with each row's key marking.
    std::vector<FieldDefinition> columns() const;
    QTableWidget* fieldList() const { return m_fieldList; }
    int currentRow() const { return m_currentRow; }
    // The context menu of the column list, built for the row under `row` (-1 for none).
    QMenu* contextMenuFor(int row);

    // Appends a column with key none (what adding and the take-over do).
    void appendRow(const FieldDefinition& field);

    static QIcon keyIcon(KeyKind key);

    inline static const QString kDeleteQuestion =
        QStringLiteral("フィールドを削除してもよろしいですか？");
    inline static const QString kNoRowData = QStringLiteral("データの取得に失敗しました");

private:
    void writeRow(int row, const FieldDefinition& field);
    FieldDefinition rowField(int row) const;
    bool hasCurrentRow() const;
    void addField();
    void editField();
    void deleteField();
    void toggleKey(KeyKind key);
    void takeOverTable();
    void createTable();

    Connection& m_conn;
    ObjectName m_table;
    int m_currentRow = -1;
    QLineEdit* m_nameBox = nullptr;
    QTableWidget* m_fieldList = nullptr;
};
