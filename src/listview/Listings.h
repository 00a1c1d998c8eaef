#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "workspace/BrowseRules.h"
#include "workspace/Catalogue.h"
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

// The tables, views and indexes summaries carry, out of sight, the schema and visibility of
// the relation their first field names, so that a row names its own table where two schemas
// hold the same name.
constexpr int kSummaryHiddenFields = Catalogue::kSummaryHiddenFields;

// The relation a row of such a summary names, and the captions of the first field: the rule
// of every listing over the relations the summary names, so that two same-named ones never
// look alike.
ObjectName ListedRelation(const ResultModel& model, int row);
void CaptionListedRelations(ResultModel& model);

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
