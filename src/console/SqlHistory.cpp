#include "console/SqlHistory.h"

#include <QDir>

#include "workspace/TextCodec.h"

namespace {

bool isLeadByte(unsigned char b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }

// Cuts one line (without its line end) into pieces of at most kPieceBytes. A two-byte
// character that would straddle a cut moves whole into the next piece, so no piece starts or
// ends with half a character.
void appendPieces(const char* line, qsizetype length, QStringList& out)
{
    if (length == 0) {
        out << QString();
        return;
    }
    qsizetype start = 0;
    while (start < length) {
        qsizetype end = start;
        while (end < length) {
            const qsizetype width =
                (isLeadByte(static_cast<unsigned char>(line[end])) && end + 1 < length) ? 2 : 1;
            if (end + width - start > SqlHistory::kPieceBytes) break;
            end += width;
        }
        out << Cp932::decodeKept(QByteArray(line + start, end - start));
        start = end;
    }
}

}  // namespace

QString SqlHistory::filePath(const QString& startDirectory)
{
    return startDirectory + QDir::separator() + QStringLiteral(".HistorySQL");
}

QStringList SqlHistory::parse(const QByteArray& bytes)
{
    QStringList entries;
    const char* data = bytes.constData();
    const qsizetype size = bytes.size();
    qsizetype start = 0;
    while (start < size) {
        qsizetype end = start;
        while (end < size && data[end] != '\r' && data[end] != '\n') ++end;
        appendPieces(data + start, end - start, entries);
        // CR LF, LF alone or CR alone ends the line.
        if (end < size) {
            const bool cr = data[end] == '\r';
            ++end;
            if (cr && end < size && data[end] == '\n') ++end;
        }
        start = end;
    }
    return entries;
}

SqlHistory::FileText SqlHistory::format(const QStringList& entries)
{
    FileText file;
    const qsizetype first = qMax<qsizetype>(0, entries.size() - kKeptEntries);
    for (qsizetype i = first; i < entries.size(); ++i) {
        QString bad;
        const std::optional<QByteArray> bytes = Cp932::encode(entries[i], &bad);
        if (!bytes) {
            if (file.leftOut.isEmpty()) file.firstBadChar = bad;
            file.leftOut << entries[i];
            continue;
        }
        file.bytes += *bytes;
        file.bytes += "\r\n";
    }
    return file;
}

SqlHistory::SqlHistory(QStringList entries)
    : m_entries(std::move(entries)), m_cursor(int(m_entries.size()))
{
}

void SqlHistory::append(const QString& statement)
{
    m_entries << statement;
    ++m_cursor;
}

QString SqlHistory::entryAt(int index) const
{
    return index >= 0 && index < m_entries.size() ? m_entries[index] : QString();
}

QString SqlHistory::up()
{
    if (m_cursor == 0) return entryAt(0);
    return entryAt(m_cursor--);
}

QString SqlHistory::down()
{
    if (m_cursor >= m_entries.size()) return QString();
    return entryAt(m_cursor++);
}
