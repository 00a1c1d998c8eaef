#include "design/TypeCatalogue.h"

#include "workspace/Catalogue.h"
#include "workspace/Connection.h"

// Texts exactly as the field settings dialog shows them; "bit" and "boolean" have no size text.
const TypeCatalogueEntry TypeCatalogue[kTypeCatalogueSize] = {
    {u"real", u"float4", u"4byte", u"可変精度浮動小数点", u"数値型"},
    {u"double precision", u"float8", u"8byte", u"可変精度浮動小数点(少数位15桁)", u"数値型"},
    {u"smallint", u"int2", u"2byte", u"固定精度整数(-32768 ～ +32767)", u"数値型"},
    {u"integer", u"int4", u"4byte", u"固定精度整数(-2147483648 ～ +2147483647)", u"数値型"},
    {u"bigint", u"int8", u"8byte", u"固定精度整数。非常に大きな有効範囲を持ちます。\n+/-18桁(-9223372036854775808～+9223372036854775807)", u"数値型"},
    {u"numeric", u"decimal", u"可変長", u"ユーザ指定精度数値(無制限)", u"数値型"},
    {u"serial", nullptr, u"4byte", u"インデックスや相互参照に使用する特殊なデータ型です(0 ～ +2147483647)", u"数値型"},
    {u"bit", nullptr, u"", u"固定長ビット列", u"ブーリアン型"},
    {u"boolean", u"bool", u"", u"真偽", u"数値型"},
    {u"bit varying", u"varbit", u"可変長", u"可変長ビット列", u"ブーリアン型"},
    {u"money", nullptr, u"4byte", u"固定精度小数点(-21474836.48 ～ +21474836.47)", u"通貨型"},
    {u"char", nullptr, u"1byte", u"1バイト文字。マルチバイト文字は格納できません。", u"文字データ型"},
    {u"text", nullptr, u"(4+x)byte", u"可変長文字列", u"文字データ型"},
    {u"varchar", nullptr, u"可変長", u"制限付の可変長文字列", u"文字データ型"},
    {u"abstime", nullptr, u"4byte", u"限られた範囲の日付と時刻(1901-12-14 ～ 2038-01-19)\n精度は1秒", u"日付データ型"},
    {u"date", nullptr, u"4byte", u"広範囲の年月日BC4713-11-13 ～ AC32767-12-31)\n精度は1日", u"日付データ型"},
    {u"datetime", nullptr, u"8byte", u"広範囲、高精度の日付と時刻(BC4713 ～ AC1465001)\n精度は1マイクロ秒から14桁まで", u"日付データ型"},
    {u"interval", u"timespan", u"12byte", u"広範囲、高精度の日時間隔(-178000000年 ～ 178000000年)\n精度は1マイクロ秒(14桁)", u"日付データ型"},
    {u"reltime", nullptr, u"4byte", u"限られた範囲で低精度の時間間隔(-68年 ～ +68年)\n精度は1秒", u"日付データ型"},
    {u"time", nullptr, u"4byte", u"広範囲の時間間隔(00:00:00.00 ～ 23:59:59.99)\n精度は1マイクロ秒", u"日付データ型"},
    {u"timestamp", nullptr, u"4byte", u"限られた範囲で低精度の日付と時刻(1901-12-14 ～ 2038-01-19)\n精度は1秒", u"日付データ型"},
    {u"point", nullptr, u"16byte", u"空間における座標点\n表現方法は(x,y)\nxはX 座標値 (浮動小数点) \nyはY 座標値 (浮動小数点) ", u"幾何データ型"},
    {u"line", nullptr, u"32byte", u"無限の直線\n表現方法は((x1,y1),(x2,y2))\n", u"幾何データ型"},
    {u"lseg", nullptr, u"32byte", u"有限の線分\n表現方法は((x1,y1),(x2,y2))\n", u"幾何データ型"},
    {u"box", nullptr, u"32byte", u"矩形\n表現方法は((x1,y1),(x2,y2))\n", u"幾何データ型"},
    {u"path", nullptr, u"4+32n byte", u"閉じたパス (多角形に似ている)または開いているパス\n表現方法は((x1,y1),...)", u"幾何データ型"},
    {u"polygon", nullptr, u"4+32n byte", u"多角形 (閉じたパスに似ている)\n表現方法は((x1,y1),...)", u"幾何データ型"},
    {u"circle", nullptr, u"24 byte", u"円 (中心点と半径)\n表現方法は<(x,y),r>\n(x,y)は円の中心座標、rは円の半径", u"幾何データ型"},
    {u"cidr", nullptr, u"12byte", u"IPネットワーク(有効なIPv4ネットワーク)", u"ネットワーク"},
    {u"inet", nullptr, u"12byte", u"IPホストとネットワーク(有効なIPv4ホスト、またはネットワーク)", u"ネットワーク"},
    {u"macaddr", nullptr, u"6byte", u"MAC アドレス(通常のフォーマット)", u"ネットワーク"},
};

const TypeCatalogueEntry* FindTypeEntry(const QString& typeName)
{
    if (typeName.isEmpty()) return nullptr;
    for (const TypeCatalogueEntry& e : TypeCatalogue) {
        if (typeName == QStringView(e.name)) return &e;
        if (e.alias && typeName == QStringView(e.alias)) return &e;
    }
    return nullptr;
}

QStringList LoadBaseTypeNames(Connection& conn)
{
    QStringList names;
    Result r = conn.read(Catalogue::BaseTypesStatement());
    if (!r.tuplesOk()) return names;
    for (int row = 0; row < r.rows(); ++row) {
        const QString name = r.value(row, 0);
        if (!name.startsWith(u'_')) names << name;
    }
    return names;
}

bool TypeTakesLength(Connection& conn, const QString& typeName)
{
    Result r = conn.read(Catalogue::ArrayTypeStatement(conn, typeName));
    return r.tuplesOk() && r.rows() > 0;
}
