#include "transfer/CsvLine.h"

#include <QByteArrayView>
#include <cstring>

QString DefaultDelimiter(int choice)
{
    return choice == 1 ? QStringLiteral("\t") : QStringLiteral(",");
}

QString DefaultQuote(int choice) { return choice == 1 ? QStringLiteral("'") : QStringLiteral("\""); }

CsvLineBuilder::CsvLineBuilder(const CsvSettings& settings, Target target)
    : m_quote(settings.quote.toUtf8()),
      m_delimiter(settings.delimiter.toUtf8()),
      m_doubleQuote(settings.quote.size() == 1 ||
                    (settings.quote.size() == 2 && settings.quote.at(0).isHighSurrogate())),
      m_translateLineFeeds(target == Target::File)
{
}

void CsvLineBuilder::addField(const QString& value)
{
    const QByteArray utf8 = value.toUtf8();
    addField(utf8.constData(), utf8.size());
}

void CsvLineBuilder::addField(const char* value, qsizetype size)
{
    m_line.append(m_quote);
    appendValue(value, size);
    m_line.append(m_quote);
    m_line.append(m_delimiter);
}

void CsvLineBuilder::appendValue(const char* value, qsizetype size)
{
    const bool hasLineFeed = m_translateLineFeeds && std::memchr(value, '\n', size_t(size));
    const bool hasQuote =
        m_doubleQuote && QByteArrayView(value, size).indexOf(QByteArrayView(m_quote)) >= 0;
    if (!hasLineFeed && !hasQuote) {
        m_line.append(value, size);
        return;
    }
    const QByteArrayView q(m_quote);
    for (qsizetype i = 0; i < size;) {
        if (hasQuote && QByteArrayView(value + i, size - i).startsWith(q)) {
            m_line.append(m_quote).append(m_quote);
            i += q.size();
        } else if (hasLineFeed && value[i] == '\n') {
            m_line.append("\r\n", 2);
            ++i;
        } else {
            m_line.append(value[i]);
            ++i;
        }
    }
}

const QByteArray& CsvLineBuilder::finishLine()
{
    if (!m_delimiter.isEmpty() && m_line.endsWith(m_delimiter)) m_line.chop(m_delimiter.size());
    m_line.append("\r\n", 2);
    return m_line;
}
