#include "workspace/ServerWarnings.h"

ServerWarnings::ServerWarnings(Connection& conn) : m_conn(conn.raw())
{
    if (m_conn) m_previous = PQsetNoticeReceiver(m_conn, &ServerWarnings::receive, this);
}

ServerWarnings::~ServerWarnings()
{
    if (m_conn) PQsetNoticeReceiver(m_conn, m_previous, nullptr);
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
    if (self->m_previous) self->m_previous(nullptr, notice);
}
