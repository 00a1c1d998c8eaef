#pragma once

#include <libpq-fe.h>

#include <QStringList>

#include "workspace/Connection.h"

// Collects the warnings the server raises on a connection while this object lives. Every
// notice still goes on to the connection's notice processor (the workspace's log pane), as
// before. The program sets notice processors only, never receivers, so the receiver in force
// is libpq's default, which takes no context of its own, or that of an enclosing
// ServerWarnings of the same connection (they nest, on one thread, innermost last).
class ServerWarnings {
public:
    explicit ServerWarnings(Connection& conn);
    ~ServerWarnings();
    ServerWarnings(const ServerWarnings&) = delete;
    ServerWarnings& operator=(const ServerWarnings&) = delete;

    // The text of each warning (or a more severe notice) in the order raised.
    const QStringList& texts() const { return m_texts; }

private:
    static void receive(void* context, const PGresult* notice);

    Connection& m_session;
    int m_generation;  // the session's, when made: a session that replaced it has no receiver of ours
    PGconn* m_conn;
    PQnoticeReceiver m_previous = nullptr;
    void* m_previousContext = nullptr;  // the enclosing ServerWarnings when it was the receiver
    ServerWarnings* m_enclosing = nullptr;  // the one made before this on the thread
    QStringList m_texts;
};
