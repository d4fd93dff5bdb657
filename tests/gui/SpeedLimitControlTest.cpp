#include "app/SpeedLimitControl.h"
#include "app/UserSettings.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

namespace torvaline::test {
namespace {

QAction* entry(QMainWindow& window, const QString& text) {
    auto* menu = window.findChild<QMenu*>(QStringLiteral("SpeedLimit1"));
    if (!menu)
        return nullptr;
    for (QAction* a : menu->actions())
        if (a->text().startsWith(text))
            return a;
    return nullptr;
}

// The limit reaches the transfers from the menu, shows in a status-bar label of its own while
// it is on, and is there again in the next session; a cancelled custom rate changes nothing.
TEST(SpeedLimitControl, PresetsAndCustomRatesReachTheTransfersAndAreRemembered) {
    userSettings().remove(QString::fromLatin1(SpeedLimitControl::SettingsKey));
    std::vector<std::uint64_t> applied;
    std::optional<std::uint64_t> answer;
    {
        QMainWindow window;
        window.menuBar()->addMenu(QStringLiteral("Tools"))->setObjectName(QStringLiteral("Tools1"));
        SpeedLimitControl control(
            window, [&](std::uint64_t r) { applied.push_back(r); },
            [&](QWidget*) { return answer; });
        auto* label = window.findChild<QLabel*>(QStringLiteral("SpeedLimitPanel"));
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(applied, std::vector<std::uint64_t>{0});
        EXPECT_TRUE(label->isHidden());

        ASSERT_NE(entry(window, QStringLiteral("1 MiB/s")), nullptr);
        entry(window, QStringLiteral("1 MiB/s"))->trigger();
        EXPECT_EQ(applied.back(), 1048576u);
        EXPECT_EQ(label->text(), QStringLiteral(" Limit 1 MiB/s "));
        EXPECT_TRUE(entry(window, QStringLiteral("1 MiB/s"))->isChecked());

        answer = std::nullopt; // cancelled
        entry(window, QStringLiteral("Custom"))->trigger();
        EXPECT_EQ(applied.back(), 1048576u);
        EXPECT_TRUE(entry(window, QStringLiteral("1 MiB/s"))->isChecked());
        EXPECT_FALSE(entry(window, QStringLiteral("Custom"))->isChecked());

        answer = 1572864;
        entry(window, QStringLiteral("Custom"))->trigger();
        EXPECT_EQ(applied.back(), 1572864u);
        EXPECT_EQ(label->text(), QStringLiteral(" Limit 1.5 MiB/s "));
        EXPECT_TRUE(entry(window, QStringLiteral("Custom"))->isChecked());

        // From the command line: in force, not remembered.
        control.setLimit(10240, false);
        EXPECT_EQ(applied.back(), 10240u);
    }
    applied.clear();
    QMainWindow next;
    SpeedLimitControl again(next, [&](std::uint64_t r) { applied.push_back(r); });
    EXPECT_EQ(applied, std::vector<std::uint64_t>{1572864});
    entry(next, QStringLiteral("No limit"))->trigger();
    EXPECT_EQ(applied.back(), 0u);
    EXPECT_TRUE(next.findChild<QLabel*>(QStringLiteral("SpeedLimitPanel"))->isHidden());
    userSettings().remove(QString::fromLatin1(SpeedLimitControl::SettingsKey));
}

// Every choice lands in ~/.config/torvaline/torvaline.conf; the speed limit an earlier version
// left in Qt's "Unknown Organization" folder is taken in once, and the old file goes.
TEST(UserSettings, EveryChoiceIsInTheProgramsOwnFileAndTheEarlierFileIsMovedIn) {
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    const QString own = config.path() + "/torvaline/torvaline.conf";
    const QString earlier = config.path() + "/Unknown Organization/torvaline.conf";
    {
        QSettings old(earlier, QSettings::IniFormat);
        old.setValue(QString::fromLatin1(SpeedLimitControl::SettingsKey), 524288);
        old.setValue("window/closeToTray", true);
        QSettings now(own, QSettings::IniFormat);
        now.setValue("window/closeToTray", false); // chosen since: the newer choice
    }
    EXPECT_EQ(userSettingsPath(), own);

    std::vector<std::uint64_t> applied;
    {
        QMainWindow window;
        SpeedLimitControl control(window, [&](std::uint64_t r) { applied.push_back(r); });
        EXPECT_EQ(applied, std::vector<std::uint64_t>{524288});
        EXPECT_FALSE(QFile::exists(earlier));
        EXPECT_FALSE(QFile::exists(config.path() + "/Unknown Organization"));
        control.setLimit(2097152);
    }
    const QSettings file(own, QSettings::IniFormat);
    EXPECT_EQ(file.value(QString::fromLatin1(SpeedLimitControl::SettingsKey)).toULongLong(),
              2097152u);
    EXPECT_FALSE(file.value("window/closeToTray").toBool());
    // Nothing comes back from a file that is gone.
    applied.clear();
    QMainWindow next;
    SpeedLimitControl again(next, [&](std::uint64_t r) { applied.push_back(r); });
    EXPECT_EQ(applied, std::vector<std::uint64_t>{2097152});

    qputenv("XDG_CONFIG_HOME", saved);
}

} // namespace
} // namespace torvaline::test
