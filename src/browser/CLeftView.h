#pragma once

#include <QList>
#include <QPair>
#include <QTreeWidget>

#include "app/CommandTarget.h"
#include "browser/BrowseRules.h"

class CKestrelDoc;
class CMainFrame;
class QMenu;

// The object tree: host, database, object folders, tables and views, and for a superuser the
// system catalogue. Its initial update is where the login happens. Selecting a node writes the
// workspace's browse state and tells the other views; the tree serves the table-level commands
// of its context menu and some commands of the main menu.
class CLeftView : public QTreeWidget, public KestrelView {
    Q_OBJECT
public:
    CLeftView(CKestrelDoc& doc, CMainFrame* frame, QWidget* parent = nullptr);

    void initialUpdate() override;

    bool handlesCommand(int id) const override;
    bool commandEnabled(int id) const override;
    void runCommand(int id) override;

    // Context menu 169, its entries enabled from the browse state of the selected node. Its
    // entries run their commands on this tree. The caller owns the menu.
    QMenu* createContextMenu();

    // A table made with "テーブルの新規作成" goes under the selected folder (beside the selected
    // table) and becomes the selected node, with the usual selection handling.
    void addCreatedTable(const QString& tableName);

    // The image index a node was inserted with.
    static int imageOf(const QTreeWidgetItem* node);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    using NewNode = QPair<QString, int>;  // caption, image

    QTreeWidgetItem* addNode(QTreeWidgetItem* parent, const QString& caption, int image);
    void addNodes(QTreeWidgetItem* parent, QList<NewNode> nodes);
    void build();
    void selectNode(QTreeWidgetItem* node);
    void onSelectionChanged(QTreeWidgetItem* current);
    void onDoubleClicked(QTreeWidgetItem* node);
    void fillFolder(QTreeWidgetItem* folder);
    void tableDetail(QTreeWidgetItem* node);
    void dropTable();
    void removeTableNode(const QString& tableName);
    QTreeWidgetItem* tableNode(const QString& tableName);
    static Browse::NodePlace placeOf(const QTreeWidgetItem* node);

    CKestrelDoc& m_doc;
    CMainFrame* m_frame;
    // While 1 (the build, a folder being filled, a node being removed) selection changes are
    // ignored, so inserting and removing nodes never runs the selection handling re-entrantly.
    int m_filling = 0;
};
