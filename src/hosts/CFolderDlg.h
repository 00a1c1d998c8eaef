#pragma once

#include <QDialog>
#include <optional>

class QLineEdit;

// Asks for a folder name, for creating and for renaming a folder alike.
class CFolderDlg : public QDialog {
    Q_OBJECT
public:
    explicit CFolderDlg(const QString& name, QWidget* parent = nullptr);

    QString folderName() const;

    // The name when the dialog was accepted.
    static std::optional<QString> ask(QWidget* parent, const QString& name);

private:
    void onOk();

    QLineEdit* m_name;
};
