#include "listview/PagePosition.h"

#include <QRegularExpression>
#include <algorithm>
#include <utility>

#include "workspace/Catalogue.h"
#include "workspace/Connection.h"

namespace {

const QString kRowColumns = QStringLiteral("select ctid,*,tableoid,xmin from %1");

}  // namespace

std::optional<RowSlot> ParseRowSlot(const QString& ctid)
{
    static const QRegularExpression slot(QStringLiteral("^\\((\\d+),(\\d+)\\)$"));
    const QRegularExpressionMatch m = slot.match(ctid);
    if (!m.hasMatch()) return std::nullopt;
    return RowSlot{m.captured(1).toLongLong(), m.captured(2).toLongLong()};
}

QString NextPageStatement(const ObjectName& table, const RowSlot& after, int pageLength)
{
    return kRowColumns.arg(table.sql()) +
           QStringLiteral(" where ctid > '%1' Limit %2").arg(after.text()).arg(pageLength);
}

QString PreviousPageStatement(const ObjectName& table, qint64 fromBlock, const RowSlot& before,
                              int pageLength)
{
    return QStringLiteral("select * from (") + kRowColumns.arg(table.sql()) +
           QStringLiteral(" where ctid >= '(%1,0)' and ctid < '%2' order by ctid desc Limit %3) p "
                          "order by ctid")
               .arg(fromBlock)
               .arg(before.text())
               .arg(qint64(pageLength) + 1);
}

void PagePosition::shown(const ObjectName& table, const Result& page, int pageLength, int skip)
{
    if (!m_table || !(*m_table == table)) m_byPosition.reset();
    m_table = table;
    m_pageLength = pageLength;
    const std::optional<RowSlot> readAfter = std::exchange(m_readAfter, std::nullopt);
    m_after.reset();
    m_before.reset();
    m_blocks = 1;
    if (!page.tuplesOk()) return;
    if (page.rows() <= skip) {
        // Nothing after readAfter: the next page looks there again, the previous one ends there.
        if (readAfter) {
            m_after = readAfter;
            m_before = RowSlot{readAfter->block, readAfter->offset + 1};
        }
        return;
    }
    // The lowest and highest slots rather than the first and last rows: a page read by number
    // comes in the order of the scan, which need not be the slot order.
    std::optional<RowSlot> low, high;
    for (int row = skip; row < page.rows(); ++row) {
        const std::optional<RowSlot> slot = ParseRowSlot(page.value(row, 0));
        if (!slot) return;
        if (!low || *slot < *low) low = slot;
        if (!high || *high < *slot) high = slot;
    }
    m_after = high;
    m_before = low;
    m_blocks = high->block - low->block + 1;
}

void PagePosition::forget()
{
    m_table.reset();
    m_byPosition.reset();
    m_after.reset();
    m_before.reset();
    m_readAfter.reset();
}

bool PagePosition::byPosition(Connection& conn)
{
    if (!m_byPosition) {
        bool plain = false;
        if (conn.serverVersion() >= Catalogue::kTidRangeScanVersion) {
            const Result r = conn.read(Catalogue::RelationKindStatement(conn, *m_table));
            plain = r.tuplesOk() && r.rows() == 1 &&
                    r.value(0, r.fieldNumber("relkind")) == u"r" &&
                    r.value(0, r.fieldNumber("relhassubclass")) == u"f";
        }
        m_byPosition = plain;
    }
    return *m_byPosition;
}

PageStep PagePosition::step(Connection& conn, const ObjectName& table, int pageIndex,
                            int pageLength, int direction)
{
    if (!m_table || !(*m_table == table) || !m_after || pageLength != m_pageLength ||
        pageLength < 1 || !byPosition(conn))
        return {pageIndex + direction, std::nullopt};
    if (direction > 0) {
        m_readAfter = m_after;
        return {pageIndex + 1, conn.read(NextPageStatement(table, *m_after, pageLength))};
    }

    // Start from twice the blocks the page on show spans and widen until the range holds a
    // page and one row more (rows precede it), or reaches the table's first block.
    qint64 width = std::max<qint64>(1, 2 * m_blocks);
    for (;;) {
        const qint64 from = std::max<qint64>(0, m_before->block - width);
        Result r = conn.read(PreviousPageStatement(table, from, *m_before, pageLength));
        if (!r.tuplesOk()) return {pageIndex - 1, std::move(r)};
        if (r.rows() > pageLength) return {std::max(1, pageIndex - 1), std::move(r), true};
        if (from == 0) {
            // Nothing before the page on show: it starts the table and is page 0 itself.
            if (r.rows() == 0) return {0, std::nullopt};
            return {0, std::move(r)};
        }
        width *= 4;
    }
}
