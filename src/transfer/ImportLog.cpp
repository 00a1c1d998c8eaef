#include "transfer/ImportLog.h"

#include <optional>

#include "workspace/TextCodec.h"

void ImportErrorLog::open(const QString& path)
{
    m_file.setFileName(path);
    m_file.open(QIODevice::WriteOnly | QIODevice::Append);
}

void ImportErrorLog::add(const QByteArray& query, const QString& error)
{
    if (m_file.isOpen()) m_file.write("Query:" + query + " Error:" + ImportLogBytes(error) + "\r\n");
}

QByteArray ImportLogBytes(const QString& text)
{
    QString crlf = text;
    crlf.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\n', QStringLiteral("\r\n"));
    if (std::optional<QByteArray> b = Cp932::encode(crlf)) return *b;
    QByteArray out;
    for (qsizetype i = 0; i < crlf.size(); ++i) {
        const int len = crlf.at(i).isHighSurrogate() && i + 1 < crlf.size() ? 2 : 1;
        const QString ch = crlf.mid(i, len);
        if (std::optional<QByteArray> b = Cp932::encode(ch))
            out += *b;
        else
            out += QStringLiteral("<U+%1>").arg(ch.toUcs4().value(0), 4, 16, QLatin1Char('0')).toUpper().toLatin1();
        i += len - 1;
    }
    return out;
}
