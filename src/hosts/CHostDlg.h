#pragma once

#include <QDialog>

#include "hosts/ConnectionEdits.h"
#include "hosts/HostEntry.h"

class QLineEdit;

// Edits one saved host. Opened with an empty display name it adds a host; with a name it edits
// that host's record, which it finds again by the name it was opened with. On OK it has
// written Host.DAT before it closes.
class CHostDlg : public QDialog {
    Q_OBJECT
public:
    explicit CHostDlg(const QString& displayName, QWidget* parent = nullptr);

    // The display name and the seven values as they stand in the fields.
    HostEntry entry() const;

private:
    void onOk();

    QLineEdit* m_displayName;
    ConnectionEdits m_fields;
    QString m_previousName;
    bool m_edit = false;
};
