#pragma once

#include <libpq-fe.h>

#include <QObject>
#include <QString>
#include <memory>

#include "workspace/Connection.h"

class QSocketNotifier;

// Counts a table's rows with count(*) without holding up the UI thread: the count runs on a
// second connection of its own, opened with the parameters of the workspace's connection,
// and its answer is picked up from the event loop when the server sends it. The workspace's
// connection stays free for every other statement meanwhile.
//
// Ownership: the counter owns its connection and keeps it for the next count. Destroying it
// (or starting another count) cancels a count still running on the server.
class TableRowCounter : public QObject {
    Q_OBJECT
public:
    explicit TableRowCounter(QObject* parent = nullptr);
    ~TableRowCounter() override;

    // Starts counting with the given count statement; false (and nothing emitted) when the
    // second connection could not be opened or the statement not sent. The statement should
    // name the table schema-qualified: this session's search path is the role's default, not
    // whatever the workspace's session has set.
    bool start(const Connection& like, const QString& countStatement);
    void cancel();
    bool running() const { return m_notifier != nullptr; }

signals:
    // The text of "RecordCount", as the server returned it.
    void counted(const QString& count);
    // The count was refused or lost; the server's text has also gone to the failure sink of
    // the connection the count was started like.
    void failed(const QString& serverText);

private:
    void readAnswer();
    // Stops watching for the answer; the session stays for the next count.
    void finish();
    // Closes the session as well.
    void drop();

    void fail(const QString& serverText);

    std::unique_ptr<Connection> m_session;
    Connection::FailureSink m_failureSink;  // the workspace connection's, for the log pane
    PGconn* m_conn = nullptr;  // m_session's
    int m_openedLike = 0;  // the backend of the session m_session was opened like
    QSocketNotifier* m_notifier = nullptr;
    Result m_answer;
    // While the session opens (inside the operator's visible wait): a start() or cancel() made
    // meanwhile only changes which count is sent once it is open (none after a cancel).
    bool m_opening = false;
    QString m_pending;
};
