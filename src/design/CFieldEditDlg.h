#pragma once

#include <QDialog>

#include "workspace/Connection.h"
#include "workspace/ObjectName.h"

class QLineEdit;

// "フィールド変更": renames one column and sets or drops its default, each change in its own
// transaction. After each change the dialog works on the column's new name and default.
class CFieldEditDlg : public QDialog {
    Q_OBJECT
public:
    CFieldEditDlg(Connection& conn, const ObjectName& table, const QString& column,
                  const QString& currentDefault, QWidget* parent = nullptr);

    const QString& column() const { return m_column; }
    const QString& currentDefault() const { return m_default; }

private:
    void renameColumn();
    void setDefault();
    void dropDefault();

    Connection& m_conn;
    ObjectName m_table;
    QString m_column;
    QString m_default;
    QLineEdit* m_currentName;
    QLineEdit* m_newName;
    QLineEdit* m_currentDefault;
    QLineEdit* m_newDefault;
};
