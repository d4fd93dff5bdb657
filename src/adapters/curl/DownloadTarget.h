#pragma once

#include "platform/Result.h"
#include "platform/TransferFacility.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace torvaline {

// What a file system has room for, as its statvfs tells it.
struct DiskSpace {
    std::uint64_t free = 0; // bytes free for us
    std::uint64_t size = 0; // the file system's size; 0 when unknown
};

// The file side of one transfer. The data goes into a temporary file created exclusively in
// the download folder under a name nobody else holds; only a finished file is moved to its
// name, and never over an existing one. Nothing here truncates, renames or removes a file
// this transfer did not create, and nothing opened here can block. A failure's reason is the
// transfer's text for it; its cause is DiskFull where the disk has no room or quota left, and
// NameRefused for a target that is no file's name or is held by something other than a file.
class DownloadTarget final {
public:
    DownloadTarget() = default;
    // As discard().
    ~DownloadTarget();
    DownloadTarget(const DownloadTarget&) = delete;
    DownloadTarget& operator=(const DownloadTarget&) = delete;

    // Opens the folder, checks the target, chooses the name to save under (the target's, or
    // the first free "name (N).ext" when a file has it) and creates the temporary file.
    // A failure when the transfer cannot go on. A kept partial file of ours in the same
    // folder becomes the data file instead (see adopted()); one that cannot be continued is
    // removed.
    Result<void> prepare(const std::string& targetPath, const PartialFile& resume = {});
    // Bytes of the partial file taken over, the data file's end; 0 when it is a new file.
    std::uint64_t adopted() const { return m_adopted; }

    int fd() const { return m_fd; }
    // Where the finished file goes (while none has taken the name meanwhile).
    std::string savingPath() const;
    const std::string& temporaryPath() const { return m_tempPath; }
    // The data file's file system; the most there is when unknown.
    DiskSpace space() const;
    // The space of the file system of the open file `fd`.
    static DiskSpace spaceOf(int fd);
    // Drops what the temporary file holds, so that the file starts over.
    Result<void> restart();

    // Closes the data file and gives it its name, or the next free one if a file took that
    // name meanwhile. A failure when that fails (the temporary file goes).
    Result<void> commit();
    // Closes the data file. A failure when the close reports a lost write.
    Result<void> close();
    // Closes and removes the temporary file unless it was committed or kept; lets go of the
    // folder.
    void discard();
    // Keeps the first `size` bytes of the data file for a later attempt; empty when that
    // fails (the file then goes as usual).
    PartialFile keep(std::uint64_t size);

    // Removes a kept partial file if it still is one: a regular file of our temporary naming
    // with no other link to it. A link or anything else under that path is left alone.
    static void discardPartial(const PartialFile& partial);

    // "name (n).ext": the extension kept, the stem shortened to stay a valid name.
    static std::string numberedName(const std::string& name, int n);

private:
    Result<void> chooseName(int from);
    bool adopt(const PartialFile& resume);
    bool stillOurs() const;

    std::string m_folder;
    std::string m_name; // as asked for
    std::string m_chosen;
    int m_number = 0;
    int m_dirFd = -1;
    int m_fd = -1;
    std::string m_tempName;
    std::string m_tempPath;
    dev_t m_dev = 0;
    ino_t m_ino = 0;
    bool m_sink = false;
    bool m_committed = false;
    bool m_kept = false;
    std::uint64_t m_adopted = 0;
};

} // namespace torvaline
