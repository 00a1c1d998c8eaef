#include "workspace/ServerWarnings.h"

namespace {

// The ServerWarnings made last on this thread and still alive.
thread_local ServerWarnings* t_latest = nullptr;

}  // namespace

ServerWarnings::ServerWarnings(Connection& conn)
    : m_session(conn), m_generation(conn.generation()), m_conn(conn.raw()), m_enclosing(t_latest)
{
    t_latest = this;
    if (!m_conn) return;
    m_previous = PQsetNoticeReceiver(m_conn, &ServerWarnings::receive, this);
    if (m_previous == &ServerWarnings::receive)
        for (ServerWarnings* w = m_enclosing; w; w = w->m_enclosing)
            if (w->m_conn == m_conn) {
                m_previousContext = w;
                break;
            }
}

ServerWarnings::~ServerWarnings()
{
    if (m_conn && m_session.generation() == m_generation && m_session.raw() == m_conn)
        PQsetNoticeReceiver(m_conn, m_previous, m_previousContext);
    t_latest = m_enclosing;
}

void ServerWarnings::receive(void* context, const PGresult* notice)
{
    auto* self = static_cast<ServerWarnings*>(context);
    // The untranslated severity (servers from 9.6 on); the translated one otherwise.
    const char* severity = PQresultErrorField(notice, PG_DIAG_SEVERITY_NONLOCALIZED);
    if (!severity) severity = PQresultErrorField(notice, PG_DIAG_SEVERITY);
    const QByteArray level(severity ? severity : "");
    if (level != "NOTICE" && level != "INFO" && level != "LOG" && !level.startsWith("DEBUG")) {
        QString text = QString::fromUtf8(PQresultErrorMessage(notice));
        while (text.endsWith(u'\n')) text.chop(1);
        self->m_texts << text;
    }
    if (self->m_previous) self->m_previous(self->m_previousContext, notice);
}
