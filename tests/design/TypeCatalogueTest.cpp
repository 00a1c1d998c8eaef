#include "DesignFixture.h"
#include "design/TypeCatalogue.h"

namespace {

QString text(const char16_t* s) { return s ? QString::fromUtf16(s) : QString(); }

}  // namespace

TEST(TypeCatalogue, LookupByNameOrAliasExactly)
{
    ASSERT_EQ(kTypeCatalogueSize, 31);
    EXPECT_EQ(FindTypeEntry(QStringLiteral("real")), &TypeCatalogue[0]);
    EXPECT_EQ(FindTypeEntry(QStringLiteral("float4")), &TypeCatalogue[0]);
    EXPECT_EQ(FindTypeEntry(QStringLiteral("int4")), &TypeCatalogue[3]);
    EXPECT_EQ(FindTypeEntry(QStringLiteral("timespan")), &TypeCatalogue[17]);
    EXPECT_EQ(FindTypeEntry(QStringLiteral("decimal")), &TypeCatalogue[5]);
    EXPECT_EQ(FindTypeEntry(QStringLiteral("macaddr")), &TypeCatalogue[30]);

    const TypeCatalogueEntry* boolean = FindTypeEntry(QStringLiteral("bool"));
    ASSERT_NE(boolean, nullptr);
    EXPECT_EQ(text(boolean->storageSize), QString());
    EXPECT_EQ(text(boolean->description), QStringLiteral("真偽"));
    EXPECT_EQ(text(boolean->category), QStringLiteral("数値型"));
    EXPECT_EQ(text(FindTypeEntry(QStringLiteral("bit"))->storageSize), QString());
    EXPECT_EQ(text(FindTypeEntry(QStringLiteral("varbit"))->category), QStringLiteral("ブーリアン型"));
    EXPECT_EQ(text(FindTypeEntry(QStringLiteral("circle"))->storageSize), QStringLiteral("24 byte"));
    EXPECT_EQ(text(FindTypeEntry(QStringLiteral("path"))->storageSize), QStringLiteral("4+32n byte"));
    EXPECT_EQ(text(FindTypeEntry(QStringLiteral("int8"))->description),
              QStringLiteral("固定精度整数。非常に大きな有効範囲を持ちます。\n"
                             "+/-18桁(-9223372036854775808～+9223372036854775807)"));

    // Line breaks and blanks at the end belong to the texts.
    for (const char* name : {"line", "lseg", "box"})
        EXPECT_TRUE(text(FindTypeEntry(QString::fromLatin1(name))->description).endsWith(u'\n')) << name;
    EXPECT_EQ(text(FindTypeEntry(QStringLiteral("point"))->description),
              QStringLiteral("空間における座標点\n表現方法は(x,y)\nxはX 座標値 (浮動小数点) \n"
                             "yはY 座標値 (浮動小数点) "));

    // Unknown types, other spellings and the empty name find nothing.
    for (const char* name : {"oid", "bpchar", "name", "INT4", "int4 ", "Real", ""})
        EXPECT_EQ(FindTypeEntry(QString::fromLatin1(name)), nullptr) << name;

    // No name occurs twice, as a name or an alias.
    QStringList seen;
    for (const TypeCatalogueEntry& e : TypeCatalogue) {
        for (const char16_t* n : {e.name, e.alias}) {
            if (!n) continue;
            EXPECT_FALSE(seen.contains(text(n))) << text(n).toStdString();
            seen << text(n);
        }
    }
}

TEST_F(DesignTest, BaseTypeNamesAndLengthRuleComeFromTheServer)
{
    StatementLog log(*conn);
    const QStringList names = LoadBaseTypeNames(*conn);
    EXPECT_EQ(log.statements(),
              QStringList{QStringLiteral("select typname from pg_type where typtype = 'b'")});
    for (const QString& n : names) EXPECT_FALSE(n.startsWith(u'_')) << n.toStdString();
    // Every other base type is listed, known to the catalogue or not.
    Result all = conn->exec(QStringLiteral("select typname from pg_type where typtype = 'b' "
                                           "and left(typname, 1) <> '_'"));
    ASSERT_TRUE(all.tuplesOk());
    EXPECT_EQ(names.size(), all.rows());
    for (const char* n : {"int4", "varchar", "bpchar", "oid", "name"})
        EXPECT_TRUE(names.contains(QString::fromLatin1(n))) << n;

    log.clear();
    EXPECT_FALSE(TypeTakesLength(*conn, QStringLiteral("abc")));
    EXPECT_EQ(log.statements(),
              QStringList{QStringLiteral(
                  "select typname from pg_type where typtype = 'b' and typname = '_abc'")});
    EXPECT_TRUE(TypeTakesLength(*conn, QStringLiteral("varchar")));
    EXPECT_FALSE(TypeTakesLength(*conn, QString()));
    // A quote in the name is a value, not a statement of its own.
    EXPECT_FALSE(TypeTakesLength(*conn, QStringLiteral("x' or 'a'='a")));

    // Over a lost connection: an empty list and false, silently.
    TestServer::endSession(*conn);
    EXPECT_TRUE(LoadBaseTypeNames(*conn).isEmpty());
    EXPECT_FALSE(TypeTakesLength(*conn, QStringLiteral("varchar")));
    EXPECT_TRUE(prompts.texts().isEmpty());
}
