#pragma once

#include <QList>
#include <QTreeWidget>
#include <optional>

#include "widgets/CommandTarget.h"
#include "widgets/FeatureDialogs.h"
#include "workspace/BrowseRules.h"

class CKestrelDoc;
class QMenu;

// The object tree: host, database, object folders, tables and views, and for a superuser the
// system catalogue. Its initial update is where the login happens. Selecting a node writes the
// workspace's browse state and tells the other views; the tree serves the table-level commands
// of its context menu and some commands of the main menu.
class CLeftView : public QTreeWidget, public KestrelView {
    Q_OBJECT
public:
    explicit CLeftView(CKestrelDoc& doc, QWidget* parent = nullptr);

    // The dialogs of other folders the tree opens (table detail, creation, export, the shared
    // commands).
    void setFeatureDialogs(FeatureDialogs dialogs) { m_dialogs = std::move(dialogs); }

    void initialUpdate() override;

    bool handlesCommand(int id) const override;
    bool commandEnabled(int id) const override;
    void runCommand(int id) override;

    // Context menu 169, its entries enabled from the browse state of the selected node. Its
    // entries run their commands on this tree. The caller owns the menu.
    QMenu* createContextMenu();

    // A table made with "テーブルの新規作成", in the schema the server put it in, goes into the
    // tables folder (beside the selected table) captioned by the rule of the listing, and
    // becomes the selected node, with the usual selection handling.
    void addCreatedTable(const ObjectName& table);

    // The image index a node was inserted with.
    static int imageOf(const QTreeWidgetItem* node);
    // The table, view or catalogue relation a node stands for; nothing for other nodes.
    static std::optional<ObjectName> objectOf(const QTreeWidgetItem* node);

signals:
    // A command ran from the tree's own menu: the enabling of the window's commands may differ.
    void commandStatesChanged();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    struct NewNode {
        QString caption;
        int image = 0;
        std::optional<ObjectName> object;
    };

    QTreeWidgetItem* addNode(QTreeWidgetItem* parent, const QString& caption, int image,
                             const std::optional<ObjectName>& object = std::nullopt);
    void addNodes(QTreeWidgetItem* parent, QList<NewNode> nodes);
    void build();
    void selectNode(QTreeWidgetItem* node);
    void onSelectionChanged(QTreeWidgetItem* current);
    void onDoubleClicked(QTreeWidgetItem* node);
    void fillFolder(QTreeWidgetItem* folder);
    void tableDetail(QTreeWidgetItem* node);
    void dropTable();
    void removeTableNode(const ObjectName& table);
    void setObject(QTreeWidgetItem* node, const ObjectName& object);
    void recaptionChildren(QTreeWidgetItem* parent);
    // The tables folder a created table goes into, from the selected node.
    QTreeWidgetItem* tablesFolderFor(QTreeWidgetItem* node) const;
    QTreeWidgetItem* tableNode(const ObjectName& table);
    // The selected node when it is a table node.
    QTreeWidgetItem* currentTableNode() const;
    static Browse::NodePlace placeOf(const QTreeWidgetItem* node);

    CKestrelDoc& m_doc;
    FeatureDialogs m_dialogs;
    // While 1 (the build, a folder being filled, a node being removed) selection changes are
    // ignored, so inserting and removing nodes never runs the selection handling re-entrantly.
    int m_filling = 0;
};
