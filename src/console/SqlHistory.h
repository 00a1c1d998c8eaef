#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The SQL window's history: the statements run, oldest first, and the cursor that the Up and
// Down keys move through them. The file form (.HistorySQL in the start directory) is one
// statement per line, CP932, CR LF, no header.
class SqlHistory {
public:
    // Entries kept when the file is rewritten; older ones are dropped.
    static constexpr int kKeptEntries = 1024;
    // Longest entry read from one line; a longer line gives several entries.
    static constexpr int kPieceBytes = 511;

    static QString filePath(const QString& startDirectory);

    // The entries of a history file. A line ends at CR LF, LF or a lone CR; an empty line is
    // an empty entry; a line longer than kPieceBytes is cut into pieces of at most that many
    // bytes, never inside a two-byte character.
    static QStringList parse(const QByteArray& bytes);

    struct FileText {
        QByteArray bytes;
        // Entries among the kept ones that CP932 cannot hold; they are not in `bytes`.
        QStringList leftOut;
        QString firstBadChar;
    };
    // The file form of the newest kKeptEntries entries.
    static FileText format(const QStringList& entries);

    SqlHistory() = default;
    // The cursor starts past the newest entry.
    explicit SqlHistory(QStringList entries);

    const QStringList& entries() const { return m_entries; }
    int cursor() const { return m_cursor; }

    // Records a statement as the newest entry and moves the cursor one step forward (not to
    // the end: after stepping back, it stays as many steps behind).
    void append(const QString& statement);

    // Up and Down: both give the entry at the cursor, then move it. Up at 0 gives the oldest
    // entry and stays; Down at the end gives an empty text and stays. Past the newest entry
    // the text is empty.
    QString up();
    QString down();

private:
    QString entryAt(int index) const;

    QStringList m_entries;
    int m_cursor = 0;
};
