#pragma once

#include "remote/RemoteCommands.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace torvaline {

class DownloadFolder;
class DownloadList;
class RowTable;
class TorvalineCore;

// The remote commands over the real core: the list, its folder and the cycle. Rows are found by
// their ids, through the table.
class CoreCommands final : public RemoteCommands {
public:
    struct Hooks {
        // New rows came while the cycle had nothing to do: start it on the first of them.
        std::function<void(int firstNewRow)> resume;
        // Writes the recovery file at once; returns why not, or empty. Unset: no session file.
        std::function<std::string()> saveSession;
        std::function<void()> shutdown;
        // The limit for all transfers together, in bytes a second (0: none).
        std::function<void(std::uint64_t)> setRateLimit;
        // Hold and continue a row; each returns whether it applied. Unset: the row being worked
        // on is held and continued through the core.
        std::function<bool(std::uint64_t id)> pause;
        std::function<bool(std::uint64_t id)> unpause;
        // Rows worked on at once; unset: one.
        std::function<int()> maxDownloads;
        std::function<void(int)> setMaxDownloads;
        // The code of a row's captcha; false when the row waits for none.
        std::function<bool(std::uint64_t, const std::string&)> solveCaptcha;
        // The package of a row; unset: none.
        std::function<Package(std::uint64_t id)> package;
    };

    // New rows get their folder, name and request options through the cycle.
    CoreCommands(TorvalineCore& core, DownloadList& list, DownloadFolder& folder, RowTable& rows,
                 Hooks hooks);

    Result<std::vector<std::uint64_t>> add(const std::vector<NewRow>& rows) override;
    Result<void> remove(std::uint64_t id) override;
    Result<void> pause(std::uint64_t id) override;
    Result<void> unpause(std::uint64_t id) override;
    Result<void> move(std::uint64_t id, int toRow) override;
    std::string folder() const override;
    Result<void> setFolder(const std::string& dir) override;
    Result<void> setRateLimit(std::int64_t bytesPerSecond) override;
    int maxDownloads() const override;
    Result<void> setMaxDownloads(int lanes) override;
    Result<void> solveCaptcha(std::uint64_t id, const std::string& code) override;
    Result<void> saveSession() override;
    void shutdown() override;
    Package package(std::uint64_t id) const override {
        return m_hooks.package ? m_hooks.package(id) : Package{};
    }

private:
    // The folder's absolute path, made if missing, or why it cannot be used.
    static Result<std::string> usableFolder(const std::string& dir);
    bool isCurrent(std::uint64_t id) const;

    TorvalineCore& m_core;
    DownloadList& m_list;
    DownloadFolder& m_folder;
    RowTable& m_rows;
    Hooks m_hooks;
};

} // namespace torvaline
