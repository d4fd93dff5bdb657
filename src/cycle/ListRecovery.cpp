#include "cycle/ListRecovery.h"

#include "cycle/DownloadCycle.h"
#include "list/DownloadFolder.h"
#include "list/DownloadList.h"
#include "list/RowTexts.h"
#include "platform/Dialogs.h"
#include "platform/PartialName.h"
#include "platform/RecoveryStore.h"
#include "platform/Timer.h"

#include <algorithm>
#include <optional>
#include <unordered_set>

namespace torvaline {

namespace {

// Whatever a recovery file says reaches a file name and a request header: a path that is not
// absolute or a byte that would end either is not something this program wrote.
bool plainText(const std::string& text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return false;
    return true;
}

bool plausiblePartial(const RecoveryRow& row) {
    constexpr std::size_t MaxValidator = 1024;
    return !row.partialPath.empty() && row.partialPath.front() == '/' &&
           plainText(row.partialPath) && plainText(row.partialValidator) &&
           row.partialValidator.size() <= MaxValidator;
}

std::string withoutTrailingSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string()
                                      : withoutTrailingSlash(path.substr(0, slash + 1));
}

bool sameFile(const PartialFile& a, const PartialFile& b) {
    return a.path == b.path && a.total == b.total && a.validator == b.validator;
}

} // namespace

ListRecovery::ListRecovery(DownloadList& list, RecoveryStore& store, Timer& timer)
    : m_list(list)
    , m_store(store)
    , m_timer(timer) {
    m_timer.setOnTick([this] { tick(); });
}

ListRecovery::~ListRecovery() {
    m_timer.setEnabled(false);
    m_timer.setOnTick(nullptr);
}

std::string ListRecovery::question(std::size_t unfinished) {
    return "Torvaline did not close normally. Restore the " + std::to_string(unfinished) +
           " unfinished links of the last session?";
}

std::vector<RecoveryRow> ListRecovery::unfinished(const std::vector<RecoveryRow>& rows) {
    std::vector<RecoveryRow> out;
    for (const RecoveryRow& r : rows)
        if (!r.link.empty() && r.status != StatusCompleted)
            out.push_back(r);
    return out;
}

void ListRecovery::offerRestore(Dialogs& dialogs) {
    const RecoveryStore::Loaded loaded = m_store.load();
    using Kind = RecoveryStore::Loaded::Kind;
    std::string problem = loaded.problem;
    if (loaded.kind == Kind::Bytes) {
        RecoveryFormat::Decoded decoded = RecoveryFormat::decode(loaded.bytes);
        if (decoded.ok) {
            std::vector<RecoveryRow> rows = unfinished(decoded.rows);
            std::erase_if(rows, [this](const RecoveryRow& r) { return finishedBeforeCrash(r); });
            if (!rows.empty() && dialogs.confirm(question(rows.size())) == Answer::Yes) {
                // Appended whole, so that a row is never seen without its link. A link the
                // list holds already (a list file opened again at start) is not doubled; its
                // partial file still goes to the cycle, which finds the row by the link.
                std::unordered_set<std::string> onList;
                for (int r = 1; r < m_list.rowCount(); ++r)
                    onList.insert(m_list.cell(r, DownloadList::URL));
                std::vector<DownloadList::Row> restored;
                std::vector<std::size_t> held; // of the restored rows
                std::vector<std::pair<std::size_t, const RecoveryRow*>> placed;
                restored.reserve(rows.size());
                for (const RecoveryRow& row : rows) {
                    if (!onList.insert(row.link).second)
                        continue;
                    if (row.status == StatusPaused)
                        held.push_back(restored.size());
                    // A folder this program gave is absolute and plain; the name is checked
                    // at the transfer like every name.
                    if ((!row.dir.empty() || !row.out.empty()) &&
                        (row.dir.empty() || (row.dir.front() == '/' && plainText(row.dir))) &&
                        plainText(row.out))
                        placed.emplace_back(restored.size(), &row);
                    DownloadList::Row& added = restored.emplace_back();
                    added[DownloadList::Host] = row.host;
                    added[DownloadList::URL] = row.link;
                    added[DownloadList::Status] = StatusWaiting;
                }
                const int first = m_list.rowCount();
                m_list.appendRows(std::move(restored));
                if (m_placementSink)
                    for (const auto& [i, row] : placed)
                        m_placementSink(m_list.id(first + static_cast<int>(i)), row->dir, row->out);
                if (m_hold)
                    for (const std::size_t i : held)
                        m_hold(m_list.id(first + static_cast<int>(i)));
                restorePartials(rows);
                // The copy stays until the restored list replaces it: a crash in between
                // must not lose what was just restored.
                m_stored = true;
            } else {
                removePartials(decoded.rows);
                m_store.remove();
            }
        } else {
            problem = "the recovery file is damaged: " + decoded.problem;
        }
    }
    if (!problem.empty() || loaded.kind == Kind::Unreadable) {
        // Not offered again, and not thrown away either: the links may still be in it.
        const std::string kept = m_store.keepAside();
        std::string text = "The links of the last session could not be restored (" + problem + ").";
        if (!kept.empty())
            text += " The file was kept as " + kept + ".";
        dialogs.showError(text);
    }
    m_keeping = true;
    checkProblem();
    // Whatever the list holds now (restored rows, a list opened meanwhile) is kept from here.
    listChanged();
}

void ListRecovery::bindPartials(PartialSource source, PartialSink restored,
                                std::function<std::string()> folder) {
    m_partialSource = std::move(source);
    m_partialSink = std::move(restored);
    m_folder = std::move(folder);
}

void ListRecovery::bindCycle(DownloadCycle& cycle, DownloadFolder& folder) {
    bindPartials(
        [&cycle] {
            Partials partials;
            for (auto& [link, file] : cycle.keptPartials())
                partials.kept.push_back({std::move(link), std::move(file)});
            partials.pending = cycle.partialPending();
            return partials;
        },
        [&cycle](KeptPartial kept) {
            cycle.restorePartial(std::move(kept.link), std::move(kept.file));
        },
        [&folder] { return folder.text(); });
    bindFolderChoice([&folder](const std::string& chosen) {
        folder.setText(chosen.empty() ? folder.defaultPath() : chosen);
    });
    bindDefaultFolder([&folder] { return folder.defaultPath(); });
    // What the rows were placed with is read from their records, row by row.
    bindPlacements({}, [&cycle](std::uint64_t id, std::string dir, std::string out) {
        cycle.setPlacement(id, std::move(dir), std::move(out));
    });
}

void ListRecovery::restorePartials(const std::vector<RecoveryRow>& rows) {
    bool handed = false;
    std::string folder = m_folder ? withoutTrailingSlash(m_folder()) : std::string();
    if (folder.empty() && m_useFolder) {
        std::string found;
        for (const RecoveryRow& row : rows) {
            // The root is no one's download folder, whatever a file there looks like.
            if (plausiblePartial(row) && folderOf(row.partialPath) != "/" &&
                m_store.partialSize(row.partialPath)) {
                found = folderOf(row.partialPath);
                break;
            }
        }
        m_useFolder(found);
        folder = m_folder ? withoutTrailingSlash(m_folder()) : std::string();
    }
    for (const RecoveryRow& row : rows) {
        // Our transfers write into the download folder only; a recovery file may name any
        // file at all.
        if (!plausiblePartial(row) || folder.empty() || folderOf(row.partialPath) != folder)
            continue;
        const std::optional<std::uint64_t> size = m_store.partialSize(row.partialPath);
        if (!size)
            continue; // not ours, or gone: not touched
        // Only one row transfers at a time; the file must hold a beginning, not the whole.
        if (!handed && m_partialSink && *size > 0 && *size < row.partialTotal) {
            m_partialSink(
                KeptPartial{row.link, PartialFile{row.partialPath, *size, row.partialTotal,
                                                  row.partialValidator}});
            handed = true;
        } else {
            removePartials({row});
        }
    }
}

void ListRecovery::removePartials(const std::vector<RecoveryRow>& rows) {
    // Removed only from the download folder: a recovery file may name any file at all. With
    // none set, the transfers saved into the default folder.
    std::string folder = m_folder ? withoutTrailingSlash(m_folder()) : std::string();
    if (folder.empty() && m_defaultFolder)
        folder = withoutTrailingSlash(m_defaultFolder());
    for (const RecoveryRow& row : rows)
        if (plausiblePartial(row) && !folder.empty() && folderOf(row.partialPath) == folder)
            m_store.removePartial(row.partialPath);
}

void ListRecovery::listChanged() {
    m_dirty = true;
    // A timer already running keeps its schedule, so a stream of changes still writes once
    // a second rather than never.
    if (m_keeping)
        m_timer.setEnabled(true);
}

void ListRecovery::tick() {
    if (!m_keeping) {
        m_timer.setEnabled(false);
        return;
    }
    bool pending = false;
    if (m_partialSource) {
        Partials now = m_partialSource();
        pending = now.pending;
        const bool same =
            std::equal(now.kept.begin(), now.kept.end(), m_partials.begin(), m_partials.end(),
                       [](const KeptPartial& a, const KeptPartial& b) {
                           return a.link == b.link && sameFile(a.file, b.file);
                       });
        if (!same) {
            m_partials = std::move(now.kept);
            m_dirty = true;
        }
    }
    if (!m_dirty) {
        if (!pending)
            m_timer.setEnabled(false);
        return;
    }
    m_dirty = false;
    if (listHasLinks()) {
        m_store.save(encodeList());
        m_stored = true;
        checkProblem();
    } else if (m_stored) {
        m_store.remove();
        m_stored = false;
    }
}

void ListRecovery::saveNow() {
    if (!m_keeping)
        return;
    m_dirty = true;
    tick();
}

std::string ListRecovery::problemText(const std::string& why) {
    return " The list cannot be kept against a crash: " + why + " ";
}

void ListRecovery::checkProblem() {
    if (m_problemTold || !m_onProblem)
        return;
    const std::string why = m_store.problem();
    if (why.empty())
        return;
    m_problemTold = true;
    m_onProblem(problemText(why));
}

bool ListRecovery::finishedBeforeCrash(const RecoveryRow& row) {
    if (!plausiblePartial(row) || row.partialTotal == 0 || m_store.fileSize(row.partialPath))
        return false;
    const std::size_t slash = row.partialPath.rfind('/');
    const std::string name = row.partialPath.substr(slash + 1);
    if (!PartialName::matches(name))
        return false;
    const std::string folder = row.partialPath.substr(0, slash + 1);
    const std::string finalName =
        name.substr(0, name.size() - PartialName::Infix.size() - PartialName::HexDigits -
                           PartialName::Suffix.size());
    const std::size_t dot = finalName.rfind('.');
    const bool extension = dot != std::string::npos && dot > 0;
    // The transfer takes the first free "name (N).ext" when the name is taken.
    for (int n = 0; n <= 20; ++n) {
        const std::string candidate = n == 0 ? finalName
                                             : (extension ? finalName.substr(0, dot) : finalName) +
                                                   " (" + std::to_string(n) + ")" +
                                                   (extension ? finalName.substr(dot) : "");
        const auto size = m_store.fileSize(folder + candidate);
        if (!size)
            return false; // numbered names are taken in turn: none further
        if (*size == row.partialTotal)
            return true;
    }
    return false;
}

void ListRecovery::closeNormally() {
    m_keeping = false;
    m_dirty = false;
    m_timer.setEnabled(false);
    m_store.remove();
    m_stored = false;
}

bool ListRecovery::listHasUnfinished() const {
    for (int r = 1; r < m_list.rowCount(); ++r)
        if (!m_list.cell(r, DownloadList::URL).empty() &&
            m_list.cell(r, DownloadList::Status) != StatusCompleted)
            return true;
    return false;
}

bool ListRecovery::listHasLinks() const {
    for (int r = 1; r < m_list.rowCount(); ++r)
        if (!m_list.cell(r, DownloadList::URL).empty())
            return true;
    return false;
}

std::string ListRecovery::encodeList() const {
    std::string out = RecoveryFormat::header();
    // A long list would otherwise be copied over and over while its text grows.
    out.reserve(m_lastSize + m_lastSize / 16);
    const int rows = m_list.rowCount();
    std::vector<bool> placed(m_partials.size(), false);
    for (int r = 1; r < rows; ++r) {
        const std::string& host = m_list.cell(r, DownloadList::Host);
        const std::string& link = m_list.cell(r, DownloadList::URL);
        const std::string& status = m_list.cell(r, DownloadList::Status);
        std::size_t p = 0;
        while (p < m_partials.size() &&
               (placed[p] || m_partials[p].link.empty() || m_partials[p].link != link))
            ++p;
        std::pair<std::string, std::string> placement;
        if (m_placementSource) {
            placement = m_placementSource(m_list.id(r));
        } else if (const RowPlacement& placed = m_list.record(r).placement.get(); !placed.empty()) {
            placement = {placed.folder, placed.fileName};
        }
        if (p == m_partials.size() && placement.first.empty() && placement.second.empty()) {
            RecoveryFormat::appendRow(out, host, link, status);
            continue;
        }
        RecoveryRow kept;
        kept.host = host;
        kept.link = link;
        kept.status = status;
        if (p < m_partials.size()) {
            placed[p] = true;
            kept.partialPath = m_partials[p].file.path;
            kept.partialTotal = m_partials[p].file.total;
            kept.partialValidator = m_partials[p].file.validator;
        }
        kept.dir = std::move(placement.first);
        kept.out = std::move(placement.second);
        RecoveryFormat::appendRow(out, kept);
    }
    out += RecoveryFormat::trailer(static_cast<std::size_t>(rows > 0 ? rows - 1 : 0));
    m_lastSize = out.size();
    return out;
}

} // namespace torvaline
