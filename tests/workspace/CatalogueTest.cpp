#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "support/ServerFixture.h"
#include "workspace/Catalogue.h"

namespace {

// Every catalogue question runs on the test server and answers with the columns its callers
// read: a statement whose form the server does not take (a catalogue column gone, a typo)
// fails here on that server, not in a dialog.
class CatalogueTest : public ServerFixture {
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        if (HasFatalFailure()) return;
        for (const char* sql :
             {"CREATE SCHEMA cat_s",
              "CREATE TABLE cat_s.\"Cat T\" (id int PRIMARY KEY, name text DEFAULT 'x', gone int)",
              "ALTER TABLE cat_s.\"Cat T\" DROP COLUMN gone", "INSERT INTO cat_s.\"Cat T\" VALUES (1), (2)",
              "CREATE SEQUENCE cat_s.cat_q"})
            TestServer::run(*admin, QString::fromUtf8(sql));
        role(QStringLiteral("cat_g"));
        TestServer::run(*admin, QStringLiteral("CREATE GROUP cat_g USER postgres"));
        conn = TestServer::connect();
    }
    void cleanUp() override { TestServer::run(*admin, QStringLiteral("DROP SCHEMA IF EXISTS cat_s CASCADE")); }
    // The asking session.
    std::unique_ptr<Connection> conn;
};

TEST_F(CatalogueTest, EveryQuestionRunsAndAnswersWithTheColumnsReadFromIt)
{
    const ObjectName table{QStringLiteral("cat_s"), QStringLiteral("Cat T"), false};
    const ObjectName sequence{QStringLiteral("cat_s"), QStringLiteral("cat_q"), false};
    const ObjectName visible{QString(), QStringLiteral("pg_class"), true};
    struct Case {
        const char* question;
        QString statement;
        std::vector<const char*> fields;
        int rows;  // the rows it must answer with; -1: any number
    };
    const std::vector<Case> cases = {
        {"count", Catalogue::CountStatement(table), {"RecordCount"}, 1},
        {"import count", Catalogue::ImportCountStatement(table), {"RecordCount"}, 1},
        {"estimate", Catalogue::EstimateStatement(*conn, table), {"RecordEstimate"}, 1},
        {"owner", Catalogue::OwnerStatement(*conn, table), {"usename"}, 1},
        {"owner on the path", Catalogue::OwnerStatement(*conn, visible), {"usename"}, 1},
        {"columns", Catalogue::ColumnListStatement(*conn, table),
         {"attname", "format_type", "attlen", "attnotnull", "defultevalue", "attbyval"}, 2},
        {"visibility", Catalogue::VisibilityStatement(*conn, table), {"visible"}, 1},
        {"created table", Catalogue::CreatedTableStatement(*conn, QStringLiteral("cat_none")),
         {"nspname", "visible"}, 0},
        {"insertable", Catalogue::InsertableRelationStatement(*conn, table), {"recordcount"}, 1},
        {"kind", Catalogue::RelationKindStatement(*conn, table), {"relkind", "relhasrules", "relhassubclass"}, 1},
        {"indexes", Catalogue::IndexListStatement(*conn, table),
         {"indexname", "indisprimary", "indisunique"}, 1},
        {"index keys", Catalogue::IndexKeysStatement(*conn, table),
         {"indexname", "position", "attnum", "attname"}, 1},
        {"database", Catalogue::DatabaseFactsStatement(*conn, QStringLiteral("postgres")),
         {"oid", "Encode", "usesysid", "Owner", "datistemplate", "datallowconn"}, 1},
        {"sequence row", Catalogue::SequenceRowStatement(sequence),
         {"sequence_name", "last_value", "increment_by", "max_value", "min_value", "cache_value",
          "is_cycled"}, 1},
        {"superuser", Catalogue::SuperUserStatement(*conn, QStringLiteral("postgres")), {"usesuper"}, 1},
        {"user row", Catalogue::UserRowStatement(*conn, QStringLiteral("postgres")),
         {"usename", "usesysid", "usecreatedb", "usetrace", "usesuper", "usecatupd", "passwd",
          "valuntil"}, 1},
        {"groups", Catalogue::GroupsStatement(), {"groname"}, -1},
        {"group membership", Catalogue::GroupMembershipStatement(QStringLiteral("10")),
         {"groname", "member"}, -1},
        {"base types", Catalogue::BaseTypesStatement(), {"typname"}, -1},
        {"array type", Catalogue::ArrayTypeStatement(*conn, QStringLiteral("int4")), {"typname"}, 1},
        {"selectable tables", Catalogue::SelectableTablesStatement(),
         {"schemaname", "tablename", "tableowner", "visible"}, -1},
        {"tree tables", Catalogue::TreeTablesStatement(),
         {"tablename", "tableowner", "schemaname", "visible"}, -1},
        {"tree views", Catalogue::TreeViewsStatement(),
         {"viewname", "viewowner", "schemaname", "visible"}, -1},
        {"relations", Catalogue::RelationsStatement(), {"relname", "nspname", "visible"}, -1},
        {"sequences", Catalogue::SequenceNamesStatement(), {"relname", "nspname", "visible"}, -1},
        {"tables summary", Catalogue::TablesSummaryStatement(), {"schemaname", "visible"}, -1},
        {"users summary", Catalogue::UsersSummaryStatement(), {}, -1},
        {"indexes summary", Catalogue::IndexesSummaryStatement(), {}, -1},
        {"views summary", Catalogue::ViewsSummaryStatement(), {}, -1},
        {"types summary", Catalogue::TypesSummaryStatement(), {}, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.question);
        const Result r = conn->exec(c.statement);
        ASSERT_TRUE(r.tuplesOk()) << r.errorMessage().toStdString();
        if (c.rows >= 0) EXPECT_EQ(r.rows(), c.rows);
        for (const char* f : c.fields) EXPECT_GE(r.fieldNumber(f), 0) << f;
    }
}

TEST_F(CatalogueTest, TheRelationSummariesEndWithTheirHiddenFields)
{
    for (const QString& summary : {Catalogue::TablesSummaryStatement(), Catalogue::ViewsSummaryStatement(),
                                   Catalogue::IndexesSummaryStatement()}) {
        const Result r = conn->exec(summary);
        ASSERT_TRUE(r.tuplesOk()) << r.errorMessage().toStdString();
        EXPECT_EQ(r.fieldNumber("schemaname"), r.fields() - Catalogue::kSummaryHiddenFields);
    }
}

TEST_F(CatalogueTest, ServerVersionIsTheServersOwnNumber)
{
    const Result r = conn->exec(QStringLiteral("show server_version_num"));
    ASSERT_TRUE(r.tuplesOk());
    EXPECT_EQ(conn->serverVersion(), r.value(0, 0).toInt());
    EXPECT_GE(conn->serverVersion(), 100000);
}

}  // namespace
