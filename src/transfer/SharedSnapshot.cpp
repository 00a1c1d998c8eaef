#include "transfer/SharedSnapshot.h"

#include "transfer/ExportChecks.h"
#include "transfer/StoppedSession.h"
#include "workspace/Catalogue.h"

namespace {

const QString kBeginSnapshot =
    QStringLiteral("BEGIN TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY");

// A string literal whatever standard_conforming_strings says in the session that reads it.
QString literal(QString value)
{
    value.replace(u'\\', QStringLiteral("\\\\")).replace(u'\'', QStringLiteral("''"));
    return QStringLiteral("E'%1'").arg(value);
}

}  // namespace

qint64 SplittableTableBlocks(Connection& conn, const ObjectName& table)
{
    const Result info = conn.tryExec(Catalogue::RelationBlocksStatement(conn, table));
    const qint64 blocks = info.tuplesOk() && info.rows() == 1 ? info.value(0, 3).toLongLong() : 0;
    const QString kind = blocks ? info.value(0, 0) : QString();
    const bool fits = (kind == u"r" || kind == u"m") && info.value(0, 1) == u"f" &&
                      info.value(0, 2) != u"t";
    return fits ? blocks : 0;
}

std::optional<SharedSnapshot::Opened> SharedSnapshot::open(const ObjectName& table, int sessions,
                                                           int rangeBlocks)
{
    if (sessions < 2 || table.schema.isEmpty() || m_conn.inTransaction() ||
        m_conn.serverVersion() < Catalogue::kTidRangeScanVersion)
        return std::nullopt;
    // Each step may fail for reasons of the server's (a standby, no room for more sessions);
    // the export then runs on the workspace's session alone.
    if (!m_conn.tryExec(kBeginSnapshot).commandOk()) return std::nullopt;
    m_open = true;
    const Result snapshot = m_conn.tryExec(QStringLiteral("select pg_catalog.pg_export_snapshot()"));
    // Read after the snapshot was taken: every row it sees lies within these blocks.
    const qint64 blocks = SplittableTableBlocks(m_conn, table);
    const Result settings = m_conn.tryExec(QStringLiteral(
        "select name, setting from pg_catalog.pg_settings where source = 'session' "
        "and name not like 'transaction%'"));
    if (!snapshot.tuplesOk() || snapshot.rows() != 1 || !settings.tuplesOk() ||
        blocks < 2 * qint64(rangeBlocks)) {
        end(false);
        return std::nullopt;
    }
    Opened opened;
    opened.rangeCount = int(std::min<qint64>((blocks + rangeBlocks - 1) / rangeBlocks, 1 << 30));
    // Each further session takes the snapshot first (the first statement of its transaction),
    // then the workspace session's settings (DateStyle and the like shape the values' text).
    QStringList setup{kBeginSnapshot,
                      QStringLiteral("SET TRANSACTION SNAPSHOT %1").arg(literal(snapshot.value(0, 0)))};
    for (int s = 0; s < settings.rows(); ++s) {
        setup << QStringLiteral("select pg_catalog.set_config(%1, %2, false)")
                     .arg(literal(settings.value(s, 0)), literal(settings.value(s, 1)));
    }
    const int wanted = int(std::min<qint64>(sessions, opened.rangeCount));
    opened.sessions = Connection::openSeveralLike(m_conn, wanted - 1, setup.join(u"; "));
    if (opened.sessions.empty()) {
        end(false);
        return std::nullopt;
    }
    return opened;
}

bool SharedSnapshot::abandon(int limitMs, bool turning)
{
    if (!m_open) return true;
    m_open = false;
    if (m_conn.isBad()) return true;
    const QString rollback = QStringLiteral("ROLLBACK");
    if (m_conn.waitsVisibly()) {
        m_conn.exec(rollback);
        return !m_conn.isBad();
    }
    if (m_conn.send(rollback) &&
        (turning ? AwaitAnswerTurning(m_conn, limitMs) : DiscardAnswer(m_conn, limitMs))) {
        m_conn.answerTaken();
        return true;
    }
    GiveUpSession(m_conn);
    return false;
}

std::optional<QString> SharedSnapshot::end(bool commit)
{
    if (!m_open) return std::nullopt;
    m_open = false;
    // A session given up or lost has ended its transaction with it.
    if (m_conn.isBad()) return std::nullopt;
    const Result r = m_conn.exec(commit ? QStringLiteral("COMMIT") : QStringLiteral("ROLLBACK"));
    if (commit && !r.commandOk()) return ServerFailureText(r, m_conn);
    return std::nullopt;
}
