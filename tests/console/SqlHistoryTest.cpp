#include <gtest/gtest.h>

#include "console/SqlHistory.h"
#include "workspace/TextCodec.h"

TEST(SqlHistoryFile, ReadsLfAndCrLfLinesKeepingEmptyOnes)
{
    const QByteArray file = *Cp932::encode(QStringLiteral(
        "select 1\r\nselect 2\n\r\n\nselect '日本語'\rselect 3"));
    EXPECT_EQ(SqlHistory::parse(file),
              QStringList({QStringLiteral("select 1"), QStringLiteral("select 2"), QString(),
                           QString(), QStringLiteral("select '日本語'"),
                           QStringLiteral("select 3")}));
    EXPECT_TRUE(SqlHistory::parse(QByteArray()).isEmpty());
}

TEST(SqlHistoryFile, LongLinesComeBackInPiecesWithoutSplittingCharacters)
{
    const QString ascii(1200, QLatin1Char('a'));
    QStringList pieces = SqlHistory::parse(ascii.toLatin1() + "\r\nnext\r\n");
    ASSERT_EQ(pieces.size(), 4);
    EXPECT_EQ(pieces[0].size(), 511);
    EXPECT_EQ(pieces[1].size(), 511);
    EXPECT_EQ(pieces[2].size(), 178);
    EXPECT_EQ(pieces[3], QStringLiteral("next"));

    // Exactly 511 bytes is one entry, not one plus an empty one.
    EXPECT_EQ(SqlHistory::parse(QByteArray(511, 'b') + "\r\n").size(), 1);

    // A two-byte character at the 511th byte goes whole into the next piece.
    const QString mixed = QString(510, QLatin1Char('x')) + QStringLiteral("日本語");
    pieces = SqlHistory::parse(*Cp932::encode(mixed) + "\r\n");
    ASSERT_EQ(pieces.size(), 2);
    EXPECT_EQ(pieces[0], QString(510, QLatin1Char('x')));
    EXPECT_EQ(pieces[1], QStringLiteral("日本語"));
}

TEST(SqlHistoryFile, WritesCp932WithCrLfAndListsWhatItCannotHold)
{
    const SqlHistory::FileText text =
        SqlHistory::format({QStringLiteral("select '表'"), QString(),
                            QStringLiteral("select '😀'"), QStringLiteral("select 2")});
    EXPECT_EQ(text.bytes, *Cp932::encode(QStringLiteral("select '表'")) +
                              "\r\n\r\nselect 2\r\n");
    EXPECT_EQ(text.leftOut, QStringList{QStringLiteral("select '😀'")});
    EXPECT_EQ(text.firstBadChar, QStringLiteral("😀"));
}

TEST(SqlHistoryCursor, ExecutingAfterSteppingBackStaysBehindTheEnd)
{
    SqlHistory empty;
    EXPECT_EQ(empty.up(), QString());
    EXPECT_EQ(empty.down(), QString());
    EXPECT_EQ(empty.cursor(), 0);

    SqlHistory h({QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")});
    EXPECT_EQ(h.up(), QString());
    EXPECT_EQ(h.up(), QStringLiteral("C"));
    h.append(QStringLiteral("D"));
    EXPECT_EQ(h.cursor(), 2);
    EXPECT_EQ(h.down(), QStringLiteral("C"));
    EXPECT_EQ(h.down(), QStringLiteral("D"));
    EXPECT_EQ(h.down(), QString());
    EXPECT_EQ(h.cursor(), 4);
}

TEST(SqlHistoryFile, ChangedCharactersAreRefusedAndDamagedLinesWrittenBackByteForByte)
{
    const QByteArray damaged = QByteArray("select '\x83\x41\xA0\x83'");
    const QByteArray file = "select 1\r\n" + damaged + "\r\nselect 2\r\n";
    const QStringList entries = SqlHistory::parse(file);
    ASSERT_EQ(entries.size(), 3);
    EXPECT_EQ(entries[2], QStringLiteral("select 2"));

    // The damaged line survives a save; 〜 and € are named, never written as something else.
    QStringList saved = entries;
    saved << QStringLiteral("UPDATE t SET a='〜'") << QStringLiteral("select '€'")
          << QStringLiteral("select '～'");
    const SqlHistory::FileText text = SqlHistory::format(saved);
    EXPECT_EQ(text.bytes, file + *Cp932::encode(QStringLiteral("select '～'")) + "\r\n");
    EXPECT_EQ(text.leftOut, (QStringList{"UPDATE t SET a='〜'", "select '€'"}));
    EXPECT_EQ(text.firstBadChar, QStringLiteral("〜"));
    EXPECT_EQ(SqlHistory::parse(text.bytes).mid(0, 3), entries);
}
