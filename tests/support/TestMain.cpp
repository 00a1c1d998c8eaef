#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>

#include <cstdio>
#include <cstring>

#include <unistd.h>

#include "workspace/Settings.h"

namespace {

// A test never skips: one that was skipped (GTEST_SKIP, or a suite whose SetUpTestSuite failed,
// which gtest answers by skipping every test of the suite) fails instead. The failure is added
// before the result printer sees the end of the test (end events reach listeners in reverse
// order), so the output says FAILED, never SKIPPED, and the program exits non-zero.
class NoSkips : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo& test) override
    {
        if (test.result()->Skipped())
            ADD_FAILURE() << "skipped; a test never skips (did its suite's set-up fail?)";
    }
};

// Disabled tests are skips by another name.
bool hasDisabledTests()
{
    const ::testing::UnitTest& all = *::testing::UnitTest::GetInstance();
    bool found = false;
    for (int s = 0; s < all.total_test_suite_count(); ++s) {
        const ::testing::TestSuite& suite = *all.GetTestSuite(s);
        for (int t = 0; t < suite.total_test_count(); ++t) {
            const ::testing::TestInfo& test = *suite.GetTestInfo(t);
            if (std::strncmp(test.test_suite_name(), "DISABLED_", 9) == 0
                || std::strncmp(test.name(), "DISABLED_", 9) == 0) {
                std::fprintf(stderr, "%s.%s is disabled; a test never skips\n",
                             test.test_suite_name(), test.name());
                found = true;
            }
        }
    }
    return found;
}

}  // namespace

// Every test program runs with a QApplication on the offscreen platform, so widget tests need
// no display. Settings go to a throwaway folder, never the operator's own store.
int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const QByteArray settingsHome =
        QByteArray("/tmp/kestrel-test-settings-") + QByteArray::number(qint64(getpid()));
    qputenv("XDG_CONFIG_HOME", settingsHome);
    QApplication app(argc, argv);
    Settings::registerKeys();
    ::testing::InitGoogleTest(&argc, argv);
    if (!GTEST_FLAG_GET(list_tests) && hasDisabledTests()) return 1;
    ::testing::UnitTest::GetInstance()->listeners().Append(new NoSkips);
    const int rc = RUN_ALL_TESTS();
    QDir(QString::fromLocal8Bit(settingsHome)).removeRecursively();
    return rc;
}
