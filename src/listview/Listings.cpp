#include "listview/Listings.h"

#include <QAbstractItemModel>
#include <QHash>

#include <climits>

#include "workspace/Connection.h"
#include "workspace/SqlQuote.h"

ListingChoice ChooseListing(int nodeDepth, const QString& nodeCaption, const QString& parentCaption,
                            const ObjectName& object)
{
    if (nodeDepth == 1 && nodeCaption == kUsersNode) return {Listing::Users, {}};
    if (nodeDepth == 2 && parentCaption == kCatalogueNode) return {Listing::Contents, object};
    if (nodeDepth == 2) {
        if (nodeCaption == kTablesFolder) return {Listing::Tables, {}};
        if (nodeCaption == kUsersNode) return {Listing::Users, {}};
        if (nodeCaption == kIndexesFolder) return {Listing::Indexes, {}};
        if (nodeCaption == kViewsFolder) return {Listing::Views, {}};
        if (nodeCaption == kSequencesFolder) return {Listing::Sequences, {}};
        if (nodeCaption == kTypesFolder) return {Listing::Types, {}};
        return {};
    }
    if (nodeDepth == 3 && ShowsPagedRows(parentCaption)) return {Listing::Contents, object};
    return {};
}

QString ListingStatement(Listing kind)
{
    switch (kind) {
    case Listing::Tables: return Catalogue::TablesSummaryStatement();
    case Listing::Users: return Catalogue::UsersSummaryStatement();
    case Listing::Indexes: return Catalogue::IndexesSummaryStatement();
    case Listing::Views: return Catalogue::ViewsSummaryStatement();
    case Listing::Types: return Catalogue::TypesSummaryStatement();
    default: return {};
    }
}

namespace {

QString yesNo(const QString& value, const char16_t* yes, const char16_t* no)
{
    return QString::fromUtf16(value == u"t" ? yes : no);
}

QString tablesCell(int column, const QString& value)
{
    if (column >= 2 && column <= 4) return yesNo(value, u"True", u"False");
    return value;
}

QString usersCell(int column, const QString& value)
{
    switch (column) {
    case 2: return yesNo(value, u"作成可能", u"作成不可");
    case 3: return yesNo(value, u"トレース可能", u"トレース不可");
    case 4: return yesNo(value, u"スーパユーザ", u"一般ユーザ");
    case 5: return yesNo(value, u"修正可能", u"修正不可");
    default: return value;
    }
}

QString typesCell(int column, const QString& value)
{
    const QChar first = value.isEmpty() ? QChar() : value.at(0);
    switch (column) {
    case 2: return LeadingInteger(value) < 0 ? QStringLiteral("可変長") : value;
    case 3: return first == u't' ? QStringLiteral("値渡し") : QStringLiteral("参照渡し");
    case 4: return QString::number(LeadingInteger(value));
    case 7:
        if (first == u'c') return QStringLiteral("CHAR alignment");
        if (first == u's') return QStringLiteral("SHORT alignment");
        if (first == u'i') return QStringLiteral("INT alignment");
        if (first == u'd') return QStringLiteral("DOUBLE alignment");
        return QStringLiteral("不明");
    default: return value;
    }
}

}  // namespace

ResultModel::CellTranslator ListingTranslator(Listing kind)
{
    switch (kind) {
    case Listing::Tables: return tablesCell;
    case Listing::Users: return usersCell;
    case Listing::Types: return typesCell;
    default: return {};
    }
}

QString TableContentsStatement(const ObjectName& relation, bool withRowIdentity, int pageLength,
                               int pageIndex)
{
    const QString head = withRowIdentity
                             ? QStringLiteral("select ctid,*,tableoid,xmin from %1 Limit %2")
                             : QStringLiteral("select * from %1 Limit %2");
    QString statement = head.arg(relation.sql(), QString::number(pageLength));
    // 64 bits: a large page number times a large page length must not wrap to a negative offset.
    if (pageIndex != 0) statement += QStringLiteral(" OFFSET %1").arg(qint64(pageIndex) * pageLength);
    return statement;
}

ObjectName ListedRelation(const ResultModel& model, int row)
{
    return {model.hiddenText(row, 0), model.hiddenText(row, 2), model.hiddenText(row, 1) == u"t"};
}

void CaptionListedRelations(ResultModel& model)
{
    // An index summary names a table once per index: each table counts once.
    QList<ObjectName> relations;
    QHash<QString, qsizetype> place;
    QList<qsizetype> rowRelation;
    rowRelation.reserve(model.rowCount());
    for (int row = 0; row < model.rowCount(); ++row) {
        const ObjectName o = ListedRelation(model, row);
        const QString key = o.qualifiedSql();
        auto found = place.constFind(key);
        if (found == place.constEnd()) {
            found = place.insert(key, relations.size());
            relations << o;
        }
        rowRelation << *found;
    }
    const QStringList captions = Captions(relations);
    for (int row = 0; row < model.rowCount(); ++row)
        model.setText(row, 0, captions.at(rowRelation.at(row)));
}

bool ShowsRowIdentity(const QString& parentCaption) { return parentCaption == kTablesFolder; }

bool ShowsPagedRows(const QString& parentCaption)
{
    return parentCaption == kTablesFolder || parentCaption == kViewsFolder;
}

TextTable LoadSequenceListing(Connection& conn)
{
    TextTable table;
    const Result names = conn.read(Catalogue::SequenceNamesStatement());
    const int count = names.tuplesOk() ? names.rows() : 0;
    const int name = names.fieldNumber("relname"), schema = names.fieldNumber("nspname"),
              visible = names.fieldNumber("visible");
    for (int i = 0; i < count; ++i) {
        const ObjectName sequence{names.value(i, schema), names.value(i, name),
                                  names.value(i, visible) == QLatin1String("t")};
        const Result row = conn.read(Catalogue::SequenceRowStatement(sequence));
        if (!row.tuplesOk() || row.rows() == 0) continue;
        if (table.rows.isEmpty()) {
            for (int f = 0; f < row.fields(); ++f) table.headings << row.fieldName(f);
        }
        QStringList cells;
        for (int f = 0; f < table.headings.size(); ++f) cells << row.value(0, f);
        table.rows << cells;
        table.objects << sequence;
    }
    // The sequence's own name cell shows its caption: two schemas may hold the same name.
    const QStringList captions = Captions(table.objects);
    for (qsizetype i = 0; i < table.rows.size(); ++i) {
        if (!table.rows[i].isEmpty()) table.rows[i][0] = captions.at(i);
    }
    return table;
}

RowAction ChooseRowAction(int nodeDepth, const QString& nodeCaption, const QString& parentCaption)
{
    if (nodeDepth == 1 && nodeCaption == kUsersNode) return RowAction::UserEdit;
    if (nodeDepth == 2 && nodeCaption == kSequencesFolder) return RowAction::SequenceInfo;
    if (nodeDepth == 2 && nodeCaption == kUsersNode) return RowAction::UserEdit;
    if (nodeDepth == 2 && nodeCaption == kTablesFolder) return RowAction::TableInfo;
    if (nodeDepth == 3 && parentCaption == kTablesFolder) return RowAction::EditRecord;
    return RowAction::None;
}

int LeadingInteger(const QString& text)
{
    int i = 0;
    const int n = int(text.size());
    while (i < n && (text.at(i) == u' ' || (text.at(i) >= u'\t' && text.at(i) <= u'\r'))) ++i;
    bool negative = false;
    if (i < n && (text.at(i) == u'+' || text.at(i) == u'-')) negative = text.at(i++) == u'-';
    qint64 v = 0;
    for (; i < n && text.at(i) >= u'0' && text.at(i) <= u'9'; ++i) {
        v = v * 10 + (text.at(i).unicode() - u'0');
        if (v > qint64(INT_MAX) + 1) v = qint64(INT_MAX) + 1;
    }
    if (negative) v = -v;
    if (v > INT_MAX) v = INT_MAX;
    return int(v);
}

PageChoice ReadPageBar(const QString& pageText, const QString& pageLengthText)
{
    PageChoice c;
    c.pageIndex = LeadingInteger(pageText);
    c.pageIndex = c.pageIndex > 0 ? c.pageIndex - 1 : 0;
    // A length below 1 would make every later page statement fail on the server, and it is
    // saved for the next runs too.
    c.pageLength = LeadingInteger(pageLengthText);
    if (c.pageLength < 1) c.pageLength = 100;
    return c;
}

QString RowsAsText(const QAbstractItemModel& model, const std::vector<int>& rows, int columnCount)
{
    QStringList lines;
    for (int r : rows) {
        QStringList cells;
        for (int c = 0; c < columnCount; ++c) cells << model.index(r, c).data().toString();
        lines << cells.join(u'\t');
    }
    return lines.join(u'\n');
}
