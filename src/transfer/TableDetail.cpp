#include "transfer/TableDetail.h"

#include <map>
#include <set>

#include "workspace/ServerWarnings.h"
#include "workspace/Transaction.h"

namespace {

std::optional<QString> valueOf(const Result& r, const char* column)
{
    const int f = r.fieldNumber(column);
    if (f < 0 || r.rows() < 1) return std::nullopt;
    return r.value(0, f);
}

std::optional<QString> flagOf(const Result& r, const char* column)
{
    const std::optional<QString> v = valueOf(r, column);
    if (!v) return std::nullopt;
    return *v == u"t" ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
}

int imageFor(const IndexFacts& index)
{
    if (index.primary) return PrimaryKeyImage;
    if (!index.unique) return IndexKeyImage;
    return UniqueKeyImage;
}

// The key columns of each index of the table by index name, in key order. An index's keys end
// at its first expression: the columns after it are not shown. A failed query gives none.
std::map<QString, QStringList> keyColumns(Connection& conn, const ObjectName& table)
{
    std::map<QString, QStringList> keys;
    std::set<QString> ended;
    const Result r = conn.read(Catalogue::IndexKeysStatement(conn, table));
    if (!r.tuplesOk()) return keys;
    const int indexField = r.fieldNumber("indexname");
    const int numberField = r.fieldNumber("attnum");
    const int nameField = r.fieldNumber("attname");
    for (int row = 0; row < r.rows(); ++row) {
        const QString index = r.value(row, indexField);
        if (ended.count(index)) continue;
        if (r.value(row, numberField).toInt() == 0) {
            ended.insert(index);
            continue;
        }
        keys[index] << r.value(row, nameField);
    }
    return keys;
}

}  // namespace

TableDetail LoadTableDetail(Connection& conn, const ObjectName& table, const QString& databaseName)
{
    TableDetail d;
    d.columns = LoadColumnList(conn, table);
    if (!d.columns.ok) return d;
    d.columnImages.assign(d.columns.rows.size(), PlainColumnImage);
    if (!d.columns.rows.empty()) {
        d.fieldCount = QString::number(d.columns.columnCount());
        d.recordLength = RecordLengthText(d.columns);
    }

    d.rowEstimate = ReadRowEstimate(conn, table);
    if (!d.rowEstimate) return d;
    d.tableFound = true;
    {
        const Result r = conn.read(Catalogue::OwnerStatement(conn, table));
        if (!r.tuplesOk()) return d;
        d.ownerRead = true;
        d.owner = valueOf(r, "usename");
    }
    {
        const Result r = conn.read(Catalogue::DatabaseFactsStatement(conn, databaseName));
        if (!r.tuplesOk()) return d;
        d.databaseRead = true;
        if (r.rows() >= 1) {
            DatabaseFacts& f = d.database;
            f.oid = valueOf(r, "oid");
            f.lastSystemOid = valueOf(r, "datlastsysoid");  // gone from servers 15 and newer
            f.encoding = valueOf(r, "Encode");
            f.ownerId = valueOf(r, "usesysid");
            f.ownerName = valueOf(r, "Owner");
            f.isTemplate = flagOf(r, "datistemplate");
            f.allowConnections = flagOf(r, "datallowconn");
        }
    }

    const Result indexes = conn.read(Catalogue::IndexListStatement(conn, table));
    if (!indexes.tuplesOk()) return d;
    const std::map<QString, QStringList> keys = keyColumns(conn, table);
    const int primaryField = indexes.fieldNumber("indisprimary");
    const int uniqueField = indexes.fieldNumber("indisunique");
    const int nameField = indexes.fieldNumber("indexname");
    for (int row = 0; row < indexes.rows(); ++row) {
        IndexFacts index;
        index.name = indexes.value(row, nameField);
        index.primary = indexes.value(row, primaryField) == u"t";
        index.unique = indexes.value(row, uniqueField) == u"t";
        const auto found = keys.find(index.name);
        if (found != keys.end()) {
            for (const QString& column : found->second) {
                index.keyText += column + QStringLiteral("  ");
                for (size_t c = 0; c < d.columns.rows.size(); ++c) {
                    if (d.columns.rows[c].value(0) == column) d.columnImages[c] = imageFor(index);
                }
            }
        }
        d.indexes.push_back(index);
    }
    return d;
}

QString MaintenanceStatement(MaintenanceKind kind, const ObjectName& table)
{
    const QString format = kind == MaintenanceKind::Vacuum ? QStringLiteral("VACUUM %1")
                                                           : QStringLiteral("VACUUM ANALYZE %1");
    return format.arg(table.sql());
}

MaintenanceOutcome RunMaintenance(Connection& conn, MaintenanceKind kind, const ObjectName& table)
{
    MaintenanceOutcome out;
    // VACUUM cannot run inside a transaction block.
    if (conn.inTransaction()) {
        out.message = kNotInsideTransaction;
        return out;
    }
    ServerWarnings warnings(conn);
    const Result r = conn.exec(MaintenanceStatement(kind, table));
    if (!r.commandOk()) {
        out.message = FailureText(conn, r);
        return out;
    }
    if (!warnings.texts().isEmpty()) {
        out.message = warnings.texts().join(QLatin1Char('\n'));
        return out;
    }
    out.done = true;
    return out;
}
