#pragma once

#include <QDialog>
#include <optional>

#include "workspace/Connection.h"

class QLineEdit;

// The login screen: the seven connection parameters.
class CLoginDlg : public QDialog {
    Q_OBJECT
public:
    explicit CLoginDlg(QWidget* parent = nullptr);

    LoginParameters parameters() const;

    // Shows the dialog modally; the seven texts when it was accepted.
    static std::optional<LoginParameters> run(QWidget* parent);

private:
    QLineEdit* addField(const QString& label, const QString& name);

    QLineEdit* m_user;
    QLineEdit* m_password;
    QLineEdit* m_host;
    QLineEdit* m_database;
    QLineEdit* m_port;
    QLineEdit* m_options;
    QLineEdit* m_tty;
    class QFormLayout* m_form;
};
