#include "workspace/BrowseRules.h"

#include "workspace/CKestrelDoc.h"
#include "workspace/Catalogue.h"
#include "workspace/Connection.h"
#include "workspace/Prompter.h"
#include "workspace/SqlQuote.h"
#include "workspace/Statements.h"
#include "workspace/Transaction.h"

namespace Browse {

QString HostCaption(const QString& hostName) { return QStringLiteral("ホスト(%1)").arg(hostName); }

QString DatabaseCaption(const QString& databaseName)
{
    return QStringLiteral("データベース(%1)").arg(databaseName);
}

const QStringList& ObjectFolders()
{
    static const QStringList folders = {
        kTablesFolder,         kIndexesFolder, kViewsFolder,
        QStringLiteral("ファンクション"), kTypesFolder,     QStringLiteral("トリガー"),
        kSequencesFolder,   kUsersNode,                 QStringLiteral("集約関数"),
        QStringLiteral("言語"),         QStringLiteral("演算子"),     QStringLiteral("ルール"),
        QStringLiteral("ラージ"),
    };
    return folders;
}

int ObjectImage(const QString& owner)
{
    return owner == QLatin1String("postgres") ? PostgresObjectImage : OtherObjectImage;
}

NodeKind Classify(const NodePlace& node)
{
    if (node.depth == 2) {
        if (node.parentCaption == kCatalogueNode) return NodeKind::CatalogueRelation;
        if (node.parentCaption.startsWith(kDatabasePrefix)
            && (node.caption == kTablesFolder || node.caption == kViewsFolder))
            return NodeKind::ObjectFolder;
        return NodeKind::Other;
    }
    if (node.depth == 3) {
        if (node.parentCaption == kTablesFolder) return NodeKind::Table;
        if (node.parentCaption == kViewsFolder) return NodeKind::View;
    }
    return NodeKind::Other;
}

void RecordNode(CKestrelDoc& doc, const NodePlace& node)
{
    doc.nodeImage = node.image;
    doc.nodeCaption = node.caption;
    doc.parentCaption = node.parentCaption;
    doc.nodeDepth = node.depth;
}

NodeKind RecordSelection(CKestrelDoc& doc, const NodePlace& node)
{
    RecordNode(doc, node);
    const NodeKind kind = Classify(node);
    doc.viewFlag = kind == NodeKind::View;
    doc.tableFlag = kind == NodeKind::Table;
    doc.folderFlag = kind == NodeKind::ObjectFolder;
    doc.catalogueFlag = kind == NodeKind::CatalogueRelation;
    doc.pageIndex = 0;
    // Every node at depth 3 names a table or view, whatever folder it sits in.
    if (kind == NodeKind::CatalogueRelation || node.depth == 3) RecordObject(doc, node.objectOrCaption());
    return kind;
}

void RecordObject(CKestrelDoc& doc, const ObjectName& object)
{
    doc.objectName = object.name;
    doc.objectSchema = object.schema;
    doc.objectVisible = object.visible;
}

void ClearBrowseState(CKestrelDoc& doc)
{
    RecordNode(doc, {});
    doc.viewFlag = doc.tableFlag = doc.folderFlag = doc.catalogueFlag = 0;
    doc.pageIndex = 0;
    RecordObject(doc, {{}, {}, true});
}

bool OpensTableDetail(const NodePlace& node)
{
    const NodeKind kind = Classify(node);
    return kind == NodeKind::CatalogueRelation || kind == NodeKind::Table
        || kind == NodeKind::View;
}

QString FolderQuery(const QString& folderCaption)
{
    // Every schema's objects, each with its schema and whether the search path finds it.
    if (folderCaption == kTablesFolder) return Catalogue::TreeTablesStatement();
    if (folderCaption == kViewsFolder) return Catalogue::TreeViewsStatement();
    return {};
}

namespace {

bool isTrue(const QString& value) { return value == QLatin1String("t"); }

}  // namespace

std::optional<QList<FolderObject>> ReadFolderObjects(Connection& conn,
                                                     const QString& folderCaption)
{
    const QString query = FolderQuery(folderCaption);
    if (query.isEmpty()) return std::nullopt;
    Result r = conn.read(query);
    if (!r.tuplesOk()) return std::nullopt;
    const bool tables = folderCaption == kTablesFolder;
    const int name = r.fieldNumber(tables ? "tablename" : "viewname");
    const int owner = r.fieldNumber(tables ? "tableowner" : "viewowner");
    const int schema = r.fieldNumber("schemaname"), visible = r.fieldNumber("visible");
    QList<FolderObject> objects;
    objects.reserve(r.rows());
    for (int row = 0; row < r.rows(); ++row) {
        objects.push_back({{r.value(row, schema), r.value(row, name), isTrue(r.value(row, visible))},
                           ObjectImage(r.value(row, owner))});
    }
    return objects;
}

bool IsSuperUser(Connection& conn, const QString& userName)
{
    Result r = conn.read(Catalogue::SuperUserStatement(conn, userName));
    return r.tuplesOk() && r.rows() > 0 && r.value(0, 0) == QLatin1String("t");
}

std::optional<QList<ObjectName>> ReadCatalogueRelations(Connection& conn)
{
    Result r = conn.read(Catalogue::RelationsStatement());
    if (!r.tuplesOk()) return std::nullopt;
    const int name = r.fieldNumber("relname"), schema = r.fieldNumber("nspname"),
              visible = r.fieldNumber("visible");
    QList<ObjectName> relations;
    relations.reserve(r.rows());
    for (int row = 0; row < r.rows(); ++row)
        relations.push_back({r.value(row, schema), r.value(row, name), isTrue(r.value(row, visible))});
    return relations;
}

bool RequireSuperUser(const CKestrelDoc& doc)
{
    if (doc.superUser == 1) return true;
    prompter().tell(BoxKind::Window, kNoPermission);
    return false;
}

bool DropTable(CKestrelDoc& doc, const ObjectName& table, const QString& caption,
               const std::function<void()>& removeNode)
{
    // The question names the table it is about, by its caption in the tree.
    const QString question =
        table.name.isEmpty() ? kDropQuestion : kDropQuestion + QStringLiteral("\n") + caption;
    if (!prompter().ask(BoxKind::Application, question)) return false;
    if (table.name.isEmpty()) {
        prompter().tell(BoxKind::Window, kNoTableSelected);
        return false;
    }
    Connection* conn = doc.connection();
    const SingleChange outcome = conn ? RunSingleChange(*conn, QStringLiteral("DROP TABLE %1").arg(table.sql()))
                                      : SingleChange::Failed;
    if (outcome == SingleChange::Declined) return false;
    if (outcome == SingleChange::Failed) {
        prompter().tell(BoxKind::Window, kDropFailed);
        return false;
    }
    if (removeNode) removeNode();
    TellChangeDone(*conn, kDropped);
    return true;
}

}  // namespace Browse
