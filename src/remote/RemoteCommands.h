#pragma once

#include "platform/RequestOptions.h"
#include "platform/Result.h"

#include <cstdint>
#include <string>
#include <vector>

namespace torvaline {

// What a remote front end may do to the list. The RPC asks through this and learns the outcome
// from the row events, so the same server runs over the real core and over a scripted one.
// Every call comes on the GUI thread. A refused command fails with why: NotFound for a row no id
// names, NameRefused for a folder or name that cannot be used, DiskFull for a folder that cannot
// be made for lack of room, Other for the rest.
class RemoteCommands {
public:
    struct NewRow {
        std::string link;
        std::string dir; // empty: the list's folder
        std::string out; // a plain file name, or empty: the name the hoster gives
        bool paused = false;
        // What the row's requests carry besides (checked); scoped by the cycle.
        RequestOptions request;
    };

    virtual ~RemoteCommands() = default;

    // Appends the rows after the last one, in order, and returns their ids (the rowsAdded events
    // have been told by the time it returns). Nothing is added when it refuses.
    virtual Result<std::vector<std::uint64_t>> add(const std::vector<NewRow>& rows) = 0;
    // Takes the row off the list; the current row is stopped first, its partial file removed.
    virtual Result<void> remove(std::uint64_t id) = 0;
    virtual Result<void> pause(std::uint64_t id) = 0;
    virtual Result<void> unpause(std::uint64_t id) = 0;
    // Moves the row to list index `toRow` (1 is the first download row).
    virtual Result<void> move(std::uint64_t id, int toRow) = 0;
    virtual std::string folder() const = 0;
    virtual Result<void> setFolder(const std::string& dir) = 0;
    // Bytes a second for all transfers together; 0 is no limit.
    virtual Result<void> setRateLimit(std::int64_t bytesPerSecond) = 0;
    // Rows worked on at once, and a new number of them.
    virtual int maxDownloads() const { return 1; }
    // The code of the captcha the row waits for.
    virtual Result<void> solveCaptcha(std::uint64_t id, const std::string& code) {
        static_cast<void>(id);
        static_cast<void>(code);
        return fail(FailureCause::Other, "no captcha is asked for here");
    }
    virtual Result<void> setMaxDownloads(int lanes) {
        if (lanes == 1)
            return {};
        return fail(FailureCause::Other, "this run works one row at a time");
    }
    // Writes the list where a crash would leave it, at once.
    virtual Result<void> saveSession() = 0;
    // Ends the program once the current answer has gone out.
    virtual void shutdown() = 0;

    // The package (split set or archive) a row belongs to and where it stands: "waiting for
    // its parts", "extracting 40 %", "extracted into DIR", "Extract: wrong password", ...
    struct Package {
        std::string name; // empty: the row belongs to none
        std::string state;
    };
    virtual Package package(std::uint64_t id) const {
        static_cast<void>(id);
        return {};
    }
};

} // namespace torvaline
