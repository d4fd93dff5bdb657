#include <QApplication>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace torvaline::test {
// The first session of the crash test, which the test runs as a child process of its own.
int crashChildMain(const QStringList& arguments);
// The running window of the single-instance test.
int handOffChildMain();
} // namespace torvaline::test

int main(int argc, char** argv) {
    // Run without a display unless the caller chose a platform (e.g. to watch under xvfb).
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    // Settings the tests make go to a test folder, not the user's.
    QStandardPaths::setTestModeEnabled(true);
    // Windows closed by the tests must not end the run.
    QApplication::setQuitOnLastWindowClosed(false);
    // What the windows remember goes to a folder of the run's own, never the user's.
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    qputenv("XDG_CONFIG_HOME", settings.path().toUtf8());
    if (argc > 1 && std::strcmp(argv[1], "--handoff-child") == 0)
        return torvaline::test::handOffChildMain();
    if (argc > 1 && std::strcmp(argv[1], "--crash-child") == 0)
        return torvaline::test::crashChildMain(QApplication::arguments().mid(2));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
