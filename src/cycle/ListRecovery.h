#pragma once

#include "cycle/RecoveryFormat.h"

#include <cstddef>
#include <string>
#include <vector>

namespace torvaline {

class Dialogs;
class DownloadList;
class RecoveryStore;
class Timer;

// Keeps the list's rows (link, host, status) in the recovery store while the program runs,
// and offers them back when the last session did not end normally. Writes come at most once
// a second, from the one-second timer, and only after a change of those cells or of the rows.
class ListRecovery final {
public:
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

    // A link, host or status cell, or the rows, changed.
    void listChanged();
    // The one-second timer: writes the list if it changed since the last write.
    void tick();
    // The program ends normally: whatever the list holds was seen by the user, no copy stays.
    void closeNormally();

    // The list's rows in the recovery file's text.
    std::string encodeList() const;

private:
    bool listHasLinks() const;

    DownloadList& m_list;
    RecoveryStore& m_store;
    Timer& m_timer;
    bool m_keeping = false; // after the start-up question, until the normal end
    bool m_dirty = false;
    bool m_stored = false;              // whether a copy may exist in the store
    mutable std::size_t m_lastSize = 0; // of the last encoded text
};

} // namespace torvaline
