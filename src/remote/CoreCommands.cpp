#include "remote/CoreCommands.h"

#include "cycle/DownloadCycle.h"
#include "cycle/TorvalineCore.h"
#include "list/DownloadFolder.h"
#include "list/DownloadList.h"
#include "list/LinkLines.h"
#include "remote/RowTable.h"
#include "state/CycleState.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace torvaline {

namespace {

std::string gid(std::uint64_t id) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(id));
    return text;
}

} // namespace

CoreCommands::CoreCommands(TorvalineCore& core, DownloadList& list, DownloadFolder& folder,
                           RowTable& rows, Hooks hooks)
    : m_core(core)
    , m_list(list)
    , m_folder(folder)
    , m_rows(rows)
    , m_hooks(std::move(hooks)) {}

std::vector<std::uint64_t> CoreCommands::add(const std::vector<NewRow>& rows,
                                             std::string& refusal) {
    std::vector<std::string> links;
    links.reserve(rows.size());
    for (const NewRow& row : rows) {
        // A folder of its own is made before any row comes, so that a refusal adds nothing.
        if (!row.dir.empty()) {
            if (std::string why = usableFolder(row.dir).second; !why.empty()) {
                refusal = std::move(why);
                return {};
            }
        }
        links.push_back(row.link);
    }
    const int firstNew = m_list.rowCount();
    m_rows.beginCapture();
    AppendLinks(m_list, std::move(links));
    std::vector<std::uint64_t> ids = m_rows.endCapture();
    if (ids.size() != rows.size()) {
        // Rows a front end cannot address would be rows it never asked for: take them back.
        m_list.setRowCount(firstNew);
        refusal = "the list did not tell the new rows' ids";
        return {};
    }
    DownloadCycle& cycle = m_core.cycle();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (!rows[i].dir.empty() || !rows[i].out.empty())
            cycle.setPlacement(
                ids[i], rows[i].dir.empty() ? std::string() : usableFolder(rows[i].dir).first,
                rows[i].out);
        cycle.setRequestOptions(ids[i], rows[i].request);
        if (rows[i].paused)
            pause(ids[i]);
    }
    if (m_hooks.resume)
        m_hooks.resume(firstNew);
    return ids;
}

std::string CoreCommands::remove(std::uint64_t id) {
    const int row = m_rows.listRow(id);
    if (row < 1)
        return "Active Download not found for GID#" + gid(id);
    // The cycle stops the row it works on and goes on with the next one.
    m_core.cycle().removeRow(row);
    return {};
}

std::string CoreCommands::pause(std::uint64_t id) {
    // The row being worked on is held where it stands; one the list has not reached is passed
    // over. A row that is done is refused, as aria2 refuses it.
    if (m_hooks.pause ? m_hooks.pause(id)
                      : (isCurrent(id) && m_core.pause()) || m_core.cycle().holdRow(id))
        return {};
    return "GID#" + gid(id) + " cannot be paused now";
}

std::string CoreCommands::unpause(std::uint64_t id) {
    if (m_hooks.unpause) {
        if (m_hooks.unpause(id))
            return {};
    } else if (isCurrent(id) && m_core.resume()) {
        return {};
    } else if (m_core.cycle().releaseRow(id) || m_core.cycle().retryRow(id)) {
        // A list at rest starts on it, as it starts on a new row.
        if (m_hooks.resume)
            m_hooks.resume(m_rows.listRow(id));
        return {};
    }
    return "GID#" + gid(id) + " cannot be unpaused now";
}

bool CoreCommands::isCurrent(std::uint64_t id) const {
    const int row = m_rows.listRow(id);
    return row >= 1 && row == m_core.state().CurrentRow;
}

std::string CoreCommands::move(std::uint64_t id, int toRow) {
    const int row = m_rows.listRow(id);
    if (row < 1 || toRow < 1 || toRow >= m_list.rowCount())
        return "GID#" + gid(id) + " not found in the waiting queue.";
    m_list.moveRow(row, toRow);
    return {};
}

std::string CoreCommands::folder() const {
    return m_folder.text().empty() ? m_folder.defaultPath() : m_folder.text();
}

std::pair<std::string, std::string> CoreCommands::usableFolder(const std::string& dir) {
    std::error_code ec;
    const std::filesystem::path path = std::filesystem::absolute(dir, ec);
    if (dir.find('\0') != std::string::npos || ec ||
        (std::filesystem::create_directories(path, ec), ec) ||
        !std::filesystem::is_directory(path, ec))
        return {{}, "cannot use the download folder \"" + dir + "\""};
    return {path.lexically_normal().string(), {}};
}

std::string CoreCommands::setFolder(const std::string& dir) {
    auto [path, why] = usableFolder(dir);
    if (!why.empty())
        return why;
    m_folder.setText(path);
    return {};
}

std::string CoreCommands::setRateLimit(std::int64_t bytesPerSecond) {
    if (bytesPerSecond < 0)
        return "the speed limit cannot be below 0";
    if (!m_hooks.setRateLimit)
        return bytesPerSecond == 0 ? std::string() : "this run takes no speed limit";
    m_hooks.setRateLimit(static_cast<std::uint64_t>(bytesPerSecond));
    return {};
}

int CoreCommands::maxDownloads() const {
    return m_hooks.maxDownloads ? m_hooks.maxDownloads() : 1;
}

std::string CoreCommands::setMaxDownloads(int lanes) {
    if (lanes < 1 || lanes > 8)
        return "max-concurrent-downloads must be from 1 to 8";
    if (!m_hooks.setMaxDownloads)
        return lanes == 1 ? std::string() : "this run works one row at a time";
    m_hooks.setMaxDownloads(lanes);
    return {};
}

std::string CoreCommands::solveCaptcha(std::uint64_t id, const std::string& code) {
    if (m_hooks.solveCaptcha ? m_hooks.solveCaptcha(id, code)
                             : isCurrent(id) && m_core.cycle().answerCaptcha(code))
        return {};
    return "GID#" + gid(id) + " waits for no captcha";
}

std::string CoreCommands::saveSession() {
    if (!m_hooks.saveSession)
        return "this run keeps no session file";
    return m_hooks.saveSession();
}

void CoreCommands::shutdown() {
    if (m_hooks.shutdown)
        m_hooks.shutdown();
}

} // namespace torvaline
