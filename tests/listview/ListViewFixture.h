#pragma once

#include <QDialog>
#include <QTableWidget>
#include <functional>
#include <memory>

#include "app/FeatureWiring.h"
#include "listview/CKestrelView.h"
#include "listview/Listings.h"
#include "support/DialogDriver.h"
#include "support/WorkspaceFixture.h"
#include "widgets/CommandTarget.h"

// A workspace logged in to the test server and a list view on it. "LvRec" needs quoting, has
// a dropped column before live ones and shares column numbers with another table's defaults;
// lv_rec_v is a view on it. Tests write the browse state as the tree does, then update.
class ListViewFixture : public WorkspaceFixture {
protected:
    void SetUp() override
    {
        WorkspaceFixture::SetUp();
        if (HasFatalFailure()) return;
        for (const char* sql :
             {"CREATE TABLE \"LvRec\" (id int4 NOT NULL, gone int, name varchar(20) DEFAULT 'abc', "
              "\"order\" text)",
              "ALTER TABLE \"LvRec\" DROP COLUMN gone",
              "INSERT INTO \"LvRec\" SELECT g, 'n' || g, 'o' || g FROM generate_series(1, 6) g",
              "CREATE TABLE lv_rec_other (a int DEFAULT 7, b int DEFAULT 8)",
              "CREATE VIEW lv_rec_v AS SELECT id, name, \"order\" FROM \"LvRec\""})
            TestServer::run(*admin, QString::fromUtf8(sql));
        doc.pageLength = 1000;
        view = std::make_unique<CKestrelView>(doc, nullptr);
        view->setFeatureDialogs(AppFeatureDialogs());
    }
    void cleanUp() override
    {
        TestServer::run(*admin, QStringLiteral("DROP TABLE IF EXISTS \"LvRec\", lv_rec_other, lv_child, "
                                               "lv_parent, lv_part CASCADE"));
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
    // The list's row of a table whose id (the column after ctid) is `id`; -1 when none is.
    int listRowOf(const QString& id) const
    {
        for (int r = 0; r < rows(); ++r)
            if (view->cellText(r, 1) == id) return r;
        return -1;
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
    // The record dialog's field list.
    static QTableWidget* fieldList(QDialog& d) { return control<QTableWidget>(d, "fieldList"); }

    QString serverIds() { return value(QStringLiteral("select string_agg(id::text, ',' order by id) from \"LvRec\"")); }
    // How statements address the row of `table` that `where` picks, as the server holds it now.
    QString rowCondition(const QString& table, const QString& where)
    {
        return value(QStringLiteral("select 'tableoid = ' || tableoid::text || ' AND ctid = ''' || "
                                    "ctid::text || ''' AND xmin = ''' || xmin::text || '''' "
                                    "from %1 where %2").arg(table, where));
    }

    std::unique_ptr<CKestrelView> view;
};
