#include "adapters/linux/FileRecoveryStore.h"
#include "cycle/ListRecovery.h"
#include "cycle/RecoveryFormat.h"
#include "doubles/FakeDialogs.h"
#include "doubles/ManualTimer.h"
#include "doubles/TempDir.h"
#include "list/DownloadList.h"

#include <gtest/gtest.h>

#include <memory>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace torvaline::test {
namespace {

namespace fs = std::filesystem;

std::string listOf(int rows, const std::string& tag) {
    std::vector<RecoveryRow> r;
    for (int i = 0; i < rows; ++i)
        r.push_back({"RapidShare", "http://files/" + tag + std::to_string(i), "Waiting..."});
    return RecoveryFormat::encode(r);
}

std::string contentOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(FileRecoveryStore, AWriterKilledAtAnyPointLeavesTheOldOrTheNewCopyWhole) {
    TempDir dir;
    const std::string a = listOf(2000, "a");
    const std::string b = listOf(3000, "b");
    std::string path;
    {
        FileRecoveryStore store(dir.path().string());
        ASSERT_TRUE(store.active()) << store.problem();
        path = store.path();
        store.save(a);
        store.flush();
        EXPECT_EQ(store.lastWriteError(), "");
    }
    // Killed in the middle of the temporary file: the real one is untouched, and the
    // leftover is cleared away when the copy is read.
    {
        std::ofstream(FileRecoveryStore::temporaryPath(path)) << b.substr(0, b.size() / 2);
        FileRecoveryStore store(dir.path().string());
        const RecoveryStore::Loaded loaded = store.load();
        ASSERT_EQ(loaded.kind, RecoveryStore::Loaded::Kind::Bytes);
        EXPECT_EQ(loaded.bytes, a);
        EXPECT_FALSE(fs::exists(FileRecoveryStore::temporaryPath(path)));
    }

    // A real writer process, killed at random moments of its writes. No store (and so no
    // thread) exists in this process while it forks.
    std::mt19937 random(11);
    int sawA = 0, sawB = 0;
    for (int round = 0; round < 25; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0; i < 20000; ++i)
                FileRecoveryStore::writeAtomically(path, i % 2 ? a : b);
            _exit(0);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 4000));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        FileRecoveryStore store(dir.path().string());
        const RecoveryStore::Loaded loaded = store.load();
        ASSERT_EQ(loaded.kind, RecoveryStore::Loaded::Kind::Bytes) << round;
        ASSERT_TRUE(loaded.bytes == a || loaded.bytes == b) << round;
        (loaded.bytes == a ? sawA : sawB)++;
        EXPECT_TRUE(RecoveryFormat::decode(loaded.bytes).ok);
    }
    EXPECT_EQ(sawA + sawB, 25);
}

TEST(FileRecoveryStore, RunningCopiesHoldSlotsOfTheirOwnAndANormalEndLeavesNoFile) {
    TempDir dir;
    std::string firstPath;
    {
        FileRecoveryStore first(dir.path().string());
        FileRecoveryStore second(dir.path().string());
        ASSERT_TRUE(first.active());
        ASSERT_TRUE(second.active());
        EXPECT_EQ(first.path(), dir.file("recovery.tsv"));
        EXPECT_EQ(second.path(), dir.file("recovery-2.tsv"));
        firstPath = first.path();
        first.save("first");
        second.save("second");
        second.save("second, newer"); // supersedes a copy not yet written
        first.flush();
        second.flush();
        EXPECT_EQ(contentOf(first.path()), "first");
        EXPECT_EQ(contentOf(second.path()), "second, newer");
        EXPECT_EQ(first.load().kind, RecoveryStore::Loaded::Kind::Bytes);

        // The normal end: nothing stays, even with a write still pending.
        second.save("late");
        second.remove();
        EXPECT_FALSE(fs::exists(second.path()));
        EXPECT_FALSE(fs::exists(FileRecoveryStore::temporaryPath(second.path())));
    }
    // The first copy ended without removing (a crash): the next copy takes its slot and
    // finds its list.
    FileRecoveryStore next(dir.path().string());
    EXPECT_EQ(next.path(), firstPath);
    EXPECT_EQ(next.load().bytes, "first");

    // No folder to keep anything in: the store does nothing, and says why.
    const std::string blocker = dir.file("not-a-folder");
    std::ofstream(blocker) << "x";
    FileRecoveryStore none(blocker + "/torvaline");
    EXPECT_FALSE(none.active());
    EXPECT_FALSE(none.problem().empty());
    none.save("ignored");
    EXPECT_EQ(none.load().kind, RecoveryStore::Loaded::Kind::Nothing);
}

// What the window tells the user when its list is not kept: a tenth copy finds no slot; a
// folder that stops taking writes shows in the next look at the store.
TEST(FileRecoveryStore, ATenthCopyAndAFolderThatRefusesWritesSayWhyTheListIsNotKept) {
    TempDir dir;
    std::vector<std::unique_ptr<FileRecoveryStore>> copies;
    for (int i = 0; i < FileRecoveryStore::MaxSlots; ++i) {
        copies.push_back(std::make_unique<FileRecoveryStore>(dir.path().string()));
        EXPECT_EQ(copies.back()->problem(), "");
    }
    FileRecoveryStore tenth(dir.path().string());
    EXPECT_FALSE(tenth.active());
    EXPECT_EQ(tenth.problem(), "every slot is held by another running copy");

    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into a read-only folder";
    fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
    copies[0]->save("links");
    copies[0]->flush();
    EXPECT_NE(copies[0]->problem().find("recovery.tsv"), std::string::npos) << copies[0]->problem();
    fs::permissions(dir.path(), fs::perms::owner_all);
}

TEST(FileRecoveryStore, WhatCannotBeAListIsReportedAndSetAsideWithoutBlocking) {
    struct Case {
        const char* name;
        void (*make)(const std::string& path);
        const char* problem;
    };
    const std::vector<Case> cases{
        {"huge",
         [](const std::string& p) {
             std::ofstream(p) << "x";
             fs::resize_file(p, RecoveryStore::MaxBytes + 1);
         },
         "too large"},
        {"fifo", [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); },
         "not a regular file"},
        {"symlink", [](const std::string& p) { fs::create_symlink("/etc/passwd", p); },
         "cannot open"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        std::string path;
        {
            FileRecoveryStore probe(dir.path().string());
            path = probe.path();
        }
        c.make(path);
        FileRecoveryStore store(dir.path().string());
        const RecoveryStore::Loaded loaded = store.load();
        EXPECT_EQ(loaded.kind, RecoveryStore::Loaded::Kind::Unreadable);
        EXPECT_NE(loaded.problem.find(c.problem), std::string::npos) << loaded.problem;
        EXPECT_EQ(store.keepAside(), path + ".bad");
        EXPECT_EQ(store.load().kind, RecoveryStore::Loaded::Kind::Nothing);
    }
}

// A recovery file names a partial file to continue or remove; it may be stale, or written to
// make the program append to or delete a file it never created. Only a regular file of the
// transfers' naming, with a single name, in the download folder, is ever handed on or removed.
TEST(FileRecoveryStore, AHostileRecoveryFileNeverMakesAFileNotOursContinuedOrRemoved) {
    TempDir dir;
    const std::string folder = dir.file("dl");
    fs::create_directories(folder);
    fs::create_directories(dir.file("elsewhere"));
    const auto write = [](const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    };
    const std::string victim = dir.file("victim.txt");
    const std::string hard = dir.file("hard.txt");
    write(victim, "the user's own file");
    write(hard, "another file of the user");
    const std::string ours = folder + "/a.bin.tv0123456789ab.part";
    write(ours, std::string(100, 'x'));
    struct Hostile {
        const char* what;
        std::string path;
        std::string validator = "\"v\"";
    };
    const std::vector<Hostile> hostile{
        {"a link to a file of the user", folder + "/b.bin.tv0123456789ac.part"},
        {"a second name of a file of the user", folder + "/c.bin.tv0123456789ad.part"},
        {"outside the download folder", dir.file("elsewhere/e.bin.tv0123456789ae.part")},
        {"not of our naming", folder + "/notes.txt"},
        {"a relative path", "dl/f.bin.tv0123456789af.part"},
        {"a header in the validator", folder + "/g.bin.tv0123456789b0.part", "\"v\"\r\nX: 1"},
        {"a folder", folder + "/h.bin.tv0123456789b1.part"},
    };
    fs::create_symlink(victim, hostile[0].path);
    fs::create_hard_link(hard, hostile[1].path);
    write(hostile[2].path, std::string(100, 'y'));
    write(hostile[3].path, std::string(100, 'z'));
    write(hostile[5].path, std::string(100, 'w'));
    fs::create_directory(hostile[6].path);

    std::vector<RecoveryRow> rows;
    for (std::size_t i = 0; i < hostile.size(); ++i)
        rows.push_back({"", "http://x/" + std::to_string(i), "Downloading... ", hostile[i].path,
                        1000, hostile[i].validator});
    rows.push_back({"", "http://x/ours", "Waiting...", ours, 1000, "\"v\""});

    for (const Answer answer : {Answer::Yes, Answer::No}) {
        SCOPED_TRACE(answer == Answer::Yes ? "yes" : "no");
        DownloadList list;
        ManualTimer timer;
        FakeDialogs dialogs;
        dialogs.answers = {answer};
        std::vector<ListRecovery::KeptPartial> handed;
        {
            FileRecoveryStore store(dir.file("state"));
            ASSERT_TRUE(store.active());
            ASSERT_EQ(
                FileRecoveryStore::writeAtomically(store.path(), RecoveryFormat::encode(rows)), "");
            ListRecovery recovery(list, store, timer);
            recovery.bindPartials([] { return ListRecovery::Partials{}; },
                                  [&](ListRecovery::KeptPartial k) { handed.push_back(k); },
                                  [&] { return folder + "/"; });
            recovery.offerRestore(dialogs);
            recovery.closeNormally();
        }
        ASSERT_EQ(dialogs.questions.size(), 1u);
        EXPECT_EQ(contentOf(victim), "the user's own file");
        EXPECT_EQ(contentOf(hard), "another file of the user");
        for (const Hostile& h : hostile) {
            if (h.path.front() == '/') {
                EXPECT_NE(fs::symlink_status(h.path).type(), fs::file_type::not_found)
                    << h.what << " was removed";
            }
        }
        if (answer == Answer::Yes) {
            ASSERT_EQ(handed.size(), 1u);
            EXPECT_EQ(handed[0].link, "http://x/ours");
            EXPECT_EQ(handed[0].file.path, ours);
            EXPECT_EQ(handed[0].file.size, 100u);
            EXPECT_EQ(handed[0].file.total, 1000u);
            EXPECT_TRUE(fs::exists(ours));
        } else {
            EXPECT_TRUE(handed.empty());
            EXPECT_FALSE(fs::exists(ours)) << "a declined restore leaves our partial file behind";
        }
    }
}

} // namespace
} // namespace torvaline::test
