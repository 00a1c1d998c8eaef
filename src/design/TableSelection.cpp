#include "design/TableSelection.h"

#include "transfer/ColumnList.h"
#include "workspace/Connection.h"

namespace {

std::optional<QString> firstValue(const Result& r, const char* column)
{
    const int f = r.fieldNumber(column);
    if (r.rows() < 1 || f < 0 || r.isNull(0, f)) return std::nullopt;
    return r.value(0, f);
}

}  // namespace

QString TableListStatement()
{
    return QStringLiteral(
        "select schemaname,tablename,tableowner,"
        "pg_table_is_visible((quote_ident(schemaname)||'.'||quote_ident(tablename))::regclass) "
        "as visible from pg_tables "
        "where schemaname not in ('pg_catalog','information_schema')");
}

QList<ObjectName> ListTables(Connection& conn)
{
    QList<ObjectName> tables;
    Result r = conn.exec(TableListStatement());
    if (!r.tuplesOk()) return tables;
    const int schema = r.fieldNumber("schemaname"), name = r.fieldNumber("tablename"),
              visible = r.fieldNumber("visible");
    for (int row = 0; row < r.rows(); ++row)
        tables.push_back({r.value(row, schema), r.value(row, name),
                          r.value(row, visible) == QLatin1String("t")});
    return tables;
}

QString RecordLengthText(int fixedTotal, bool variableLength)
{
    return variableLength ? QStringLiteral("%1+α").arg(fixedTotal) : QString::number(fixedTotal);
}

QString RecordCountStatement(const ObjectName& table)
{
    return QStringLiteral("SELECT count(*) as RecordCount FROM %1").arg(table.sql());
}

QString OwnerStatement(Connection& conn, const ObjectName& table)
{
    QString statement =
        QStringLiteral("select pg_class.relname,pg_class.relowner,pg_roles.rolname as usename "
                       "from pg_class, pg_roles "
                       "WHERE pg_class.relowner = pg_roles.oid "
                       "and pg_class.relname = '%1' and ")
            .arg(conn.escapeValue(table.name));
    if (table.schema.isEmpty())
        return statement + QStringLiteral("pg_table_is_visible(pg_class.oid)");
    return statement + QStringLiteral("pg_class.relnamespace = "
                                      "(select oid from pg_namespace where nspname = '%1')")
                           .arg(conn.escapeValue(table.schema));
}

TableInformation ReadTableInformation(Connection& conn, const ObjectName& table)
{
    TableInformation info;
    {
        Result r = conn.exec(RecordCountStatement(table));
        if (!r.tuplesOk()) return info;
        info.recordCount = firstValue(r, "RecordCount");
        info.stepsDone = 1;
    }
    {
        Result r = conn.exec(OwnerStatement(conn, table));
        if (!r.tuplesOk()) return info;
        info.owner = firstValue(r, "usename");
        info.stepsDone = 2;
    }
    const ColumnListing listing = LoadColumnList(conn, table);
    if (!listing.ok) return info;
    for (const QStringList& cells : listing.rows) info.columns << cells.at(0);
    info.recordLength = RecordLengthText(listing.fixedLengthTotal, listing.hasVariableLength);
    info.stepsDone = 3;
    return info;
}
