// The sample the export dialog shows before anything is written: at most ten rows rendered as
// the file would hold them. Keeps: it never changes data (SQL mode runs inside a read-only
// transaction or savepoint that is always rolled back) and never holds a whole result.
#include "transfer/CsvExport.h"
#include "transfer/ExportChecks.h"

namespace {

// The server refused the statement because the transaction is read-only.
const QString kReadOnlyRefusal = QStringLiteral("25006");

// The sample text of a result: its lines as the file would hold them, CP932 checked.
QString RenderSample(const Result& r, const Connection& conn, const CsvSettings& settings)
{
    if (r.commandOk()) return {};
    if (!r.tuplesOk()) return ServerFailureText(r, conn);
    CsvLineBuilder line(settings);
    Cp932Stream cp932;
    QByteArray text;
    QByteArray check;
    const int fields = r.fields();
    if (settings.header) {
        for (int f = 0; f < fields; ++f) line.addField(r.fieldName(f));
        line.finishLine();
        if (!cp932.append(check, line.line().constData(), line.line().size()))
            return UnencodableResultLine(cp932, r, -1, 0);
        text += line.line().toByteArray();
    }
    const int rows = std::min(r.rows(), 10);
    for (int row = 0; row < rows; ++row) {
        line.clear();
        for (int f = 0; f < fields; ++f) line.addField(r.rawValue(row, f), r.rawLength(row, f));
        line.finishLine();
        check.clear();
        if (!cp932.append(check, line.line().constData(), line.line().size()))
            return UnencodableResultLine(cp932, r, row, row + 1);
        text += line.line().toByteArray();
    }
    return QString::fromUtf8(text);
}

QString SqlModeSample(Connection& conn, const QString& sql, const CsvSettings& settings)
{
    // Inside a transaction the operator opened in the SQL window, a savepoint made read-only
    // keeps the sample from touching it; there only a query runs (through its cursor), since a
    // COMMIT or ROLLBACK typed as the statement would end the operator's transaction.
    const bool nested = conn.inTransaction();
    const QString begin = nested ? QStringLiteral("SAVEPOINT kestrel_sample")
                                 : QStringLiteral("BEGIN TRANSACTION READ ONLY");
    const Result opened = conn.exec(begin);
    if (!opened.commandOk()) return ServerFailureText(opened, conn);
    const bool query = IsCursorQuery(sql);
    Result r = nested ? conn.exec(QStringLiteral("SET TRANSACTION READ ONLY")) : Result();
    QString text;
    if (nested && !r.commandOk()) {
        text = ServerFailureText(r, conn);
    } else if (query || !nested) {
        if (query) {
            r = conn.execSingle(QStringLiteral("DECLARE kestrel_sample NO SCROLL CURSOR FOR ") + sql);
            if (r.commandOk()) r = conn.exec(QStringLiteral("FETCH 10 FROM kestrel_sample"));
        } else {
            r = conn.execSingle(sql);
        }
        if (r.sqlState() != kReadOnlyRefusal) text = RenderSample(r, conn, settings);
    }
    if (nested) {
        conn.exec(QStringLiteral("ROLLBACK TO SAVEPOINT kestrel_sample"));
        conn.exec(QStringLiteral("RELEASE SAVEPOINT kestrel_sample"));
    } else {
        conn.exec(QStringLiteral("ROLLBACK"));
    }
    return text;
}

}  // namespace

QString BuildCsvSample(Connection& conn, const ExportSource& source, const CsvSettings& settings)
{
    if (std::optional<QString> bad = UnencodableSetting(settings)) return *bad;
    if (source.sqlMode()) return SqlModeSample(conn, source.sqlText, settings);
    const Result r =
        conn.exec(QStringLiteral("select * from %1 Limit 10").arg(source.table.sql()));
    return RenderSample(r, conn, settings);
}
