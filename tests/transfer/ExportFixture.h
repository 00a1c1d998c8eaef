#pragma once

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "support/DialogDriver.h"
#include "support/TestFiles.h"
#include "support/WorkspaceFixture.h"
#include "transfer/CCsvExportDlg.h"

// A workspace logged in to the test server (failures reach its log text), a scratch folder
// for the files, and helpers that drive the export dialog without a modal loop.
class ExportFixture : public WorkspaceFixture {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        WorkspaceFixture::SetUp();
        if (HasFatalFailure()) return;
        doc.installNoticeReceiver();
    }

    // Runs a statement on the workspace's session (one that opens a transaction opens it there).
    void run(const QString& sql) { TestServer::run(conn(), sql); }
    QString path(const QString& name) const { return m_dir.filePath(name); }

    static ObjectName table(const QString& name, const QString& schema = QStringLiteral("public"),
                            bool visible = true)
    {
        return ObjectName{schema, name, visible};
    }

    static QString sample(CCsvExportDlg& d)
    {
        return d.findChild<QPlainTextEdit*>(QStringLiteral("sampleEdit"))->toPlainText();
    }
    // Sets the delimiter and the quote: a list index (0 or 1), or a user text.
    static void delimiter(CCsvExportDlg& d, int choice)
    {
        control<QRadioButton>(d, "delimiterDefaultRadio")->click();
        control<QComboBox>(d, "delimiterList")->setCurrentIndex(choice);
    }
    static void delimiter(CCsvExportDlg& d, const QString& text)
    {
        control<QLineEdit>(d, "delimiterUserEdit")->setText(text);
        control<QRadioButton>(d, "delimiterUserRadio")->click();
    }
    static void quote(CCsvExportDlg& d, int choice)
    {
        control<QRadioButton>(d, "quoteDefaultRadio")->click();
        control<QComboBox>(d, "quoteList")->setCurrentIndex(choice);
    }
    static void quote(CCsvExportDlg& d, const QString& text)
    {
        control<QLineEdit>(d, "quoteUserEdit")->setText(text);
        control<QRadioButton>(d, "quoteUserRadio")->click();
    }
    static void header(CCsvExportDlg& d, bool on)
    {
        if (control<QCheckBox>(d, "headerCheck")->isChecked() != on)
            control<QCheckBox>(d, "headerCheck")->click();
    }

    // "出力" into `file`; returns whether the export reported completion. Messages go to
    // prompts.
    bool exportTo(CCsvExportDlg& d, const QString& file)
    {
        lineEdit(d, "fileNameEdit")->setText(file);
        QSignalSpy ended(&d, &CCsvExportDlg::exportFinished);
        button(d, "outputButton")->click();
        if (!d.exporting()) return false;  // refused before anything was sent
        EXPECT_TRUE(ended.wait(60000)) << "export did not end";
        return !ended.isEmpty() && ended.first().first().toBool();
    }

    QTemporaryDir m_dir;
};
