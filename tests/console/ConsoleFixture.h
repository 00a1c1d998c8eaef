#pragma once

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "support/ScriptedPrompter.h"
#include "support/TestServer.h"
#include "workspace/CKestrelDoc.h"

// A workspace logged in to the test server, with the notice receiver installed and a fresh
// temporary folder as its start directory (where the history file lives).
class ConsoleFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_start.isValid());
        m_doc.setLoginRunner([] { return TestServer::superuserLogin(); });
        ASSERT_EQ(m_doc.Connect(), 0);
        m_doc.installNoticeReceiver();
        m_doc.startDirectory = m_start.path();
    }

    Connection& conn() { return *m_doc.connection(); }

    ScriptedPrompter m_prompts;
    QTemporaryDir m_start;
    CKestrelDoc m_doc;
};
