#include <gtest/gtest.h>

#include "support/TestServer.h"
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
