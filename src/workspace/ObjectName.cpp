#include "workspace/ObjectName.h"

#include <QHash>

#include "workspace/SqlQuote.h"

QString ObjectName::caption() const
{
    if (schema.isEmpty() || visible) return name;
    return qualifiedSql();
}

QString ObjectName::sql() const { return qualifiedSql(); }

QString ObjectName::qualifiedSql() const
{
    if (schema.isEmpty()) return QuoteIdent(name);
    return QuoteIdent(schema) + QLatin1Char('.') + QuoteIdent(name);
}

QStringList Captions(const QList<ObjectName>& objects)
{
    QStringList captions;
    captions.reserve(objects.size());
    for (const ObjectName& o : objects) captions << o.caption();
    // Qualified captions differ from each other whenever their objects differ; only a bare
    // caption can meet another caption. Each round qualifies at least one more caption, so
    // the rounds end; a second round is needed only where a newly qualified caption meets a
    // bare name that holds quotes and a dot.
    for (bool changed = true; changed;) {
        changed = false;
        QHash<QString, int> uses;
        for (const QString& c : captions) ++uses[c];
        for (qsizetype i = 0; i < objects.size(); ++i) {
            const ObjectName& o = objects.at(i);
            if (uses.value(captions.at(i)) < 2 || o.schema.isEmpty()) continue;
            const QString qualified = o.qualifiedSql();
            if (captions.at(i) == qualified) continue;
            captions[i] = qualified;
            changed = true;
        }
    }
    return captions;
}
