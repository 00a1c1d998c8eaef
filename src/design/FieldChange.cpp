#include "design/FieldChange.h"

#include "workspace/Catalogue.h"
#include "workspace/Prompter.h"
#include "workspace/SqlQuote.h"
#include "workspace/Transaction.h"

namespace {
const QString kBeginTransaction = QStringLiteral("BEGIN TRANSACTION");
}

QString ColumnRenameStatement(const ObjectName& table, const QString& column, const QString& newName)
{
    return QStringLiteral("ALTER TABLE %1 RENAME %2 TO %3")
        .arg(table.sql(), QuoteIdent(column), QuoteIdent(newName));
}

QString SetDefaultStatement(Connection& conn, const ObjectName& table, const QString& column,
                            const QString& value)
{
    return QStringLiteral("ALTER TABLE %1 ALTER %2 SET DEFAULT '%3'")
        .arg(table.sql(), QuoteIdent(column), conn.escapeValue(value));
}

QString DropDefaultStatement(const ObjectName& table, const QString& column)
{
    return QStringLiteral("ALTER TABLE %1 ALTER %2 DROP DEFAULT").arg(table.sql(), QuoteIdent(column));
}

QString TableRenameStatement(const ObjectName& table, const QString& newName)
{
    return QStringLiteral("ALTER TABLE %1 RENAME TO %2").arg(table.sql(), QuoteIdent(newName));
}

std::optional<QString> RenameColumn(Connection& conn, const ObjectName& table,
                                    const QString& column, const QString& typedName)
{
    if (typedName.isEmpty()) {
        prompter().tell(BoxKind::Window, kEnterNewFieldName);
        return std::nullopt;
    }
    const QString newName = FoldTypedName(typedName);
    if (!RunShortTransaction(conn, kBeginTransaction, ColumnRenameStatement(table, column, newName)))
        return std::nullopt;
    return newName;
}

bool SetColumnDefault(Connection& conn, const ObjectName& table, const QString& column,
                      const QString& value)
{
    if (value.isEmpty()) {
        prompter().tell(BoxKind::Window, kEnterNewDefault);
        return false;
    }
    return RunShortTransaction(conn, kBeginTransaction, SetDefaultStatement(conn, table, column, value));
}

bool DropColumnDefault(Connection& conn, const ObjectName& table, const QString& column)
{
    return RunShortTransaction(conn, kBeginTransaction, DropDefaultStatement(table, column));
}

std::optional<ObjectName> RenameTable(Connection& conn, const ObjectName& table,
                                      const QString& typedName)
{
    ObjectName renamed{table.schema, FoldTypedName(typedName), table.visible};
    if (!RunShortTransaction(conn, QStringLiteral("BEGIN"), TableRenameStatement(table, renamed.name)))
        return std::nullopt;
    // Under its new name the table may be hidden by, or no longer hidden by, a same-named
    // table earlier in the search path.
    if (!renamed.schema.isEmpty()) {
        const Result r = conn.read(Catalogue::VisibilityStatement(conn, renamed));
        if (r.tuplesOk() && r.rows() == 1) renamed.visible = r.value(0, 0) == u"t";
    }
    return renamed;
}
