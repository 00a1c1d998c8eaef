#include "listview/RecordEditing.h"

#include <QRegularExpression>

#include "workspace/Catalogue.h"
#include "workspace/Prompter.h"
#include "workspace/SqlQuote.h"
#include "workspace/Transaction.h"

QString RowCondition(const Connection& conn, const RowIdentity& row)
{
    // A table oid that is not a number names no table: 0 matches no row.
    bool ok = false;
    const uint tableoid = row.tableoid.toUInt(&ok);
    return QStringLiteral("tableoid = %1 AND ctid = '%2' AND xmin = '%3'")
        .arg(ok ? tableoid : 0u)
        .arg(conn.escapeValue(row.ctid), conn.escapeValue(row.xmin));
}

QString RecordQuery(const Connection& conn, const ObjectName& table, const RowIdentity& row)
{
    return QStringLiteral("SELECT ctid,* from %1 where %2").arg(table.sql(), RowCondition(conn, row));
}

RecordDetail LoadRecordDetail(Connection& conn, const ObjectName& table, const RowIdentity& row)
{
    RecordDetail detail;
    const Result columns = conn.read(Catalogue::ColumnListStatement(conn, table));
    if (!columns.tuplesOk()) return detail;
    const Result record = conn.read(RecordQuery(conn, table, row));
    if (!record.tuplesOk()) return detail;

    // Only the one row asked for is this row; anything else shows no values at all.
    const bool found = record.rows() == 1;
    if (found) {
        for (int f = 0; f < record.fields(); ++f) detail.values << record.value(0, f);
    }
    const int name = columns.fieldNumber("attname");
    const int type = columns.fieldNumber("format_type");
    const int length = columns.fieldNumber("attlen");
    const int notNull = columns.fieldNumber("attnotnull");
    const int def = columns.fieldNumber("defultevalue");
    for (int r = 0; r < columns.rows(); ++r) {
        FieldLine line;
        line.name = columns.value(r, name);
        line.type = columns.value(r, type);
        if (!columns.isNull(r, length)) {
            const QString len = columns.value(r, length);
            line.length = len.toInt() == -1 ? QStringLiteral("可変長") : len;
        }
        const QString nn = columns.value(r, notNull);
        line.nullSetting = nn.startsWith(u't')   ? QStringLiteral("NOT NULL")
                           : nn.startsWith(u'f') ? QStringLiteral("NULL")
                                                 : nn;
        line.nullable = !nn.startsWith(u't');
        line.defaultValue = ShownDefault(columns.value(r, def));
        if (found && r + 1 < record.fields()) {
            line.data = record.value(0, r + 1);
            line.dataIsNull = record.isNull(0, r + 1);
        }
        detail.fields.push_back(line);
    }
    return detail;
}

std::optional<RowIdentity> UpdateRecordField(Connection& conn, const ObjectName& table,
                                             const QString& column,
                                             const std::optional<QString>& value,
                                             const RowIdentity& row)
{
    if (!prompter().ask(BoxKind::Application, kUpdateQuestion)) return std::nullopt;
    RowIdentity changed;
    // RETURNING tells how many rows were reached (none when the row changed or went) and the
    // identity of the row's new version, which later statements address it by.
    const TransactionStep update{
        QStringLiteral("UPDATE %1 SET %2=%3 WHERE %4 RETURNING tableoid,ctid,xmin")
            .arg(table.sql(), QuoteIdent(column),
                 value ? u'\'' + conn.escapeValue(*value) + u'\'' : QStringLiteral("NULL"),
                 RowCondition(conn, row)),
        [&changed](const Result& r) {
            if (!r.tuplesOk() || r.rows() != 1) return false;
            changed = {r.value(0, 0), r.value(0, 1), r.value(0, 2)};
            return true;
        }};
    if (!RunConfirmedTransaction(conn, {update}, kUpdateFailure, kAbortMessage)) return std::nullopt;
    TellChangeDone(conn);
    return changed;
}

bool DeleteRecord(Connection& conn, const ObjectName& table, const RowIdentity& row)
{
    if (!prompter().ask(BoxKind::Application, kRecordDeleteQuestion)) return false;
    const TransactionStep remove{
        QStringLiteral("delete from %1 WHERE %2").arg(table.sql(), RowCondition(conn, row)),
        TouchedExactlyOneRow};
    if (!RunConfirmedTransaction(conn, {remove}, kRecordDeleteFailure, kDeleteAbortMessage)) return false;
    TellChangeDone(conn);
    return true;
}

bool DeleteRows(Connection& conn, const ObjectName& table, const std::vector<RowIdentity>& rows)
{
    if (!prompter().ask(BoxKind::Application, kRowsDeleteQuestion)) return false;
    std::vector<TransactionStep> steps;
    for (const RowIdentity& row : rows) {
        steps.push_back(
            {QStringLiteral("DELETE FROM %1 WHERE %2").arg(table.sql(), RowCondition(conn, row)),
             TouchedExactlyOneRow});
    }
    return RunConfirmedTransaction(conn, steps, kRowsDeleteFailure, kRowsDeleteAbort);
}
