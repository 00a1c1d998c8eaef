#include "design/TableSelection.h"

#include "workspace/Catalogue.h"
#include "workspace/ColumnList.h"
#include "workspace/Connection.h"
#include "workspace/RecordCount.h"

namespace {

std::optional<QString> firstValue(const Result& r, const char* column)
{
    const int f = r.fieldNumber(column);
    if (r.rows() < 1 || f < 0 || r.isNull(0, f)) return std::nullopt;
    return r.value(0, f);
}

}  // namespace

QList<ObjectName> ListTables(Connection& conn)
{
    QList<ObjectName> tables;
    Result r = conn.read(Catalogue::SelectableTablesStatement());
    if (!r.tuplesOk()) return tables;
    const int schema = r.fieldNumber("schemaname"), name = r.fieldNumber("tablename"),
              visible = r.fieldNumber("visible");
    for (int row = 0; row < r.rows(); ++row)
        tables.push_back({r.value(row, schema), r.value(row, name),
                          r.value(row, visible) == QLatin1String("t")});
    return tables;
}

TableInformation ReadTableInformation(Connection& conn, const ObjectName& table)
{
    TableInformation info;
    const std::optional<QString> estimate = ReadRowEstimate(conn, table);
    if (!estimate) return info;
    info.recordEstimate = *estimate;
    info.stepsDone = 1;
    {
        Result r = conn.read(Catalogue::OwnerStatement(conn, table));
        if (!r.tuplesOk()) return info;
        info.owner = firstValue(r, "usename");
        info.stepsDone = 2;
    }
    const ColumnListing listing = LoadColumnList(conn, table);
    if (!listing.ok) return info;
    for (const QStringList& cells : listing.rows) info.columns << cells.at(0);
    info.recordLength = RecordLengthText(listing);
    info.stepsDone = 3;
    return info;
}
