// The desktop program's tests run without a display: Qt's offscreen
// platform, and a profile in a folder of their own.
#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);

    QTemporaryDir profileDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, profileDir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, profileDir.path());
    // The machine profiles too: never the user's own.
    qputenv("XDG_CONFIG_HOME", profileDir.path().toLocal8Bit());

    return RUN_ALL_TESTS();
}
