#pragma once

#include <QByteArray>
#include <QLineEdit>
#include <QString>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <optional>

#include "support/DialogDriver.h"
#include "support/ServerFixture.h"
#include "support/TestFiles.h"
#include "transfer/CCsvImportDlg.h"
#include "workspace/TableRowCounter.h"

// The tool's connection (`conn`, a superuser) beside the administrator's, a folder for the CSV
// files and the error log, which is also the working folder (where the dialog's run writes its
// log), and the tables of the import tests (all named imp_*), dropped before and after each
// test.
class ImportFixture : public ServerFixture {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        cwd.emplace(dir.path());
        ServerFixture::SetUp();
        conn = TestServer::connect();
    }
    void TearDown() override
    {
        ServerFixture::TearDown();
        cwd.reset();
    }
    void cleanUp() override
    {
        TestServer::run(*admin, QStringLiteral("DROP VIEW IF EXISTS imp_v"));
        TestServer::run(*admin, QStringLiteral("DROP TABLE IF EXISTS imp_t, imp_t2, imp_new, \"ImpMixed\" CASCADE"));
        TestServer::run(*admin, QStringLiteral("DROP SCHEMA IF EXISTS imp_s CASCADE"));
        TestServer::run(*admin, QStringLiteral("DROP FUNCTION IF EXISTS imp_die() CASCADE"));
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    // Writes a file of the folder; its path.
    QString write(const QString& name, const QByteArray& bytes) const
    {
        writeFile(path(name), bytes);
        return path(name);
    }
    QByteArray readLog(const QString& name = QStringLiteral("ImportError.log")) const { return fileBytes(path(name)); }
    // "現在のレコード数" once the exact count has answered (the estimate shows until then).
    static QString countShown(CCsvImportDlg& dlg)
    {
        EXPECT_TRUE(QTest::qWaitFor([&] { return !dlg.rowCounter()->running(); }, 30000));
        return lineEdit(dlg, "recordCountBox")->text();
    }

    QTemporaryDir dir;
    std::optional<WorkingDirectory> cwd;
    std::unique_ptr<Connection> conn;
};
