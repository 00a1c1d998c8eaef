#include "workspace/RecordCount.h"

#include "workspace/Catalogue.h"
#include "workspace/Connection.h"
#include "workspace/TableRowCounter.h"

QString RowEstimateText(const QString& reltuples)
{
    // Servers from 14 on say -1 for a table that was never vacuumed or analysed.
    if (reltuples.startsWith(u'-')) return QStringLiteral("(計数中)");
    return QStringLiteral("%1 (推定)").arg(reltuples);
}

QString WidestCountText() { return RowEstimateText(QStringLiteral("9999999999")); }

QString CountFailedText() { return QStringLiteral("(計数失敗)"); }

std::optional<QString> ReadRowEstimate(Connection& conn, const ObjectName& table)
{
    const Result r = conn.read(Catalogue::EstimateStatement(conn, table));
    if (!r.tuplesOk() || r.rows() < 1) return std::nullopt;
    return RowEstimateText(r.value(0, 0));
}

std::optional<QString> CountOnSession(Connection& conn, const QString& countStatement)
{
    const Result r = conn.read(countStatement);
    const int f = r.fieldNumber("RecordCount");
    if (!r.tuplesOk() || f < 0 || r.rows() < 1) return std::nullopt;
    return r.value(0, f);
}

std::optional<QString> CountRows(Connection& conn, const ObjectName& table)
{
    return CountOnSession(conn, Catalogue::CountStatement(table));
}

RecordCountFeed::RecordCountFeed(QObject* parent)
    : QObject(parent), m_counter(new TableRowCounter(this))
{
    connect(m_counter, &TableRowCounter::counted, this, &RecordCountFeed::textChanged);
    connect(m_counter, &TableRowCounter::failed, this, [this] { emit textChanged(CountFailedText()); });
}

void RecordCountFeed::start(Connection& conn, const QString& estimateText, const QString& countStatement)
{
    m_counter->cancel();
    if (!estimateText.isEmpty()) emit textChanged(estimateText);
    if (m_counter->start(conn, countStatement)) return;
    const std::optional<QString> count = CountOnSession(conn, countStatement);
    emit textChanged(count ? *count : CountFailedText());
}

void RecordCountFeed::cancel() { m_counter->cancel(); }
