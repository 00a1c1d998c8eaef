#pragma once

#include <QDialog>

class Connection;
class QLineEdit;

// "新規データベースの作成": a database by the name typed, outside any transaction.
class CDatabaseCreateDlg : public QDialog {
    Q_OBJECT
public:
    explicit CDatabaseCreateDlg(Connection& conn, QWidget* parent = nullptr);

private:
    Connection& m_conn;
    QLineEdit* m_name;
};
