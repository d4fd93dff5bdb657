#include "session/PackageFollowUp.h"

#include "archive/DesktopTrash.h"
#include "archive/EntryPath.h"
#include "archive/FileChecksum.h"
#include "archive/PackageGrouping.h"
#include "cycle/TorvalineCore.h"
#include "list/DownloadFolder.h"
#include "list/DownloadList.h"
#include "list/RowTexts.h"
#include "pages/TimeText.h"
#include "platform/AsciiCase.h"
#include "platform/Clock.h"
#include "platform/EventLoop.h"
#include "platform/PercentDecoding.h"
#include "platform/WorkerCount.h"
#include "transfer/ProgressDisplay.h"

#include <algorithm>
#include <chrono>
#include <dirent.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <unordered_set>

namespace torvaline {

namespace {

bool endsWithNoCase(std::string_view text, std::string_view tail) {
    return text.size() > tail.size() &&
           asciiEqualNoCase(text.substr(text.size() - tail.size()), tail);
}

bool isChecksumName(const std::string& name) {
    return endsWithNoCase(name, ".sfv") || endsWithNoCase(name, ".md5");
}

// Cheap first: most rows of a long list are no archive, and grouping one name costs more.
bool mayBeArchive(const std::string& name) {
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || dot + 1 >= name.size())
        return false;
    const std::string ext = asciiLower(std::string_view(name).substr(dot + 1));
    static const std::unordered_set<std::string> known = {
        "rar", "7z", "zip", "tar", "gz", "tgz", "bz2", "tbz2", "tbz", "xz", "txz", "zst", "tzst"};
    if (known.count(ext))
        return true;
    const bool digits =
        ext.find_first_not_of("0123456789", ext[0] == 'r' || ext[0] == 'z') == std::string::npos;
    return digits && (ext.size() == 3);
}

bool isArchiveName(const std::string& name) {
    return mayBeArchive(name) && !PackageGrouping::group({name}).empty();
}

bool isFinal(RowPhase phase) {
    return phase == RowPhase::Completed || phase == RowPhase::Failed || phase == RowPhase::Stopped;
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string baseName(const std::string& path) {
    return path.substr(path.find_last_of('/') + 1);
}

std::string keyOf(const ArchivePackage& package) {
    return std::to_string(static_cast<int>(package.kind)) + '\n' + package.name;
}

std::string partsText(std::size_t parts) {
    return std::to_string(parts) + (parts == 1 ? " part" : " parts");
}

std::string filesText(std::size_t files) {
    return std::to_string(files) + (files == 1 ? " file" : " files");
}

} // namespace

struct PackageFollowUp::Job {
    bool extract = false;
    std::uint64_t id = 0; // a check: the row
    std::string path;
    ChecksumEntry entry;
    std::string key; // an extraction: the package
    ExtractRequest request;
};

PackageFollowUp::PackageFollowUp(Ports ports)
    : m_p(std::move(ports))
    , m_self(std::make_shared<PackageFollowUp*>(this)) {}

PackageFollowUp::~PackageFollowUp() {
    stop();
}

void PackageFollowUp::stop() {
    m_stopped = true;
    m_stop.request_stop();
    m_jobs.clear();
}

bool PackageFollowUp::busy() const {
    return !m_stopped && (m_running || !m_jobs.empty() || m_reviewDue);
}

std::string PackageFollowUp::nameFromLink(const std::string& link) {
    std::string_view rest(link);
    if (const std::size_t scheme = rest.find("://"); scheme != std::string_view::npos)
        rest.remove_prefix(scheme + 3);
    rest = rest.substr(0, rest.find_first_of("?#"));
    const std::size_t slash = rest.find_last_of('/');
    if (slash == std::string_view::npos)
        return {};
    std::string name = percentDecoded(rest.substr(slash + 1), BrokenEscape::Keep);
    for (std::string_view page : {".html", ".htm"})
        if (endsWithNoCase(name, page))
            name.resize(name.size() - page.size());
    return name.find('/') == std::string::npos ? name : std::string();
}

std::string PackageFollowUp::sizeText(std::uint64_t bytes, char decimalSeparator) {
    constexpr std::uint64_t MiB = 1ull << 20;
    if (bytes < 1024 * MiB)
        return FormatFixed2(bytes, MiB, decimalSeparator) + " MB";
    return FormatFixed2(bytes, 1024 * MiB, decimalSeparator) + " GB";
}

bool PackageFollowUp::track(std::uint64_t id, const std::string& name) {
    const bool checksum = isChecksumName(name);
    // Any file of a batch: its package is at least a name and a folder.
    if (!checksum && !isArchiveName(name) && !m_p.list.batch(m_p.list.rowOf(id)))
        return false;
    Row& row = m_rows[id];
    row.name = name;
    row.checksumFile = checksum;
    return true;
}

void PackageFollowUp::rowsAdded(int, std::span<const RowRef> rows) {
    for (const RowRef& ref : rows)
        track(ref.id, nameFromLink(std::string(ref.link)));
}

void PackageFollowUp::rowsRemoved(int, std::span<const RowRef> rows) {
    bool tracked = false;
    for (const RowRef& ref : rows)
        tracked = m_rows.erase(ref.id) > 0 || tracked;
    if (tracked)
        reviewSoon();
}

void PackageFollowUp::rowPhase(const RowPhaseEvent& event) {
    auto found = m_rows.find(event.id);
    if (!event.fileName.empty() &&
        (found == m_rows.end() || found->second.name != event.fileName)) {
        const bool was = found != m_rows.end();
        if (!track(event.id, event.fileName) && was)
            m_rows.erase(found);
        found = m_rows.find(event.id);
    }
    if (found == m_rows.end()) {
        // A stop ends the wait for checksum files that will not come now.
        if (event.phase == RowPhase::Stopped && !m_rows.empty())
            reviewSoon();
        return;
    }
    Row& row = found->second;
    row.phase = event.phase;
    switch (event.phase) {
    case RowPhase::Opening:
        // A checksum file may vouch for several sets: it stays in the download folder, unless
        // it came in a batch, with its sets.
        if (const RowBatch* batch = m_p.list.batch(m_p.list.rowOf(event.id));
            m_choices.packageFolders && (!row.checksumFile || batch) &&
            m_p.core.cycle().placement(event.id) == std::pair<std::string, std::string>{}) {
            // The batch's folder, or the set's own, named as the extraction names it.
            const std::string set =
                batch ? batchOf(*batch).name : PackageGrouping::group({row.name}).at(0).name;
            // No folder chosen yet: the transfer goes to the default one.
            const std::string& base = m_p.folder.effective();
            if (!base.empty() && EntryPath::checkName(set).ok()) {
                const std::string folder = base + m_p.folder.separator() + set;
                ::mkdir(folder.c_str(), 0755);
                m_p.core.cycle().setPlacement(event.id, folder, {});
            }
        }
        break;
    case RowPhase::Completed:
        row.path = event.filePath.empty() ? m_p.folder.text() + m_p.folder.separator() + row.name
                                          : event.filePath;
        row.check = Check::None;
        row.pagePassword = event.pagePassword;
        // The kind by its length: 32 hexadecimal digits are an MD5, 40 a SHA-1.
        row.pageChecksum = {};
        if (event.pageChecksum.size() == 32 || event.pageChecksum.size() == 40)
            row.pageChecksum = {
                row.name, event.pageChecksum.size() == 40 ? DigestKind::Sha1 : DigestKind::Md5,
                event.pageChecksum};
        for (auto& [key, package] : m_packages)
            if (!package.ok &&
                std::find(package.rows.begin(), package.rows.end(), event.id) != package.rows.end())
                package.ended = false;
        reviewSoon();
        break;
    case RowPhase::Failed:
    case RowPhase::Stopped:
        reviewSoon();
        break;
    default:
        break;
    }
}

void PackageFollowUp::reviewSoon() {
    if (m_reviewDue || m_stopped)
        return;
    m_reviewDue = true;
    // Never from inside a row event: a review may change the list.
    m_p.loop.post([self = std::weak_ptr(m_self)] {
        if (const auto held = self.lock()) {
            (*held)->review();
            (*held)->runNext();
        }
    });
}

void PackageFollowUp::review() {
    m_reviewDue = false;
    if (m_stopped)
        return;
    m_lists.clear();
    std::vector<std::string> names;
    std::unordered_map<std::string, std::uint64_t> idOf;
    // The tracked rows of each batch, and how many rows each batch has now.
    std::unordered_map<std::uint64_t, std::uint64_t> batchOfRow;
    std::unordered_set<std::uint64_t> counted;
    for (int r = 1; r < m_p.list.rowCount(); ++r) {
        const std::uint64_t id = m_p.list.id(r);
        const auto found = m_rows.find(id);
        if (const RowBatch* batch = m_p.list.batch(r)) {
            Batch& own = batchOf(*batch);
            own.files = counted.insert(batch->id).second ? 1 : own.files + 1;
            if (found != m_rows.end())
                batchOfRow.emplace(id, batch->id);
        }
        if (found == m_rows.end() || found->second.checksumFile)
            continue;
        // A name the list holds twice is one part: the first row of it stands for it.
        if (idOf.emplace(found->second.name, id).second)
            names.push_back(found->second.name);
    }
    for (ArchivePackage& parts : PackageGrouping::group(names)) {
        const std::string key = keyOf(parts);
        Package& package = m_packages[key];
        if (package.queued)
            continue;
        package.rows.clear();
        for (const std::string& part : parts.parts)
            package.rows.push_back(idOf.at(part));
        package.parts = std::move(parts);
        const auto batch = batchOfRow.find(package.rows.front());
        package.batch = batch == batchOfRow.end() ? 0 : batch->second;
        reviewPackage(key, package);
    }
    // The other files of a batch (no archive, or a checksum file): their package is a name.
    std::unordered_set<std::uint64_t> inArchives;
    for (const auto& [key, package] : m_packages)
        inArchives.insert(package.rows.begin(), package.rows.end());
    for (const auto& [id, batch] : batchOfRow) {
        const int row = m_p.list.rowOf(id);
        if (!inArchives.count(id) && m_rows.at(id).phase == RowPhase::Completed &&
            m_p.list.cell(row, DownloadList::Status) == StatusCompleted) {
            const Batch& own = m_batches.at(batch);
            m_p.list.setNote(row, "Package " + own.name + " (" + filesText(own.files) + ")");
        }
    }
}

void PackageFollowUp::reviewPackage(const std::string& key, Package& package) {
    if (package.ok)
        return;
    if (!package.ended)
        package.state = "waiting for its parts";
    for (const std::uint64_t id : package.rows)
        if (!isFinal(m_rows.at(id).phase))
            return;
    // A checksum file still to come may vouch for any set of the list; once the list is at
    // rest (done, or stopped) nothing more comes.
    const bool listGoesOn = m_p.atRest ? !m_p.atRest() : !m_p.core.cycle().atRest();
    for (const auto& [id, row] : m_rows)
        if (listGoesOn && row.checksumFile && !isFinal(row.phase) && m_p.list.rowOf(id) >= 1)
            return;
    bool checking = false;
    for (const std::uint64_t id : package.rows) {
        Row& row = m_rows.at(id);
        if (row.phase == RowPhase::Completed && row.check == Check::None) {
            if (const ChecksumEntry* entry = checksumFor(row)) {
                row.check = Check::Queued;
                Job job;
                job.id = id;
                job.path = row.path;
                job.entry = *entry;
                queue(std::move(job));
            } else {
                row.check = Check::Good;
            }
        }
        checking = checking || row.check == Check::Queued;
    }
    if (checking) {
        noteRows(package, "checking the parts");
        return;
    }
    if (package.ended)
        return;
    for (const std::uint64_t id : package.rows) {
        const Row& row = m_rows.at(id);
        if (row.phase != RowPhase::Completed || row.check == Check::Bad) {
            const std::string why =
                row.mismatches > 0 ? "Extract: part damaged (" + row.name + ": checksum mismatch)"
                                   : "Extract: part missing (" + row.name + ")";
            end(key, package, why, false, package.parts.name + " - " + why + "; parts kept");
            return;
        }
    }
    if (!package.parts.missing.empty()) {
        const std::string why = "Extract: part missing (" + package.parts.missing.front() + ")";
        end(key, package, why, false, package.parts.name + " - " + why + "; parts kept");
        return;
    }
    const std::string& first = m_rows.at(package.rows.front()).path;
    Job job;
    job.extract = true;
    job.key = key;
    job.request.package = package.parts;
    job.request.partsFolder = folderOf(first);
    job.request.baseFolder = folderOf(first);
    // What the parts' pages said first, in part order, then the user's own, each once.
    std::unordered_set<std::string> tried;
    const auto tryPassword = [&](const std::string& password) {
        if (!password.empty() && tried.insert(password).second)
            job.request.passwords.push_back(password);
    };
    for (const std::uint64_t id : package.rows)
        tryPassword(m_rows.at(id).pagePassword);
    std::for_each(m_choices.passwords.begin(), m_choices.passwords.end(), tryPassword);
    // The rows may go from the list while the package is extracted; their files stay known.
    package.paths.clear();
    for (const std::uint64_t id : package.rows)
        package.paths.push_back(m_rows.at(id).path);
    package.queued = true;
    package.state = "waiting to be extracted";
    noteRows(package, package.state);
    queue(std::move(job));
}

const ChecksumEntry* PackageFollowUp::checksumFor(const Row& row) {
    const std::string folder = folderOf(row.path);
    const std::string name = baseName(row.path);
    // The folder's .sfv and .md5 files, then those the list brought wherever they went (a
    // package in a folder of its own has its parts there), each read once a review.
    std::vector<std::string> paths;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir))
            if (isChecksumName(entry->d_name))
                paths.push_back(folder + "/" + entry->d_name);
        ::closedir(dir);
    }
    std::sort(paths.begin(), paths.end());
    for (const auto& [id, row] : m_rows)
        if (row.checksumFile && row.phase == RowPhase::Completed && !row.path.empty() &&
            folderOf(row.path) != folder)
            paths.push_back(row.path);
    for (const std::string& path : paths) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        auto list = m_lists.find(path);
        if (list == m_lists.end())
            list = m_lists.emplace(path, ChecksumList::read(path)).first;
        if (const ChecksumEntry* entry = list->second.find(name))
            return entry;
    }
    return row.pageChecksum.digest.empty() ? nullptr : &row.pageChecksum;
}

void PackageFollowUp::queue(Job job) {
    m_jobs.push_back(std::make_unique<Job>(std::move(job)));
}

void PackageFollowUp::runNext() {
    if (m_running || m_stopped)
        return;
    if (m_jobs.empty()) {
        if (!busy() && m_onIdle)
            m_onIdle();
        return;
    }
    std::shared_ptr<Job> job(std::move(m_jobs.front()));
    m_jobs.pop_front();
    m_running = true;
    // Counted from before its start to after its last touch of the loop.
    auto running = std::make_shared<WorkerCount::Running>(WorkerCount::enter(m_p.workers));
    EventLoop& loop = m_p.loop;
    const std::weak_ptr<PackageFollowUp*> self = m_self;
    const std::stop_token stop = m_stop.get_token();
    const auto body = [job, running, &loop, self, stop] {
        if (!job->extract) {
            const Result<void> result = FileChecksum::check(job->path, job->entry, stop);
            loop.post([self, id = job->id, result] {
                if (const auto held = self.lock())
                    (*held)->checked(id, result.ok(), result.reason());
            });
        } else {
            auto last = std::chrono::steady_clock::now();
            const Result<Extracted> result =
                ArchiveExtractor::extract(job->request, stop, [&](const ExtractProgress& progress) {
                    const auto now = std::chrono::steady_clock::now();
                    if (now - last < std::chrono::milliseconds(250) || progress.packedTotal == 0)
                        return;
                    last = now;
                    const int percent = static_cast<int>(
                        std::min<std::uint64_t>(progress.packedRead, progress.packedTotal) * 100 /
                        progress.packedTotal);
                    loop.post([self, key = job->key, percent] {
                        if (const auto held = self.lock())
                            (*held)->progressed(key, percent);
                    });
                });
            loop.post([self, key = job->key, result] {
                if (const auto held = self.lock())
                    (*held)->extracted(key, result);
            });
        }
        running->end();
    };
    try {
        std::thread(body).detach();
    } catch (const std::system_error&) {
        m_running = false;
        if (job->extract) {
            extracted(job->key, fail(FailureCause::Other, "Extract: cannot start a worker"));
        } else {
            checked(job->id, false, "cannot start a worker");
        }
    }
}

void PackageFollowUp::checked(std::uint64_t id, bool matches, const std::string& reason) {
    m_running = false;
    const auto found = m_rows.find(id);
    const int row = m_p.list.rowOf(id);
    if (found != m_rows.end() && row >= 1) {
        Row& part = found->second;
        if (matches) {
            part.check = Check::Good;
        } else if (reason == MismatchReason && part.mismatches == 0) {
            // Downloaded again, once: the bad copy goes first, or the new one would take
            // another name.
            part.mismatches = 1;
            part.check = Check::None;
            part.phase = RowPhase::Waiting;
            ::unlink(part.path.c_str());
            notice(part.name + ": checksum mismatch, downloading it again", Notice::Kind::Problem);
            m_p.list.markFailed(row, TimeText(m_p.clock.timeOfDay()), reason);
            if (m_p.core.cycle().retryRow(id)) {
                if (m_p.startAt)
                    m_p.startAt(row);
                else
                    m_p.core.startAt(row);
            }
        } else {
            part.check = Check::Bad;
            part.mismatches = std::max(part.mismatches, 1);
            if (reason == MismatchReason)
                ::unlink(part.path.c_str());
            m_p.list.markFailed(row, TimeText(m_p.clock.timeOfDay()), reason);
            RowPhaseEvent failed;
            failed.id = id;
            failed.phase = RowPhase::Failed;
            failed.link = m_p.list.cell(row, DownloadList::URL);
            failed.fileName = part.name;
            failed.filePath = part.path;
            failed.reason = reason;
            m_p.core.rowEvents().rowPhase(failed);
        }
    }
    review();
    runNext();
}

void PackageFollowUp::progressed(const std::string& key, int percent) {
    const auto found = m_packages.find(key);
    if (found == m_packages.end() || !found->second.queued)
        return;
    Package& package = found->second;
    package.state = "extracting " + std::to_string(percent) + " %";
    notice("Extracting " + package.parts.name + ": " + std::to_string(percent) + " %",
           Notice::Kind::Progress);
    // The tool tip follows in steps: each new note of a completed row writes the list's copy.
    if (percent / 10 != m_noted[key] / 10) {
        m_noted[key] = percent;
        noteRows(package, package.state);
    }
}

void PackageFollowUp::extracted(const std::string& key, const Result<Extracted>& result) {
    m_running = false;
    m_noted.erase(key);
    const auto found = m_packages.find(key);
    if (found != m_packages.end()) {
        Package& package = found->second;
        package.queued = false;
        const std::string name = package.parts.name;
        if (result) {
            const Extracted& made = *result;
            std::string state = "extracted into " + made.folder;
            // What was left out may be wanted: the parts stay for another tool.
            const std::string leftOut = made.skipped == 0
                                            ? std::string()
                                            : std::to_string(made.skipped) +
                                                  (made.skipped == 1 ? " entry" : " entries") +
                                                  " left out: " + made.skippedReasons.front();
            if (!leftOut.empty())
                state += " (" + leftOut + "; the parts are kept)";
            const std::string brief = "Extracted " + name + " (" +
                                      partsText(package.parts.parts.size()) + ", " +
                                      sizeText(made.packedBytes, m_p.decimalSeparator) + ")";
            end(key, package, state, true, brief + " into " + made.folder, brief);
            if (leftOut.empty())
                disposeParts(package, made.folder);
            else
                notice(name + ": " + leftOut + "; parts kept", Notice::Kind::Problem);
        } else {
            end(key, package, result.reason(), false,
                name + " - " + result.reason() + "; parts kept");
        }
    }
    review();
    runNext();
}

void PackageFollowUp::end(const std::string&, Package& package, const std::string& state, bool ok,
                          const std::string& noticeText, const std::string& brief) {
    package.counted = true;
    package.ended = true;
    package.ok = ok;
    package.state = state;
    recount();
    noteRows(package, ok ? state : state + "; the parts are kept");
    notice(noticeText, ok ? Notice::Kind::Extracted : Notice::Kind::NotExtracted, brief);
}

void PackageFollowUp::noteRows(const Package& package, const std::string& state) {
    std::string text = "Package " + package.parts.name + " (" +
                       partsText(package.parts.parts.size()) + "): " + state;
    // An archive of a batch is named as one of the batch's.
    if (const auto batch = m_batches.find(package.batch); batch != m_batches.end())
        text =
            "Package " + batch->second.name + " (" + filesText(batch->second.files) +
            (batch->second.name == package.parts.name ? "): " : "), " + package.parts.name + ": ") +
            state;
    for (const std::uint64_t id : package.rows) {
        const int row = m_p.list.rowOf(id);
        // A failed row keeps its own reason.
        if (row >= 1 && m_p.list.cell(row, DownloadList::Status) == StatusCompleted)
            m_p.list.setNote(row, text);
    }
}

void PackageFollowUp::notice(const std::string& text, Notice::Kind kind, const std::string& brief) {
    if (m_onNotice)
        m_onNotice(Notice{text, kind, brief});
}

void PackageFollowUp::disposeParts(const Package& package, const std::string& extractedInto) {
    if (m_choices.afterExtract == ArchiveChoices::AfterExtract::Keep)
        return;
    std::string problem;
    for (const std::string& path : package.paths) {
        // Never what the extraction just wrote, whatever the names.
        if (path.rfind(extractedInto + "/", 0) == 0)
            continue;
        if (m_choices.afterExtract == ArchiveChoices::AfterExtract::Trash) {
            if (const Result<void> moved = DesktopTrash::moveToTrash(path);
                !moved && problem.empty())
                problem = moved.reason();
        } else if (::unlink(path.c_str()) != 0 && problem.empty()) {
            problem = "cannot delete " + baseName(path);
        }
    }
    if (!problem.empty())
        notice(package.parts.name + ": parts kept (" + problem + ")", Notice::Kind::Problem);
}

PackageFollowUp::RowPackage PackageFollowUp::packageOf(std::uint64_t id) const {
    const RowBatch* batch = m_p.list.batch(m_p.list.rowOf(id));
    const auto named = batch ? m_batches.find(batch->id) : m_batches.end();
    for (const auto& [key, package] : m_packages)
        if (std::find(package.rows.begin(), package.rows.end(), id) != package.rows.end())
            return {named != m_batches.end() ? named->second.name : package.parts.name,
                    package.state};
    if (named != m_batches.end())
        return {named->second.name, {}};
    return {};
}

PackageFollowUp::Batch& PackageFollowUp::batchOf(const RowBatch& batch) {
    auto [at, fresh] = m_batches.try_emplace(batch.id);
    if (fresh) {
        // Named once: its rows' folder must not change under the rows that come later.
        std::vector<std::string> names;
        for (int r = 1; r < m_p.list.rowCount(); ++r)
            if (const RowBatch* of = m_p.list.batch(r); of && of->id == batch.id) {
                const auto row = m_rows.find(m_p.list.id(r));
                names.push_back(row != m_rows.end()
                                    ? row->second.name
                                    : nameFromLink(m_p.list.cell(r, DownloadList::URL)));
            }
        at->second.files = names.size();
        // The sender's name only through the same test as any folder name.
        at->second.name = PackageGrouping::batchName(batch.name, names);
        if (at->second.name.empty())
            at->second.name = "Package " + std::to_string(batch.id);
    }
    return at->second;
}

void PackageFollowUp::recount() {
    // A batch counts once, as extracted only when every archive of it that ended was; a
    // package that failed and is extracted after a part came again counts as done.
    std::map<std::string, bool> ends;
    for (const auto& [key, package] : m_packages)
        if (package.counted) {
            const auto [at, fresh] = ends.try_emplace(
                package.batch ? "batch " + std::to_string(package.batch) : key, package.ok);
            at->second = at->second && package.ok;
        }
    m_extracted = static_cast<int>(
        std::count_if(ends.begin(), ends.end(), [](const auto& end) { return end.second; }));
    m_notExtracted = static_cast<int>(ends.size()) - m_extracted;
}

} // namespace torvaline
