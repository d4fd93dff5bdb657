#include "app/ListDoneNotice.h"
#include "list/DownloadList.h"
#include "platform/DesktopNotifier.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace torvaline::test {
namespace {

class RecordingNotifier final : public DesktopNotifier {
public:
    struct Shown {
        std::string summary;
        std::string body;
        std::function<void()> onActivated;
    };
    void notify(const std::string& summary, const std::string& body,
                std::function<void()> onActivated) override {
        shown.push_back({summary, body, std::move(onActivated)});
    }
    std::vector<Shown> shown;
};

TEST(ListDoneNotice, TellsTheCountsOnlyWhileTheWindowIsOutOfViewAndTheClickRaisesIt) {
    DownloadList list;
    for (const char* status : {"Completed", "Failed", "Completed", "Stopped", "Completed"}) {
        const int row = list.rowCount();
        list.setRowCount(row + 1);
        list.setCell(row, DownloadList::Status, status);
    }
    RecordingNotifier notifier;
    bool inView = true;
    int raised = 0;
    ListDoneNotice notice(list, notifier, {[&] { return inView; }, [&] { ++raised; }});

    notice.listDone();
    EXPECT_TRUE(notifier.shown.empty()) << "the user is looking at the window";

    inView = false; // another window is active, or ours is minimised
    notice.listDone();
    ASSERT_EQ(notifier.shown.size(), 1u);
    EXPECT_EQ(notifier.shown[0].summary, "Download list done");
    EXPECT_EQ(notifier.shown[0].body, "3 rows completed, 1 failed.");
    EXPECT_EQ(raised, 0);
    ASSERT_TRUE(notifier.shown[0].onActivated);
    notifier.shown[0].onActivated();
    EXPECT_EQ(raised, 1);
}

} // namespace
} // namespace torvaline::test
