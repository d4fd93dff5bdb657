#include "cycle/ListRecovery.h"
#include "cycle/RecoveryFormat.h"
#include "doubles/FakeDialogs.h"
#include "doubles/FakeRecoveryStore.h"
#include "doubles/ManualTimer.h"
#include "list/DownloadList.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

namespace torvaline::test {
namespace {

using namespace std::string_literals;

TEST(RecoveryFormat, GivesBackEveryByteAndRefusesAnyFileThatIsNotWhole) {
    const std::vector<RecoveryRow> rows{
        {"RapidShare", "http://a/1", "Waiting..."},
        {"", "", ""},
        {"h\tost", "http://a/2\r\nend 1\n", "Fa\\iled\\"},
        {"end 3", "\\t\\n literally", "\0\xff\x01"s},
        {"\n", "\t", "\r"},
        {"h", "http://a/3", "Downloading... ", "/dl/a\tb.tv0123456789ab.part", 1234, "\"e\\t\""},
        {"h", "http://a/4", "Paused", "", 0, "", "/else\twhere", "re=named.bin"},
        {"h", "http://a/5", "Paused", "/dl/c.tv0123456789ab.part", 9, "", "", "out.bin"},
    };
    const std::string text = RecoveryFormat::encode(rows);
    const RecoveryFormat::Decoded back = RecoveryFormat::decode(text);
    ASSERT_TRUE(back.ok) << back.problem;
    EXPECT_EQ(back.rows, rows);
    EXPECT_TRUE(RecoveryFormat::decode(RecoveryFormat::encode({})).ok);
    // What the first version wrote is still read.
    const RecoveryFormat::Decoded v1 =
        RecoveryFormat::decode("torvaline-recovery 1\nh\tl\\t\tWaiting...\nend 1\n");
    ASSERT_TRUE(v1.ok) << v1.problem;
    EXPECT_EQ(v1.rows, (std::vector<RecoveryRow>{{"h", "l\t", "Waiting..."}}));
    // A row without a placement is written as before named cells, so that a program from
    // before them reads the file; names a later program adds are skipped.
    EXPECT_EQ(RecoveryFormat::encode({{"h", "l", "Waiting..."}}),
              RecoveryFormat::header() + "h\tl\tWaiting...\nend 1\n");
    const RecoveryFormat::Decoded later = RecoveryFormat::decode(
        RecoveryFormat::header() + "h\tl\tPaused\t\t\t\tdir=/d\tspeed=5K\tout=o\\tx\nend 1\n");
    ASSERT_TRUE(later.ok) << later.problem;
    EXPECT_EQ(later.rows,
              (std::vector<RecoveryRow>{{"h", "l", "Paused", "", 0, "", "/d", "o\tx"}}));

    // A file cut anywhere (a writer killed without the rename would leave such a thing) is
    // never taken for a shorter list.
    for (std::size_t n = 0; n < text.size(); ++n)
        EXPECT_FALSE(RecoveryFormat::decode(std::string_view(text).substr(0, n)).ok) << n;

    const std::string head = RecoveryFormat::header();
    const std::vector<std::string> broken{
        "",
        "torvaline-recovery 3\nend 0\n",
        head + "a\tb\tc\t/p\t\tv\nend 1\n",
        head + "a\tb\tc\t/p\t-1\tv\nend 1\n",
        head + "a\tb\tc\t\t5\tv\nend 1\n",
        head + "a\tb\tc\t/p\t5\nend 1\n",
        head + "a\tb\tc\t/p\t5\tv\tx\nend 1\n",
        head + "a\tb\tc\t\t\t\t=v\nend 1\n",
        head + "a\tb\tc\t\t5\t\tdir=/d\nend 1\n",
        head + "a\tb\tc\t\t\t\tdir=\\q\nend 1\n",
        // The first version had no partial files.
        "torvaline-recovery 1\na\tb\tc\t/p\t5\tv\nend 1\n",
        head + "a\tb\tc\nend 2\n",
        head + "a\tb\tc\nend 0\n",
        head + "a\tb\tc\nend 1\nmore",
        head + "a\tb\tc\nend 1\n\n",
        head + "a\tb\nend 1\n",
        head + "a\tb\tc\td\nend 1\n",
        head + "a\\x\tb\tc\nend 1\n",
        head + "a\tb\tc\\\nend 1\n",
        head + "end 99999999999999999999999999\n",
        head + "end -1\n",
        head + "end \n",
        head + "end 0",
    };
    for (const std::string& b : broken) {
        const RecoveryFormat::Decoded d = RecoveryFormat::decode(b);
        EXPECT_FALSE(d.ok) << b;
        EXPECT_FALSE(d.problem.empty()) << b;
    }

    // Random damage gives a refusal or rows, never a crash.
    std::mt19937 random(7);
    for (int i = 0; i < 2000; ++i) {
        std::string damaged = text;
        damaged[random() % damaged.size()] = static_cast<char>(random());
        static_cast<void>(RecoveryFormat::decode(damaged));
    }
}

class Recovery : public ::testing::Test {
protected:
    DownloadList list;
    FakeRecoveryStore store;
    ManualTimer timer;
    FakeDialogs dialogs;
    ListRecovery recovery{list, store, timer};

    void addRow(const std::string& host, const std::string& link, const std::string& status) {
        const int r = list.rowCount();
        list.setRowCount(r + 1);
        list.setCell(r, DownloadList::Host, host);
        list.setCell(r, DownloadList::URL, link);
        list.setCell(r, DownloadList::Status, status);
        recovery.listChanged();
    }
    std::vector<RecoveryRow> kept() const {
        const auto d = RecoveryFormat::decode(store.copy.value_or(""));
        EXPECT_TRUE(d.ok) << d.problem;
        return d.rows;
    }
};

TEST_F(Recovery, KeepsTheListAtMostOnceASecondWhileItHoldsLinksAndNotAfterANormalEnd) {
    recovery.offerRestore(dialogs);
    EXPECT_TRUE(dialogs.questions.empty());
    timer.tick(); // an empty list is not kept
    EXPECT_TRUE(store.saves.empty());

    addRow("RapidShare", "http://a/1", "Waiting...");
    addRow("", "http://b/2", "Waiting...");
    list.setCell(1, DownloadList::Status, "Downloading... ");
    EXPECT_TRUE(store.saves.empty()); // nothing before the timer's second
    EXPECT_TRUE(timer.enabled());
    timer.tick();
    ASSERT_EQ(store.saves.size(), 1u);
    EXPECT_EQ(kept(), (std::vector<RecoveryRow>{{"RapidShare", "http://a/1", "Downloading... "},
                                                {"", "http://b/2", "Waiting..."}}));
    timer.tick(); // nothing changed: no write, and the timer rests
    EXPECT_EQ(store.saves.size(), 1u);
    EXPECT_FALSE(timer.enabled());

    // A list without links any more is not kept.
    list.setRowCount(1);
    recovery.listChanged();
    timer.tick();
    EXPECT_FALSE(store.copy.has_value());
    EXPECT_EQ(store.removes, 1);

    addRow("", "http://c/3", "Waiting...");
    timer.tick();
    EXPECT_TRUE(store.copy.has_value());
    recovery.closeNormally();
    EXPECT_FALSE(store.copy.has_value());
    addRow("", "http://d/4", "Waiting...");
    timer.tick();
    EXPECT_FALSE(store.copy.has_value());
}

TEST_F(Recovery, OffersBackOnlyTheUnfinishedLinksOfTheLastSession) {
    const std::vector<RecoveryRow> last{
        {"RapidShare", "http://a/done", "Completed"},
        {"RapidShare", "http://a/wait", "Waiting..."},
        {"", "http://b/fail", "Failed"},
        {"", "http://b/stop", "Stopped"},
        {"4shared", "http://c/run", "Downloading... "},
        {"", "", "Waiting..."},
    };
    struct Case {
        const char* name;
        Answer answer;
        bool restored;
    };
    for (const Case c : {Case{"yes", Answer::Yes, true}, Case{"no", Answer::No, false},
                         Case{"cancel", Answer::Cancel, false}}) {
        SCOPED_TRACE(c.name);
        list.setRowCount(1);
        store = FakeRecoveryStore{};
        dialogs = FakeDialogs{};
        store.copy = RecoveryFormat::encode(last);
        dialogs.answers = {c.answer};
        // A list file given on the command line may already be in the list, and may name a
        // link of the last session again: that one is not doubled.
        addRow("", "http://mine/1", "Waiting...");
        addRow("", "http://b/stop", "Waiting...");

        recovery.offerRestore(dialogs);
        EXPECT_EQ(dialogs.questions,
                  std::vector<std::string>{"Torvaline did not close normally. Restore the 4 "
                                           "unfinished links of the last session?"});
        if (c.restored) {
            ASSERT_EQ(list.rowCount(), 6);
            const std::vector<std::vector<std::string>> expected{{"RapidShare", "http://a/wait"},
                                                                 {"", "http://b/fail"},
                                                                 {"4shared", "http://c/run"}};
            for (int i = 0; i < 3; ++i) {
                EXPECT_EQ(list.cell(3 + i, DownloadList::Host), expected[i][0]);
                EXPECT_EQ(list.cell(3 + i, DownloadList::URL), expected[i][1]);
                EXPECT_EQ(list.cell(3 + i, DownloadList::Status), "Waiting...");
                EXPECT_EQ(list.cell(3 + i, DownloadList::Speed), "");
            }
            // The old copy stays until the restored list replaces it.
            EXPECT_EQ(store.removes, 0);
        } else {
            EXPECT_EQ(list.rowCount(), 3);
            EXPECT_EQ(store.removes, 1);
        }
        timer.tick();
        EXPECT_EQ(kept().size(), static_cast<std::size_t>(list.rowCount() - 1));
    }

    // A session whose links all completed leaves nothing to ask about.
    list.setRowCount(1);
    store = FakeRecoveryStore{};
    dialogs = FakeDialogs{};
    store.copy = RecoveryFormat::encode({{"", "http://a/done", "Completed"}});
    recovery.offerRestore(dialogs);
    EXPECT_TRUE(dialogs.questions.empty());
    EXPECT_FALSE(store.copy.has_value());
}

TEST_F(Recovery, ADamagedOrUnreadableCopyIsReportedAndSetAsideNotOffered) {
    for (const bool damaged : {true, false}) {
        SCOPED_TRACE(damaged);
        store = FakeRecoveryStore{};
        dialogs = FakeDialogs{};
        if (damaged)
            store.copy = RecoveryFormat::header() + "http://a/1\tWaiting...\n";
        else
            store.unreadable = "/state/recovery.tsv is too large (300000000 bytes)";
        recovery.offerRestore(dialogs);
        EXPECT_TRUE(dialogs.questions.empty());
        EXPECT_EQ(list.rowCount(), 1);
        ASSERT_EQ(dialogs.errors.size(), 1u);
        EXPECT_NE(dialogs.errors[0].find(damaged ? "damaged" : "too large"), std::string::npos)
            << dialogs.errors[0];
        EXPECT_NE(dialogs.errors[0].find("/state/recovery.tsv.bad"), std::string::npos);
        EXPECT_EQ(store.keptAside.size(), 1u);
    }
}

// The running transfer's file is written as soon as the transfer tells it, without a change
// of the list to wake the writer, and it goes with its row's link wherever the row moves.
TEST_F(Recovery, KeepsTheRunningTransfersFileWithItsRow) {
    ListRecovery::Partials now;
    recovery.bindPartials([&] { return now; }, nullptr, [] { return std::string("/dl"); });
    recovery.offerRestore(dialogs);
    addRow("", "http://a/1", "Waiting...");
    addRow("", "http://a/2", "Downloading... ");
    now.pending = true; // started, its first answer not in yet
    timer.tick();
    ASSERT_EQ(store.saves.size(), 1u);
    timer.tick();
    EXPECT_TRUE(timer.enabled()) << "the timer must keep watching for the file";

    const PartialFile file{"/dl/x.tv0123456789ab.part", 0, 5000, "\"e\""};
    now = {{{"http://a/2", file}}, false};
    timer.tick();
    ASSERT_EQ(store.saves.size(), 2u);
    std::vector<RecoveryRow> rows = kept();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].partialPath, "");
    EXPECT_EQ(rows[1].partialPath, file.path);
    EXPECT_EQ(rows[1].partialTotal, 5000u);
    EXPECT_EQ(rows[1].partialValidator, "\"e\"");
    timer.tick();
    EXPECT_FALSE(timer.enabled());

    const DownloadList::Row second = list.row(2);
    list.setRow(2, list.row(1));
    list.setRow(1, second);
    recovery.listChanged();
    timer.tick();
    rows = kept();
    EXPECT_EQ(rows[0].link, "http://a/2");
    EXPECT_EQ(rows[0].partialPath, file.path);
    EXPECT_EQ(rows[1].partialPath, "");

    // The transfer ended: the next copy names no file.
    now = {};
    timer.tick();
    for (const RecoveryRow& row : kept())
        EXPECT_EQ(row.partialPath, "");
}

} // namespace
} // namespace torvaline::test

namespace torvaline::test {
namespace {

// A crash right after a transfer's rename: the copy still says "Downloading...", but the file
// is in place whole and its temporary file is gone. That row is not offered again; a row whose
// file is short, whose temporary file is still there, or that never had one, is.
TEST_F(Recovery, ARowFinishedJustBeforeTheCrashIsNotFetchedAgain) {
    const std::vector<RecoveryRow> last{
        {"", "http://a/done", "Downloading... ", "/dl/movie.mkv.tv0123456789ab.part", 5000,
         "\"e\""},
        {"", "http://a/numbered", "Downloading... ", "/dl/b.zip.tv0123456789ab.part", 70, "\"e\""},
        {"", "http://a/short", "Downloading... ", "/dl/c.bin.tv0123456789ab.part", 900, "\"e\""},
        {"", "http://a/cut", "Downloading... ", "/dl/d.bin.tv0123456789ab.part", 800, "\"e\""},
        {"", "http://a/none", "Waiting..."},
    };
    store.copy = RecoveryFormat::encode(last);
    store.files = {
        {"/dl/movie.mkv", 5000}, {"/dl/b.zip", 3}, {"/dl/b (1).zip", 70}, {"/dl/c.bin", 899}};
    store.partials = {{"/dl/d.bin.tv0123456789ab.part", 400}};
    recovery.bindPartials([] { return ListRecovery::Partials{}; }, [](ListRecovery::KeptPartial) {},
                          [] { return std::string("/dl"); });
    dialogs.answers = {Answer::Yes};
    recovery.offerRestore(dialogs);
    EXPECT_EQ(dialogs.questions,
              std::vector<std::string>{"Torvaline did not close normally. Restore the 3 "
                                       "unfinished links of the last session?"});
    std::vector<std::string> links;
    for (int r = 1; r < list.rowCount(); ++r)
        links.push_back(list.cell(r, DownloadList::URL));
    EXPECT_EQ(links, (std::vector<std::string>{"http://a/short", "http://a/cut", "http://a/none"}));
}

// The store cannot keep copies (its folder unwritable, every slot taken): the user hears it
// once, not at every write; a finished row is written at once, not at the next tick.
TEST_F(Recovery, AStoreThatCannotKeepTheListIsToldOnceAndACompletedRowIsWrittenAtOnce) {
    std::vector<std::string> told;
    recovery.setOnProblem([&](const std::string& text) { told.push_back(text); });
    recovery.offerRestore(dialogs);
    addRow("", "http://a/1", "Downloading... ");
    recovery.tick();
    EXPECT_TRUE(told.empty());
    const std::size_t saves = store.saves.size();
    list.setCell(1, DownloadList::Status, "Completed");
    recovery.saveNow();
    ASSERT_EQ(store.saves.size(), saves + 1);
    EXPECT_EQ(kept()[0].status, "Completed");

    store.failing = "cannot write /state/recovery.tsv.tmp: Permission denied";
    for (int i = 0; i < 3; ++i) {
        addRow("", "http://a/" + std::to_string(i + 2), "Waiting...");
        recovery.tick();
    }
    EXPECT_EQ(told, std::vector<std::string>{" The list cannot be kept against a crash: cannot "
                                             "write /state/recovery.tsv.tmp: Permission denied "});
}

} // namespace
} // namespace torvaline::test

namespace torvaline::test {
namespace {

// A daemon that stops keeps its paused rows as the user left them: held, with their own folder
// and file name. A restore the user declines leaves no cut file behind, in the folder given
// or, with none given, in the default folder the transfers saved into.
TEST_F(Recovery, APausedRowKeepsItsPlacementAndADeclinedRestoreRemovesTheCutFileWhereverItIs) {
    std::map<std::uint64_t, std::pair<std::string, std::string>> placements;
    std::vector<std::uint64_t> held;
    recovery.bindPlacements(
        [&](std::uint64_t id) {
            const auto it = placements.find(id);
            return it == placements.end() ? std::pair<std::string, std::string>{} : it->second;
        },
        [&](std::uint64_t id, std::string dir, std::string out) {
            placements[id] = {std::move(dir), std::move(out)};
        });
    recovery.bindHold([&](std::uint64_t id) { held.push_back(id); });
    recovery.offerRestore(dialogs);
    addRow("", "http://a/held", "Paused");
    addRow("", "http://a/plain", "Waiting...");
    placements[list.id(1)] = {"/elsewhere", "renamed.bin"};
    timer.tick();
    const std::string copy = store.copy.value_or("");

    list.setRowCount(1);
    placements.clear();
    store = FakeRecoveryStore{};
    store.copy = copy;
    dialogs.answers = {Answer::Yes};
    recovery.offerRestore(dialogs);
    ASSERT_EQ(list.rowCount(), 3);
    EXPECT_EQ(held, std::vector<std::uint64_t>{list.id(1)});
    EXPECT_EQ(placements.size(), 1u);
    EXPECT_EQ(placements[list.id(1)],
              (std::pair<std::string, std::string>{"/elsewhere", "renamed.bin"}));

    struct Case {
        const char* folderSet; // "": no --folder
        const char* cut;
        bool removed;
    };
    for (const Case c : {Case{"/dl", "/dl/a.tv0123456789ab.part", true},
                         Case{"", "/home/u/Downloads/a.tv0123456789ab.part", true},
                         Case{"", "/etc/a.tv0123456789ab.part", false}}) {
        SCOPED_TRACE(c.cut);
        list.setRowCount(1);
        store = FakeRecoveryStore{};
        dialogs = FakeDialogs{};
        store.copy =
            RecoveryFormat::encode({{"", "http://a/cut", "Downloading... ", c.cut, 900, "\"e\""}});
        store.partials = {{c.cut, 400}};
        const std::string folderSet = c.folderSet;
        recovery.bindPartials([] { return ListRecovery::Partials{}; },
                              [](ListRecovery::KeptPartial) {}, [=] { return folderSet; });
        recovery.bindDefaultFolder([] { return std::string("/home/u/Downloads/"); });
        dialogs.answers = {Answer::No};
        recovery.offerRestore(dialogs);
        EXPECT_EQ(list.rowCount(), 1);
        EXPECT_EQ(store.removedPartials.size(), c.removed ? 1u : 0u);
    }
}

} // namespace
} // namespace torvaline::test
