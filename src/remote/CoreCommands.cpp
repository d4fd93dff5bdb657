#include "remote/CoreCommands.h"

#include "cycle/DownloadCycle.h"
#include "cycle/TorvalineCore.h"
#include "list/DownloadFolder.h"
#include "list/DownloadList.h"
#include "list/LinkLines.h"
#include "remote/RowTable.h"
#include "state/CycleState.h"

#include <cerrno>
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

Result<std::vector<std::uint64_t>> CoreCommands::add(const std::vector<NewRow>& rows) {
    std::vector<std::string> links;
    std::vector<std::string> folders;
    links.reserve(rows.size());
    folders.reserve(rows.size());
    for (const NewRow& row : rows) {
        // A folder of its own is made before any row comes, so that a refusal adds nothing.
        if (row.dir.empty()) {
            folders.emplace_back();
        } else {
            Result<std::string> folder = usableFolder(row.dir);
            if (!folder)
                return folder.failure();
            folders.push_back(std::move(folder).value());
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
        return fail(FailureCause::Other, "the list did not tell the new rows' ids");
    }
    DownloadCycle& cycle = m_core.cycle();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (!rows[i].dir.empty() || !rows[i].out.empty())
            cycle.setPlacement(ids[i], folders[i], rows[i].out);
        cycle.setRequestOptions(ids[i], rows[i].request);
        // Held as the pause command holds it; a row that cannot be stays as it was.
        if (rows[i].paused)
            static_cast<void>(pause(ids[i]));
    }
    if (m_hooks.resume)
        m_hooks.resume(firstNew);
    return ids;
}

Result<void> CoreCommands::remove(std::uint64_t id) {
    const int row = m_rows.listRow(id);
    if (row < 1)
        return fail(FailureCause::NotFound, "Active Download not found for GID#" + gid(id));
    // The cycle stops the row it works on and goes on with the next one.
    m_core.cycle().removeRow(row);
    return {};
}

Result<void> CoreCommands::pause(std::uint64_t id) {
    // The row being worked on is held where it stands; one the list has not reached is passed
    // over. A row that is done is refused, as aria2 refuses it.
    if (m_hooks.pause ? m_hooks.pause(id)
                      : (isCurrent(id) && m_core.pause()) || m_core.cycle().holdRow(id))
        return {};
    return fail(FailureCause::Other, "GID#" + gid(id) + " cannot be paused now");
}

Result<void> CoreCommands::unpause(std::uint64_t id) {
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
    return fail(FailureCause::Other, "GID#" + gid(id) + " cannot be unpaused now");
}

bool CoreCommands::isCurrent(std::uint64_t id) const {
    const int row = m_rows.listRow(id);
    return row >= 1 && row == m_core.state().CurrentRow;
}

Result<void> CoreCommands::move(std::uint64_t id, int toRow) {
    const int row = m_rows.listRow(id);
    if (row < 1)
        return fail(FailureCause::NotFound, "GID#" + gid(id) + " not found in the waiting queue.");
    if (toRow < 1 || toRow >= m_list.rowCount())
        return fail(FailureCause::Other, "GID#" + gid(id) + " not found in the waiting queue.");
    m_list.moveRow(row, toRow);
    return {};
}

std::string CoreCommands::folder() const {
    return m_folder.effective();
}

Result<std::string> CoreCommands::usableFolder(const std::string& dir) {
    const auto refused = [&dir](FailureCause cause) {
        return fail(cause, "cannot use the download folder \"" + dir + "\"");
    };
    if (dir.find('\0') != std::string::npos)
        return refused(FailureCause::NameRefused);
    std::error_code ec;
    const std::filesystem::path path = std::filesystem::absolute(dir, ec);
    if (ec)
        return refused(FailureCause::NameRefused);
    if (std::filesystem::create_directories(path, ec), ec) {
        const bool full = ec == std::errc::no_space_on_device ||
                          ec == std::error_condition(EDQUOT, std::generic_category());
        // A file where a folder is wanted is a name the folder cannot have.
        const bool taken = ec == std::errc::file_exists || ec == std::errc::not_a_directory;
        return refused(full    ? FailureCause::DiskFull
                       : taken ? FailureCause::NameRefused
                               : FailureCause::Other);
    }
    if (!std::filesystem::is_directory(path, ec))
        return refused(FailureCause::NameRefused);
    return path.lexically_normal().string();
}

Result<void> CoreCommands::setFolder(const std::string& dir) {
    Result<std::string> path = usableFolder(dir);
    if (!path)
        return path.failure();
    m_folder.setText(std::move(path).value());
    return {};
}

Result<void> CoreCommands::setRateLimit(std::int64_t bytesPerSecond) {
    if (bytesPerSecond < 0)
        return fail(FailureCause::Other, "the speed limit cannot be below 0");
    if (!m_hooks.setRateLimit) {
        if (bytesPerSecond == 0)
            return {};
        return fail(FailureCause::Other, "this run takes no speed limit");
    }
    m_hooks.setRateLimit(static_cast<std::uint64_t>(bytesPerSecond));
    return {};
}

int CoreCommands::maxDownloads() const {
    return m_hooks.maxDownloads ? m_hooks.maxDownloads() : 1;
}

Result<void> CoreCommands::setMaxDownloads(int lanes) {
    if (lanes < 1 || lanes > 8)
        return fail(FailureCause::Other, "max-concurrent-downloads must be from 1 to 8");
    if (!m_hooks.setMaxDownloads)
        return RemoteCommands::setMaxDownloads(lanes);
    m_hooks.setMaxDownloads(lanes);
    return {};
}

Result<void> CoreCommands::solveCaptcha(std::uint64_t id, const std::string& code) {
    if (m_hooks.solveCaptcha ? m_hooks.solveCaptcha(id, code)
                             : isCurrent(id) && m_core.cycle().answerCaptcha(code))
        return {};
    return fail(FailureCause::Other, "GID#" + gid(id) + " waits for no captcha");
}

Result<void> CoreCommands::saveSession() {
    if (!m_hooks.saveSession)
        return fail(FailureCause::Other, "this run keeps no session file");
    // The session words why it could not write, or says nothing when it did.
    if (std::string why = m_hooks.saveSession(); !why.empty())
        return fail(FailureCause::Other, std::move(why));
    return {};
}

void CoreCommands::shutdown() {
    if (m_hooks.shutdown)
        m_hooks.shutdown();
}

} // namespace torvaline
