#include "transfer/ResultRowWriter.h"

#include "transfer/ExportChecks.h"

bool ResultRowWriter::appendHeader(QByteArray& out, const QStringList& names)
{
    m_headerDone = true;
    m_line.clear();
    for (const QString& name : names) m_line.addField(name);
    const QByteArrayView line = m_line.finishLine();
    if (m_cp932.append(out, line.data(), line.size())) return true;
    m_failure = UnencodableLine(m_cp932, names, {}, 0);
    return false;
}

bool ResultRowWriter::appendResult(QByteArray& out, const Result& r, qint64& rows)
{
    const int fields = r.fields();
    if (m_header && !m_headerDone) {
        QStringList names;
        for (int f = 0; f < fields; ++f) names << r.fieldName(f);
        if (!appendHeader(out, names)) return false;
    }
    for (int row = 0; row < r.rows(); ++row) {
        m_line.clear();
        for (int f = 0; f < fields; ++f) m_line.addField(r.rawValue(row, f), r.rawLength(row, f));
        const QByteArrayView line = m_line.finishLine();
        if (!m_cp932.append(out, line.constData(), line.size())) {
            m_failure = UnencodableResultLine(m_cp932, r, row, rows + 1);
            return false;
        }
        ++rows;
    }
    if (r.status() == PGRES_TUPLES_OK) m_headerDone = false;
    return true;
}
