#pragma once

#include "cycle/RecoveryFormat.h"
#include "platform/TransferFacility.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace torvaline {

class Dialogs;
class DownloadCycle;
class DownloadFolder;
class DownloadList;
class RecoveryStore;
class Timer;

// Keeps the list's rows (link, host, status) in the recovery store while the program runs,
// and offers them back when the last session did not end normally. Writes come at most once
// a second, from the one-second timer, and only after a change of those cells or of the rows.
// With them goes the temporary file of the row being transferred (or waiting for a retry), so
// that a transfer cut by a crash is continued after the restore instead of starting over.
class ListRecovery final {
public:
    // A partial file and the link of the row it belongs to: rows move, links stay.
    struct KeptPartial {
        std::string link;
        PartialFile file;
    };
    struct Partials {
        std::vector<KeptPartial> kept;
        // A transfer runs whose file may still be told: the timer keeps watching for it.
        bool pending = false;
    };
    // Where the download cycle's partial files are read, and where a restored one goes.
    using PartialSource = std::function<Partials()>;
    using PartialSink = std::function<void(KeptPartial)>;

    ListRecovery(DownloadList& list, RecoveryStore& store, Timer& timer);
    ~ListRecovery();
    ListRecovery(const ListRecovery&) = delete;
    ListRecovery& operator=(const ListRecovery&) = delete;

    // The question asked at start-up about what the last session left.
    static std::string question(std::size_t unfinished);
    // Rows worth restoring: those with a link that had not completed.
    static std::vector<RecoveryRow> unfinished(const std::vector<RecoveryRow>& rows);

    // Start-up: asks about a copy the last session left (appending its unfinished rows on
    // Yes, deleting it otherwise) and from then on keeps the list. Nothing is written before,
    // so the copy asked about cannot be overwritten while the question is open.
    void offerRestore(Dialogs& dialogs);
    // Without it no partial file is recorded, and a recorded one is not continued. `folder`
    // tells the download folder: only a partial file in it is continued or removed.
    void bindPartials(PartialSource source, PartialSink restored,
                      std::function<std::string()> folder);
    // Restored rows must never be saved into an empty folder (the root of the file system):
    // with no download folder set at the restore, `use` is told the folder the cut file lives
    // in, or an empty text for the default folder, and sets it.
    void bindFolderChoice(std::function<void(const std::string& folder)> use) {
        m_useFolder = std::move(use);
    }

    // Where our transfers save while no download folder is set; the cut file of a restore
    // the user declines is removed from there too.
    void bindDefaultFolder(std::function<std::string()> folder) {
        m_defaultFolder = std::move(folder);
    }
    // What a row was placed with (its own folder and file name), and where a restored row's
    // placement goes. Without a source the row's record tells it; without a sink, rows come
    // back without one.
    using PlacementSource = std::function<std::pair<std::string, std::string>(std::uint64_t)>;
    using PlacementSink =
        std::function<void(std::uint64_t id, std::string folder, std::string fileName)>;
    void bindPlacements(PlacementSource source, PlacementSink restored) {
        m_placementSource = std::move(source);
        m_placementSink = std::move(restored);
    }

    // Binds the partial files and placements to the cycle's and the folder choice to the
    // download folder.
    void bindCycle(DownloadCycle& cycle, DownloadFolder& folder);
    // Where a restored row that was held ("Paused") is held again; unset, it comes back
    // waiting like the others (the window has nothing that would let it go again).
    void bindHold(std::function<void(std::uint64_t id)> hold) { m_hold = std::move(hold); }

    // A link, host or status cell, or the rows, changed.
    void listChanged();
    // A row completed: its file is in place, so the copy says so at once rather than within
    // the second (a crash in between would fetch the file again).
    void saveNow();
    // Told once, when copies cannot be kept (the store's problem); not again in this session.
    void setOnProblem(std::function<void(const std::string&)> onProblem) {
        m_onProblem = std::move(onProblem);
    }
    // The text the user is told then.
    static std::string problemText(const std::string& why);
    // The one-second timer: writes the list if it changed since the last write.
    void tick();
    // The program ends normally: whatever the list holds was seen by the user, no copy stays.
    void closeNormally();
    // Whether a row of the list has a link that did not complete: what a restore would bring.
    bool listHasUnfinished() const;

    // The list's rows in the recovery file's text.
    std::string encodeList() const;

private:
    bool listHasLinks() const;
    // The row's transfer finished just before the crash: its temporary file is gone and a
    // file of its name (or a numbered one beside it) has the size the server announced.
    bool finishedBeforeCrash(const RecoveryRow& row);
    void checkProblem();
    // Hands the first resumable partial file of the restored rows to the cycle and removes
    // the others; files that do not pass the store's checks are left alone.
    void restorePartials(const std::vector<RecoveryRow>& rows);
    void removePartials(const std::vector<RecoveryRow>& rows);

    DownloadList& m_list;
    RecoveryStore& m_store;
    Timer& m_timer;
    bool m_keeping = false; // after the start-up question, until the normal end
    bool m_dirty = false;
    bool m_stored = false;              // whether a copy may exist in the store
    mutable std::size_t m_lastSize = 0; // of the last encoded text
    PartialSource m_partialSource;
    PartialSink m_partialSink;
    std::function<std::string()> m_folder;
    std::function<void(const std::string&)> m_useFolder;
    std::function<std::string()> m_defaultFolder;
    PlacementSource m_placementSource;
    PlacementSink m_placementSink;
    std::function<void(std::uint64_t)> m_hold;
    std::vector<KeptPartial> m_partials; // as last read from the source
    std::function<void(const std::string&)> m_onProblem;
    bool m_problemTold = false;
};

} // namespace torvaline
