// The sample the export dialog shows before anything is written: at most ten rows rendered as
// the file would hold them. Keeps: it never changes data (SQL mode runs inside a read-only
// transaction or savepoint that is always rolled back) and never holds a whole result.
#include "transfer/CsvSample.h"

#include "transfer/ExportChecks.h"
#include "workspace/Transaction.h"

namespace {

// The server refused the statement because the transaction is read-only.
const QString kReadOnlyRefusal = QStringLiteral("25006");

// The rows of a result as the sample holds them.
CsvSampleRows HoldSample(const Result& r, const Connection& conn)
{
    CsvSampleRows out;
    if (r.commandOk()) return out;
    if (!r.tuplesOk()) {
        out.shown = ServerFailureText(r, conn);
        return out;
    }
    out.shown.reset();
    const int fields = r.fields();
    for (int f = 0; f < fields; ++f) out.fieldNames << r.fieldName(f);
    const int rows = std::min(r.rows(), 10);
    for (int row = 0; row < rows; ++row) {
        std::vector<QByteArray>& values = out.rows.emplace_back();
        for (int f = 0; f < fields; ++f) values.emplace_back(r.rawValue(row, f), r.rawLength(row, f));
    }
    return out;
}

CsvSampleRows SqlModeSample(Connection& conn, const QString& sql)
{
    // Inside a transaction the operator opened in the SQL window, a savepoint made read-only
    // keeps the sample from touching it; there only a query runs (through its cursor), since a
    // COMMIT or ROLLBACK typed as the statement would end the operator's transaction.
    const bool nested = conn.inTransaction();
    const QString begin = nested ? QStringLiteral("SAVEPOINT kestrel_sample")
                                 : QStringLiteral("BEGIN TRANSACTION READ ONLY");
    // Outside a transaction the read-only one is opened as a read: on a session lost meanwhile
    // it is opened again on the new one, which nothing else can have changed.
    const Result opened = nested ? conn.exec(begin) : conn.read(begin);
    CsvSampleRows sample;
    if (!opened.commandOk()) {
        sample.shown = ServerFailureText(opened, conn);
        return sample;
    }
    const bool query = IsCursorQuery(sql);
    Result r = nested ? conn.exec(QStringLiteral("SET TRANSACTION READ ONLY")) : Result();
    if (nested && !r.commandOk()) {
        sample.shown = ServerFailureText(r, conn);
    } else if (query || !nested) {
        if (query) {
            r = conn.execSingle(QStringLiteral("DECLARE kestrel_sample NO SCROLL CURSOR FOR ") + sql);
            if (r.commandOk()) r = conn.exec(QStringLiteral("FETCH 10 FROM kestrel_sample"));
        } else {
            r = conn.execSingle(sql);
        }
        if (r.sqlState() != kReadOnlyRefusal) sample = HoldSample(r, conn);
    }
    if (nested) {
        EndSavepoint(conn, QStringLiteral("kestrel_sample"), true);
    } else {
        conn.exec(QStringLiteral("ROLLBACK"));
    }
    return sample;
}

}  // namespace

CsvSampleRows ReadCsvSample(Connection& conn, const ExportSource& source)
{
    if (source.sqlMode()) return SqlModeSample(conn, source.sqlText);
    const Result r =
        conn.read(QStringLiteral("select * from %1 Limit 10").arg(source.table.sql()));
    return HoldSample(r, conn);
}

QString RenderCsvSample(const CsvSampleRows& sample, const CsvSettings& settings)
{
    if (sample.shown) return *sample.shown;
    CsvLineBuilder line(settings);
    Cp932Stream cp932;
    QByteArray text;
    QByteArray check;
    if (settings.header) {
        for (const QString& name : sample.fieldNames) line.addField(name);
        line.finishLine();
        if (!cp932.append(check, line.line().constData(), line.line().size()))
            return UnencodableLine(cp932, sample.fieldNames, {}, 0);
        text += line.line().toByteArray();
    }
    for (size_t row = 0; row < sample.rows.size(); ++row) {
        const std::vector<QByteArray>& values = sample.rows[row];
        line.clear();
        for (const QByteArray& value : values) line.addField(value.constData(), value.size());
        line.finishLine();
        check.clear();
        if (!cp932.append(check, line.line().constData(), line.line().size()))
            return UnencodableLine(cp932, sample.fieldNames, values, qint64(row) + 1);
        text += line.line().toByteArray();
    }
    return QString::fromUtf8(text);
}

QString BuildCsvSample(Connection& conn, const ExportSource& source, const CsvSettings& settings)
{
    if (std::optional<QString> bad = UnencodableSetting(settings)) return *bad;
    return RenderCsvSample(ReadCsvSample(conn, source), settings);
}
