#include "workspace/SqlQuote.h"

#include <QSet>

namespace {

// Reserved, column-name and type/function-name keywords of the servers in use (10 to 18).
// Quoting a word that a given server would accept bare is harmless, so the list is the union.
const QSet<QString>& quotedKeywords()
{
    static const QSet<QString> words = [] {
        const char* list =
            "all analyse analyze and any array as asc asymmetric authorization between bigint "
            "binary bit boolean both case cast char character check coalesce collate collation "
            "column concurrently constraint create cross current_catalog current_date "
            "current_role current_schema current_time current_timestamp current_user dec "
            "decimal default deferrable desc distinct do else end except exists extract false "
            "fetch float for foreign freeze from full grant greatest group grouping having "
            "ilike in initially inner inout int integer intersect interval into is isnull join "
            "json json_array json_arrayagg json_exists json_object json_objectagg json_query "
            "json_scalar json_serialize json_table json_value lateral leading least left like "
            "limit localtime localtimestamp merge_action national natural nchar none normalize "
            "not notnull null nullif numeric offset on only or order out outer overlaps overlay "
            "placing position precision primary real references returning right row select "
            "session_user setof similar smallint some substring symmetric system_user table "
            "tablesample then time timestamp to trailing treat trim true union unique user "
            "using values varchar variadic verbose when where window with xmlattributes "
            "xmlconcat xmlelement xmlexists xmlforest xmlnamespaces xmlparse xmlpi xmlroot "
            "xmlserialize xmltable";
        QSet<QString> s;
        for (const QString& w : QString::fromLatin1(list).split(u' ', Qt::SkipEmptyParts))
            s.insert(w);
        return s;
    }();
    return words;
}

bool isPlainLower(const QString& name)
{
    if (name.isEmpty()) return false;
    const QChar first = name.at(0);
    if (!((first >= u'a' && first <= u'z') || first == u'_')) return false;
    for (QChar c : name) {
        if (!((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'_')) return false;
    }
    return true;
}

// The shape of an unquoted identifier as the server's scanner takes it: a letter, an
// underscore or any non-ASCII character first, then those, digits and dollar signs.
bool hasIdentifierShape(const QString& name)
{
    if (name.isEmpty()) return false;
    auto identStart = [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_' ||
               c.unicode() >= 0x80;
    };
    if (!identStart(name.at(0))) return false;
    for (QChar c : name) {
        if (!(identStart(c) || (c >= u'0' && c <= u'9') || c == u'$')) return false;
    }
    return true;
}

}  // namespace

bool IsQuotedKeyword(const QString& lowerCaseWord)
{
    return quotedKeywords().contains(lowerCaseWord);
}

QString QuoteIdent(const QString& exactName)
{
    if (isPlainLower(exactName) && !IsQuotedKeyword(exactName)) return exactName;
    QString quoted = exactName;
    quoted.replace(u'"', QLatin1String("\"\""));
    return u'"' + quoted + u'"';
}

QString FoldTypedName(const QString& typedName)
{
    if (!hasIdentifierShape(typedName)) return typedName;
    QString folded = typedName;
    for (QChar& c : folded) {
        if (c >= u'A' && c <= u'Z') c = QChar(c.unicode() + ('a' - 'A'));
    }
    return folded;
}
