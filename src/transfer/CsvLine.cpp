#include "transfer/CsvLine.h"

#include <QByteArrayView>
#include <cstring>

QString DefaultDelimiter(int choice)
{
    return choice == 1 ? QStringLiteral("\t") : QStringLiteral(",");
}

QString DefaultQuote(int choice) { return choice == 1 ? QStringLiteral("'") : QStringLiteral("\""); }

CsvLineBuilder::CsvLineBuilder(const CsvSettings& settings)
    : m_quote(settings.quote.toUtf8()),
      m_delimiter(settings.delimiter.toUtf8()),
      m_doubleQuote(settings.quote.size() == 1 ||
                    (settings.quote.size() == 2 && settings.quote.at(0).isHighSurrogate()))
{
}

void CsvLineBuilder::addField(const QString& value)
{
    const QByteArray utf8 = value.toUtf8();
    addField(utf8.constData(), utf8.size());
}

void CsvLineBuilder::grow(qsizetype n)
{
    m_buffer.resize(std::max<qsizetype>(2 * (m_used + n), 256));
}

void CsvLineBuilder::addField(const char* value, qsizetype size)
{
    put(m_quote.constData(), m_quote.size());
    appendValue(value, size);
    put(m_quote.constData(), m_quote.size());
    put(m_delimiter.constData(), m_delimiter.size());
}

void CsvLineBuilder::appendValue(const char* value, qsizetype size)
{
    // An empty value may come as a null pointer (a NULL read as empty).
    if (size <= 0) return;
    const bool hasQuote =
        m_doubleQuote && QByteArrayView(value, size).indexOf(QByteArrayView(m_quote)) >= 0;
    if (!hasQuote) {
        put(value, size);
        return;
    }
    const QByteArrayView q(m_quote);
    for (qsizetype i = 0; i < size;) {
        if (QByteArrayView(value + i, size - i).startsWith(q)) {
            put(q.data(), q.size());
            put(q.data(), q.size());
            i += q.size();
        } else {
            put(value + i, 1);
            ++i;
        }
    }
}

QByteArrayView CsvLineBuilder::finishLine()
{
    if (!m_delimiter.isEmpty() && line().endsWith(QByteArrayView(m_delimiter)))
        m_used -= m_delimiter.size();
    put("\r\n", 2);
    return line();
}
