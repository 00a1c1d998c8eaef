#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

#include "workspace/ColumnList.h"
#include "workspace/ObjectName.h"

class Connection;

// The tables of the connected database as the object tree lists them: every schema but the
// system's own, in the server's order, each with its schema and whether the search path finds
// it by its bare name. Empty when the query failed.
QList<ObjectName> ListTables(Connection& conn);

// What the table selection shows for one table. The three queries run in order and the first
// that fails stops the rest, so `stepsDone` (0 to 3) tells which boxes have something new.
// Step 1 is the catalogue's row estimate (no row: no such table, a failed step); the exact
// count is the dialog's to follow on a second session.
struct TableInformation {
    int stepsDone = 0;
    QString recordEstimate;              // step 1
    std::optional<QString> owner;        // step 2, when its row has a value
    QStringList columns;                 // step 3: column names in order
    QString recordLength;                // step 3
};

TableInformation ReadTableInformation(Connection& conn, const ObjectName& table);
