#pragma once

#include "platform/RecoveryStore.h"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace torvaline {

// The recovery file in the user's state folder, written atomically by a thread of its own so
// that the window never waits for the disk.
//
// Each running copy of the program holds one numbered slot for its whole life: an flock on
// "recovery.lock" (slot 1) or "recovery-N.lock", and the matching "recovery.tsv" or
// "recovery-N.tsv". A second copy takes the next free slot rather than none: its list deserves
// the same protection, and the two never write the same file. The lock dies with its process,
// so the copy that next takes a crashed copy's slot finds its file and offers it back.
class FileRecoveryStore final : public RecoveryStore {
public:
    static constexpr int MaxSlots = 9;

    // $XDG_STATE_HOME/torvaline (when that is an absolute path), else ~/.local/state/torvaline;
    // empty when neither can be told.
    static std::string defaultFolder();

    // Creates the folder when missing and takes the first free slot.
    explicit FileRecoveryStore(std::string folder);
    // Writes a copy still pending, then lets the slot go. Removes nothing: only a normal
    // end (remove) does.
    ~FileRecoveryStore() override;
    FileRecoveryStore(const FileRecoveryStore&) = delete;
    FileRecoveryStore& operator=(const FileRecoveryStore&) = delete;

    // Whether this copy holds a slot; without one nothing is kept (problem() says why).
    bool active() const { return m_lockFd >= 0; }
    const std::string& path() const { return m_path; }
    // What the last write that failed reported; empty after a write that succeeded.
    std::string lastWriteError() const;

    Loaded load() override;
    void save(std::string bytes) override;
    void remove() override;
    std::string keepAside() override;
    std::optional<std::uint64_t> partialSize(const std::string& path) override;
    void removePartial(const std::string& path) override;
    std::string problem() const override;
    std::optional<std::uint64_t> fileSize(const std::string& path) override;

    // Waits until the pending copy, if any, is written.
    void flush();

    // Replaces the file at `path` by `bytes` so that a crash or a power loss at any moment
    // leaves the old or the new content: a temporary file beside it, written and synced,
    // renamed over it, and the folder synced. Returns what failed, or an empty text.
    static std::string writeAtomically(const std::string& path, const std::string& bytes);
    // Frees a written copy of the list, handing a large one's room back to the system.
    static void releaseCopy(std::string& bytes);
    static std::string temporaryPath(const std::string& path) { return path + ".tmp"; }

private:
    void run();

    std::string m_folder;
    std::string m_path;
    std::string m_problem;
    int m_lockFd = -1;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::optional<std::string> m_pending;
    bool m_writing = false;
    bool m_quit = false;
    std::string m_lastError;
    std::thread m_writer;
};

} // namespace torvaline
