#include "workspace/ObjectName.h"

#include "workspace/SqlQuote.h"

QString ObjectName::caption() const
{
    if (visible || schema.isEmpty()) return name;
    return schema + QLatin1Char('.') + name;
}

QString ObjectName::sql() const
{
    if (visible || schema.isEmpty()) return QuoteIdent(name);
    return qualifiedSql();
}

QString ObjectName::qualifiedSql() const
{
    if (schema.isEmpty()) return QuoteIdent(name);
    return QuoteIdent(schema) + QLatin1Char('.') + QuoteIdent(name);
}
