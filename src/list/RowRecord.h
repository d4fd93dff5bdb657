#pragma once

#include "platform/FailureCause.h"
#include "platform/RequestOptions.h"

#include <cstdint>
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

// Everything the program knows of one row beyond its nine cells, kept once, in the list, with
// the row: the cycle and the commands write it, every front end reads it. The list makes it
// when a row first has something to keep; a row that only waits has none.
struct RowRecord {
    RowPhase phase = RowPhase::Waiting;
    // Held by the user before its turn: the cycle passes over it until it is let go.
    bool held = false;
    // SetAside: the retry the row waits for (1..3) and its time of day, "HH:MM:SS".
    std::int16_t retry = 0;
    std::string retryAt;
    // Bytes: received, the whole file (0 while unknown), and the last second's speed.
    std::int64_t done = 0;
    std::int64_t total = 0;
    std::int64_t speed = 0;
    // When the current wait, countdown or retry wait ends, in seconds since the epoch; 0 none.
    std::int64_t waitUntil = 0;
    // Failed, SetAside: why, in the words the row's tool tip shows.
    std::string reason;
    FailureCause cause = FailureCause::Other;
    // The file's name and full path once the countdown page or the answer named it.
    std::string fileName;
    std::string filePath;
    // Captcha: the picture's address, absolute.
    std::string captcha;
    // What the commands gave this row: its own folder and name, and what it sends with its
    // requests (kept for the session only, never in a file: a cookie does not belong there).
    RowPlacement placement;
    RequestOptions request;
};

} // namespace torvaline
