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
struct TableInformation {
    int stepsDone = 0;
    std::optional<QString> recordCount;  // step 1, when its row has a value
    std::optional<QString> owner;        // step 2, when its row has a value
    QStringList columns;                 // step 3: column names in order
    QString recordLength;                // step 3
};

TableInformation ReadTableInformation(Connection& conn, const ObjectName& table);
