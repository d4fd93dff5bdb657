#include "adapters/linux/FileRecoveryStore.h"
#include "cycle/RecoveryFormat.h"
#include "doubles/TempDir.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace torvaline::test
