#pragma once

#include <QDialog>
#include <QList>

#include "workspace/ObjectName.h"

class Connection;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QTreeWidget;
class RecordCountFeed;
class TableRowCounter;

// "テーブルの選択": the tables of the connected database as icons; a click shows a table's row
// count, owner, record length and columns. It only reads from the server. Used by table
// creation (to take over a table's columns) and by the CSV import (for its table name).
class CTableSelectDlg : public QDialog {
    Q_OBJECT
public:
    explicit CTableSelectDlg(Connection& conn, QWidget* parent = nullptr);

    // After exec() == Accepted: the text of "テーブル名" (a listed table's caption: the bare
    // name where the search path finds it, "schema.name" otherwise; or what was typed).
    QString chosenName() const { return m_chosenName; }
    // The table to address: exact (schema and name) for a listed caption; for any other text,
    // no schema and the typed text folded as the server folds a typed name.
    ObjectName chosenTable() const { return m_chosenTable; }

    // The icon list and its tables, in the server's order (for tests).
    QListWidget* tableList() const { return m_tableList; }
    const QList<ObjectName>& tables() const { return m_tables; }
    // The exact count of the clicked table, which "件数" shows when it answers (for tests).
    TableRowCounter* rowCounter() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void clickAt(QListWidgetItem* item);
    void showInformation(const ObjectName& table);
    ObjectName tableForText(const QString& text) const;
    void accept() override;

    Connection& m_conn;
    QList<ObjectName> m_tables;
    QString m_chosenName;
    ObjectName m_chosenTable;
    QString m_clickedName;
    ObjectName m_clickedTable;

    QListWidget* m_tableList = nullptr;
    QLineEdit* m_nameBox = nullptr;
    QLineEdit* m_countBox = nullptr;
    QLineEdit* m_ownerBox = nullptr;
    QLineEdit* m_recordLengthBox = nullptr;
    QLineEdit* m_fieldCountBox = nullptr;
    QTreeWidget* m_fieldList = nullptr;
    RecordCountFeed* m_counts = nullptr;
};
