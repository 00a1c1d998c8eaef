#include "workspace/ColumnList.h"

#include <QRegularExpression>

#include "workspace/Catalogue.h"

namespace {

QString cellOrEmpty(const Result& r, int row, const char* column)
{
    const int f = r.fieldNumber(column);
    return f < 0 ? QString() : r.value(row, f);
}

QString flagText(const QString& value, const QString& yes, const QString& no)
{
    if (value.startsWith(u't')) return yes;
    if (value.startsWith(u'f')) return no;
    return value;
}

}  // namespace

QString ShownDefault(const QString& expression)
{
    if (!expression.startsWith(u'\'')) return expression;
    qsizetype end = 1;
    for (; end < expression.size(); ++end) {
        if (expression.at(end) != u'\'') continue;
        if (end + 1 < expression.size() && expression.at(end + 1) == u'\'') {
            ++end;
            continue;
        }
        break;
    }
    if (end >= expression.size()) return expression;
    // Only casts may follow the literal; anything else makes it an expression of its own.
    static const QRegularExpression casts(
        QStringLiteral(R"(^(::[A-Za-z_"][A-Za-z0-9_ ."$]*(\([0-9, ]*\))?(\[\])*)+$)"));
    const QString rest = expression.mid(end + 1);
    return casts.match(rest).hasMatch() ? expression.left(end + 1) : expression;
}

QString ShownLiteralDefault(const QString& value)
{
    return u'\'' + QString(value).replace(u'\'', QStringLiteral("''")) + u'\'';
}

std::optional<QString> ShownLiteralValue(const QString& shown)
{
    static const QRegularExpression literal(QStringLiteral("^'((?:[^']|'')*)'$"));
    const QRegularExpressionMatch m = literal.match(shown);
    if (!m.hasMatch()) return std::nullopt;
    return m.captured(1).replace(QStringLiteral("''"), QStringLiteral("'"));
}

QString RecordLengthText(int fixedTotal, bool variableLength)
{
    return variableLength ? QStringLiteral("%1+α").arg(fixedTotal) : QString::number(fixedTotal);
}

QString RecordLengthText(const ColumnListing& columns)
{
    return RecordLengthText(columns.fixedLengthTotal, columns.hasVariableLength);
}

ColumnListing LoadColumnList(Connection& conn, const ObjectName& table)
{
    ColumnListing out;
    Result r = conn.read(Catalogue::ColumnListStatement(conn, table));
    if (!r.tuplesOk()) return out;
    out.ok = true;
    for (int row = 0; row < r.rows(); ++row) {
        QStringList cells;
        cells << cellOrEmpty(r, row, "attname") << cellOrEmpty(r, row, "format_type");
        const QString len = cellOrEmpty(r, row, "attlen");
        const int attlen = len.toInt();
        cells << (len.isEmpty() ? QString() : attlen == -1 ? QStringLiteral("可変長") : len);
        cells << flagText(cellOrEmpty(r, row, "attnotnull"), QStringLiteral("NOT NULL"),
                          QStringLiteral("NULL"));
        cells << ShownDefault(cellOrEmpty(r, row, "defultevalue")) << cellOrEmpty(r, row, "attnelems")
              << cellOrEmpty(r, row, "attdispersion") << cellOrEmpty(r, row, "attcacheoff")
              << cellOrEmpty(r, row, "attstorage")
              << flagText(cellOrEmpty(r, row, "attbyval"), QStringLiteral("直値"),
                          QStringLiteral("引数"));
        out.rows.push_back(cells);
        if (attlen < 1)
            out.hasVariableLength = true;
        else
            out.fixedLengthTotal += attlen;
    }
    return out;
}
