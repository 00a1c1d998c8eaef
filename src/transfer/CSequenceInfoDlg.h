#pragma once

#include <QDialog>

#include "workspace/Connection.h"
#include "workspace/ObjectName.h"

// "シーケンス明細": the values of one sequence as they were when the dialog opened.
class CSequenceInfoDlg : public QDialog {
    Q_OBJECT
public:
    CSequenceInfoDlg(Connection& conn, const ObjectName& sequence, QWidget* parent = nullptr);
};
