#pragma once

#include <QDialog>
#include <QStringList>

#include "listview/RecordEditing.h"

class Connection;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QTableWidget;

// "レコード明細": one table row, column by column, with its types and values. Updates one
// column at a time and can delete the row. Built for one edit; the opener takes back the
// deleted mark, the row values (ctid first) and the row's identity, which follow every
// committed change. Every statement addresses the row by its identity, so a row another
// session changed is never shown, updated or deleted in its place. A NULL value shows as
// NULL (the list itself shows it empty); "NULL" beside the value sets the chosen column to
// NULL, and is not offered for a NOT NULL column.
class CRecordDlg : public QDialog {
    Q_OBJECT
public:
    // `rowValues` are the row as the list shows it: its ctid, then its columns.
    CRecordDlg(Connection& conn, const ObjectName& table, const QStringList& rowValues,
               const RowIdentity& identity, QWidget* parent = nullptr);

    bool deleted() const { return m_deleted; }
    const QStringList& rowValues() const { return m_values; }
    const RowIdentity& identity() const { return m_identity; }

private:
    void fillFieldList();
    void chooseField(int row);
    void updateField();
    void deleteRecord();

    Connection& m_conn;
    ObjectName m_table;
    QStringList m_values;
    RowIdentity m_identity;
    int m_selectedField = -1;
    bool m_deleted = false;

    QTableWidget* m_fieldList;
    QLineEdit* m_oidBox;
    QLineEdit* m_fieldNameBox;
    QLineEdit* m_typeBox;
    QLineEdit* m_dataBox;
    QCheckBox* m_nullBox;
    QPushButton* m_updateButton;
};
