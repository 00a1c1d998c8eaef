#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "workspace/ColumnList.h"  // ShownDefault
#include "workspace/ObjectName.h"

class Connection;

inline const QString kUpdateQuestion = QStringLiteral("更新を行ってもよろしいですか？");
inline const QString kUpdateFailure = QStringLiteral("データを更新することが出来ませんでした");
inline const QString kRecordDeleteQuestion = QStringLiteral("レコードを削除してもよろしいですか？");
inline const QString kRecordDeleteFailure = QStringLiteral("データを削除することが出来ませんでした");
inline const QString kRowsDeleteQuestion = QStringLiteral("削除してもよろしいですか？");
inline const QString kRowsDeleteFailure = QStringLiteral("データを削除することが出来ませんでした。");
inline const QString kRowsDeleteAbort =
    QStringLiteral("データの削除を中断しました。（トランザクションは破棄されました)");
inline const QString kRowsDeleted = QStringLiteral("データの削除しました。");

// One version of one table row, as the list read it: the table it lives in (tableoid; a row
// of a partition or an inheritance child listed under its parent names the child), its slot
// (ctid) and the transaction that wrote this version (xmin). A slot alone is not a row: a row
// changed by another session, or a slot VACUUM gave to a new row, matches none of the three
// together, and statements addressed by them then touch nothing.
struct RowIdentity {
    QString tableoid;
    QString ctid;
    QString xmin;
};

// "tableoid = %u AND ctid = '%s' AND xmin = '%s'" for the row.
QString RowCondition(const Connection& conn, const RowIdentity& row);

// The row by its identity, the ctid first.
QString RecordQuery(const Connection& conn, const ObjectName& table, const RowIdentity& row);


// One line of the record dialog's field list.
struct FieldLine {
    QString name;
    QString type;
    QString length;        // "可変長" for a variable length
    QString nullSetting;   // "NOT NULL" or "NULL"
    QString defaultValue;
    QString data;          // the row's value, empty when the row was not found or is NULL
    bool dataIsNull = false;  // the row was found and this value is NULL (data is then empty)
    bool nullable = true;     // the column takes NULL (it is not NOT NULL)
};

struct RecordDetail {
    std::vector<FieldLine> fields;
    // The row as the server holds it now, ctid first; empty unless exactly this one version
    // of the row was found.
    QStringList values;
};

// Reads the field list of a table row. Either query failing leaves the list empty; a row that
// changed or went since it was listed leaves the data column empty.
RecordDetail LoadRecordDetail(Connection& conn, const ObjectName& table, const RowIdentity& row);

// Asks "更新を行ってもよろしいですか？", then sets one column of the row in a confirmed
// transaction: to the text, or to NULL when there is none (an empty text stays '' and is not
// NULL). Exactly that version of the row must be touched; otherwise the update fails and is
// rolled back. Returns the row's new identity on success.
std::optional<RowIdentity> UpdateRecordField(Connection& conn, const ObjectName& table,
                                             const QString& column,
                                             const std::optional<QString>& value,
                                             const RowIdentity& row);

// Asks "レコードを削除してもよろしいですか？", then deletes the row in a confirmed
// transaction. True when exactly that row was deleted.
bool DeleteRecord(Connection& conn, const ObjectName& table, const RowIdentity& row);

// Asks "削除してもよろしいですか？", then deletes the rows in one confirmed transaction, each
// of which must touch exactly one row. True when all were deleted; otherwise nothing was.
bool DeleteRows(Connection& conn, const ObjectName& table, const std::vector<RowIdentity>& rows);
