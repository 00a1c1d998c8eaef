#include "workspace/Result.h"

ExecStatusType Result::status() const
{
    return m_res ? PQresultStatus(m_res.get()) : PGRES_FATAL_ERROR;
}

int Result::rows() const { return m_res ? PQntuples(m_res.get()) : 0; }

int Result::fields() const { return m_res ? PQnfields(m_res.get()) : 0; }

QString Result::fieldName(int field) const
{
    if (!m_res || field < 0 || field >= fields()) return {};
    return QString::fromUtf8(PQfname(m_res.get(), field));
}

int Result::fieldNumber(const char* name) const
{
    return m_res ? PQfnumber(m_res.get(), name) : -1;
}

QString Result::value(int row, int field) const
{
    if (!m_res || row < 0 || row >= rows() || field < 0 || field >= fields()) return {};
    return QString::fromUtf8(PQgetvalue(m_res.get(), row, field),
                             PQgetlength(m_res.get(), row, field));
}

bool Result::isNull(int row, int field) const
{
    if (!m_res || row < 0 || row >= rows() || field < 0 || field >= fields()) return true;
    return PQgetisnull(m_res.get(), row, field) != 0;
}

const char* Result::rawValue(int row, int field) const
{
    return PQgetvalue(m_res.get(), row, field);
}

int Result::rawLength(int row, int field) const
{
    return PQgetlength(m_res.get(), row, field);
}

QString Result::errorMessage() const
{
    return m_res ? QString::fromUtf8(PQresultErrorMessage(m_res.get())) : QString();
}

QString Result::commandStatus() const
{
    return m_res ? QString::fromUtf8(PQcmdStatus(m_res.get())) : QString();
}

long long Result::affectedRows() const
{
    if (!m_res) return -1;
    const char* n = PQcmdTuples(m_res.get());
    if (!n || !*n) return -1;
    return QByteArray(n).toLongLong();
}

QString Result::errorField(int code) const
{
    return m_res ? QString::fromUtf8(PQresultErrorField(m_res.get(), code)) : QString();
}

QString Result::sqlState() const
{
    const char* code = m_res ? PQresultErrorField(m_res.get(), PG_DIAG_SQLSTATE) : nullptr;
    return code ? QString::fromLatin1(code) : QString();
}
