#pragma once

#include <gtest/gtest.h>

#include <QDialog>
#include <functional>
#include <memory>
#include <ostream>

#include "app/FeatureWiring.h"
#include "listview/CKestrelView.h"
#include "listview/Listings.h"
#include "support/DialogDriver.h"
#include "support/ScriptedPrompter.h"
#include "support/TestServer.h"
#include "widgets/CommandTarget.h"
#include "workspace/CKestrelDoc.h"

// A workspace logged in to the test server and a list view on it. "LvRec" needs quoting, has
// a dropped column before live ones and shares column numbers with another table's defaults;
// lv_rec_v is a view on it. Tests write the browse state as the tree does, then update.
class ListViewFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        admin = TestServer::connect();
        TestServer::run(*admin, QStringLiteral("SET client_min_messages TO warning"));
        dropAll();
        for (const char* sql :
             {"CREATE TABLE \"LvRec\" (id int4 NOT NULL, gone int, name varchar(20) DEFAULT 'abc', "
              "\"order\" text)",
              "ALTER TABLE \"LvRec\" DROP COLUMN gone",
              "INSERT INTO \"LvRec\" SELECT g, 'n' || g, 'o' || g FROM generate_series(1, 6) g",
              "CREATE TABLE lv_rec_other (a int DEFAULT 7, b int DEFAULT 8)",
              "CREATE VIEW lv_rec_v AS SELECT id, name, \"order\" FROM \"LvRec\""})
            TestServer::run(*admin, QString::fromUtf8(sql));
        doc.setLoginRunner([this] { return std::optional<LoginParameters>(login); });
        ASSERT_EQ(doc.Connect(), 0);
        doc.pageLength = 1000;
        view = std::make_unique<CKestrelView>(doc, nullptr);
        view->setFeatureDialogs(AppFeatureDialogs());
    }
    void TearDown() override { dropAll(); }
    void dropAll()
    {
        TestServer::run(*admin, QStringLiteral("DROP TABLE IF EXISTS \"LvRec\", lv_rec_other, lv_child, "
                                               "lv_parent CASCADE"));
        TestServer::run(*admin, QStringLiteral("DROP FUNCTION IF EXISTS lv_refuse()"));
    }

    void select(int depth, const QString& caption, const QString& parent)
    {
        doc.nodeDepth = depth;
        doc.nodeCaption = caption;
        doc.parentCaption = parent;
        doc.tableFlag = depth == 3 && parent == kTablesFolder;
        doc.pageIndex = 0;
        if (depth == 3 || parent == kCatalogueNode) doc.objectName = caption;
        view->onUpdate();
    }
    void selectFolder(const QString& caption) { select(2, caption, QStringLiteral("データベース(postgres)")); }

    int rows() const { return view->model()->rowCount(); }
    int columns() const { return view->model()->columnCount(); }
    QString heading(int c) const { return view->model()->headerData(c, Qt::Horizontal).toString(); }
    QString column(int c) const
    {
        QStringList out;
        for (int r = 0; r < rows(); ++r) out << view->cellText(r, c);
        return out.join(u',');
    }
    // The cells of the first row whose cell `keyColumn` is `key`.
    QStringList rowWith(int keyColumn, const QString& key) const
    {
        for (int r = 0; r < rows(); ++r) {
            if (view->cellText(r, keyColumn) != key) continue;
            QStringList cells;
            for (int c = 0; c < columns(); ++c) cells << view->cellText(r, c);
            return cells;
        }
        return {};
    }
    void selectRows(std::initializer_list<int> rowIndexes)
    {
        view->clearSelection();
        for (int r : rowIndexes)
            view->selectionModel()->select(view->model()->index(r, 0),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    // Opens the record dialog on a row, as the edit command does, and runs `interact` in it.
    void editRow(int row, const std::function<void(QDialog&)>& interact)
    {
        view->setCurrentIndex(view->model()->index(row, 0));
        onNextModal(interact);
        view->runCommand(Cmd::RecordEdit);
    }
    QString serverValue(const QString& sql)
    {
        Result r = admin->exec(sql);
        EXPECT_TRUE(r.tuplesOk()) << r.errorMessage().toStdString();
        return r.value(0, 0);
    }
    QString serverIds() { return serverValue(QStringLiteral("select string_agg(id::text, ',' order by id) from \"LvRec\"")); }

    LoginParameters login = TestServer::superuserLogin();
    std::unique_ptr<Connection> admin;
    ScriptedPrompter prompts;
    CKestrelDoc doc;
    std::unique_ptr<CKestrelView> view;
};
