#pragma once

#include "list/RowRecord.h"
#include "list/RowRef.h"
#include "platform/FailureCause.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace torvaline {

// One change of a row's phase. Fields that do not apply to a phase stay at their defaults.
struct RowPhaseEvent {
    // Stable for the row's whole life, whatever moves or deletes happen around it.
    std::uint64_t id = 0;
    RowPhase phase = RowPhase::Waiting;
    // The phase the row had before, as its record held it (set by the hub that tells it).
    RowPhase before = RowPhase::Waiting;
    std::string link;
    // The file's name and full path once the countdown page or the answer named it.
    std::string fileName;
    std::string filePath;
    // HosterWait, Countdown, SetAside: seconds until the wait ends, counted from the event.
    std::int64_t secondsLeft = 0;
    // SetAside: the retry this row waits for (1..3) and its time of day, "HH:MM:SS".
    int retry = 0;
    std::string retryAt;
    // Failed (and SetAside): why, in the words the row's tool tip shows.
    std::string reason;
    FailureCause cause = FailureCause::Other;
    // Captcha: the picture's address, absolute.
    std::string captcha;
    // Completed: what the row's pages said of the file as an archive part, empty when they
    // said nothing: the password to extract it with, and its MD5 (32 digits) or SHA-1 (40)
    // in lower-case hexadecimal.
    std::string pagePassword;
    std::string pageChecksum;
    // Completed: the bytes the saved file holds; -1 when the transfer did not say.
    std::int64_t size = -1;
};

// A transferring row's figures, sent about once a second while bytes come.
struct RowProgressEvent {
    std::uint64_t id = 0;
    std::int64_t done = 0;
    std::int64_t total = 0; // 0 when the server did not say
    std::int64_t bytesPerSecond = 0;
};

// The core's one vocabulary of row events. Every call comes on the GUI thread, after the
// change it tells of; an observer must not change the list from inside a call.
class RowEvents {
public:
    virtual ~RowEvents() = default;
    // Rows came at index `first` on, in this order (an import, Add URLs, a grown list): one
    // call however many, so that a hundred thousand rows cost each front end one pass.
    virtual void rowsAdded(int first, std::span<const RowRef> rows) = 0;
    // The rows that stood at index `first` on, in this order, are gone; their links are told
    // for those who remember rows past them.
    virtual void rowsRemoved(int first, std::span<const RowRef> rows) = 0;
    // The row at `from` now stands at `to`; the rows between moved one place towards `from`.
    virtual void rowMoved(std::uint64_t id, int from, int to) = 0;
    virtual void rowPhase(const RowPhaseEvent& event) = 0;
    virtual void rowProgress(const RowProgressEvent& event) = 0;
    // The cycle reached the end of the list with nothing left to do (set-aside rows included).
    virtual void listDone(int completed, int failed, int stopped) = 0;
    // The host, link or status text of the rows at first..last changed, whoever wrote it (a
    // phase is told besides). What keeps the texts themselves needs it; the others do not.
    virtual void rowTextsChanged(int first, int last) {
        static_cast<void>(first);
        static_cast<void>(last);
    }
};

} // namespace torvaline
