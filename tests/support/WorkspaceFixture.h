#pragma once

#include "support/ServerFixture.h"
#include "workspace/CKestrelDoc.h"

class CLeftView;

// The workspace logs in with `p` whenever it connects (a tree's first update, a new login).
void useLogin(CKestrelDoc& doc, const LoginParameters& p = TestServer::superuserLogin());
// ... and logs in now, by itself or by the tree's first update as the program does: whether the
// workspace holds a session then.
::testing::AssertionResult logIn(CKestrelDoc& doc, const LoginParameters& p = TestServer::superuserLogin());
::testing::AssertionResult logIn(CLeftView& tree, CKestrelDoc& doc,
                                 const LoginParameters& p = TestServer::superuserLogin());

// A workspace logged in with `login` (the test server's superuser unless a fixture says
// otherwise), beside the administrator's session. prepare() runs just before the login. A
// transaction a test left open on the workspace's session is rolled back before the clean-up,
// which would otherwise wait on its locks.
class WorkspaceFixture : public ServerFixture {
protected:
    void SetUp() override;
    void TearDown() override;
    virtual void prepare() {}
    // The workspace's session.
    Connection& conn() { return *doc.connection(); }

    LoginParameters login = TestServer::superuserLogin();
    CKestrelDoc doc;
};
