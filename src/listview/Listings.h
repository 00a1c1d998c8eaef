#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "workspace/BrowseRules.h"
#include "workspace/ObjectName.h"
#include "workspace/ResultModel.h"

#include <vector>

class Connection;
class QAbstractItemModel;

// The tree captions the list view decides by are the tree's own.
using Browse::kCatalogueNode;
using Browse::kIndexesFolder;
using Browse::kSequencesFolder;
using Browse::kTablesFolder;
using Browse::kTypesFolder;
using Browse::kUsersNode;
using Browse::kViewsFolder;

// The catalogue summaries. Their headings are the Japanese aliases of the statements.
// The tables summary carries, out of sight, each table's schema and whether the search path
// finds it, so that a row names its own table where two schemas hold the same name.
inline const QString kTablesListing = QStringLiteral(
    "select tablename as テーブル名,tableowner as オーナー名,hasindexes as インデックス,"
    "hasrules as ルール,hastriggers as トリガー,schemaname,"
    "pg_table_is_visible(format('%I.%I',schemaname,tablename)::regclass) as visible "
    "from pg_tables");
constexpr int kTablesListingHiddenFields = 2;
// Trace and catalogue-update rights are gone from the server; they always read as absent.
inline const QString kUsersListing = QStringLiteral(
    "select usename as ユーザ名,usesysid as システムＩＤ,usecreatedb as データベース作成,"
    "false as トレース,usesuper as スーパユーザ,false as カタログ修正,valuntil as 有効期間 "
    "from pg_user");
inline const QString kIndexesListing = QStringLiteral(
    "select tablename as テーブル名,indexname as インデックス名,indexdef as 定義内容 from pg_indexes");
inline const QString kViewsListing = QStringLiteral(
    "select viewname as ビュー名,viewowner as ビューオーナー,definition as 定義内容 from pg_views");
inline const QString kTypesListing = QStringLiteral(
    "select typname as デ－タ型名, typowner as 型所有者, typlen as 長さ, typbyval as 渡し方, "
    "typdelim as 配列入力, typinput as 入力関数, typoutput as 出力関数, typalign as 境界調整 "
    "from pg_type where typtype = 'b'");
// Every sequence of the database, in whatever schema, with what addressing it needs.
inline const QString kSequenceNames = QStringLiteral(
    "select c.relname, n.nspname, pg_table_is_visible(c.oid) as visible "
    "from pg_class c, pg_namespace n where c.relkind = 'S' and n.oid = c.relnamespace");

enum class Listing { None, Tables, Users, Indexes, Views, Sequences, Types, Contents };

struct ListingChoice {
    Listing kind = Listing::None;
    ObjectName relation;  // for Contents: the table, view or catalogue relation whose rows to show
};

// What the list shows for a browse state of the tree; `object` is the browsed object.
ListingChoice ChooseListing(int nodeDepth, const QString& nodeCaption, const QString& parentCaption,
                            const ObjectName& object);

// The statement of a one-statement listing (tables, users, indexes, views, types).
QString ListingStatement(Listing kind);
// How a listing turns values as sent into the texts shown; empty for "as sent".
ResultModel::CellTranslator ListingTranslator(Listing kind);

// One page of a relation's rows. With the row identity the first column is the row's ctid and
// the last two, kept out of sight, its tableoid and xmin: record editing and deletion address
// rows by the three.
QString TableContentsStatement(const ObjectName& relation, bool withRowIdentity, int pageLength,
                               int pageIndex);
// The fields after the shown ones that carry a listed row's identity (tableoid, xmin).
constexpr int kHiddenIdentityFields = 2;
// Only a table's rows carry their ctid: views have none, and catalogue relations are shown
// for reading only.
bool ShowsRowIdentity(const QString& parentCaption);
// Paging applies while the rows of a table or a view are shown.
bool ShowsPagedRows(const QString& parentCaption);

// A sequence's single row (name, counters and settings), addressed in its schema.
QString SequenceRowStatement(const ObjectName& sequence);

// Rows gathered from several results, shown as texts.
struct TextTable {
    QStringList headings;
    QList<QStringList> rows;
    // The object each row shows, where rows stand for objects (the sequences listing).
    QList<ObjectName> objects;
};

// The sequences listing: one row per sequence of the database, each read from its own
// sequence; the headings are those of the first. A sequence that cannot be read (no right,
// gone meanwhile) is left out and the listing goes on with the next.
TextTable LoadSequenceListing(Connection& conn);

// What a double click on a listed row opens.
enum class RowAction { None, UserEdit, SequenceInfo, TableInfo, EditRecord };
RowAction ChooseRowAction(int nodeDepth, const QString& nodeCaption, const QString& parentCaption);

// The leading decimal integer of a text as the C library's atoi reads it (optional blanks and
// sign, then digits), 0 when there is none; clamped to the int range.
int LeadingInteger(const QString& text);

// What the paging bar's OK takes from its two boxes: a page number (1-based, as shown) and a
// page length. A page number that is not a number or below 1 gives the first page; a page
// length that is not a positive number gives 100 rows.
struct PageChoice {
    int pageIndex = 0;
    int pageLength = 100;
};
PageChoice ReadPageBar(const QString& pageText, const QString& pageLengthText);

// The clipboard text of rows: cells 0 to columnCount - 1 of each row joined by TAB, rows
// joined by LF, no line end after the last.
QString RowsAsText(const QAbstractItemModel& model, const std::vector<int>& rows, int columnCount);
