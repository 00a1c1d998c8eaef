#pragma once

#include <QString>
#include <optional>

#include "workspace/Connection.h"
#include "workspace/ObjectName.h"

// Column and table changes of an existing table, each in its own short transaction. A failed
// step shows the server's text and ends the open block, so the session stays usable.

inline const QString kEnterNewFieldName = QStringLiteral("新しいフィールド名を入力してください");
inline const QString kEnterNewDefault = QStringLiteral("新しいデフォルト値を入力してください");

// `column` is exact (from the catalogue), `newName` as the server will store it.
QString ColumnRenameStatement(const ObjectName& table, const QString& column, const QString& newName);
// The default goes between apostrophes as typed, escaped for the server.
QString SetDefaultStatement(Connection& conn, const ObjectName& table, const QString& column,
                            const QString& value);
QString DropDefaultStatement(const ObjectName& table, const QString& column);
QString TableRenameStatement(const ObjectName& table, const QString& newName);

// Renames the column to the typed name; the new name as stored, or nothing on an empty name
// (after telling so) or a failed step.
std::optional<QString> RenameColumn(Connection& conn, const ObjectName& table,
                                    const QString& column, const QString& typedName);
// Sets the default; false on an empty value (after telling so) or a failed step.
bool SetColumnDefault(Connection& conn, const ObjectName& table, const QString& column,
                      const QString& value);
bool DropColumnDefault(Connection& conn, const ObjectName& table, const QString& column);
// Renames the table to the typed name (an empty one is left to the server to refuse); the
// table under its new name, or nothing on a failed step.
std::optional<ObjectName> RenameTable(Connection& conn, const ObjectName& table,
                                      const QString& typedName);
