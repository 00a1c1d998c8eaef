#include "transfer/ExportChecks.h"

#include "transfer/CsvExport.h"

std::optional<QString> CsvExportRefusal(const QString& fileName, const CsvSettings& settings)
{
    if (fileName.isEmpty()) return kExportNoFileName;
    if (settings.delimiter.isEmpty()) return kExportNoDelimiter;
    if (settings.quote.isEmpty()) return kExportNoQuote;
    return std::nullopt;
}

QString UnencodableValueMessage(qint64 row, const QString& column, const QString& character)
{
    QString codes;
    for (char32_t c : character.toUcs4())
        codes += QStringLiteral("U+%1").arg(uint(c), 4, 16, QLatin1Char('0')).toUpper();
    const QString where = row == 0 ? QStringLiteral("先頭行のフィールド名「%1」").arg(column)
                                   : QStringLiteral("%1件目のレコードの列「%2」").arg(row).arg(column);
    return QStringLiteral("%1に、CP932で表せない文字「%2」(%3)があります。")
        .arg(where, character, codes);
}

QString WithoutClosingLineFeeds(QString text)
{
    while (text.endsWith(u'\n')) text.chop(1);
    return text;
}

QString ServerFailureText(const Result& r, const Connection& conn)
{
    return WithoutClosingLineFeeds(r.exists() ? r.errorMessage() : conn.errorMessage());
}

bool IsCursorQuery(const QString& sql)
{
    qsizetype i = 0;
    const qsizetype n = sql.size();
    while (i < n) {
        const QChar c = sql.at(i);
        if (c.isSpace() || c == u'(') {
            ++i;
        } else if (sql.mid(i, 2) == u"--") {
            const qsizetype eol = sql.indexOf(u'\n', i);
            i = eol < 0 ? n : eol + 1;
        } else if (sql.mid(i, 2) == u"/*") {
            const qsizetype close = sql.indexOf(u"*/", i + 2);
            i = close < 0 ? n : close + 2;
        } else {
            break;
        }
    }
    qsizetype j = i;
    while (j < n && sql.at(j).isLetter()) ++j;
    const QString word = sql.mid(i, j - i).toLower();
    return word == u"select" || word == u"with" || word == u"values" || word == u"table";
}

std::optional<QString> UnencodableSetting(const CsvSettings& settings)
{
    Cp932Stream cp932;
    for (const QString& text : {settings.delimiter, settings.quote}) {
        const QString bad = cp932.firstUnencodable(text.toUtf8());
        if (!bad.isEmpty())
            return QStringLiteral("区切り記号またはクォート記号に、CP932で表せない文字「%1」があります。")
                .arg(bad);
    }
    return std::nullopt;
}

QString UnencodableResultLine(Cp932Stream& cp932, const Result& r, int row, qint64 number)
{
    QStringList names;
    std::vector<QByteArray> values;
    for (int f = 0; f < r.fields(); ++f) {
        names << r.fieldName(f);
        if (row >= 0) values.push_back(QByteArray::fromRawData(r.rawValue(row, f), r.rawLength(row, f)));
    }
    return UnencodableLine(cp932, names, values, number);
}

QString UnencodableLine(Cp932Stream& cp932, const QStringList& names,
                        const std::vector<QByteArray>& values, qint64 number)
{
    for (int f = 0; f < names.size(); ++f) {
        const QByteArray value = values.empty() ? names[f].toUtf8() : values[size_t(f)];
        const QString bad = cp932.firstUnencodable(value);
        if (!bad.isEmpty()) return UnencodableValueMessage(number, names[f], bad);
    }
    return UnencodableValueMessage(number, QString(), QString());
}
