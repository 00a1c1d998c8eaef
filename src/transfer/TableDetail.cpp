#include "transfer/TableDetail.h"

#include "workspace/ServerWarnings.h"

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

constexpr int kLastKeyPosition = 256;

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
        const Result r = conn.exec(Catalogue::OwnerStatement(conn, table));
        if (!r.tuplesOk()) return d;
        d.ownerRead = true;
        d.owner = valueOf(r, "usename");
    }
    {
        const Result r = conn.exec(Catalogue::DatabaseFactsStatement(conn, databaseName));
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

    const Result indexes = conn.exec(Catalogue::IndexListStatement(conn, table));
    if (!indexes.tuplesOk()) return d;
    const int primaryField = indexes.fieldNumber("indisprimary");
    const int uniqueField = indexes.fieldNumber("indisunique");
    const int nameField = indexes.fieldNumber("indexname");
    for (int row = 0; row < indexes.rows(); ++row) {
        IndexFacts index;
        index.name = indexes.value(row, nameField);
        index.primary = indexes.value(row, primaryField) == u"t";
        index.unique = indexes.value(row, uniqueField) == u"t";
        for (int k = 0; k <= kLastKeyPosition; ++k) {
            const Result key = conn.exec(Catalogue::IndexKeyStatement(conn, table, index.name, k));
            if (!key.tuplesOk() || key.rows() < 1 || key.value(0, 0).toInt() == 0) break;
            const QString column = key.value(0, key.fieldNumber("attname"));
            index.keyText += column + QStringLiteral("  ");
            for (size_t c = 0; c < d.columns.rows.size(); ++c) {
                if (d.columns.rows[c].value(0) == column) d.columnImages[c] = imageFor(index);
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
    ServerWarnings warnings(conn);
    const Result r = conn.exec(MaintenanceStatement(kind, table));
    if (!r.commandOk()) {
        out.message = r.errorMessage();
        return out;
    }
    if (!warnings.texts().isEmpty()) {
        out.message = warnings.texts().join(QLatin1Char('\n'));
        return out;
    }
    out.done = true;
    return out;
}
