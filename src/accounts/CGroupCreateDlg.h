#pragma once

#include <QDialog>

class Connection;
class GroupIconList;
class QLineEdit;
class QPushButton;

// "新規グループ作成": the existing groups, whose names can be copied as a start, and CREATE
// GROUP in a transaction. Ends accepted only when a group was created.
class CGroupCreateDlg : public QDialog {
    Q_OBJECT
public:
    explicit CGroupCreateDlg(Connection& conn, QWidget* parent = nullptr);

private:
    Connection& m_conn;
    GroupIconList* m_groups;
    QLineEdit* m_name;
    QPushButton* m_create;
};
