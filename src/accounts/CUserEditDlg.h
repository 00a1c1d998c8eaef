#pragma once

#include <QDialog>

#include "accounts/UserEditing.h"

class Connection;
class GroupIconList;
class QCalendarWidget;
class QCheckBox;
class QLineEdit;
class QPushButton;

// "ユーザ変更": one user's rights, password and expiry, sent together by "更新", and its groups,
// changed one double-click at a time. Only what the operator changed is sent: the password
// fields show pg_user's mask, which is never sent unless typed over.
class CUserEditDlg : public QDialog {
    Q_OBJECT
public:
    CUserEditDlg(Connection& conn, const QString& userName, QWidget* parent = nullptr);

private:
    void loadUser();
    void loadGroups();
    void markChanged(bool& mark);
    void update();
    void changeGroup(const QString& group, bool add);
    void createGroup();

    Connection& m_conn;
    QString m_userName;
    QString m_sysId;
    UserMarks m_marks;
    // Set while the form is filled from the server, so that filling is never a change.
    bool m_loading = false;

    QLineEdit* m_nameBox;
    QLineEdit* m_sysIdBox;
    QLineEdit* m_password;
    QLineEdit* m_confirmation;
    QCheckBox* m_createDb;
    QCheckBox* m_superUser;
    QCheckBox* m_catalogue;
    QCheckBox* m_trace;
    QCalendarWidget* m_calendar;
    GroupIconList* m_memberOf;
    GroupIconList* m_others;
    QPushButton* m_update;
};
