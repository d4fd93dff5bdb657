#include "app/Main.h"
#include "app/TorvalineApp.h"
#include "doubles/FakeDialogs.h"
#include "doubles/FakeShell.h"
#include "doubles/RecordingShutdown.h"
#include "platform/DesktopNotifier.h"

#include <HosterSim.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace torvaline::test {
namespace {

class RecordingNotifier final : public DesktopNotifier {
public:
    void notify(const std::string& summary, const std::string& body,
                std::function<void()> onActivated) override {
        bodies.push_back(summary + ": " + body);
        activate = std::move(onActivated);
    }
    std::vector<std::string> bodies;
    std::function<void()> activate;
};

TEST(MainListDoneNotice, MinimisedWindowGetsTheEndOfTheListAndTheClickRestoresIt) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    hostersim::HosterSim sim;
    sim.start();
    FakeDialogs dialogs;
    FakeShell shell;
    RecordingShutdownService shutdownService;
    RecordingNotifier notifier;
    TorvalineApp::Options options;
    options.defaultFolder = (tmp.path() + "/Downloads").toStdString();
    options.notifier = &notifier;
    TorvalineApp app(dialogs, shell, shutdownService, options);
    TForm1& form = app.form();
    form.showMinimized();

    const QString list = tmp.path() + "/list.txt";
    QFile file(list);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write((sim.rapidshareLink("ok", "a.bin", 1000, 0) + "\r\n" +
                sim.rapidshareLink("ok", "b.bin", 1000, 0, "status=404") + "\r\n")
                   .c_str());
    file.close();
    dialogs.files.push_back(list.toStdString());
    form.findChild<QToolButton*>(QStringLiteral("impBtn"))->click();
    form.findChild<QToolButton*>(QStringLiteral("startBtn"))->click();

    ASSERT_TRUE(QTest::qWaitFor([&] { return !notifier.bodies.empty(); }, 20000));
    EXPECT_EQ(notifier.bodies,
              std::vector<std::string>{"Download list done: 1 row completed, 1 failed."});
    ASSERT_TRUE(notifier.activate);
    notifier.activate();
    EXPECT_FALSE(form.isMinimized());
    EXPECT_TRUE(form.isVisible());
    sim.stop();
}

} // namespace
} // namespace torvaline::test
