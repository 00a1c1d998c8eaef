#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "workspace/ObjectName.h"

class Connection;

// How a column of a table being designed is marked: one value per column, so a column is
// never both a primary-key and a unique column.
enum class KeyKind { None, PrimaryKey, Unique };

// One column of a table being designed. The seventeen fields are the seventeen columns of the
// table creation list, in order; the constraint fields (constraintName onwards) are carried
// unchanged and never reach a statement.
struct FieldDefinition {
    QString name;
    QString type;    // as typed, or as format_type gives it
    QString length;  // put between parentheses after the type; empty for none
    bool nullable = true;
    QString defaultValue;  // a value for a quoted DEFAULT; empty for none
    // defaultValue is an expression as the server writes it (nextval(...), now()), taken over
    // from a table: it goes into the DEFAULT unquoted.
    bool defaultIsExpression = false;
    QString constraintName;
    bool nullConstraint = false;
    bool uniqueConstraint = false;
    bool primaryConstraint = false;
    QString checkText;
    QString referenceTable;
    QString referenceColumn;
    QString match;
    QString onDelete;
    QString onUpdate;
    QString deferrable;
    QString initially;

    KeyKind key = KeyKind::None;
    // The name came from the server (a taken-over column) and is used exactly; a name the
    // operator typed is folded as the server would fold it.
    bool exactName = false;
};

inline constexpr int kFieldColumnCount = 17;
inline const QString kNullText = QStringLiteral("NULL");
inline const QString kNotNullText = QStringLiteral("NOT NULL");
inline const QString kYesText = QStringLiteral("YES");

// The seventeen cell texts of a column ("NULL"/"NOT NULL", "YES" or empty for the flags; the
// default shown as every default is: a value 'abc', an expression as the server writes it).
QStringList FieldCells(const FieldDefinition& field);
// The column read back from its cells (key and exactName are not in the cells).
FieldDefinition FieldFromCells(const QStringList& cells);

// The type and length parts of a format_type text. The length is split off only when a
// parenthesis ends the text: "character varying(20)" gives "character varying" and " 20 "
// (the parentheses turned into blanks); "timestamp(3) without time zone" stays whole.
void SplitFormatType(const QString& formatType, QString* type, QString* length);

// The columns of an existing table, ready for the creation list: key none, the type split as
// above, the default a literal's value, or an expression kept as the server writes it (as
// CREATE TABLE ... (LIKE ... INCLUDING DEFAULTS) would keep it). Nothing when the query failed.
std::optional<std::vector<FieldDefinition>> TakeOverColumns(Connection& conn,
                                                            const ObjectName& table);

// The name the server stores for a table name the operator typed.
QString CreatedTableName(const QString& typedName);

// The CREATE TABLE statement for the columns; nothing when there are no columns or no name.
// Names are quoted by the identifier rule, defaults escaped; types and lengths go as typed.
std::optional<QString> CreateTableStatement(Connection& conn, const QString& tableName,
                                            const std::vector<FieldDefinition>& columns);

inline const QString kCreateTableQuestion = QStringLiteral("テーブルを作成してもよろしいですか？");
inline const QString kCreateTableDone = QStringLiteral("テーブルの作成に成功しました");

// Asks, then BEGIN, shows and sends the statement, asks the catalogue where the table went
// (the search path decides, inside the transaction, before COMMIT), COMMIT. The success
// message comes only after the COMMIT committed. Returns the committed table with its schema;
// nothing when declined or failed, and every failure rolls back and leaves the design as it is.
std::optional<ObjectName> CreateTable(Connection& conn, const QString& tableName,
                                      const std::vector<FieldDefinition>& columns);
