#pragma once

#include "platform/FailureCause.h"
#include "platform/RequestOptions.h"
#include "platform/TransferFacility.h"

#include <cstdint>
#include <memory>
#include <string>

namespace torvaline {

// Where a row stands, as the cycle knows it. Front ends that are not the window (the headless
// report, the remote control) render these instead of reading the status bar back.
enum class RowPhase {
    Waiting,      // not started yet, or back in the queue
    Opening,      // its page is being fetched or read
    HosterWait,   // the hoster asked to wait ("try again in", overloaded, limit)
    Countdown,    // the countdown before the transfer
    Transferring, // bytes are coming
    Paused,       // held by the user; a partial file may be kept
    Captcha,      // its page shows a picture a person must read (`captcha`: its address)
    SetAside,     // a transfer of its own failed; retried when due
    Completed,
    Failed,
    Stopped
};

// Where one row's file goes when it is not the folder's and the hoster's name: a folder
// (created if missing) and a plain file name, either may be empty.
struct RowPlacement {
    std::string folder;
    std::string fileName;
    bool empty() const { return folder.empty() && fileName.empty(); }
    bool operator==(const RowPlacement&) const = default;
};

// What the cycle keeps of a row between its attempts. Only the cycle writes it (the row events
// never do); it goes with the row when rows move, and a file in it is let go when the row
// leaves the list (DownloadList::setOnRecordGone).
struct RowAttempts {
    // Transfers of the row that failed for a passing reason so far (0..3); its retry count.
    std::int32_t failed = 0;
    // Why the last of them failed, in the words the status bar shows.
    std::string reason;
    // What the last attempt kept of the file, for the next one to continue, and the row link
    // it belongs to: a file is only ever continued for the same link.
    PartialFile partial;
    std::string link;
    // The file was cut by the last session's crash and named by its recovery file: it is
    // continued only in the folder the transfer saves to, and removed only from the download
    // folder.
    bool restored = false;
    // Set aside for its retry: the wait's start (time of day) and length, in fractions of a day.
    bool aside = false;
    double since = 0;
    double span = 0;
    bool empty() const { return failed == 0 && partial.empty() && !aside && reason.empty(); }
};

// A value kept apart, made when it is first written: a record that never needs it costs one
// pointer. Copies copy the value; an unset one reads as a default value.
template <typename T> class Lazy {
public:
    Lazy() = default;
    Lazy(const Lazy& other)
        : m_value(other.m_value ? std::make_unique<T>(*other.m_value) : nullptr) {}
    Lazy& operator=(const Lazy& other) {
        if (this != &other)
            m_value = other.m_value ? std::make_unique<T>(*other.m_value) : nullptr;
        return *this;
    }
    Lazy(Lazy&&) noexcept = default;
    Lazy& operator=(Lazy&&) noexcept = default;
    ~Lazy() = default;

    const T& get() const {
        static const T none{};
        return m_value ? *m_value : none;
    }
    T& edit() {
        if (!m_value)
            m_value = std::make_unique<T>();
        return *m_value;
    }
    void reset() { m_value.reset(); }
    bool has() const { return m_value != nullptr; }

private:
    std::unique_ptr<T> m_value;
};

// What a row's events said of it in words: kept apart in its record, since most rows (waiting,
// held, done) have none, and a long list should not carry room for them in every row.
struct RowDetails {
    // SetAside: the retry's time of day, "HH:MM:SS".
    std::string retryAt;
    // Failed, SetAside: why, in the words the row's tool tip shows.
    std::string reason;
    // The file's name and full path once the countdown page or the answer named it.
    std::string fileName;
    std::string filePath;
    // Captcha: the picture's address, absolute.
    std::string captcha;
};

// Everything the program knows of one row beyond its nine cells, kept once, in the list, with
// the row: the cycle and the commands write it, every front end reads it. The list makes it
// when a row first has something to keep; a row that only waits has none.
struct RowRecord {
    RowPhase phase = RowPhase::Waiting;
    // Held by the user before its turn: the cycle passes over it until it is let go.
    bool held = false;
    // SetAside: the retry the row waits for (1..3); its time of day is in the details.
    std::int16_t retry = 0;
    FailureCause cause = FailureCause::Other;
    // Bytes: received, the whole file (0 while unknown), and the last second's speed.
    std::int64_t done = 0;
    std::int64_t total = 0;
    std::int64_t speed = 0;
    // When the current wait, countdown or retry wait ends, in seconds since the epoch; 0 none.
    std::int64_t waitUntil = 0;
    Lazy<RowDetails> details;
    // What the commands gave this row: its own folder and name, and what it sends with its
    // requests (kept for the session only, never in a file: a cookie does not belong there).
    // Kept apart, as few rows have them.
    Lazy<RowPlacement> placement;
    Lazy<RequestOptions> request;
    Lazy<RowAttempts> attempts; // few rows ever fail: kept apart
};

} // namespace torvaline
