#include "workspace/ObjectName.h"

#include "workspace/SqlQuote.h"

QString ObjectName::caption() const
{
    if (schema.isEmpty() || (visible && QuoteIdent(name) == name)) return name;
    return qualifiedSql();
}

QString ObjectName::sql() const { return qualifiedSql(); }

QString ObjectName::qualifiedSql() const
{
    if (schema.isEmpty()) return QuoteIdent(name);
    return QuoteIdent(schema) + QLatin1Char('.') + QuoteIdent(name);
}
