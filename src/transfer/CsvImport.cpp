#include "transfer/CsvImport.h"

#include <QFile>

#include "transfer/ImportBatches.h"
#include "transfer/ImportLog.h"
#include "workspace/Catalogue.h"
#include "workspace/Prompter.h"
#include "workspace/SqlQuote.h"
#include "workspace/Statements.h"
#include "workspace/Transaction.h"

QString ImportColumnSql(const QString& name, bool exact)
{
    return QuoteIdent(exact ? name : FoldTypedName(name));
}

namespace {

QString columnListSql(const ImportSettings& s)
{
    QStringList names;
    for (const QStringList& row : s.fields) names << ImportColumnSql(row.value(0), s.fieldNamesExact);
    return names.join(u',');
}

}  // namespace

QString ImportInsertPrefix(const ImportSettings& s)
{
    return QStringLiteral("INSERT INTO ") + s.table.sql() + QStringLiteral(" (") + columnListSql(s) +
           QStringLiteral(") VALUES(");
}

QString ImportCopyStatement(const ImportSettings& s)
{
    return QStringLiteral("COPY ") + s.table.sql() + QStringLiteral(" (") + columnListSql(s) +
           QStringLiteral(") FROM STDIN");
}

QString ImportCreateStatement(const ImportSettings& s)
{
    QString sql = QStringLiteral("CREATE TABLE ") + s.table.sql() + QStringLiteral("(\n");
    for (size_t i = 0; i < s.fields.size(); ++i) {
        const QStringList& row = s.fields[i];
        const bool last = i + 1 == s.fields.size();
        const QString name = ImportColumnSql(row.value(0), s.fieldNamesExact);
        // Type and size go in as written in the list.
        const QString type = row.value(1), size = row.value(2);
        if (!size.isEmpty())
            sql += QStringLiteral("\t%1 %2(%3)%4\n").arg(name, type, size, last ? "" : ",");
        else
            sql += QStringLiteral("\t%1 %2%3\n").arg(name, type, last ? "" : " ,");
    }
    return sql + QStringLiteral(");");
}

std::optional<std::vector<QStringList>> FieldRowsFromFile(const QString& fileName,
                                                         const QString& delimiter,
                                                         const QString& quote, bool header)
{
    QFile f(fileName);
    if (fileName.isEmpty() || !f.open(QIODevice::ReadOnly)) return std::nullopt;
    std::vector<QStringList> rows;
    CsvRecordReader reader(f, CsvFormat::from(delimiter, quote));
    CsvRecord rec;
    if (!reader.next(rec)) return rows;
    const int n = CountCsvFields(rec);
    for (int i = 0; i < n; ++i) {
        QStringList row;
        row << (header ? rec.text(i) : QStringLiteral("Col%1").arg(i + 1, 2, 10, QLatin1Char('0')))
            << QStringLiteral("text") << QString() << QStringLiteral("NULL");
        for (int k = 0; k < 6; ++k) row << QStringLiteral("-");
        rows.push_back(row);
    }
    return rows;
}

bool ImportTableExists(Connection& conn, const ObjectName& table)
{
    if (table.name.isEmpty()) return false;
    const Result r = conn.read(Catalogue::InsertableRelationStatement(conn, table));
    const int f = r.fieldNumber("RecordCount");
    return r.tuplesOk() && f >= 0 && r.value(0, f).toLongLong() >= 1;
}

namespace {

// COMMIT when `commit`, ROLLBACK otherwise, with their messages. True when it committed.
bool endImport(Connection& conn, bool commit)
{
    if (commit) return CommitTransaction(conn);
    RollBackTransaction(conn);
    return false;
}

}  // namespace

bool FinishImport(Connection& conn, const ImportRunState& state, const ImportOutcome& outcome)
{
    if (outcome.stopMessage) prompter().tell(BoxKind::Window, *outcome.stopMessage);
    if (outcome.lostMessage) prompter().tell(BoxKind::Window, *outcome.lostMessage);
    if (outcome.failMessage) prompter().tell(BoxKind::Window, *outcome.failMessage);
    // A run the operator stopped, whose server was lost or whose file could not be read keeps
    // nothing.
    const bool stopped = state.stopRequest && !outcome.lostMessage && !outcome.failMessage;
    const bool commit = !state.stopRequest && !outcome.lostMessage && !outcome.failMessage;
    const bool committed = endImport(conn, commit) && commit;
    if (stopped) prompter().tell(BoxKind::Window, kStoppedFormat.arg(state.executed.load()));
    if (committed && outcome.emptyMessage) prompter().tell(BoxKind::Window, *outcome.emptyMessage);
    return committed;
}

bool BeginImport(Connection& conn, ImportSettings& s)
{
    {
        // Nothing is sent (no DELETE above all) for a file the run could not read.
        QFile in(s.fileName);
        if (const std::optional<QString> refusal = OpenImportInput(in)) {
            prompter().tell(BoxKind::Window, *refusal);
            return false;
        }
        ImportErrorLog log;
        if (const std::optional<QString> why = log.open(s.logPath)) {
            if (!prompter().ask(BoxKind::Window, ImportWithoutLogQuestion(*why))) return false;
            s.withoutLog = true;
        }
    }
    if (!BeginTransaction(conn)) return false;
    bool ok = true;
    if (s.createTable) {
        if (s.fields.empty() || s.table.name.isEmpty()) {
            ok = false;
        } else if (!ExecCommand(conn, ImportCreateStatement(s)).ok) {
            prompter().tell(BoxKind::Window, FailureText(conn, Result()));
            ok = false;
        }
    }
    if (ok && s.deleteRows)
        ok = ExecCommand(conn, QStringLiteral("Delete from %1").arg(s.table.sql())).ok;
    if (!ok) endImport(conn, false);
    return ok;
}

ImportOutcome RunImportWorker(Connection& conn, const ImportSettings& s, ImportRunState& state,
                              const std::function<void()>& progress)
{
    ImportBatches batches(conn, s, state, progress);
    return batches.run();
}

bool RunImport(Connection& conn, ImportSettings s, ImportRunState& state, ImportOutcome* outcome)
{
    state.stopRequest = false;
    if (!BeginImport(conn, s)) return false;
    const ImportOutcome o = RunImportWorker(conn, s, state);
    if (outcome) *outcome = o;
    return FinishImport(conn, state, o);
}

ImportJob::~ImportJob()
{
    requestStop();
    join();
}

void ImportJob::start(Connection& conn, ImportSettings settings, std::function<void()> progress,
                      std::function<void(ImportOutcome)> finished)
{
    join();
    m_state.stopRequest = false;
    m_state.countersWritten = false;
    m_state.running = true;
    m_cancel = conn.cancelHandle();
    m_loan = std::make_unique<SessionLoan>(conn, QStringLiteral("CSVインポート"));
    m_thread = std::thread([this, &conn, settings = std::move(settings), progress = std::move(progress),
                            finished = std::move(finished)] {
        conn.holdOnThisThread();
        ImportOutcome outcome = RunImportWorker(conn, settings, m_state, progress);
        if (finished) finished(std::move(outcome));
    });
}

void ImportJob::requestStop()
{
    m_state.stopRequest = true;
    if (m_state.running && m_cancel) m_cancel->cancel();
}

void ImportJob::join()
{
    if (m_thread.joinable()) m_thread.join();
    m_loan.reset();
}
