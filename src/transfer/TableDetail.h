#pragma once

#include <QString>
#include <optional>
#include <vector>

#include "workspace/Catalogue.h"
#include "workspace/ColumnList.h"
#include "workspace/Connection.h"
#include "workspace/ObjectName.h"
#include "workspace/RecordCount.h"

// Marks of the table detail's lists: an ordinary column (and every index row), a column in a
// primary-key index, in a unique index, in an index that is neither.
enum ColumnImage { PlainColumnImage = 0, PrimaryKeyImage = 1, UniqueKeyImage = 2, IndexKeyImage = 3 };

struct IndexFacts {
    QString name;
    bool primary = false;
    bool unique = false;
    QString keyText;  // each key column's name followed by two blanks
};

// The facts of the database the table lives in; a field is set only when the row carried it.
struct DatabaseFacts {
    std::optional<QString> oid, lastSystemOid, encoding, ownerId, ownerName, isTemplate,
        allowConnections;
};

// What one load of the table detail found. Each query runs only when the one before it
// succeeded; a box whose step was not reached, or did not give a value, stays unset and the
// dialog leaves it as it was.
struct TableDetail {
    ColumnListing columns;
    std::vector<int> columnImages;        // per column row, a ColumnImage
    std::optional<QString> fieldCount;    // "フィールド数"
    std::optional<QString> recordLength;  // "レコード長"
    // The catalogue's row estimate (reltuples), shown until the exact count arrives; unset
    // when the table was not found, which ends the load as a failed count would.
    std::optional<QString> rowEstimate;
    bool tableFound = false;
    std::optional<QString> owner;
    bool ownerRead = false;
    DatabaseFacts database;
    bool databaseRead = false;
    std::vector<IndexFacts> indexes;
};

// The whole load except the exact count, which the dialog runs apart (RecordCountFeed).
TableDetail LoadTableDetail(Connection& conn, const ObjectName& table, const QString& databaseName);

// VACUUM or VACUUM ANALYZE of one table, on its own outside any transaction block.
enum class MaintenanceKind { Vacuum, VacuumAnalyze };
QString MaintenanceStatement(MaintenanceKind kind, const ObjectName& table);

struct MaintenanceOutcome {
    bool done = false;  // the statement succeeded and the server raised no warning
    // The text to show when not done: the server's error, or the warnings it raised (a
    // VACUUM the role may not run on the table answers success with only a warning).
    QString message;
};
MaintenanceOutcome RunMaintenance(Connection& conn, MaintenanceKind kind, const ObjectName& table);

inline const QString kMaintenanceDone = QStringLiteral("正常に終了しました");
