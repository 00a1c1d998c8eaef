#pragma once

#include <QMenu>
#include <memory>

#include "listview/PagePosition.h"
#include "listview/RecordEditing.h"
#include "widgets/CommandTarget.h"
#include "widgets/FeatureDialogs.h"
#include "widgets/ResultList.h"
#include "workspace/ObjectName.h"

class CKestrelDoc;
class TextTableModel;

// The list view: the catalogue listing or the table rows that belong to the node selected in
// the tree, a page at a time, with copying, paging, record editing and row deletion. It reads
// the browse state of the workspace; it owns nothing of the server's.
class CKestrelView : public ResultList, public KestrelView {
    Q_OBJECT
public:
    explicit CKestrelView(CKestrelDoc& doc, QWidget* parent = nullptr);

    // The dialogs of other folders a listed row or a command opens (table, sequence and user
    // detail, the shared commands).
    void setFeatureDialogs(FeatureDialogs dialogs) { m_dialogs = std::move(dialogs); }

    void initialUpdate() override;
    void onUpdate() override;

    bool handlesCommand(int id) const override;
    bool commandEnabled(int id) const override;
    void runCommand(int id) override;

    // One page of a table, view or catalogue relation, by the workspace's page index and length.
    void ShowTableContents(const ObjectName& relation);

    // Fields of the last table-contents listing (columns of the list after a copy).
    int contentsColumnCount() const { return m_columnCount; }
    // The row the operator last moved to; -1 when there is none.
    int currentRow() const;
    QString cellText(int row, int column) const;
    // The identity of a listed table row (empty unless a table's rows are shown).
    RowIdentity rowIdentity(int row) const;
    // The object a row of the sequences listing stands for.
    ObjectName listedSequence(int row) const;

    // Context menu 170, enabled from the browse state; its entries run on this view.
    std::unique_ptr<QMenu> createContextMenu();

signals:
    // A command ran from the list's own menu: the enabling of the window's commands may differ.
    void commandStatesChanged();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void showListing();
    void showRowsOf(QAbstractItemModel* model);
    void showContents(const ObjectName& relation, Result page, bool rowIdentity, bool firstRowExtra);
    void turnPage(int step);
    void setPage();
    void copySelection();
    void editRecord();
    void deleteRecords();
    void rowDoubleClicked(int row);
    ObjectName rowObject(int row) const;

    CKestrelDoc& m_doc;
    FeatureDialogs m_dialogs;
    TextTableModel* m_textModel;
    int m_columnCount = 0;
    // The rows shown are a table's, each with its ctid in column 0 and its tableoid and xmin
    // out of sight after the shown columns.
    bool m_rowIdentityShown = false;
    bool m_relationsListed = false;  // a summary whose rows carry their relation out of sight
    // Where the table rows on show lie, for stepping to the next and previous page.
    PagePosition m_position;
};
