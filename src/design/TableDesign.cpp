#include "design/TableDesign.h"

#include "workspace/Catalogue.h"
#include "workspace/ColumnList.h"
#include "workspace/Connection.h"
#include "workspace/ObjectName.h"
#include "workspace/Prompter.h"
#include "workspace/SqlQuote.h"
#include "workspace/Statements.h"
#include "workspace/Transaction.h"

namespace {

QString flagCell(bool set) { return set ? kYesText : QString(); }

// The default from its shown text: a shown literal's value, or an expression.
void setShownDefault(FieldDefinition& f, const QString& shown)
{
    const std::optional<QString> value = ShownLiteralValue(shown);
    f.defaultValue = value ? *value : shown;
    f.defaultIsExpression = !value && !shown.isEmpty();
}

QString columnName(const FieldDefinition& f)
{
    return QuoteIdent(f.exactName ? f.name : FoldTypedName(f.name));
}

}  // namespace

QStringList FieldCells(const FieldDefinition& f)
{
    return {f.name,
            f.type,
            f.length,
            f.nullable ? kNullText : kNotNullText,
            f.defaultIsExpression || f.defaultValue.isEmpty() ? f.defaultValue
                                                              : ShownLiteralDefault(f.defaultValue),
            f.constraintName,
            flagCell(f.nullConstraint),
            flagCell(f.uniqueConstraint),
            flagCell(f.primaryConstraint),
            f.checkText,
            f.referenceTable,
            f.referenceColumn,
            f.match,
            f.onDelete,
            f.onUpdate,
            f.deferrable,
            f.initially};
}

FieldDefinition FieldFromCells(const QStringList& cells)
{
    auto cell = [&cells](int i) { return i < cells.size() ? cells.at(i) : QString(); };
    FieldDefinition f;
    f.name = cell(0);
    f.type = cell(1);
    f.length = cell(2);
    f.nullable = cell(3) == kNullText;
    setShownDefault(f, cell(4));
    f.constraintName = cell(5);
    f.nullConstraint = cell(6) == kYesText;
    f.uniqueConstraint = cell(7) == kYesText;
    f.primaryConstraint = cell(8) == kYesText;
    f.checkText = cell(9);
    f.referenceTable = cell(10);
    f.referenceColumn = cell(11);
    f.match = cell(12);
    f.onDelete = cell(13);
    f.onUpdate = cell(14);
    f.deferrable = cell(15);
    f.initially = cell(16);
    return f;
}

void SplitFormatType(const QString& formatType, QString* type, QString* length)
{
    const qsizetype open = formatType.indexOf(u'(');
    if (open < 0 || !formatType.endsWith(u')')) {
        *type = formatType;
        length->clear();
        return;
    }
    *type = formatType.left(open);
    QString rest = formatType.mid(open);
    rest[0] = u' ';
    rest[rest.size() - 1] = u' ';
    *length = rest;
}

std::optional<std::vector<FieldDefinition>> TakeOverColumns(Connection& conn,
                                                            const ObjectName& table)
{
    const ColumnListing listing = LoadColumnList(conn, table);
    if (!listing.ok) return std::nullopt;
    std::vector<FieldDefinition> columns;
    for (const QStringList& cells : listing.rows) {
        FieldDefinition f;
        f.name = cells.at(0);
        f.exactName = true;
        SplitFormatType(cells.at(1), &f.type, &f.length);
        f.nullable = cells.at(3) != kNotNullText;
        setShownDefault(f, cells.at(4));  // shown by LoadColumnList as every default is
        columns.push_back(f);
    }
    return columns;
}

QString CreatedTableName(const QString& typedName) { return FoldTypedName(typedName); }

std::optional<QString> CreateTableStatement(Connection& conn, const QString& tableName,
                                            const std::vector<FieldDefinition>& columns)
{
    if (columns.empty() || tableName.isEmpty()) return std::nullopt;
    QString statement = QStringLiteral("CREATE TABLE ") + QuoteIdent(CreatedTableName(tableName))
                      + QStringLiteral("(\n");
    QString primaryKeys;
    for (size_t i = 0; i < columns.size(); ++i) {
        const FieldDefinition& f = columns[i];
        QString line = QStringLiteral("\t%1 %2 ").arg(columnName(f), f.type);
        if (!f.length.isEmpty()) line += QStringLiteral("(") + f.length + QStringLiteral(") ");
        if (!f.nullable) line += QStringLiteral("NOT NULL ");
        if (f.key == KeyKind::Unique) line += QStringLiteral("UNIQUE ");
        if (f.key == KeyKind::PrimaryKey) {
            if (!primaryKeys.isEmpty()) primaryKeys += u',';
            primaryKeys += columnName(f);
        }
        if (f.defaultIsExpression && !f.defaultValue.isEmpty())
            line += QStringLiteral("DEFAULT ") + f.defaultValue + u' ';
        else if (!f.defaultValue.isEmpty())
            line += QStringLiteral("DEFAULT '") + conn.escapeValue(f.defaultValue)
                  + QStringLiteral("' ");
        if (i + 1 < columns.size() || !primaryKeys.isEmpty()) line += u',';
        statement += line + u'\n';
    }
    if (!primaryKeys.isEmpty())
        statement += QStringLiteral("\tPRIMARY KEY(") + primaryKeys + QStringLiteral(")\n");
    statement += QStringLiteral(");");
    return statement;
}

namespace {

// The table just created by its bare name, asked inside the creating transaction: its schema
// and whether the search path finds it. Nothing when the catalogue does not answer with it.
std::optional<ObjectName> createdTable(Connection& conn, const QString& name)
{
    Result r = conn.exec(Catalogue::CreatedTableStatement(conn, name));
    if (!r.tuplesOk() || r.rows() != 1) return std::nullopt;
    return ObjectName{r.value(0, r.fieldNumber("nspname")), name,
                      r.value(0, r.fieldNumber("visible")) == QLatin1String("t")};
}

}  // namespace

std::optional<ObjectName> CreateTable(Connection& conn, const QString& tableName,
                                      const std::vector<FieldDefinition>& columns)
{
    if (!prompter().ask(BoxKind::Application, kCreateTableQuestion)) return std::nullopt;
    if (!BeginTransaction(conn)) return std::nullopt;
    const std::optional<QString> statement = CreateTableStatement(conn, tableName, columns);
    if (!statement) {
        RollBackTransaction(conn);
        return std::nullopt;
    }
    prompter().tell(BoxKind::Window, *statement);
    if (!ExecCommand(conn, *statement).ok) {
        prompter().tell(BoxKind::Window, conn.errorMessage());
        RollBackTransaction(conn);
        return std::nullopt;
    }
    // Every later command addresses the table by its schema: one created without knowing it
    // would be reached by its bare name, and so maybe another table of that name.
    const std::optional<ObjectName> created = createdTable(conn, CreatedTableName(tableName));
    if (!created) {
        prompter().tell(BoxKind::Window, conn.errorMessage());
        RollBackTransaction(conn);
        return std::nullopt;
    }
    // Only a committed table is reported created: a COMMIT the server answers with an error or
    // with ROLLBACK leaves no table behind.
    if (!CommitTransaction(conn)) {
        RollBackTransaction(conn);
        return std::nullopt;
    }
    TellChangeDone(conn, kCreateTableDone);
    return created;
}
