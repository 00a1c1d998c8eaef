#pragma once

#include <QDialog>

#include "workspace/Connection.h"
#include "workspace/ObjectName.h"

class QLineEdit;

// "テーブル名変更": renames one table. Ends with OK after one successful rename, and then
// table() is the table under its new name.
class CTableRenameDlg : public QDialog {
    Q_OBJECT
public:
    CTableRenameDlg(Connection& conn, const ObjectName& table, QWidget* parent = nullptr);

    const ObjectName& table() const { return m_table; }

private:
    void rename();

    Connection& m_conn;
    ObjectName m_table;
    QLineEdit* m_newName;
};
