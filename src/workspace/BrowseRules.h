#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

#include "workspace/ObjectName.h"

class CKestrelDoc;
class Connection;

// What the object tree decides, kept apart from the tree control: which nodes it holds, which
// image a node gets, what selecting a node writes into the workspace's browse state, the
// catalogue queries behind the nodes and which tree commands are enabled. Every decision here is
// taken from caption, parent caption and depth; a table, view or catalogue relation node also
// keeps the object it stands for (schema, name, visibility), so that statements address that
// very object and a name holding a dot is never split.
namespace Browse {

inline const QString kTablesFolder = QStringLiteral("テーブル");
inline const QString kViewsFolder = QStringLiteral("ビュー");
inline const QString kIndexesFolder = QStringLiteral("インデックス");
inline const QString kSequencesFolder = QStringLiteral("シーケンス");
inline const QString kTypesFolder = QStringLiteral("タイプ");
inline const QString kCatalogueNode = QStringLiteral("システムカタログ");
inline const QString kUsersNode = QStringLiteral("ユーザ");
inline const QString kOtherDatabasesNode = QStringLiteral("他のデータベース");
inline const QString kDatabasePrefix = QStringLiteral("データベース");

inline const QString kNoPermission = QStringLiteral("権限がありません");
inline const QString kDropQuestion = QStringLiteral("テーブルを削除してもよろしいですか？");
inline const QString kNoTableSelected = QStringLiteral("テーブルが選択されていません");
inline const QString kDropFailed = QStringLiteral("テーブル削除に失敗しました");
inline const QString kDropped = QStringLiteral("テーブルを削除しました");

// Images of the tree's image list. A node shown with image i shows i + 1 while selected.
enum Image : int {
    ServerImage = 0,          // host, database, catalogue, users, other databases
    RelationImage = 2,        // a relation of the system catalogue
    FolderImage = 4,          // the thirteen object folders
    PostgresObjectImage = 6,  // a table or view owned by "postgres"
    OtherObjectImage = 8,     // a table or view of any other owner
    ImageCount = 10,
};

QString HostCaption(const QString& hostName);
QString DatabaseCaption(const QString& databaseName);
// The thirteen folders under the database node, in the order they are inserted.
const QStringList& ObjectFolders();

// The image of a table or view node: the owner comparison is exact and case-sensitive.
int ObjectImage(const QString& owner);

// Where a node sits in the tree. The root has depth 0 and an empty parent caption.
struct NodePlace {
    QString caption;
    QString parentCaption;
    int depth = 0;
    int image = 0;
    // The object of a table, view or catalogue relation node; other nodes leave it empty and
    // a node without one stands for the object its caption names on the search path.
    std::optional<ObjectName> object;

    ObjectName objectOrCaption() const { return object ? *object : ObjectName{{}, caption, true}; }
};

enum class NodeKind { Other, CatalogueRelation, ObjectFolder, Table, View };

NodeKind Classify(const NodePlace& node);

// Caption, parent caption, depth and image of the node into the browse state (a double click
// records only these).
void RecordNode(CKestrelDoc& doc, const NodePlace& node);
// Everything a selection change writes: the node, the four flags, page index 0 and, for a
// table, view or catalogue relation, the object name, schema and visibility. The object of an
// earlier node stays when a node of another kind is selected. Returns the node's kind.
NodeKind RecordSelection(CKestrelDoc& doc, const NodePlace& node);
// The browsed object: object name, schema and visibility.
void RecordObject(CKestrelDoc& doc, const ObjectName& object);
// The browse state of no selection, as a fresh tree has it (after "新規接続" nothing of the
// earlier database may stay a target).
void ClearBrowseState(CKestrelDoc& doc);
// Catalogue relations, tables and views open the table detail on a double click.
bool OpensTableDetail(const NodePlace& node);

// A table or view as its folder lists it; its node is captioned object.caption().
struct FolderObject {
    ObjectName object;
    int image = OtherObjectImage;
};

// The listing behind "テーブル" or "ビュー"; empty for any other caption.
QString FolderQuery(const QString& folderCaption);
// The folder's objects in the server's order; nothing when the query failed, so the folder
// is asked again on its next selection.
std::optional<QList<FolderObject>> ReadFolderObjects(Connection& conn,
                                                     const QString& folderCaption);

// Whether the login user is a superuser; a failed or empty answer counts as no.
bool IsSuperUser(Connection& conn, const QString& userName);
// The relations of pg_class, in every schema; nothing when the query failed.
std::optional<QList<ObjectName>> ReadCatalogueRelations(Connection& conn);

// User registration and database creation need a superuser; anyone else is told
// "権限がありません" and nothing opens.
bool RequireSuperUser(const CKestrelDoc& doc);

// Drops `table` (the selected table node's; an empty name when no table node is selected):
// asks first, naming the table by `caption` (its node's), one statement without a
// transaction. `removeNode` runs after a successful drop, before the success message.
// Returns whether the table was dropped.
bool DropTable(CKestrelDoc& doc, const ObjectName& table, const QString& caption,
               const std::function<void()>& removeNode);

}  // namespace Browse
