#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "listview/CKestrelView.h"
#include "listview/Listings.h"
#include "support/ScriptedPrompter.h"
#include "support/TestServer.h"
#include "workspace/CKestrelDoc.h"

#include <ostream>

// Readable texts in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

// A workspace logged in to the test server and a list view on it. Tests write the browse
// state as the tree does on a selection, then ask the view to update.
class ListViewFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        doc.setLoginRunner([this] { return std::optional<LoginParameters>(login); });
        ASSERT_EQ(doc.Connect(), 0);
        doc.pageLength = 1000;
        view = std::make_unique<CKestrelView>(doc, nullptr);
        admin = TestServer::connect();
        TestServer::run(*admin, QStringLiteral("SET client_min_messages TO warning"));
    }

    void select(int depth, const QString& caption, const QString& parent)
    {
        doc.nodeDepth = depth;
        doc.nodeCaption = caption;
        doc.parentCaption = parent;
        doc.tableFlag = doc.viewFlag = doc.folderFlag = doc.catalogueFlag = 0;
        doc.pageIndex = 0;
        if (depth == 3) {
            doc.objectName = caption;
            (parent == kTablesFolder ? doc.tableFlag : doc.viewFlag) = 1;
        }
        if (parent == kCatalogueNode) {
            doc.objectName = caption;
            doc.catalogueFlag = 1;
        }
        view->onUpdate();
    }
    void selectFolder(const QString& caption) { select(2, caption, QStringLiteral("データベース(postgres)")); }
    void selectTable(const QString& name) { select(3, name, kTablesFolder); }
    void selectView(const QString& name) { select(3, name, kViewsFolder); }

    int rows() const { return view->model()->rowCount(); }
    int columns() const { return view->model()->columnCount(); }
    QString heading(int c) const { return view->model()->headerData(c, Qt::Horizontal).toString(); }
    QStringList column(int c) const
    {
        QStringList out;
        for (int r = 0; r < rows(); ++r) out << view->cellText(r, c);
        return out;
    }
    // The row whose cell in column `keyColumn` is `key`; empty when there is none.
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
    QString serverValue(const QString& sql)
    {
        Result r = admin->exec(sql);
        EXPECT_TRUE(r.tuplesOk()) << r.errorMessage().toStdString();
        return r.value(0, 0);
    }

    LoginParameters login = TestServer::superuserLogin();
    ScriptedPrompter prompts;
    CKestrelDoc doc;
    std::unique_ptr<CKestrelView> view;
    std::unique_ptr<Connection> admin;
};
