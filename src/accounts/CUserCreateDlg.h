#pragma once

#include <QDialog>

class Connection;
class QCheckBox;
class QDateEdit;
class QLineEdit;
class QTimeEdit;

// "ユーザ登録": a new user with its password, rights and expiry, and a database of its name.
class CUserCreateDlg : public QDialog {
    Q_OBJECT
public:
    explicit CUserCreateDlg(Connection& conn, QWidget* parent = nullptr);

private:
    void setAll(bool on);
    void create();

    Connection& m_conn;
    QLineEdit* m_userName;
    QLineEdit* m_password;
    QLineEdit* m_confirmation;
    QCheckBox* m_createDb;
    QCheckBox* m_createUser;
    QCheckBox* m_trace;
    QCheckBox* m_expiry;
    QDateEdit* m_date;
    QTimeEdit* m_time;
};
