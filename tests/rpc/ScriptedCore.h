#pragma once

#include "cycle/RowEventHub.h"
#include "list/DownloadList.h"
#include "remote/RemoteCommands.h"

#include <QTimer>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace torvaline {

// A core whose rows, on a real list, go through the cycle's phases on a script, one row at a
// time, telling the row events as the real cycle does (`events` follows the list). A link with
// "missing" fails at its page, one with "hold" keeps transferring until paused or removed; any
// other completes after a countdown and a transfer. step() advances the script by hand; with
// an interval the timer does.
class ScriptedCore final : public RemoteCommands {
public:
    ScriptedCore(DownloadList& list, RowEventHub& events, int intervalMs = 0);

    void step();
    std::size_t rowCount() const { return static_cast<std::size_t>(m_list.rowCount() - 1); }
    int added() const { return m_added; }
    // What the last row added asked to send with its requests.
    const RequestOptions& lastRequest() const { return m_lastRequest; }
    bool shutdownAsked() const { return m_shutdown; }
    std::int64_t rateLimit() const { return m_rateLimit; }
    // The commands that place rows or write (add, setFolder, saveSession) refuse with this
    // until it is cleared, as the real core refuses a folder it cannot make.
    void refuseWith(std::optional<Failure> refusal) { m_refusal = std::move(refusal); }

    Result<std::vector<std::uint64_t>> add(const std::vector<NewRow>& rows) override;
    Result<void> remove(std::uint64_t id) override;
    Result<void> pause(std::uint64_t id) override;
    Result<void> unpause(std::uint64_t id) override;
    Result<void> move(std::uint64_t id, int toRow) override;
    std::string folder() const override { return m_folder; }
    Result<void> setFolder(const std::string& dir) override;
    Result<void> setRateLimit(std::int64_t bytesPerSecond) override;
    Result<void> saveSession() override {
        if (m_refusal)
            return *m_refusal;
        return {};
    }
    void shutdown() override { m_shutdown = true; }
    // The package a row belongs to, as the follow-up of the real session tells it.
    void setPackage(std::uint64_t id, Package package) { m_packages[id] = std::move(package); }
    Package package(std::uint64_t id) const override {
        const auto found = m_packages.find(id);
        return found == m_packages.end() ? Package{} : found->second;
    }

private:
    void phase(int row, RowPhase phase, std::string reason = {}, std::int64_t secondsLeft = 0);

    DownloadList& m_list;
    RowEventHub& m_events;
    QTimer m_timer;
    // How far each row's script has come, by id.
    std::map<std::uint64_t, int> m_stages;
    std::string m_folder = "/tmp/torvaline-scripted";
    std::int64_t m_rateLimit = 0;
    int m_added = 0;
    RequestOptions m_lastRequest;
    bool m_shutdown = false;
    std::map<std::uint64_t, Package> m_packages;
    std::optional<Failure> m_refusal;
};

} // namespace torvaline
