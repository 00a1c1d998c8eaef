#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "support/DialogDriver.h"
#include "support/ScriptedPrompter.h"
#include "support/TestServer.h"
#include "transfer/CCsvExportDlg.h"
#include "workspace/CKestrelDoc.h"

// A workspace logged in to the test server (failures reach its log text), a scratch folder
// for the files, and helpers that drive the export dialog without a modal loop.
class ExportFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_doc.setLoginRunner([] { return TestServer::superuserLogin(); });
        ASSERT_EQ(m_doc.Connect(), 0);
        m_doc.installNoticeReceiver();
    }

    Connection& conn() { return *m_doc.connection(); }
    void run(const QString& sql) { TestServer::run(conn(), sql); }
    QString path(const QString& name) const { return m_dir.filePath(name); }

    static ObjectName table(const QString& name, const QString& schema = QStringLiteral("public"),
                            bool visible = true)
    {
        return ObjectName{schema, name, visible};
    }

    static QByteArray read(const QString& file)
    {
        QFile f(file);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << file.toStdString();
        return f.readAll();
    }

    static QString sample(CCsvExportDlg& d)
    {
        return d.findChild<QPlainTextEdit*>(QStringLiteral("sampleEdit"))->toPlainText();
    }
    template <class W> static W* control(CCsvExportDlg& d, const char* name)
    {
        W* w = d.findChild<W*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
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
    // m_prompts.
    bool exportTo(CCsvExportDlg& d, const QString& file)
    {
        lineEdit(d, "fileNameEdit")->setText(file);
        QSignalSpy ended(&d, &CCsvExportDlg::exportFinished);
        button(d, "outputButton")->click();
        if (!d.exporting()) return false;  // refused before anything was sent
        EXPECT_TRUE(ended.wait(60000)) << "export did not end";
        return !ended.isEmpty() && ended.first().first().toBool();
    }

    ScriptedPrompter m_prompts;
    QTemporaryDir m_dir;
    CKestrelDoc m_doc;
};
