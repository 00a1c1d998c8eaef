#pragma once

#include <QString>
#include <optional>

#include "workspace/ObjectName.h"
#include "workspace/Result.h"

class Connection;

// A row's slot as the server writes a ctid: "(block,offset)".
struct RowSlot {
    qint64 block = 0;
    qint64 offset = 0;

    QString text() const { return QStringLiteral("(%1,%2)").arg(block).arg(offset); }
    bool operator<(const RowSlot& o) const
    {
        return block != o.block ? block < o.block : offset < o.offset;
    }
};
std::optional<RowSlot> ParseRowSlot(const QString& ctid);

// The page after the one whose highest slot is `after`: the server reads from there on and
// stops at the page's end, wherever in the table it is.
QString NextPageStatement(const ObjectName& table, const RowSlot& after, int pageLength);
// Up to pageLength + 1 rows just before `before`, from block `fromBlock` on, in slot order.
// The server reads a slot range forwards, so the range is bounded from below as well.
QString PreviousPageStatement(const ObjectName& table, qint64 fromBlock, const RowSlot& before,
                              int pageLength);

// What a step to the next or previous page gives: the page index it has, and the page the
// server sent, or nothing when the page is to be read by its number (OFFSET).
struct PageStep {
    int pageIndex = 0;
    std::optional<Result> page;
    // The first row of `page` came only to tell that rows precede the page; it is not shown.
    bool firstRowExtra = false;
};

// Steps through a table's rows by where the rows lie instead of by counting them, so every
// step costs the same at any depth and no row present throughout is shown twice or left out
// while other sessions insert and delete. It applies to an ordinary table on a server with TID
// range scans (14 on); a view, a table with inheritance children or partitions (whose slots
// repeat across the children), an older server or an empty page step by count.
//
// Invariants: for the page of m_table last shown, m_after is the slot the next page starts
// after and m_before the one the previous page ends before: its highest and lowest slots, or,
// for the empty page past the end reached by position, the slot it was read after (and the one
// following it); both unset when neither is known. m_blocks is the blocks the page spans.
// m_byPosition is decided once per table shown; m_readAfter lives from step() to shown().
class PagePosition {
public:
    // A page of `table` (rows with their ctid in field 0), read with `pageLength`, is on show;
    // `skip` leading rows of `page` are not.
    void shown(const ObjectName& table, const Result& page, int pageLength, int skip = 0);
    void forget();

    // The page `direction` (+1 or -1) from the one on show. A previous page that starts the
    // table is page 0; one that does not is never page 0, since nothing precedes page 0.
    PageStep step(Connection& conn, const ObjectName& table, int pageIndex, int pageLength,
                  int direction);

private:
    bool byPosition(Connection& conn);

    std::optional<ObjectName> m_table;
    std::optional<bool> m_byPosition;
    std::optional<RowSlot> m_after;
    std::optional<RowSlot> m_before;
    qint64 m_blocks = 1;
    int m_pageLength = 0;  // a page of another length is found by its number
    std::optional<RowSlot> m_readAfter;
};
