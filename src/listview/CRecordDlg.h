#pragma once

#include <QDialog>
#include <QStringList>

class Connection;
class QLineEdit;
class QPushButton;
class QTableWidget;

// "レコード明細": one table row, column by column, with its types and values. Updates one
// column at a time and can delete the row. Built for one edit; the opener takes back the
// deleted mark and the row values (ctid first), which follow every committed change.
class CRecordDlg : public QDialog {
    Q_OBJECT
public:
    // `rowValues` are the row as the list shows it: its ctid, then its columns.
    CRecordDlg(Connection& conn, const QString& table, const QStringList& rowValues,
               QWidget* parent = nullptr);

    bool deleted() const { return m_deleted; }
    const QStringList& rowValues() const { return m_values; }

private:
    void fillFieldList();
    void chooseField(int row);
    void updateField();
    void deleteRecord();

    Connection& m_conn;
    QString m_table;
    QStringList m_values;
    int m_selectedField = -1;
    bool m_deleted = false;

    QTableWidget* m_fieldList;
    QLineEdit* m_oidBox;
    QLineEdit* m_fieldNameBox;
    QLineEdit* m_typeBox;
    QLineEdit* m_dataBox;
    QPushButton* m_updateButton;
};
