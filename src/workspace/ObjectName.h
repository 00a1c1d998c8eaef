#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// A table, view, sequence or index as the catalogue lists it: its schema, its name as the
// server stores it, and whether the search path finds this very object by its bare name
// (pg_table_is_visible). The schema is kept apart so that a name holding a dot is never split.
struct ObjectName {
    QString schema;  // empty when not known: the search path decides
    QString name;
    bool visible = true;

    // The caption of the object shown on its own: the name as the server stores it, bare
    // (顧客, MixedCase, a.b), when the search path finds this object; otherwise the name as a
    // statement writes it, schema-qualified and quoted where needed (s2."顧客"). A caption is
    // for the eye only; statements take sql().
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

// The captions of objects listed together, in their order: each object's caption(), except
// that a bare caption another object of the list would also show is qualified, so no two
// captions of one list are equal (public."a.b" beside the table b of schema a, both tables
// qualified where two claim the same bare name).
QStringList Captions(const QList<ObjectName>& objects);
