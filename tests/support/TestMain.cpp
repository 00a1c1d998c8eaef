#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>

#include <unistd.h>

#include "workspace/Settings.h"

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
    const int rc = RUN_ALL_TESTS();
    QDir(QString::fromLocal8Bit(settingsHome)).removeRecursively();
    return rc;
}
