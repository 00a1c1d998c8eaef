#include "AccountsFixture.h"

#include <QAbstractButton>

#include "accounts/CUserEditDlg.h"

namespace {

class GroupMembershipTest : public AccountsFixture {};

// The user edit dialog learns every group's membership of its user from one statement,
// whatever the number of groups and of their members, and lists each group in pg_group's order.
TEST_F(GroupMembershipTest, OneStatementSplitsEveryGroupByMembership)
{
    const QString user = role(QStringLiteral("trip_user"));
    const QStringList others = {role(QStringLiteral("trip_other")), role(QStringLiteral("Trip Other 2"))};
    for (const QString& r : QStringList{user} + others)
        TestServer::run(*admin, QStringLiteral("CREATE ROLE %1 LOGIN").arg(TestServer::quoted(r)));
    struct Case {
        const char* group;
        QStringList members;  // created in this order
        bool member;
    };
    const std::vector<Case> cases = {
        {"trip_g_alone", {user}, true},
        {"Trip 'Quoted' G", {others[0], user}, true},
        {"trip_g_empty", {}, false},
        {"trip_g_others", {others[0], others[1]}, false},
        {"Trip 旅グループ", {others[0], others[1], user}, true},
        {"trip_g_first", {user, others[1]}, true},
    };
    for (const Case& c : cases) {
        const QString group = role(QString::fromUtf8(c.group));
        TestServer::run(*admin, QStringLiteral("CREATE ROLE %1 NOLOGIN").arg(TestServer::quoted(group)));
        for (const QString& m : c.members)
            TestServer::run(*admin, QStringLiteral("GRANT %1 TO %2")
                                        .arg(TestServer::quoted(group), TestServer::quoted(m)));
    }
    // The server's order of the groups, which both lists keep.
    QStringList order;
    {
        const Result r = admin->exec(QStringLiteral("select groname from pg_group"));
        ASSERT_TRUE(r.tuplesOk());
        for (int row = 0; row < r.rows(); ++row)
            if (r.value(row, 0).startsWith(u"trip", Qt::CaseInsensitive)) order << r.value(row, 0);
    }
    ASSERT_EQ(order.size(), int(cases.size()));
    QStringList memberOf, notMemberOf;
    for (const QString& g : order) {
        const auto c = std::find_if(cases.begin(), cases.end(),
                                    [&](const Case& k) { return QString::fromUtf8(k.group) == g; });
        ASSERT_NE(c, cases.end()) << g.toStdString();
        (c->member ? memberOf : notMemberOf) << g;
    }

    StatementLog log(*conn);
    CUserEditDlg dlg(*conn, user);
    runModal(dlg, [&](QDialog& d) {
        auto shown = [&](const char* name) {
            return itemTexts(list(d, name))
                .filter(QRegularExpression(QStringLiteral("^[Tt]rip")));
        };
        EXPECT_EQ(shown("memberOfList"), memberOf);
        EXPECT_EQ(shown("otherGroupsList"), notMemberOf);
        button(d, "cancelButton")->click();
    });
    EXPECT_EQ(log.statements().filter(QStringLiteral("pg_group")).size(), 1)
        << log.statements().join(u'\n').toStdString();
    EXPECT_TRUE(prompts.messages().isEmpty());
}

}  // namespace
