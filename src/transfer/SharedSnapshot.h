#pragma once

#include <memory>
#include <optional>
#include <vector>

#include <QString>

#include "workspace/Connection.h"
#include "workspace/ObjectName.h"

// The heap blocks of a table whose rows ranges of blocks can copy (TID range scans): an
// ordinary or materialized table with no inheritance children, not temporary (the other
// sessions could not see it). 0 for any other relation, or when the statement fails (it is
// tried: nothing of it goes to the log).
qint64 SplittableTableBlocks(Connection& conn, const ObjectName& table);

// The one snapshot a table shared out over several sessions is read in. Owns: the read-only
// repeatable-read transaction it holds open in the workspace's session, from the export's
// start to its end. Keeps: every further session it opens has taken over the workspace
// session's settings (DateStyle and the like shape the values' text) and reads that very
// snapshot, so the ranges together hold every row exactly once, as one COPY would; when it
// cannot open (a small table, a server before 14, the operator's own transaction, a refusal
// of the server's), nothing is left open and nothing goes to the log.
class SharedSnapshot {
public:
    explicit SharedSnapshot(Connection& workspace) : m_conn(workspace) {}

    // Opens the snapshot and up to sessions - 1 further sessions in it, for a table of at least
    // two ranges of rangeBlocks blocks: the sessions (the workspace's not among them; opened
    // together, inside the workspace session's wait) and the number of ranges. Nothing (and
    // nothing open) when no further session could be opened and set up.
    struct Opened {
        std::vector<std::unique_ptr<Connection>> sessions;
        int rangeCount = 0;
    };
    std::optional<Opened> open(const ObjectName& table, int sessions, int rangeBlocks);

    bool isOpen() const { return m_open; }
    // Ends the workspace session's transaction (after the further sessions are closed): the
    // server's text when COMMIT failed.
    std::optional<QString> end(bool commit);
    // Ends it after a stop: rolled back in the visible wait where there is one; elsewhere within
    // `limitMs` (the event loop turning, unless `turning` is false: a job ending with its
    // window), the workspace's session given up when it does not answer in that time (the
    // server rolls the transaction back when it notices). False when it was given up.
    bool abandon(int limitMs, bool turning);

private:
    Connection& m_conn;
    bool m_open = false;
};
