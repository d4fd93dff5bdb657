#pragma once

#include "cycle/RowEventHub.h"
#include "list/DownloadList.h"
#include "remote/RemoteCommands.h"

#include <QTimer>

#include <cstdint>
#include <map>
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

    std::vector<std::uint64_t> add(const std::vector<NewRow>& rows, std::string& refusal) override;
    std::string remove(std::uint64_t id) override;
    std::string pause(std::uint64_t id) override;
    std::string unpause(std::uint64_t id) override;
    std::string move(std::uint64_t id, int toRow) override;
    std::string folder() const override { return m_folder; }
    std::string setFolder(const std::string& dir) override;
    std::string setRateLimit(std::int64_t bytesPerSecond) override;
    std::string saveSession() override { return {}; }
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
};

} // namespace torvaline
