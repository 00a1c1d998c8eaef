#pragma once

#include <QString>

// A table, view, sequence or index as the catalogue lists it: its schema, its name as the
// server stores it, and whether the search path finds this very object by its bare name
// (pg_table_is_visible). The schema is kept apart so that a name holding a dot is never split.
struct ObjectName {
    QString schema;  // empty when not known: the search path decides
    QString name;
    bool visible = true;

    // The bare name for the object the search path finds, "schema.name" otherwise, so two
    // same-named objects never look alike.
    QString caption() const;
    // The name for a statement: quoted by the identifier rule, schema-qualified unless the
    // search path finds this object by its bare name (so the common case keeps its old text).
    QString sql() const;
    // Always schema-qualified when the schema is known (for texts that must not depend on the
    // search path).
    QString qualifiedSql() const;

    bool operator==(const ObjectName& o) const
    {
        return schema == o.schema && name == o.name && visible == o.visible;
    }
};
