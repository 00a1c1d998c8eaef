#pragma once

#include <QAbstractButton>
#include <QLineEdit>
#include <QTemporaryDir>

#include "console/CQueryDlg.h"
#include "support/DialogDriver.h"
#include "support/WorkspaceFixture.h"

// A workspace logged in to the test server, with the notice receiver installed and a fresh
// temporary folder as its start directory (where the history file lives).
class ConsoleFixture : public WorkspaceFixture {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_start.isValid());
        WorkspaceFixture::SetUp();
        if (HasFatalFailure()) return;
        doc.installNoticeReceiver();
        doc.startDirectory = m_start.path();
    }

    QTemporaryDir m_start;
};

// Runs a statement in the SQL window as the operator does, and the window's answer.
inline void execute(CQueryDlg& d, const QString& sql)
{
    lineEdit(d, "queryEdit")->setText(sql);
    button(d, "executeButton")->click();
}
inline QString response(CQueryDlg& d) { return lineEdit(d, "responseEdit")->text(); }
