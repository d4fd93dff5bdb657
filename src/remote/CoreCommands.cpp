#include "remote/CoreCommands.h"

#include "cycle/TorvalineCore.h"
#include "list/DownloadFolder.h"
#include "list/DownloadList.h"
#include "list/LinkLines.h"
#include "list/ListOperations.h"
#include "remote/RowTable.h"

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
    for (const NewRow& row : rows)
        links.push_back(row.link);
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
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].paused)
            pause(ids[i]);
    if (m_hooks.resume)
        m_hooks.resume(firstNew);
    return ids;
}

std::string CoreCommands::remove(std::uint64_t id) {
    const int row = m_rows.listRow(id);
    if (row < 1)
        return "Active Download not found for GID#" + gid(id);
    if (row == m_core.state().CurrentRow)
        m_core.StopDownExecute();
    DeleteStringGridRow1(m_list, row);
    return {};
}

std::string CoreCommands::pause(std::uint64_t id) {
    // Only the row being worked on can be held; any other is refused as aria2 refuses a row it
    // cannot pause (one that is done, say).
    if (m_hooks.pause ? m_hooks.pause(id) : isCurrent(id) && m_core.pause())
        return {};
    return "GID#" + gid(id) + " cannot be paused now";
}

std::string CoreCommands::unpause(std::uint64_t id) {
    if (m_hooks.unpause ? m_hooks.unpause(id) : isCurrent(id) && m_core.resume())
        return {};
    return "GID#" + gid(id) + " cannot be unpaused now";
}

bool CoreCommands::isCurrent(std::uint64_t id) const {
    const int row = m_rows.listRow(id);
    return row >= 1 && row == m_core.state().CurrentRow;
}

std::string CoreCommands::move(std::uint64_t id, int toRow) {
    int row = m_rows.listRow(id);
    if (row < 1 || toRow < 1 || toRow >= m_list.rowCount())
        return "GID#" + gid(id) + " not found in the waiting queue.";
    // The list trades neighbours; a move is a run of such trades, as the arrows make it.
    while (row < toRow) {
        m_list.swapRows(row, row + 1);
        ++row;
    }
    while (row > toRow) {
        m_list.swapRows(row, row - 1);
        --row;
    }
    return {};
}

std::string CoreCommands::folder() const {
    return m_folder.text().empty() ? m_folder.defaultPath() : m_folder.text();
}

std::string CoreCommands::setFolder(const std::string& dir) {
    std::error_code ec;
    const std::filesystem::path path = std::filesystem::absolute(dir, ec);
    if (ec || (std::filesystem::create_directories(path, ec), ec) ||
        !std::filesystem::is_directory(path, ec))
        return "cannot use the download folder \"" + dir + "\"";
    m_folder.setText(path.string());
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
