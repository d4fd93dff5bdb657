#pragma once

#include "archive/ArchiveChoices.h"
#include "archive/ArchiveExtractor.h"
#include "archive/ChecksumList.h"
#include "cycle/RowEvents.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <stop_token>
#include <string>
#include <unordered_map>
#include <vector>

namespace torvaline {

class Clock;
class DownloadFolder;
class DownloadList;
class EventLoop;
struct RowBatch;
class TorvalineCore;
class WorkerCount;

// What the list leaves once its rows complete: the archives among them, grouped into packages
// (the parts of a split set; an archive of one file is a package of one; the rows of one batch,
// a URL range or a Click'n'Load batch, are one package of their own), each part checked
// against the set's .sfv or .md5 when one is in the list or the folder, and each package
// extracted once its last part is in. Checks and extractions run on a worker, one at a time,
// counted in the session's workers; everything they report comes back on the GUI thread.
class PackageFollowUp final : public RowEvents {
public:
    struct Ports {
        DownloadList& list;
        TorvalineCore& core;
        DownloadFolder& folder;
        EventLoop& loop;
        Clock& clock;
        std::shared_ptr<WorkerCount> workers;
        char decimalSeparator = '.';
        // The list's lanes: start a row again, and whether none has anything in hand.
        std::function<bool(int row)> startAt;
        std::function<bool()> atRest;
    };
    // A line for the user of a package: as it goes ("Extracting name: 40 %") and at its end.
    struct Notice {
        // Progress comes again and again; a problem on the way, the package's end, once each.
        enum class Kind { Progress, Problem, Extracted, NotExtracted };
        std::string text;
        Kind kind = Kind::Progress;
        // The text without the folder, for a place with little room; empty: the text.
        std::string brief;
    };
    // The package of a row and where it stands, for the remote control; empty for none.
    struct RowPackage {
        std::string name;
        std::string state;
    };

    static constexpr const char* MismatchReason = "checksum mismatch";

    explicit PackageFollowUp(Ports ports);
    ~PackageFollowUp() override;
    PackageFollowUp(const PackageFollowUp&) = delete;
    PackageFollowUp& operator=(const PackageFollowUp&) = delete;

    void setChoices(ArchiveChoices choices) { m_choices = std::move(choices); }
    const ArchiveChoices& choices() const { return m_choices; }
    void setOnNotice(std::function<void(const Notice&)> onNotice) {
        m_onNotice = std::move(onNotice);
    }
    // Called each time the follow-up has nothing left to do (after a check or an extraction).
    void setOnIdle(std::function<void()> onIdle) { m_onIdle = std::move(onIdle); }
    // A check or an extraction runs or is due.
    bool busy() const;
    RowPackage packageOf(std::uint64_t id) const;
    // Packages extracted so far, and those that ended without (each counted once).
    int extractedCount() const { return m_extracted; }
    int notExtractedCount() const { return m_notExtracted; }
    // The end: the running job stops at its next block, none starts.
    void stop();

    void rowsAdded(int first, std::span<const RowRef> rows) override;
    void rowsRemoved(int first, std::span<const RowRef> rows) override;
    void rowMoved(std::uint64_t, int, int) override {}
    void rowPhase(const RowPhaseEvent& event) override;
    void rowProgress(const RowProgressEvent&) override {}
    void listDone(int, int, int) override {
        if (!m_rows.empty())
            reviewSoon();
    }

    // The name a link's file likely has: its last path part, without a page's ".html".
    static std::string nameFromLink(const std::string& link);
    // "1.40 MB", "2.31 GB": sizes as the program shows them.
    static std::string sizeText(std::uint64_t bytes, char decimalSeparator);

private:
    enum class Check { None, Queued, Good, Bad };
    struct Row {
        std::string name;
        std::string path; // once completed
        RowPhase phase = RowPhase::Waiting;
        Check check = Check::None;
        int mismatches = 0;
        bool checksumFile = false;
        // What the row's pages said of the part (empty digest, password: nothing).
        ChecksumEntry pageChecksum;
        std::string pagePassword;
    };
    struct Package {
        ArchivePackage parts;
        std::vector<std::uint64_t> rows; // in volume order
        std::vector<std::string> paths;  // of the parts, once queued for extraction
        std::string state;
        bool queued = false; // its extraction is queued or running
        bool ended = false;  // extracted, or told why not
        bool ok = false;
        bool counted = false;    // in the counts
        std::uint64_t batch = 0; // the batch its first part came in; such a package counts once
    };
    // The rows that came in one batch: one package whatever their names, each archive in it
    // extracted as any other. Named at its first use, since it names its rows' folder.
    struct Batch {
        std::string name;
        std::size_t files = 0;
    };
    struct Job;

    bool track(std::uint64_t id, const std::string& name);
    void reviewSoon();
    void review();
    void reviewPackage(const std::string& key, Package& package);
    // The line of a checksum file for the row's part, else what its page said; null: none.
    const ChecksumEntry* checksumFor(const Row& row);
    void queue(Job job);
    void runNext();
    void checked(std::uint64_t id, bool matches, const std::string& reason);
    void progressed(const std::string& key, int percent);
    void extracted(const std::string& key, const Result<Extracted>& result);
    void end(const std::string& key, Package& package, const std::string& state, bool ok,
             const std::string& noticeText, const std::string& brief = {});
    void noteRows(const Package& package, const std::string& state);
    void notice(const std::string& text, Notice::Kind kind, const std::string& brief = {});
    void disposeParts(const Package& package, const std::string& extractedInto);
    Batch& batchOf(const RowBatch& batch);
    void recount();

    Ports m_p;
    ArchiveChoices m_choices;
    std::function<void(const Notice&)> m_onNotice;
    std::function<void()> m_onIdle;
    std::unordered_map<std::uint64_t, Row> m_rows;
    std::map<std::string, Package> m_packages;
    // The checksum lists read during one review, by path.
    std::map<std::string, ChecksumList> m_lists;
    // The progress each package's rows were last noted at.
    std::map<std::string, int> m_noted;
    std::map<std::uint64_t, Batch> m_batches;
    std::deque<std::unique_ptr<Job>> m_jobs;
    int m_extracted = 0;
    int m_notExtracted = 0;
    bool m_running = false;
    bool m_reviewDue = false;
    bool m_stopped = false;
    std::stop_source m_stop;
    // Lets a worker's answer find out whether this object is still there.
    std::shared_ptr<PackageFollowUp*> m_self;
};

} // namespace torvaline
