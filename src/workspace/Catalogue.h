#pragma once

#include <QString>

#include "workspace/ObjectName.h"

class Connection;

// Every statement the program asks the system catalogue with, one function per question, so
// that a change of form (a new server, a different way to find a relation) is made here once.
// The forms below answer alike on every server from 10 on; a question whose form differs
// between servers branches on Connection::serverVersion() here and nowhere else. The column
// names and positions of each answer are what the callers read: keep them.
namespace Catalogue {

// Servers from this version read a range of row slots (ctid) without scanning the table.
constexpr int kTidRangeScanVersion = 140000;

// The condition that picks one relation of pg_class under `alias`: by schema and name when the
// schema is known, else the one the search path finds by that name (as a bare name would).
QString RelationMatch(const Connection& conn, const ObjectName& table, const QString& alias);

// The relation's kind, whether it has inheritance children, its persistence and its size in
// blocks (relkind, relhassubclass, relpersistence, blocks), found by schema and name; for
// sharing an export of a table out over several sessions.
QString RelationBlocksStatement(const Connection& conn, const ObjectName& table);
// The exact row count of a table or view ("RecordCount").
QString CountStatement(const ObjectName& table);
// The import's count of its target (the same question, its own letter case).
QString ImportCountStatement(const ObjectName& table);
// The catalogue's row estimate (reltuples) of one relation ("RecordEstimate").
QString EstimateStatement(const Connection& conn, const ObjectName& table);
// The owner of one relation ("usename"), the relation found by schema and name.
QString OwnerStatement(const Connection& conn, const ObjectName& table);
// The columns of one table in order, with their defaults as the server writes them; dropped
// columns are left out, so line r of the list is column r + 1 of the table's rows (the column
// list and the record dialog both read it so).
QString ColumnListStatement(const Connection& conn, const ObjectName& table);
// Whether the search path finds the relation by its bare name ("visible").
QString VisibilityStatement(const Connection& conn, const ObjectName& table);
// Inside the transaction that has just created the table `name` by its bare name: the schema
// it went into ("nspname", the first schema of the search path, where a bare CREATE puts it)
// and whether the search path finds it by that name ("visible"; a temporary table or a
// relation of pg_catalog of the same name comes first).
QString CreatedTableStatement(const Connection& conn, const QString& name);
// Whether the name reaches a relation an INSERT can fill ("recordcount" is 1 then).
QString InsertableRelationStatement(const Connection& conn, const ObjectName& table);
// The kind of the relation, whether it has rules and whether it has inheritance children or
// partitions ("relkind", "relhasrules", "relhassubclass").
QString RelationKindStatement(const Connection& conn, const ObjectName& table);
// The indexes of one table with their pg_index row ("indexname", i.*).
QString IndexListStatement(const Connection& conn, const ObjectName& table);
// Every key position of every index of one table, in one answer: the index ("indexname"), the
// position from 1 ("position"), the column's number ("attnum", 0 for an expression) and its
// name ("attname", null for an expression); ordered by index name and position.
QString IndexKeysStatement(const Connection& conn, const ObjectName& table);
// The database's row with its owner and encoding ("Owner", "Encode").
QString DatabaseFactsStatement(const Connection& conn, const QString& databaseName);
// The one row of a sequence, in the columns of the old sequence relation.
QString SequenceRowStatement(const ObjectName& sequence);
// Whether a role is a superuser ("usesuper").
QString SuperUserStatement(const Connection& conn, const QString& userName);
// One role's row of pg_user, the expiry as "YYYY-MM-DD HH24:MI:SS".
QString UserRowStatement(const Connection& conn, const QString& userName);
// The groups ("groname").
QString GroupsStatement();
// The groups in the same order with whether the role `sysId` is one of their members
// ("groname", "member" t or f); a sysId that is not a number is a member of none.
QString GroupMembershipStatement(const QString& sysId);
// The base types ("typname"; their array types start with '_').
QString BaseTypesStatement();
// Whether `typeName` has an array type, i.e. takes a length (a row when it has).
QString ArrayTypeStatement(const Connection& conn, const QString& typeName);

// Listings: every schema's objects with their schema and visibility where the caller keeps them.
// The tables the table selection offers (system schemas left out).
QString SelectableTablesStatement();
// The tree's tables and views folders.
QString TreeTablesStatement();
QString TreeViewsStatement();
// The relations under the tree's catalogue node.
QString RelationsStatement();
// The sequences of the database ("relname", "nspname", "visible").
QString SequenceNamesStatement();
// The summaries of the list view; their headings are the Japanese aliases.
QString TablesSummaryStatement();
QString UsersSummaryStatement();
QString IndexesSummaryStatement();
QString ViewsSummaryStatement();
QString TypesSummaryStatement();
// Fields at the end of the tables, views and indexes summaries that are read, not shown: the
// schema, the visibility and the name as stored of the relation the first field names (the
// table, the view, the indexed table).
constexpr int kSummaryHiddenFields = 3;

}  // namespace Catalogue
