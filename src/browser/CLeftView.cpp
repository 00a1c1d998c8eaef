#include "browser/CLeftView.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <algorithm>
#include <memory>

#include "browser/TreeCommands.h"
#include "browser/TreeImages.h"
#include "workspace/CKestrelDoc.h"

namespace {

// Sets the filling flag for a scope and puts back what it was.
class FillingScope {
public:
    explicit FillingScope(int& flag) : m_flag(flag), m_saved(flag) { m_flag = 1; }
    ~FillingScope() { m_flag = m_saved; }
    FillingScope(const FillingScope&) = delete;
    FillingScope& operator=(const FillingScope&) = delete;

private:
    int& m_flag;
    int m_saved;
};

bool captionLess(const QString& a, const QString& b) { return QString::compare(a, b) < 0; }

// Item data of a node: its image, and for a table, view or catalogue relation its object.
constexpr int kImageRole = Qt::UserRole;
constexpr int kSchemaRole = Qt::UserRole + 1;
constexpr int kNameRole = Qt::UserRole + 2;
constexpr int kVisibleRole = Qt::UserRole + 3;

}  // namespace

CLeftView::CLeftView(CKestrelDoc& doc, QWidget* parent)
    : QTreeWidget(parent), m_doc(doc)
{
    setObjectName(QStringLiteral("leftView"));
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setIconSize(QSize(16, 16));
    // A caption shows whole: the column is as wide as its longest caption and the pane
    // scrolls sideways, from the start of the names, where it is narrower.
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    connect(this, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current) { onSelectionChanged(current); });
    connect(this, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* node) { onDoubleClicked(node); });
}

int CLeftView::imageOf(const QTreeWidgetItem* node)
{
    return node ? node->data(0, kImageRole).toInt() : 0;
}

std::optional<ObjectName> CLeftView::objectOf(const QTreeWidgetItem* node)
{
    if (!node || !node->data(0, kNameRole).isValid()) return std::nullopt;
    return ObjectName{node->data(0, kSchemaRole).toString(), node->data(0, kNameRole).toString(),
                      node->data(0, kVisibleRole).toBool()};
}

Browse::NodePlace CLeftView::placeOf(const QTreeWidgetItem* node)
{
    Browse::NodePlace place;
    place.caption = node->text(0);
    place.image = imageOf(node);
    place.object = objectOf(node);
    if (const QTreeWidgetItem* parent = node->parent()) place.parentCaption = parent->text(0);
    for (const QTreeWidgetItem* up = node->parent(); up; up = up->parent()) ++place.depth;
    return place;
}

namespace {

QTreeWidgetItem* makeNode(const QString& caption, int image, const std::optional<ObjectName>& object)
{
    auto* node = new QTreeWidgetItem(QStringList{caption});
    node->setData(0, kImageRole, image);
    if (object) {
        node->setData(0, kSchemaRole, object->schema);
        node->setData(0, kNameRole, object->name);
        node->setData(0, kVisibleRole, object->visible);
    }
    node->setIcon(0, TreeImages::nodeIcon(image));
    return node;
}

}  // namespace

// Siblings stay in ascending caption order; a node goes after the siblings of equal caption.
QTreeWidgetItem* CLeftView::addNode(QTreeWidgetItem* parent, const QString& caption, int image,
                                    const std::optional<ObjectName>& object)
{
    QTreeWidgetItem* under = parent ? parent : invisibleRootItem();
    int low = 0, high = under->childCount();
    while (low < high) {
        const int mid = (low + high) / 2;
        if (captionLess(caption, under->child(mid)->text(0))) high = mid;
        else low = mid + 1;
    }
    QTreeWidgetItem* node = makeNode(caption, image, object);
    under->insertChild(low, node);
    return node;
}

// Many nodes into an empty parent at once (catalogue relations, a folder's objects).
void CLeftView::addNodes(QTreeWidgetItem* parent, QList<NewNode> nodes)
{
    if (parent->childCount() > 0) {
        for (const NewNode& n : nodes) addNode(parent, n.caption, n.image, n.object);
        return;
    }
    std::stable_sort(nodes.begin(), nodes.end(), [](const NewNode& a, const NewNode& b) {
        return captionLess(a.caption, b.caption);
    });
    QList<QTreeWidgetItem*> items;
    items.reserve(nodes.size());
    for (const NewNode& n : nodes) items << makeNode(n.caption, n.image, n.object);
    parent->addChildren(items);
}

void CLeftView::initialUpdate()
{
    FillingScope filling(m_filling);
    clear();
    // Nothing is selected in the new tree: no command may target a node of the earlier one.
    Browse::ClearBrowseState(m_doc);
    if (m_doc.Connect() != 0) return;
    m_doc.installNoticeReceiver();
    build();
}

// Nodes are inserted without selecting them: the build ends with no node selected, so the
// first node the operator picks, whichever it is, gets its listing.
void CLeftView::build()
{
    using namespace Browse;
    clear();
    QTreeWidgetItem* host = addNode(nullptr, HostCaption(m_doc.sessionHost()), ServerImage);
    QTreeWidgetItem* database = addNode(host, DatabaseCaption(m_doc.sessionDatabase()), ServerImage);
    QList<NewNode> folders;
    for (const QString& folder : ObjectFolders()) folders << NewNode{folder, FolderImage, {}};
    addNodes(database, folders);
    host->setExpanded(true);
    database->setExpanded(true);

    Connection& conn = *m_doc.connection();
    m_doc.superUser = IsSuperUser(conn, m_doc.userName) ? 1 : 0;
    if (m_doc.superUser != 1) return;

    QTreeWidgetItem* catalogue = addNode(host, kCatalogueNode, ServerImage);
    const std::optional<QList<ObjectName>> relations = ReadCatalogueRelations(conn);
    if (!relations) return;
    const QStringList captions = Captions(*relations);
    QList<NewNode> relationNodes;
    relationNodes.reserve(relations->size());
    for (qsizetype i = 0; i < relations->size(); ++i)
        relationNodes << NewNode{captions.at(i), RelationImage, relations->at(i)};
    addNodes(catalogue, relationNodes);
    catalogue->setExpanded(false);
    addNode(host, kUsersNode, ServerImage);
    addNode(host, kOtherDatabasesNode, ServerImage);
}

// Makes `node` the selected node and runs the selection handling for it, also when it was
// already current.
void CLeftView::selectNode(QTreeWidgetItem* node)
{
    if (currentItem() == node) onSelectionChanged(node);
    else setCurrentItem(node);
}

void CLeftView::onSelectionChanged(QTreeWidgetItem* current)
{
    if (m_filling || !current) return;
    const Browse::NodeKind kind = Browse::RecordSelection(m_doc, placeOf(current));
    if (kind == Browse::NodeKind::ObjectFolder && current->childCount() == 0) fillFolder(current);
    m_doc.updateAllViews(this);
}

// The folder keeps the selection while it is filled, so the highlighted node stays the one
// whose listing is shown.
void CLeftView::fillFolder(QTreeWidgetItem* folder)
{
    FillingScope filling(m_filling);
    Connection* conn = m_doc.connection();
    if (!conn) return;
    const std::optional<QList<Browse::FolderObject>> objects =
        Browse::ReadFolderObjects(*conn, folder->text(0));
    if (!objects || objects->isEmpty()) return;
    QList<ObjectName> listed;
    listed.reserve(objects->size());
    for (const Browse::FolderObject& o : *objects) listed << o.object;
    const QStringList captions = Captions(listed);
    QList<NewNode> nodes;
    nodes.reserve(objects->size());
    for (qsizetype i = 0; i < objects->size(); ++i)
        nodes << NewNode{captions.at(i), objects->at(i).image, objects->at(i).object};
    addNodes(folder, nodes);
    folder->setExpanded(true);
}

void CLeftView::onDoubleClicked(QTreeWidgetItem* node)
{
    if (!node) return;
    const Browse::NodePlace place = placeOf(node);
    Browse::RecordNode(m_doc, place);
    if (Browse::OpensTableDetail(place)) tableDetail(node);
}

// The node's caption follows a rename made in the dialog.
void CLeftView::tableDetail(QTreeWidgetItem* node)
{
    Browse::RecordObject(m_doc, placeOf(node).objectOrCaption());
    Connection* conn = m_doc.connection();
    if (!conn || !m_dialogs.tableDetail) return;
    const std::optional<ObjectName> renamed =
        m_dialogs.tableDetail(*conn, m_doc.browsedObject(), m_doc.sessionDatabase(), this);
    if (!renamed) return;
    setObject(node, *renamed);
    if (node->parent()) recaptionChildren(node->parent());
    Browse::RecordNode(m_doc, placeOf(node));
    Browse::RecordObject(m_doc, *renamed);
}

void CLeftView::setObject(QTreeWidgetItem* node, const ObjectName& object)
{
    node->setText(0, object.caption());
    node->setData(0, kSchemaRole, object.schema);
    node->setData(0, kNameRole, object.name);
    node->setData(0, kVisibleRole, object.visible);
}

// The captions of a folder's nodes follow the rule of every listing once a node came or
// changed (two tables claiming one bare name are both qualified); a node whose caption changed
// moves to its sorted place. The selection stays on the node it was on, unnoticed.
void CLeftView::recaptionChildren(QTreeWidgetItem* parent)
{
    QList<QTreeWidgetItem*> nodes;
    QList<ObjectName> objects;
    for (int i = 0; i < parent->childCount(); ++i) {
        if (const std::optional<ObjectName> o = objectOf(parent->child(i))) {
            nodes << parent->child(i);
            objects << *o;
        }
    }
    const QStringList captions = Captions(objects);
    bool changed = false;
    for (qsizetype i = 0; i < nodes.size(); ++i) {
        if (nodes.at(i)->text(0) == captions.at(i)) continue;
        nodes.at(i)->setText(0, captions.at(i));
        changed = true;
    }
    if (!changed) return;
    FillingScope filling(m_filling);
    QTreeWidgetItem* current = currentItem();
    QList<QTreeWidgetItem*> children = parent->takeChildren();
    std::stable_sort(children.begin(), children.end(), [](const QTreeWidgetItem* a, const QTreeWidgetItem* b) {
        return captionLess(a->text(0), b->text(0));
    });
    parent->addChildren(children);
    if (current) setCurrentItem(current);
}

QTreeWidgetItem* CLeftView::tablesFolderFor(QTreeWidgetItem* node) const
{
    if (!node) return nullptr;
    const Browse::NodeKind kind = Browse::Classify(placeOf(node));
    if (kind == Browse::NodeKind::Table) return node->parent();
    if (kind != Browse::NodeKind::ObjectFolder) return node;
    // The views folder's command puts the table where tables are listed.
    QTreeWidgetItem* database = node->parent();
    for (int i = 0; i < database->childCount(); ++i) {
        if (database->child(i)->text(0) == Browse::kTablesFolder) return database->child(i);
    }
    return node;
}

void CLeftView::addCreatedTable(const ObjectName& table)
{
    QTreeWidgetItem* under = tablesFolderFor(currentItem());
    QTreeWidgetItem* node = nullptr;
    // A folder never filled is filled now, the new table with the others: a folder that
    // holds a node is never asked again.
    if (under && under->childCount() == 0
        && Browse::Classify(placeOf(under)) == Browse::NodeKind::ObjectFolder)
        fillFolder(under);
    for (int i = 0; under && i < under->childCount() && !node; ++i) {
        const std::optional<ObjectName> o = objectOf(under->child(i));
        if (o && o->schema == table.schema && o->name == table.name) node = under->child(i);
    }
    {
        FillingScope filling(m_filling);
        if (!node) node = addNode(under, table.caption(), Browse::PostgresObjectImage, table);
        if (node->parent()) {
            node->parent()->setExpanded(true);
            recaptionChildren(node->parent());
        }
    }
    selectNode(node);
    scrollToItem(node);
}

QTreeWidgetItem* CLeftView::currentTableNode() const
{
    QTreeWidgetItem* current = currentItem();
    return current && Browse::Classify(placeOf(current)) == Browse::NodeKind::Table ? current : nullptr;
}

QTreeWidgetItem* CLeftView::tableNode(const ObjectName& table)
{
    auto matches = [&table](const QTreeWidgetItem* node) {
        return Browse::Classify(placeOf(node)) == Browse::NodeKind::Table
            && placeOf(node).objectOrCaption() == table;
    };
    if (QTreeWidgetItem* current = currentItem(); current && matches(current)) return current;
    for (QTreeWidgetItemIterator it(this); *it; ++it) {
        if (matches(*it)) return *it;
    }
    return nullptr;
}

// The dropped table's own node goes, wherever the selection is. When it was the selected
// node, the next sibling (else the previous one, else the folder) becomes selected.
void CLeftView::removeTableNode(const ObjectName& table)
{
    QTreeWidgetItem* node = tableNode(table);
    if (!node) return;
    const bool wasCurrent = node == currentItem();
    QTreeWidgetItem* parent = node->parent();
    const int index = parent->indexOfChild(node);
    QTreeWidgetItem* next = index + 1 < parent->childCount() ? parent->child(index + 1)
                          : index > 0                        ? parent->child(index - 1)
                                                             : parent;
    {
        FillingScope filling(m_filling);
        delete node;
    }
    if (wasCurrent) selectNode(next);
}

// The table of the selected node is dropped, never a name left over from another node.
void CLeftView::dropTable()
{
    const QTreeWidgetItem* node = currentTableNode();
    const ObjectName table = node ? placeOf(node).objectOrCaption() : ObjectName{};
    Browse::DropTable(m_doc, table, node ? node->text(0) : QString(),
                      [this, table] { removeTableNode(table); });
}

bool CLeftView::handlesCommand(int id) const
{
    switch (id) {
    case Cmd::SqlWindow:
    case Cmd::UserCreate:
    case Cmd::DatabaseCreate:
    case Cmd::CsvImport:
    case Cmd::TableCreate:
    case Cmd::TableEdit:
    case Cmd::TableDrop:
    case Cmd::CsvExport:
        return true;
    default:
        return false;
    }
}

bool CLeftView::commandEnabled(int id) const
{
    if (id == Cmd::TableDrop && !currentTableNode()) return false;
    return Browse::TreeCommandEnabled(id, m_doc);
}

void CLeftView::runCommand(int id)
{
    if (IsSharedViewCommand(id)) {
        if (m_dialogs.sharedCommand) m_dialogs.sharedCommand(id, m_doc, this);
        return;
    }
    switch (id) {
    case Cmd::TableEdit:
        if (QTreeWidgetItem* node = currentItem()) tableDetail(node);
        break;
    case Cmd::TableDrop:
        dropTable();
        break;
    case Cmd::TableCreate:
        if (Connection* conn = m_doc.connection(); conn && m_dialogs.tableCreate) {
            if (const std::optional<ObjectName> created = m_dialogs.tableCreate(*conn, this))
                addCreatedTable(*created);
        }
        break;
    case Cmd::CsvExport:
        if (Connection* conn = m_doc.connection(); conn && m_dialogs.tableExport)
            m_dialogs.tableExport(*conn, m_doc.browsedObject(), this);
        break;
    default:
        break;
    }
}

QMenu* CLeftView::createContextMenu()
{
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("contextMenu169"));
    struct Entry {
        int id;
        const char16_t* label;
    };
    const Entry entries[] = {
        {Cmd::DatabaseCreate, u"データベースの追加"},
        {0, nullptr},
        {Cmd::TableCreate, u"テーブルの新規作成"},
        {Cmd::TableEdit, u"テーブルの編集"},
        {Cmd::TableDrop, u"テーブルの削除"},
        {0, nullptr},
        {Cmd::CsvImport, u"CSVファイルのインポート"},
        {Cmd::CsvExport, u"CSVファイルへのエクスポート"},
        {0, nullptr},
    };
    for (const Entry& e : entries) {
        if (e.id == 0) {
            menu->addSeparator();
            continue;
        }
        QAction* a = menu->addAction(QString::fromUtf16(e.label));
        a->setObjectName(QStringLiteral("command%1").arg(e.id));
        a->setEnabled(commandEnabled(e.id));
        const int id = e.id;
        connect(a, &QAction::triggered, this, [this, id] {
            runCommand(id);
            emit commandStatesChanged();
        });
    }
    return menu;
}

// The tree serves no copy: Ctrl+C leaves the clipboard alone instead of taking the caption.
void CLeftView::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy)) {
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

void CLeftView::contextMenuEvent(QContextMenuEvent* event)
{
    // The menu acts on the selected node: a right click first selects the node under the
    // pointer, so the node acted on is the one highlighted. The menu key keeps the selection.
    if (event->reason() == QContextMenuEvent::Mouse) {
        if (QTreeWidgetItem* item = itemAt(event->pos()); item && item != currentItem())
            setCurrentItem(item);
    }
    std::unique_ptr<QMenu> menu(createContextMenu());
    menu->exec(event->globalPos());
}

// A right click selects in contextMenuEvent only, so a press that opens no menu changes
// nothing either.
void CLeftView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        setFocus(Qt::MouseFocusReason);
        event->accept();
        return;
    }
    QTreeWidget::mousePressEvent(event);
}
