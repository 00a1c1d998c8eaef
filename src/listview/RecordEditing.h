#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

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

// The columns of a table in order (no dropped ones), with their types, lengths, NULL settings
// and defaults (this table's own). The table name is exact, as the tree shows it.
QString ColumnQuery(const Connection& conn, const QString& table);
// One row of the table by its ctid, the ctid first.
QString RecordQuery(const Connection& conn, const QString& table, const QString& ctid);

// A column default as pg_get_expr writes it, shown the way the operator typed it: a literal
// keeps its quotes and loses the cast the server adds ('abc'::character varying reads 'abc').
QString ShownDefault(const QString& expression);

// One line of the record dialog's field list.
struct FieldLine {
    QString name;
    QString type;
    QString length;        // "可変長" for a variable length
    QString nullSetting;   // "NOT NULL" or "NULL"
    QString defaultValue;
    QString data;          // the row's value, empty when the row was not found
};

struct RecordDetail {
    std::vector<FieldLine> fields;
    // The row as the server holds it now, ctid first; empty when the row was not found.
    QStringList values;
};

// Reads the field list of a table row. Either query failing leaves the list empty.
RecordDetail LoadRecordDetail(Connection& conn, const QString& table, const QString& ctid);

// Asks "更新を行ってもよろしいですか？", then sets one column of the row with the given ctid
// in a confirmed transaction. The row must exist and be the only one with that ctid;
// otherwise the update fails and is rolled back. Returns the row's new ctid on success.
std::optional<QString> UpdateRecordField(Connection& conn, const QString& table,
                                         const QString& column, const QString& value,
                                         const QString& ctid);

// Asks "レコードを削除してもよろしいですか？", then deletes the one row with the given ctid
// in a confirmed transaction. True when it was deleted.
bool DeleteRecord(Connection& conn, const QString& table, const QString& ctid);

// Asks "削除してもよろしいですか？", then deletes the rows with the given ctids in one
// confirmed transaction, each of which must touch exactly one row. True when all were
// deleted; otherwise nothing was.
bool DeleteRows(Connection& conn, const QString& table, const QStringList& ctids);
