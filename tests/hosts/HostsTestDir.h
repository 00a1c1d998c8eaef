#pragma once

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "support/TestFiles.h"

// Runs each test in a fresh empty directory, where the host files are opened by bare name,
// and returns to the earlier working directory afterwards.
class HostsTestDir : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

private:
    QTemporaryDir m_dir;
    WorkingDirectory m_cwd{m_dir.path()};
};
