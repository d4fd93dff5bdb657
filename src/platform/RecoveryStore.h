#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace torvaline {

// Where the list is kept while the program runs, so that a crash or a power loss does not
// take the user's links with it. The store holds bytes; what they mean is the core's business.
class RecoveryStore {
public:
    // The largest copy the store reads back: anything bigger is not a list this program wrote.
    static constexpr std::uint64_t MaxBytes = std::uint64_t{256} << 20;

    struct Loaded {
        enum class Kind { Nothing, Bytes, Unreadable };
        Kind kind = Kind::Nothing;
        std::string bytes;   // Kind::Bytes
        std::string problem; // Kind::Unreadable: readable, for the user
    };

    virtual ~RecoveryStore() = default;

    // What an earlier session left behind (it did not end normally), or Nothing.
    virtual Loaded load() = 0;
    // Replaces the kept copy. May return before the copy is safe; a newer call supersedes a
    // copy not yet written. A crash at any moment leaves the previous or the new copy whole.
    virtual void save(std::string bytes) = 0;
    // Removes the kept copy; no earlier save lands after it.
    virtual void remove() = 0;
    // Moves a copy that could not be understood out of the way, so that it is not offered
    // again but is not lost either. Returns where it went (empty if it could not be moved).
    virtual std::string keepAside() = 0;

    // A recovery file may name the temporary file of a transfer a crash cut. The file says
    // so, but the file may be stale or not ours at all: before anything continues or removes
    // the file under `path`, it must still look like one this program left there (a regular
    // file, not a link, with no other name, owned by us, of the transfers' temporary naming).
    // Its size when it does; nothing otherwise.
    virtual std::optional<std::uint64_t> partialSize(const std::string& path) = 0;
    // Removes the file under `path` only when it passes the same checks.
    virtual void removePartial(const std::string& path) = 0;

    // Why copies are not being kept right now (no slot of its own, the last write failed),
    // readable, for the user; empty while they are.
    virtual std::string problem() const { return {}; }
    // The size of the regular file (not a link) under `path`; nothing when there is none. A
    // row whose transfer's temporary file is gone and whose file is there whole was finished
    // just before a crash.
    virtual std::optional<std::uint64_t> fileSize(const std::string& path) {
        (void)path;
        return std::nullopt;
    }
};

} // namespace torvaline
