#include "listview/RecordEditing.h"

#include <QRegularExpression>

#include "workspace/Prompter.h"
#include "workspace/SqlQuote.h"
#include "workspace/Statements.h"

QString ColumnQuery(const Connection& conn, const QString& table)
{
    // Defaults are joined on the table as well as the column number, and dropped columns are
    // left out, so line r of the list is column r + 1 of the record query's row.
    return QStringLiteral(
               "SELECT format_type(a.atttypid, a.atttypmod), a.*,"
               "pg_get_expr(b.adbin, b.adrelid) as defultevalue "
               "FROM pg_class c, pg_attribute a "
               "LEFT JOIN pg_attrdef b On b.adrelid = a.attrelid AND b.adnum = a.attnum "
               "WHERE c.relname = '%1' AND a.attnum > 0 AND a.attrelid = c.oid "
               "AND NOT a.attisdropped AND pg_table_is_visible(c.oid) "
               "ORDER BY a.attnum")
        .arg(conn.escapeValue(table));
}

QString RecordQuery(const Connection& conn, const QString& table, const QString& ctid)
{
    return QStringLiteral("SELECT ctid,* from %1 where ctid = '%2'")
        .arg(QuoteIdent(table), conn.escapeValue(ctid));
}

QString ShownDefault(const QString& expression)
{
    if (!expression.startsWith(u'\'')) return expression;
    qsizetype end = 1;
    for (; end < expression.size(); ++end) {
        if (expression.at(end) != u'\'') continue;
        if (end + 1 < expression.size() && expression.at(end + 1) == u'\'') {
            ++end;
            continue;
        }
        break;
    }
    if (end >= expression.size()) return expression;
    // Only casts may follow the literal; anything else makes it an expression of its own.
    static const QRegularExpression casts(
        QStringLiteral(R"(^(::[A-Za-z_"][A-Za-z0-9_ ."$]*(\([0-9, ]*\))?(\[\])*)+$)"));
    const QString rest = expression.mid(end + 1);
    return casts.match(rest).hasMatch() ? expression.left(end + 1) : expression;
}

RecordDetail LoadRecordDetail(Connection& conn, const QString& table, const QString& ctid)
{
    RecordDetail detail;
    const Result columns = conn.exec(ColumnQuery(conn, table));
    if (!columns.tuplesOk()) return detail;
    const Result record = conn.exec(RecordQuery(conn, table, ctid));
    if (!record.tuplesOk()) return detail;

    const bool found = record.rows() > 0;
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
        line.defaultValue = ShownDefault(columns.value(r, def));
        if (found && r + 1 < record.fields()) line.data = record.value(0, r + 1);
        detail.fields.push_back(line);
    }
    return detail;
}

std::optional<QString> UpdateRecordField(Connection& conn, const QString& table,
                                         const QString& column, const QString& value,
                                         const QString& ctid)
{
    if (!prompter().ask(BoxKind::Application, kUpdateQuestion)) return std::nullopt;
    QString newCtid;
    // RETURNING tells how many rows the ctid reached: none when the row is gone, several
    // when child tables share it.
    const TransactionStep update{
        QStringLiteral("UPDATE %1 SET %2='%3' WHERE ctid = '%4' RETURNING ctid")
            .arg(QuoteIdent(table), QuoteIdent(column), conn.escapeValue(value),
                 conn.escapeValue(ctid)),
        [&newCtid](const Result& r) {
            if (!r.tuplesOk() || r.rows() != 1) return false;
            newCtid = r.value(0, 0);
            return true;
        }};
    if (!RunConfirmedTransaction(conn, {update}, kUpdateFailure, kAbortMessage)) return std::nullopt;
    return newCtid;
}

bool DeleteRecord(Connection& conn, const QString& table, const QString& ctid)
{
    if (!prompter().ask(BoxKind::Application, kRecordDeleteQuestion)) return false;
    const TransactionStep remove{QStringLiteral("delete from %1 WHERE ctid = '%2'")
                                     .arg(QuoteIdent(table), conn.escapeValue(ctid)),
                                 TouchedExactlyOneRow};
    return RunConfirmedTransaction(conn, {remove}, kRecordDeleteFailure, kDeleteAbortMessage);
}

bool DeleteRows(Connection& conn, const QString& table, const QStringList& ctids)
{
    if (!prompter().ask(BoxKind::Application, kRowsDeleteQuestion)) return false;
    std::vector<TransactionStep> steps;
    for (const QString& ctid : ctids) {
        steps.push_back({QStringLiteral("DELETE FROM %1 WHERE ctid = '%2'")
                             .arg(QuoteIdent(table), conn.escapeValue(ctid)),
                         TouchedExactlyOneRow});
    }
    return RunConfirmedTransaction(conn, steps, kRowsDeleteFailure, kRowsDeleteAbort);
}
