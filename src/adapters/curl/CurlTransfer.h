#pragma once

#include "adapters/curl/DownloadTarget.h"
#include "adapters/curl/SpeedLimit.h"
#include "platform/TransferFacility.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace torvaline {

class CurlShare;

struct CurlTransferOptions {
    // A transfer that brings less than lowSpeedLimit x lowSpeedTime bytes in any window of
    // lowSpeedTime seconds (counted one window after the other) is dead: it ends as stalled
    // instead of hanging for ever. The default is less than 1 KiB in a minute. A burst now
    // and then does not keep it alive.
    long lowSpeedLimit = 17;
    long lowSpeedTime = 60;
    long connectTimeout = 30;
    long maxRedirects = 10;
    // libcurl's 16 KiB default loses to the curl tool on a fast link.
    long bufferSize = 512 * 1024;
    // The least time between two progress notifications while data flows: the window cannot
    // show figures faster, and each one costs the receiving thread a clock read and a call.
    std::chrono::milliseconds progressInterval{100};
    // Body bytes are gathered into writes of at least this size: libcurl hands them over in
    // pieces of 16 KiB, and one system call per piece costs a fast disk a fifth of its speed.
    std::size_t writeSize = 512 * 1024;
    // Disk space is claimed this far ahead of the bytes that arrived (in one extent, and a
    // full disk fails early), never the whole announced length at once: a hostile length
    // would fill the disk before a byte came.
    std::uint64_t reserveAhead = 16ull << 20;
    // A body of unknown length (no Content-Length, a stream that never ends) has no size to
    // check the disk against: it is stopped while the file system still has the larger of
    // this and freeFloorPercent of its size free, so that the system is not left without room.
    std::uint64_t freeFloor = 64ull << 20;
    std::uint64_t freeFloorPercent = 1;
    // How the space of the data file's file system is read (its descriptor given); the file
    // system's own figures when empty.
    std::function<DiskSpace(int fd)> diskSpace;
    std::string userAgent = "Torvaline/1.2.2";
};

// One blocking http(s) download into a temporary file of its own in the target's folder, given
// the target's name (or the first free "name (N).ext" when a file has it) only when it arrived
// whole. A failed or cancelled transfer removes its temporary file and leaves every other file
// as it was. An HTML page where the file should be is the hoster's error page, not the file.
// Cookies come from (and go to) the jar shared with the page browser.
class CurlTransfer final : public TransferFacility {
public:
    explicit CurlTransfer(std::shared_ptr<CurlShare> share, CurlTransferOptions options = {});

    using TransferFacility::transfer;
    TransferResult transfer(const std::string& url, const std::string& targetPath,
                            const PartialFile& resume, TransferCallback& callback) override;
    TransferResult transferPost(const std::string& url, const std::string& postData,
                                const std::string& targetPath, const PartialFile& resume,
                                TransferCallback& callback) override;
    TransferResult transferWith(const RequestOptions& options, const std::string& url,
                                const std::string& postData, const std::string& targetPath,
                                const PartialFile& resume, TransferCallback& callback) override;
    void discardPartial(const PartialFile& partial) override;
    void setSpeedLimit(std::uint64_t bytesPerSecond) override { m_limit.set(bytesPerSecond); }
    std::uint64_t speedLimit() const override { return m_limit.get(); }

    // Bytes of a kept file asked for again when it is continued: the answer must repeat them
    // exactly, or it is another file (whatever its validator claims) and the kept file is not
    // continued.
    static constexpr std::size_t OverlapBytes = 4096;

private:
    TransferResult perform(const std::string& url, const std::string* postData,
                           const std::string& targetPath, const PartialFile& resume,
                           TransferCallback& callback, const RequestOptions* request);
    std::shared_ptr<CurlShare> m_share;
    CurlTransferOptions m_options;
    SpeedLimit m_limit;
};

} // namespace torvaline
