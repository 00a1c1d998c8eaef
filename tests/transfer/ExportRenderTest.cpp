#include <gtest/gtest.h>

#include <QStringList>

#include "transfer/Cp932Stream.h"
#include "transfer/CsvLine.h"
#include "workspace/TextCodec.h"

namespace {

QByteArray render(const CsvSettings& s, const QStringList& values)
{
    CsvLineBuilder line(s);
    for (const QString& v : values) line.addField(v);
    return line.finishLine().toByteArray();
}

}  // namespace

TEST(ExportRender, NineQuoteAndDelimiterCombinations)
{
    struct Case {
        QString quote, delimiter;
        QByteArray expected;
    };
    // The default choices come from the lists; the user texts are "##" and "||".
    const QString dq = DefaultQuote(0), sq = DefaultQuote(1), uq = QStringLiteral("##");
    const QString comma = DefaultDelimiter(0), tab = DefaultDelimiter(1), ud = QStringLiteral("||");
    const Case cases[] = {
        {dq, comma, "\"1\",\"abc\"\r\n"},  {dq, tab, "\"1\"\t\"abc\"\r\n"},
        {dq, ud, "\"1\"||\"abc\"\r\n"},    {sq, comma, "'1','abc'\r\n"},
        {sq, tab, "'1'\t'abc'\r\n"},       {sq, ud, "'1'||'abc'\r\n"},
        {uq, comma, "##1##,##abc##\r\n"},  {uq, tab, "##1##\t##abc##\r\n"},
        {uq, ud, "##1##||##abc##\r\n"},
    };
    for (const Case& c : cases) {
        CsvSettings s{c.delimiter, c.quote, false};
        EXPECT_EQ(render(s, {QStringLiteral("1"), QStringLiteral("abc")}), c.expected)
            << c.quote.toStdString() << " " << c.delimiter.toStdString();
    }
    // A value ending in the delimiter keeps it; only the delimiter behind the last field goes.
    EXPECT_EQ(render({ud, uq, false}, {QStringLiteral("a||")}), QByteArray("##a||##\r\n"));
    // No fields at all: just the line end.
    EXPECT_EQ(render({comma, dq, false}, {}), QByteArray("\r\n"));
}

TEST(ExportRender, OneCharacterQuoteIsDoubledAndLineEndsInsideValuesStayAsTheyAre)
{
    EXPECT_EQ(render({",", "\"", false}, {QStringLiteral("a\"b"), QStringLiteral("\"")}),
              QByteArray("\"a\"\"b\",\"\"\"\"\r\n"));
    EXPECT_EQ(render({",", "'", false}, {QStringLiteral("it's")}), QByteArray("'it''s'\r\n"));
    // A one-character quote outside ASCII is doubled as well; a longer quote cannot be.
    EXPECT_EQ(render({",", QStringLiteral("＃"), false}, {QStringLiteral("a＃b")}),
              QStringLiteral("＃a＃＃b＃\r\n").toUtf8());
    EXPECT_EQ(render({",", QStringLiteral("##"), false}, {QStringLiteral("a##b")}),
              QByteArray("##a##b##\r\n"));
    // A value's line feed, CR LF and lone CR are written as they are; only the line ends CR LF.
    EXPECT_EQ(render({",", "\"", false}, {QStringLiteral("x\ny")}), QByteArray("\"x\ny\"\r\n"));
    EXPECT_EQ(render({",", "\"", false}, {QStringLiteral("x\r\ny"), QStringLiteral("a\rb")}),
              QByteArray("\"x\r\ny\",\"a\rb\"\r\n"));
}

TEST(ExportRender, Cp932StreamCopiesAsciiConvertsTheRestAndRefusesLossyCharacters)
{
    Cp932Stream cp932;
    const QString text = QStringLiteral("id,名前,ｶﾅ,plain ascii,～\r\n");
    QByteArray out("prefix:");
    ASSERT_TRUE(cp932.append(out, text.toUtf8().constData(), text.toUtf8().size()));
    EXPECT_EQ(out, "prefix:" + *Cp932::encode(text));
    EXPECT_EQ(Cp932::decode(out.mid(7)), text);

    for (const QString& lossy : {QStringLiteral("〜"), QStringLiteral("−"), QStringLiteral("😀"),
                                 QStringLiteral("한")}) {
        QByteArray kept("kept");
        QString bad;
        const QByteArray utf8 = (QStringLiteral("ab名") + lossy + QStringLiteral("z")).toUtf8();
        EXPECT_FALSE(cp932.append(kept, utf8.constData(), utf8.size(), &bad)) << lossy.toStdString();
        EXPECT_EQ(bad, lossy);
        EXPECT_EQ(kept, QByteArray("kept"));
        EXPECT_EQ(cp932.firstUnencodable(utf8), lossy);
    }
    EXPECT_TRUE(cp932.firstUnencodable(QByteArray("only ascii")).isEmpty());
}
