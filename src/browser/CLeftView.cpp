#include "browser/CLeftView.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <algorithm>
#include <memory>

#include "app/CMainFrame.h"
#include "browser/TreeImages.h"
#include "app/SharedCommands.h"
#include "transfer/CCsvExportDlg.h"
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

}  // namespace

CLeftView::CLeftView(CKestrelDoc& doc, CMainFrame* frame, QWidget* parent)
    : QTreeWidget(parent), m_doc(doc), m_frame(frame)
{
    setObjectName(QStringLiteral("leftView"));
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setIconSize(QSize(16, 16));
    connect(this, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current) { onSelectionChanged(current); });
    connect(this, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* node) { onDoubleClicked(node); });
}

int CLeftView::imageOf(const QTreeWidgetItem* node)
{
    return node ? node->data(0, Qt::UserRole).toInt() : 0;
}

Browse::NodePlace CLeftView::placeOf(const QTreeWidgetItem* node)
{
    Browse::NodePlace place;
    place.caption = node->text(0);
    place.image = imageOf(node);
    if (const QTreeWidgetItem* parent = node->parent()) place.parentCaption = parent->text(0);
    for (const QTreeWidgetItem* up = node->parent(); up; up = up->parent()) ++place.depth;
    return place;
}

namespace {

QTreeWidgetItem* makeNode(const QString& caption, int image)
{
    auto* node = new QTreeWidgetItem(QStringList{caption});
    node->setData(0, Qt::UserRole, image);
    node->setIcon(0, TreeImages::nodeIcon(image));
    return node;
}

}  // namespace

// Siblings stay in ascending caption order; a node goes after the siblings of equal caption.
QTreeWidgetItem* CLeftView::addNode(QTreeWidgetItem* parent, const QString& caption, int image)
{
    QTreeWidgetItem* under = parent ? parent : invisibleRootItem();
    int low = 0, high = under->childCount();
    while (low < high) {
        const int mid = (low + high) / 2;
        if (captionLess(caption, under->child(mid)->text(0))) high = mid;
        else low = mid + 1;
    }
    QTreeWidgetItem* node = makeNode(caption, image);
    under->insertChild(low, node);
    return node;
}

// Many nodes into an empty parent at once (catalogue relations, a folder's objects).
void CLeftView::addNodes(QTreeWidgetItem* parent, QList<NewNode> nodes)
{
    if (parent->childCount() > 0) {
        for (const NewNode& n : nodes) addNode(parent, n.first, n.second);
        return;
    }
    std::stable_sort(nodes.begin(), nodes.end(), [](const NewNode& a, const NewNode& b) {
        return captionLess(a.first, b.first);
    });
    QList<QTreeWidgetItem*> items;
    items.reserve(nodes.size());
    for (const NewNode& n : nodes) items << makeNode(n.first, n.second);
    parent->addChildren(items);
}

void CLeftView::initialUpdate()
{
    FillingScope filling(m_filling);
    clear();
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
    QTreeWidgetItem* host = addNode(nullptr, HostCaption(m_doc.hostName), ServerImage);
    QTreeWidgetItem* database = addNode(host, DatabaseCaption(m_doc.databaseName), ServerImage);
    QList<NewNode> folders;
    for (const QString& folder : ObjectFolders()) folders << NewNode(folder, FolderImage);
    addNodes(database, folders);
    host->setExpanded(true);
    database->setExpanded(true);

    Connection& conn = *m_doc.connection();
    m_doc.superUser = IsSuperUser(conn, m_doc.userName) ? 1 : 0;
    if (m_doc.superUser != 1) return;

    QTreeWidgetItem* catalogue = addNode(host, kCatalogueNode, ServerImage);
    const std::optional<QStringList> relations = ReadCatalogueRelations(conn);
    if (!relations) return;
    QList<NewNode> relationNodes;
    relationNodes.reserve(relations->size());
    for (const QString& name : *relations) relationNodes << NewNode(name, RelationImage);
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
    QList<NewNode> nodes;
    nodes.reserve(objects->size());
    for (const Browse::FolderObject& o : *objects) nodes << NewNode(o.name, o.image);
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

// The table detail dialog comes with the table inspection work; until then the command
// records which object it is about.
void CLeftView::tableDetail(QTreeWidgetItem* node)
{
    m_doc.objectName = node->text(0);
}

void CLeftView::addCreatedTable(const QString& tableName)
{
    QTreeWidgetItem* node;
    {
        FillingScope filling(m_filling);
        node = addNode(currentItem(), tableName, Browse::PostgresObjectImage);
        if (node->parent()) node->parent()->setExpanded(true);
    }
    selectNode(node);
}

QTreeWidgetItem* CLeftView::tableNode(const QString& tableName)
{
    QTreeWidgetItem* current = currentItem();
    if (current && Browse::Classify(placeOf(current)) == Browse::NodeKind::Table
        && current->text(0) == tableName)
        return current;
    for (QTreeWidgetItemIterator it(this); *it; ++it) {
        QTreeWidgetItem* node = *it;
        if (node->text(0) == tableName && Browse::Classify(placeOf(node)) == Browse::NodeKind::Table)
            return node;
    }
    return nullptr;
}

// The dropped table's own node goes, wherever the selection is. When it was the selected
// node, the next sibling (else the previous one, else the folder) becomes selected.
void CLeftView::removeTableNode(const QString& tableName)
{
    QTreeWidgetItem* node = tableNode(tableName);
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

void CLeftView::dropTable()
{
    const QString tableName = m_doc.objectName;
    Browse::DropTable(m_doc, [this, tableName] { removeTableNode(tableName); });
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

bool CLeftView::commandEnabled(int id) const { return Browse::TreeCommandEnabled(id, m_doc); }

// Table creation has no dialog yet: the command is served, enabled and checked, and opens
// nothing.
void CLeftView::runCommand(int id)
{
    if (IsSharedViewCommand(id)) {
        RunSharedViewCommand(id, m_doc, this);
        return;
    }
    switch (id) {
    case Cmd::TableEdit:
        if (QTreeWidgetItem* node = currentItem()) tableDetail(node);
        break;
    case Cmd::TableDrop:
        dropTable();
        break;
    case Cmd::CsvExport:
        if (Connection* conn = m_doc.connection()) {
            CCsvExportDlg dlg(*conn, m_doc.browsedObject(), this);
            dlg.exec();
        }
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
            if (m_frame) m_frame->updateCommandStates();
        });
    }
    return menu;
}

void CLeftView::contextMenuEvent(QContextMenuEvent* event)
{
    std::unique_ptr<QMenu> menu(createContextMenu());
    menu->exec(event->globalPos());
}

// A right click leaves the selection where it is: the context menu acts on the selected node,
// not on the node under the mouse.
void CLeftView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        setFocus(Qt::MouseFocusReason);
        event->accept();
        return;
    }
    QTreeWidget::mousePressEvent(event);
}
