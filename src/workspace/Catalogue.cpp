#include "workspace/Catalogue.h"

#include "workspace/Connection.h"

namespace Catalogue {

namespace {

// pg_class joined to its schema. Rows are asked by oid and by the stored names, never by
// casting a name to regclass: the cast fails for a schema the role may not use, and the
// whole listing with it.
const char kClassJoin[] =
    "from pg_catalog.pg_class c join pg_catalog.pg_namespace n on n.oid = c.relnamespace ";

}  // namespace

QString RelationMatch(const Connection& conn, const ObjectName& table, const QString& alias)
{
    const QString name = conn.escapeValue(table.name);
    if (table.schema.isEmpty())
        return QStringLiteral("%1.relname = '%2' AND pg_table_is_visible(%1.oid)").arg(alias, name);
    return QStringLiteral("%1.relname = '%2' AND %1.relnamespace = "
                          "(select oid from pg_namespace where nspname = '%3')")
        .arg(alias, name, conn.escapeValue(table.schema));
}

QString RelationBlocksStatement(const Connection& conn, const ObjectName& table)
{
    return QStringLiteral("select c.relkind, c.relhassubclass, c.relpersistence, "
                          "pg_catalog.pg_relation_size(c.oid) / "
                          "pg_catalog.current_setting('block_size')::int8 "
                          "from pg_catalog.pg_class c join pg_catalog.pg_namespace n "
                          "on n.oid = c.relnamespace where n.nspname = '%1' and c.relname = '%2'")
        .arg(conn.escapeValue(table.schema), conn.escapeValue(table.name));
}

QString CountStatement(const ObjectName& table)
{
    return QStringLiteral("SELECT count(*) as RecordCount FROM %1").arg(table.sql());
}

QString ImportCountStatement(const ObjectName& table)
{
    return QStringLiteral("select count(*) as RecordCount from ") + table.sql();
}

QString EstimateStatement(const Connection& conn, const ObjectName& table)
{
    return QStringLiteral("SELECT c.reltuples::bigint as RecordEstimate FROM pg_class c WHERE ") +
           RelationMatch(conn, table, QStringLiteral("c"));
}

QString OwnerStatement(const Connection& conn, const ObjectName& table)
{
    QString statement =
        QStringLiteral("select pg_class.relname,pg_class.relowner,pg_roles.rolname as usename "
                       "from pg_class, pg_roles "
                       "WHERE pg_class.relowner = pg_roles.oid "
                       "and pg_class.relname = '%1' and ")
            .arg(conn.escapeValue(table.name));
    if (table.schema.isEmpty())
        return statement + QStringLiteral("pg_table_is_visible(pg_class.oid)");
    return statement + QStringLiteral("pg_class.relnamespace = "
                                      "(select oid from pg_namespace where nspname = '%1')")
                           .arg(conn.escapeValue(table.schema));
}

QString ColumnListStatement(const Connection& conn, const ObjectName& table)
{
    return QStringLiteral("SELECT format_type(a.atttypid, a.atttypmod), a.*,"
                          "pg_get_expr(b.adbin, b.adrelid) as defultevalue "
                          "FROM pg_class c, pg_attribute a "
                          "LEFT JOIN pg_attrdef b On b.adrelid = a.attrelid AND b.adnum = a.attnum "
                          "WHERE ") +
           RelationMatch(conn, table, QStringLiteral("c")) +
           QStringLiteral(" AND a.attnum > 0 AND a.attrelid = c.oid AND NOT a.attisdropped "
                          "ORDER BY a.attnum");
}

QString VisibilityStatement(const Connection& conn, const ObjectName& table)
{
    return QStringLiteral("select pg_table_is_visible(c.oid) as visible from pg_class c where ") +
           RelationMatch(conn, table, QStringLiteral("c"));
}

QString CreatedTableStatement(const Connection& conn, const QString& name)
{
    return QStringLiteral("select n.nspname, pg_catalog.pg_table_is_visible(c.oid) as visible ") +
           QLatin1String(kClassJoin) +
           QStringLiteral("where c.relname = '%1' and n.nspname = pg_catalog.current_schema()")
               .arg(conn.escapeValue(name));
}

QString InsertableRelationStatement(const Connection& conn, const ObjectName& table)
{
    return QStringLiteral("select count(*) as recordcount from pg_class c where ") +
           RelationMatch(conn, table, QStringLiteral("c")) +
           QStringLiteral(" and c.relkind in ('r','p','v','f')");
}

QString RelationKindStatement(const Connection& conn, const ObjectName& table)
{
    return QStringLiteral("select c.relkind, c.relhasrules, c.relhassubclass from pg_class c where ") +
           RelationMatch(conn, table, QStringLiteral("c"));
}

QString IndexListStatement(const Connection& conn, const ObjectName& table)
{
    return QStringLiteral("SELECT c2.relname as indexname,i.*"
                          "FROM pg_class c, pg_class c2, pg_index i "
                          "WHERE ") +
           RelationMatch(conn, table, QStringLiteral("c")) +
           QStringLiteral(" AND     c.oid = i.indrelid AND     i.indexrelid = c2.oid  ORDER BY c2.relname");
}

QString IndexKeysStatement(const Connection& conn, const ObjectName& table)
{
    // The key column's name comes with its number: once a column was dropped, the number no
    // longer tells the row of the column list.
    return QStringLiteral("SELECT c2.relname as indexname, k.position, k.attnum, a.attname "
                          "FROM pg_class c, pg_class c2, pg_index i "
                          "CROSS JOIN LATERAL unnest(i.indkey) WITH ORDINALITY AS k(attnum, position) "
                          "LEFT JOIN pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = k.attnum "
                          "WHERE ") +
           RelationMatch(conn, table, QStringLiteral("c")) +
           QStringLiteral(" AND c.oid = i.indrelid AND i.indexrelid = c2.oid "
                          "ORDER BY c2.relname, k.position");
}

QString DatabaseFactsStatement(const Connection& conn, const QString& databaseName)
{
    // pg_roles rather than pg_user: a database may belong to a role that cannot log in.
    return QStringLiteral("SELECT  pg_database.oid,"
                          "pg_database.*,pg_roles.oid as usesysid,pg_roles.rolname as Owner,"
                          "pg_encoding_to_char(pg_database.encoding) as Encode "
                          "FROM pg_database, pg_roles "
                          "WHERE pg_database.datdba = pg_roles.oid and "
                          "\tdatname = '%1'")
        .arg(conn.escapeValue(databaseName));
}

QString SequenceRowStatement(const ObjectName& sequence)
{
    return QStringLiteral(
               "select c.relname as sequence_name, s.last_value, p.seqincrement as increment_by, "
               "p.seqmax as max_value, p.seqmin as min_value, p.seqcache as cache_value, "
               "s.log_cnt, p.seqcycle as is_cycled, s.is_called from %1 s, pg_sequence p, "
               "pg_class c where p.seqrelid = s.tableoid and c.oid = s.tableoid")
        .arg(sequence.sql());
}

QString SuperUserStatement(const Connection& conn, const QString& userName)
{
    return QStringLiteral("select usesuper from pg_user where usename = '%1'").arg(conn.escapeValue(userName));
}

QString UserRowStatement(const Connection& conn, const QString& userName)
{
    return QStringLiteral("select usename,usesysid,usecreatedb,false as usetrace,usesuper,false as "
                          "usecatupd,passwd,to_char(valuntil, 'YYYY-MM-DD HH24:MI:SS') as valuntil "
                          "from pg_user where usename = '%1'")
        .arg(conn.escapeValue(userName));
}

QString GroupsStatement() { return QStringLiteral("select * from pg_group"); }

QString GroupMembershipStatement(const QString& sysId)
{
    bool numeric = false;
    const qulonglong id = sysId.toULongLong(&numeric);
    const QString role = numeric && id <= 0xFFFFFFFFull ? QString::number(id) + QStringLiteral("::oid") : QStringLiteral("NULL::oid");
    // The same rows as GroupsStatement, in the same order: a group without members has a
    // null member list.
    return QStringLiteral("select groname, coalesce(%1 = any(grolist), false) as member from pg_group")
        .arg(role);
}

QString BaseTypesStatement() { return QStringLiteral("select typname from pg_type where typtype = 'b'"); }

QString ArrayTypeStatement(const Connection& conn, const QString& typeName)
{
    return QStringLiteral("select typname from pg_type where typtype = 'b' and typname = '%1'")
        .arg(conn.escapeValue(QLatin1Char('_') + typeName));
}

QString SelectableTablesStatement()
{
    return QStringLiteral("select c.relname as tablename, n.nspname as schemaname, "
                          "pg_catalog.pg_get_userbyid(c.relowner) as tableowner, "
                          "pg_catalog.pg_table_is_visible(c.oid) as visible ") +
           QLatin1String(kClassJoin) +
           QStringLiteral("where c.relkind in ('r','p') "
                          "and n.nspname not in ('pg_catalog','information_schema')");
}

QString TreeTablesStatement()
{
    return QStringLiteral("select c.relname as tablename, "
                          "pg_catalog.pg_get_userbyid(c.relowner) as tableowner, "
                          "n.nspname as schemaname, pg_catalog.pg_table_is_visible(c.oid) as visible ") +
           QLatin1String(kClassJoin) + QStringLiteral("where c.relkind in ('r','p')");
}

QString TreeViewsStatement()
{
    return QStringLiteral("select c.relname as viewname, "
                          "pg_catalog.pg_get_userbyid(c.relowner) as viewowner, "
                          "n.nspname as schemaname, pg_catalog.pg_table_is_visible(c.oid) as visible ") +
           QLatin1String(kClassJoin) + QStringLiteral("where c.relkind = 'v'");
}

QString RelationsStatement()
{
    return QStringLiteral(
        "select c.relname, n.nspname, pg_table_is_visible(c.oid) as visible "
        "from pg_class c, pg_namespace n where n.oid = c.relnamespace");
}

QString SequenceNamesStatement()
{
    return QStringLiteral(
        "select c.relname, n.nspname, pg_table_is_visible(c.oid) as visible "
        "from pg_class c, pg_namespace n where c.relkind = 'S' and n.oid = c.relnamespace");
}

QString TablesSummaryStatement()
{
    // The last kSummaryHiddenFields fields name each row's own table: the first shown field
    // becomes its caption once read.
    return QStringLiteral("select c.relname as テーブル名, "
                          "pg_catalog.pg_get_userbyid(c.relowner) as オーナー名, "
                          "c.relhasindex as インデックス, c.relhasrules as ルール, "
                          "c.relhastriggers as トリガー, n.nspname as schemaname, "
                          "pg_catalog.pg_table_is_visible(c.oid) as visible, c.relname ") +
           QLatin1String(kClassJoin) + QStringLiteral("where c.relkind in ('r','p')");
}

QString UsersSummaryStatement()
{
    // Trace and catalogue-update rights are gone from the server; they always read as absent.
    return QStringLiteral(
        "select usename as ユーザ名,usesysid as システムＩＤ,usecreatedb as データベース作成,"
        "false as トレース,usesuper as スーパユーザ,false as カタログ修正,valuntil as 有効期間 "
        "from pg_user");
}

QString IndexesSummaryStatement()
{
    // The rows of pg_indexes, with the indexed table's schema and visibility out of sight.
    return QStringLiteral("select c.relname as テーブル名, i.relname as インデックス名, "
                          "pg_catalog.pg_get_indexdef(i.oid) as 定義内容, n.nspname as schemaname, "
                          "pg_catalog.pg_table_is_visible(c.oid) as visible, c.relname "
                          "from pg_catalog.pg_index x "
                          "join pg_catalog.pg_class c on c.oid = x.indrelid "
                          "join pg_catalog.pg_class i on i.oid = x.indexrelid "
                          "join pg_catalog.pg_namespace n on n.oid = c.relnamespace "
                          "where c.relkind in ('r','m','p') and i.relkind in ('i','I')");
}

QString ViewsSummaryStatement()
{
    // The rows of pg_views, with each view's schema and visibility out of sight.
    return QStringLiteral("select c.relname as ビュー名, "
                          "pg_catalog.pg_get_userbyid(c.relowner) as ビューオーナー, "
                          "pg_catalog.pg_get_viewdef(c.oid) as 定義内容, n.nspname as schemaname, "
                          "pg_catalog.pg_table_is_visible(c.oid) as visible, c.relname ") +
           QLatin1String(kClassJoin) + QStringLiteral("where c.relkind = 'v'");
}

QString TypesSummaryStatement()
{
    return QStringLiteral(
        "select typname as デ－タ型名, typowner as 型所有者, typlen as 長さ, typbyval as 渡し方, "
        "typdelim as 配列入力, typinput as 入力関数, typoutput as 出力関数, typalign as 境界調整 "
        "from pg_type where typtype = 'b'");
}

}  // namespace Catalogue
