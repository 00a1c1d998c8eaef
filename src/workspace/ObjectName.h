#pragma once

#include <QString>

// A table, view, sequence or index as the catalogue lists it: its schema, its name as the
// server stores it, and whether the search path finds this very object by its bare name
// (pg_table_is_visible). The schema is kept apart so that a name holding a dot is never split.
struct ObjectName {
    QString schema;  // empty when not known: the search path decides
    QString name;
    bool visible = true;

    // The bare name for the object the search path finds when the name needs no quotes;
    // otherwise the name as a statement writes it, schema-qualified and quoted ("a.b" beside
    // a.b), so no two listed objects look alike.
    QString caption() const;
    // The name for a statement: both parts quoted by the identifier rule, schema-qualified
    // whenever the schema is known. The search path may have changed since the listing, and a
    // bare name would then reach another table.
    QString sql() const;
    QString qualifiedSql() const;

    bool operator==(const ObjectName& o) const
    {
        return schema == o.schema && name == o.name && visible == o.visible;
    }
};
