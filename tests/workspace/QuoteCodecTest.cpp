#include <gtest/gtest.h>

#include "support/TestServer.h"
#include "workspace/ObjectName.h"
#include "workspace/SqlQuote.h"
#include "workspace/TextCodec.h"

TEST(QuoteIdent, MatchesTheServersQuoting)
{
    auto conn = TestServer::connect();
    const QStringList names{"t",         "shop",   "col01",    "_x",       "a$b",
                            "MixedCase", "order",  "user",     "select",   "my table",
                            "a\"b",      "表示",   "1abc",     "between",  "json_table",
                            "name",      "text",   "Col01",    "a-b",      ""};
    for (const QString& n : names) {
        if (n.isEmpty()) continue;
        Result r = conn->exec(QStringLiteral("select quote_ident('%1')").arg(conn->escapeValue(n)));
        ASSERT_TRUE(r.tuplesOk());
        const QString server = r.value(0, 0);
        // The server's own list may be shorter than ours (newer keywords): quoting more is
        // allowed for keywords only, never for plain names.
        if (server != QuoteIdent(n)) {
            EXPECT_TRUE(IsQuotedKeyword(n)) << n.toStdString();
            EXPECT_EQ(QuoteIdent(n), u'"' + n + u'"');
        }
    }
    EXPECT_EQ(QuoteIdent(QStringLiteral("t")), QStringLiteral("t"));
    EXPECT_EQ(QuoteIdent(QStringLiteral("MixedCase")), QStringLiteral("\"MixedCase\""));
    EXPECT_EQ(QuoteIdent(QStringLiteral("a\"b")), QStringLiteral("\"a\"\"b\""));
}

TEST(QuoteIdent, QuotesEveryKeywordOfTheServerAsTheServerDoes)
{
    // The server's own list, whatever its release: a keyword it quotes and we write bare
    // would break a statement; one we quote and it would not changes the texts we send. The
    // one exception is a word that this release keeps unreserved while another supported
    // release reserves it (json: unreserved on 16, a column-name keyword from 17): quoting it
    // names the same object on every release, so it is quoted everywhere.
    auto conn = TestServer::connect();
    Result kw = conn->exec(QStringLiteral("select word, catcode, quote_ident(word) as quoted "
                                          "from pg_get_keywords() order by word"));
    ASSERT_TRUE(kw.tuplesOk()) << kw.errorMessage().toStdString();
    const int word = kw.fieldNumber("word"), quoted = kw.fieldNumber("quoted"),
              category = kw.fieldNumber("catcode");
    int bare = 0, enclosed = 0;
    for (int i = 0; i < kw.rows(); ++i) {
        const QString w = kw.value(i, word), server = kw.value(i, quoted);
        const QString ours = QuoteIdent(w);
        if (server == w && ours != server && kw.value(i, category) == u"U")
            EXPECT_EQ(ours, u'"' + w + u'"') << w.toStdString();
        else
            EXPECT_EQ(ours, server) << w.toStdString();
        ++(server == w ? bare : enclosed);
    }
    // Both kinds occur in every release: the comparison above saw each branch.
    EXPECT_GT(bare, 0);
    EXPECT_GT(enclosed, 0);

    // Names that are no keyword anywhere: plain, mixed case, keywords in capitals, blanks.
    const QStringList names{"shop", "col01", "_x", "x$1", "Shop", "ORDER", "Select",
                            "my table", " ", "", "a\"b", "表示", "9lives", "\tx"};
    for (const QString& n : names) {
        Result r = conn->exec(
            QStringLiteral("select quote_ident('%1') as quoted").arg(conn->escapeValue(n)));
        ASSERT_TRUE(r.tuplesOk()) << n.toStdString();
        EXPECT_EQ(QuoteIdent(n), r.value(0, r.fieldNumber("quoted"))) << n.toStdString();
    }
}

TEST(QuoteIdent, QuotedNamesAreAcceptedByTheServer)
{
    auto conn = TestServer::connect();
    for (const QString& n : {QStringLiteral("MixedCase"), QStringLiteral("order"),
                             QStringLiteral("my table"), QStringLiteral("it's \"q\""),
                             QStringLiteral("表示")}) {
        const QString q = QuoteIdent(n);
        TestServer::run(*conn, QStringLiteral("CREATE TABLE %1 (%1 text)").arg(q));
        TestServer::run(*conn, QStringLiteral("INSERT INTO %1 (%1) VALUES ('%2')")
                                   .arg(q, conn->escapeValue(QStringLiteral("O'Brien"))));
        Result r = conn->exec(QStringLiteral("select %1 from %1").arg(q));
        ASSERT_TRUE(r.tuplesOk()) << n.toStdString();
        EXPECT_EQ(r.value(0, 0), QStringLiteral("O'Brien"));
        Result cat = conn->exec(QStringLiteral("select 1 from pg_tables where tablename = '%1'")
                                    .arg(conn->escapeValue(n)));
        EXPECT_EQ(cat.rows(), 1) << n.toStdString();
        TestServer::run(*conn, QStringLiteral("DROP TABLE %1").arg(q));
    }
}

TEST(FoldTypedName, FoldsWhatTheServerWouldFold)
{
    EXPECT_EQ(FoldTypedName(QStringLiteral("Shop")), QStringLiteral("shop"));
    EXPECT_EQ(FoldTypedName(QStringLiteral("Col01")), QStringLiteral("col01"));
    EXPECT_EQ(FoldTypedName(QStringLiteral("my table")), QStringLiteral("my table"));
    EXPECT_EQ(FoldTypedName(QStringLiteral("order")), QStringLiteral("order"));
    EXPECT_EQ(FoldTypedName(QStringLiteral("1st")), QStringLiteral("1st"));
    EXPECT_EQ(FoldTypedName(QStringLiteral("表示Ａ")), QStringLiteral("表示Ａ"));
    auto conn = TestServer::connect();
    TestServer::run(*conn, QStringLiteral("CREATE TABLE FoldMe (X int)"));
    Result r = conn->exec(QStringLiteral("select 1 from pg_tables where tablename = '%1'")
                              .arg(FoldTypedName(QStringLiteral("FoldMe"))));
    EXPECT_EQ(r.rows(), 1);
    TestServer::run(*conn, QStringLiteral("DROP TABLE %1").arg(QuoteIdent(FoldTypedName("FoldMe"))));
}

// Each case is a listing: its objects (schema, name, found by the search path) and the
// captions they show. Statements are always qualified and quoted.
TEST(Captions, BareWhereTheSearchPathFindsTheObjectQualifiedOnlyToTellTwoApart)
{
    const QString pub = QStringLiteral("public"), s2 = QStringLiteral("s2");
    const std::pair<QList<ObjectName>, QStringList> cases[] = {
        {{{pub, "顧客", true}, {s2, "顧客", false}, {"My Schema", "T", false}},
         {"顧客", "s2.\"顧客\"", "\"My Schema\".\"T\""}},
        // Two claiming one bare name: one was listed before the other was made ahead of it.
        {{{pub, "dup", true}, {"postgres", "dup", true}, {pub, "other", true}},
         {"public.dup", "postgres.dup", "other"}},
        // A bare name that is another's qualified caption, quotes and all.
        {{{pub, "s2.\"顧客\"", true}, {s2, "顧客", false}},
         {"public.\"s2.\"\"顧客\"\"\"", "s2.\"顧客\""}},
    };
    for (const auto& [objects, captions] : cases) EXPECT_EQ(Captions(objects), captions);
    EXPECT_EQ((ObjectName{pub, "顧客", true}).sql(), QStringLiteral("public.\"顧客\""));
}

TEST(Cp932, RoundTripsJapaneseAndRefusesWhatItCannotHold)
{
    const QString text = QStringLiteral("ﾚﾃﾞｨ マーロウ 表示 ～ デ－タ ①");
    auto bytes = Cp932::encode(text);
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(Cp932::decode(*bytes), text);
    EXPECT_EQ(Cp932::encode(QStringLiteral("ア")).value(), QByteArray("\x83\x41"));
    EXPECT_EQ(Cp932::encode(QStringLiteral("　")).value(), QByteArray("\x81\x40"));
    EXPECT_EQ(Cp932::encode(QStringLiteral("－")).value(), QByteArray("\x81\x7c"));
    EXPECT_EQ(Cp932::encode(QString()).value(), QByteArray());

    QString bad;
    EXPECT_FALSE(Cp932::encode(QStringLiteral("abc한글"), &bad).has_value());
    EXPECT_EQ(bad, QStringLiteral("한"));
    EXPECT_FALSE(Cp932::encode(QStringLiteral("x😀"), &bad).has_value());
    EXPECT_EQ(bad, QStringLiteral("😀"));

    // Bytes that are not CP932 are marked, not dropped.
    EXPECT_EQ(Cp932::decode(QByteArray("a\xA0" "b")), QStringLiteral("a\uFFFDb"));
    EXPECT_EQ(Cp932::decode(QByteArray("a\x83")), QStringLiteral("a\uFFFD"));
}

TEST(Cp932, RefusesCharactersWhoseRoundTripChangesThem)
{
    // Each of these is written as bytes that read back as another character.
    for (const QString& changed : {QStringLiteral("〜"), QStringLiteral("−"), QStringLiteral("‖"),
                                   QStringLiteral("¬"), QStringLiteral("—"), QStringLiteral("¢")}) {
        QString bad;
        EXPECT_FALSE(Cp932::encode(QStringLiteral("UPDATE t SET a='x") + changed + u'\'', &bad)
                         .has_value())
            << changed.toStdString();
        EXPECT_EQ(bad, changed);
    }
    QString bad;
    EXPECT_FALSE(Cp932::encode(QStringLiteral("1€"), &bad).has_value());
    EXPECT_EQ(bad, QStringLiteral("€"));
    // Their look-alikes that CP932 does hold come back as themselves.
    const QString held = QStringLiteral("～－∥￢―￠");
    EXPECT_EQ(Cp932::decode(Cp932::encode(held).value()), held);
}

TEST(Cp932, BytesThatAreNotCp932AreKeptAndWrittenBackUnchanged)
{
    const QByteArray samples[] = {
        QByteArray("abc\x83"),              // cut after the lead byte of a double-byte character
        QByteArray("\x83\x41\xA0x\xFF\xFD"),  // ア, then bytes CP932 does not define
        QByteArray("\x81"),
        *Cp932::encode(QStringLiteral("日本語")),
    };
    for (const QByteArray& bytes : samples) {
        const QString text = Cp932::decodeKept(bytes);
        EXPECT_FALSE(text.contains(QChar(0xFFFD)));
        EXPECT_EQ(Cp932::encode(text).value(), bytes) << bytes.toHex().toStdString();
    }
    const QString cut = Cp932::decodeKept(QByteArray("ab\x83\x41\x83"));
    EXPECT_EQ(cut.left(3), QStringLiteral("abア"));
    EXPECT_TRUE(Cp932::isKeptByte(cut.at(3)));
    // Kept bytes next to text typed later still go out as they came in.
    EXPECT_EQ(Cp932::encode(cut + QStringLiteral("表")).value(),
              QByteArray("ab\x83\x41\x83") + *Cp932::encode(QStringLiteral("表")));
}

TEST(Cp932, StreamsBothWaysAsTheWholeTextAndMarksWhatItCannotRead)
{
    // Pieces cut between characters, as the import's lines and the export's rows come.
    const QStringList pieces{QStringLiteral("ﾚﾃﾞｨ,"), QStringLiteral("マーロウ ソ表"),
                             QStringLiteral("～①\r\n"), QStringLiteral("plain ascii text"),
                             QString(), QStringLiteral("全角")};
    Cp932::Encoder encoder;
    Cp932::Decoder decoder;
    QByteArray cp932, utf8;
    for (const QString& p : pieces) {
        const QByteArray in = p.toUtf8();
        ASSERT_TRUE(encoder.append(cp932, in.constData(), in.size()));
        const QByteArray bytes = *Cp932::encode(p);
        EXPECT_TRUE(decoder.append(utf8, bytes.constData(), bytes.size()));
    }
    EXPECT_EQ(cp932, *Cp932::encode(pieces.join(QString())));
    EXPECT_EQ(QString::fromUtf8(utf8), pieces.join(QString()));
    // U+FEFF, which CP932 cannot hold, is named even where a byte-order mark would stand.
    EXPECT_EQ(encoder.firstUnencodable("\xEF\xBB\xBF"), QStringLiteral("\uFEFF"));
    QString bad;
    EXPECT_FALSE(Cp932::encode(QStringLiteral("\uFEFFx"), &bad).has_value());
    EXPECT_EQ(bad, QStringLiteral("\uFEFF"));

    struct Broken {
        QByteArray bytes;
        Cp932::Decoder::Nul nul;
        const char16_t* text;
    };
    const Broken broken[] = {
        {QByteArray("a\xA0" "b"), Cp932::Decoder::Nul::Character, u"a\uFFFDb"},
        {QByteArray("x\x83"), Cp932::Decoder::Nul::Character, u"x\uFFFD"},  // cut at the end
        // The byte after a broken one may begin a character with the ASCII byte after it.
        {QByteArray("\x85\x83\x41" "b"), Cp932::Decoder::Nul::Character, u"\uFFFDアb"},
        {QByteArray("a\0b", 3), Cp932::Decoder::Nul::Broken, u"a\uFFFDb"},
        {QByteArray("\x83\0", 2), Cp932::Decoder::Nul::Broken, u"\uFFFD\uFFFD"},
    };
    for (const Broken& b : broken) {
        Cp932::Decoder d(b.nul);
        QByteArray out("kept:");
        EXPECT_FALSE(d.append(out, b.bytes.constData(), b.bytes.size()));
        EXPECT_EQ(QString::fromUtf8(out), QStringLiteral("kept:") + QString::fromUtf16(b.text))
            << b.bytes.toHex().toStdString();
    }
    // Outside CSV files a NUL byte is a character.
    QByteArray nul;
    EXPECT_TRUE(decoder.append(nul, "a\0b", 3));
    EXPECT_EQ(nul, QByteArray("a\0b", 3));

    // The system's own files: a broken byte is kept, and the byte after it may still begin
    // a character (ア); 表 ends in a backslash byte. Written back, every byte is as it was.
    const QByteArray damaged("\x85\x83\x41\x95\x5C\x81");
    const QString kept = Cp932::decodeKept(damaged);
    EXPECT_EQ(kept.size(), 4);
    EXPECT_TRUE(Cp932::isKeptByte(kept.at(0)));
    EXPECT_EQ(kept.at(1), u'ア');
    EXPECT_TRUE(Cp932::isKeptByte(kept.at(3)));
    EXPECT_EQ(Cp932::encode(kept).value(), damaged);
}
