#include "support/WorkspaceFixture.h"

#include "browser/CLeftView.h"

namespace {

::testing::AssertionResult holdsSession(const CKestrelDoc& doc)
{
    if (!doc.connection()) return ::testing::AssertionFailure() << "the workspace has no session";
    if (doc.connection()->isBad())
        return ::testing::AssertionFailure() << doc.connection()->errorMessage().toStdString();
    return ::testing::AssertionSuccess();
}

}  // namespace

void useLogin(CKestrelDoc& doc, const LoginParameters& p)
{
    doc.setLoginRunner([p] { return std::optional<LoginParameters>(p); });
}

::testing::AssertionResult logIn(CKestrelDoc& doc, const LoginParameters& p)
{
    useLogin(doc, p);
    if (doc.Connect() != 0) return ::testing::AssertionFailure() << "the login failed";
    return holdsSession(doc);
}

::testing::AssertionResult logIn(CLeftView& tree, CKestrelDoc& doc, const LoginParameters& p)
{
    useLogin(doc, p);
    tree.initialUpdate();
    return holdsSession(doc);
}

void WorkspaceFixture::SetUp()
{
    ServerFixture::SetUp();
    if (HasFatalFailure()) return;
    prepare();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(logIn(doc, login));
}

void WorkspaceFixture::TearDown()
{
    if (doc.connection() && conn().inTransaction()) conn().exec(QStringLiteral("ROLLBACK"));
    ServerFixture::TearDown();
}
