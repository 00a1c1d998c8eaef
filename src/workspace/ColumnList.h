#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "workspace/Connection.h"
#include "workspace/ObjectName.h"

// The ten-cell listing of a table's columns, shared by the CSV import's field-settings list and
// the table detail dialog: name, type, length ("可変長" for a variable length), NULL setting,
// default, then attnelems, attdispersion, attcacheoff, attstorage and "直値"/"引数".
struct ColumnListing {
    bool ok = false;                  // the query succeeded
    std::vector<QStringList> rows;    // ten cells each, in column order
    int fixedLengthTotal = 0;         // sum of attlen over fixed-length columns
    bool hasVariableLength = false;   // some column's attlen is below 1

    int columnCount() const { return int(rows.size()); }
};

// A column default as pg_get_expr writes it, shown the way the operator typed it: a literal
// keeps its quotes and loses the cast the server adds ('abc'::character varying reads 'abc'),
// an expression (nextval('s'::regclass), now(), 0) stays as the server writes it. Every place
// that shows a default shows it so.
QString ShownDefault(const QString& expression);
// The shown form of a literal default of the value `value` ('O''Brien' for O'Brien), and back:
// the value of a shown literal, nothing for a text that is not one (an expression).
QString ShownLiteralDefault(const QString& value);
std::optional<QString> ShownLiteralValue(const QString& shown);

// The record length text: the fixed-length total, with "+α" when some column has a variable
// length.
QString RecordLengthText(int fixedTotal, bool variableLength);
QString RecordLengthText(const ColumnListing& columns);

// The listing of one table (Catalogue::ColumnListStatement), found exactly: by its schema when
// known, by the search path otherwise (as the bare name in a statement would be).
// A failed query gives ok = false and no rows.
ColumnListing LoadColumnList(Connection& conn, const ObjectName& table);
