#include "adapters/curl/CurlTransfer.h"

#include "adapters/curl/CurlShare.h"

#include <curl/curl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace torvaline {
namespace {

using SteadyClock = std::chrono::steady_clock;

// What one transfer keeps while libcurl calls back into it.
struct Job {
    Job(TransferCallback& cb, CURL* h, std::chrono::milliseconds interval)
        : callback(cb)
        , easy(h)
        , progressInterval(interval) {}

    TransferCallback& callback;
    CURL* easy;
    std::chrono::milliseconds progressInterval;
    int fd = -1;
    std::uint64_t received = 0;
    std::uint64_t expected = 0;
    int writeErrno = 0;
    bool aborted = false;
    SteadyClock::time_point lastNotice = SteadyClock::now();

    bool notify() {
        lastNotice = SteadyClock::now();
        if (!callback.onProgress(received, expected))
            aborted = true;
        return !aborted;
    }
};

std::string errnoText(int error) {
    char buffer[256];
    // The GNU variant may return a static string instead of filling the buffer.
    return strerror_r(error, buffer, sizeof buffer);
}

// The end of every response's headers: only the final answer's length counts, and with it
// known the disk space is claimed at once (one extent, and a full disk fails up front).
size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto& job = *static_cast<Job*>(user);
    const size_t length = size * count;
    if (length > 2 || (length > 0 && data[0] != '\r' && data[0] != '\n'))
        return length;
    long status = 0;
    curl_easy_getinfo(job.easy, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status >= 300)
        return length;
    curl_off_t announced = -1;
    curl_easy_getinfo(job.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    job.expected = announced > 0 ? static_cast<std::uint64_t>(announced) : 0;
    if (job.expected > 0) {
        const int rc = posix_fallocate(job.fd, 0, static_cast<off_t>(job.expected));
        if (rc == ENOSPC || rc == EFBIG || rc == EIO) {
            job.writeErrno = rc;
            return 0;
        }
    }
    return length;
}

size_t onData(char* data, size_t size, size_t count, void* user) {
    auto& job = *static_cast<Job*>(user);
    const size_t length = size * count;
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::write(job.fd, data + done, length - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            job.writeErrno = errno;
            return 0;
        }
        done += static_cast<size_t>(n);
    }
    job.received += length;
    return length;
}

// libcurl calls this after every read while data flows and about once a second when it
// does not; notifying at most every progressInterval keeps the GUI from pacing the transfer.
int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto& job = *static_cast<Job*>(user);
    if (SteadyClock::now() - job.lastNotice < job.progressInterval)
        return 0;
    return job.notify() ? 0 : 1;
}

std::string failureReason(CURLcode rc, const Job& job, const char* detail,
                          const std::string& partPath) {
    const std::string more = detail[0] ? std::string(" (") + detail + ")" : std::string();
    switch (rc) {
    case CURLE_HTTP_RETURNED_ERROR: {
        long status = 0;
        curl_easy_getinfo(job.easy, CURLINFO_RESPONSE_CODE, &status);
        return "the server answered with HTTP status " + std::to_string(status);
    }
    case CURLE_PARTIAL_FILE:
        return "the connection closed after " + std::to_string(job.received) + " of " +
               std::to_string(job.expected) + " bytes";
    case CURLE_OPERATION_TIMEDOUT:
        return "the transfer stalled" + more;
    case CURLE_WRITE_ERROR:
        if (job.writeErrno)
            return "cannot write " + partPath + ": " + errnoText(job.writeErrno);
        break;
    case CURLE_UNSUPPORTED_PROTOCOL:
        return "only http and https links are downloaded" + more;
    case CURLE_TOO_MANY_REDIRECTS:
        return "too many redirects" + more;
    case CURLE_URL_MALFORMAT:
        return "the link is not a valid address" + more;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
        return "could not connect to the server" + more;
    default:
        break;
    }
    return std::string(curl_easy_strerror(rc)) + more;
}

} // namespace

CurlTransfer::CurlTransfer(std::shared_ptr<CurlShare> share, CurlTransferOptions options)
    : m_share(std::move(share))
    , m_options(std::move(options)) {
    CurlShare::globalInit();
}

TransferResult CurlTransfer::transfer(const std::string& url, const std::string& targetPath,
                                      TransferCallback& callback) {
    callback.onStart();
    const std::string partPath = targetPath + ".part";
    TransferResult result{TransferOutcome::Failed, ""};

    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy(curl_easy_init(), &curl_easy_cleanup);
    Job job(callback, easy.get(), m_options.progressInterval);
    // A device or pipe (/dev/null) is written as it is: renaming a .part onto it would
    // replace the device node itself.
    struct stat existing {};
    const bool direct = ::stat(targetPath.c_str(), &existing) == 0 &&
                        (S_ISCHR(existing.st_mode) || S_ISFIFO(existing.st_mode));
    // O_NOFOLLOW: a link planted under the .part name must not redirect the write elsewhere.
    job.fd = direct ? ::open(targetPath.c_str(), O_WRONLY | O_CLOEXEC)
                    : ::open(partPath.c_str(),
                             O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (!easy) {
        result.reason = "libcurl could not start a transfer";
    } else if (job.fd < 0) {
        result.reason =
            "cannot create " + (direct ? targetPath : partPath) + ": " + errnoText(errno);
    } else if (!job.notify()) {
        result = {TransferOutcome::Cancelled, "cancelled"};
    } else {
        char detail[CURL_ERROR_SIZE] = {};
        CURL* h = easy.get();
        curl_easy_setopt(h, CURLOPT_URL, url.c_str());
        CurlShare::restrictToWeb(h, m_options.maxRedirects);
        curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L);
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(h, CURLOPT_TCP_KEEPALIVE, 1L);
        curl_easy_setopt(h, CURLOPT_BUFFERSIZE, m_options.bufferSize);
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, m_options.connectTimeout);
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, m_options.lowSpeedLimit);
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, m_options.lowSpeedTime);
        curl_easy_setopt(h, CURLOPT_USERAGENT, m_options.userAgent.c_str());
        curl_easy_setopt(h, CURLOPT_ERRORBUFFER, detail);
        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &onHeader);
        curl_easy_setopt(h, CURLOPT_HEADERDATA, &job);
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &onData);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, &job);
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &onProgress);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, &job);
        if (m_share)
            m_share->attach(h);

        const CURLcode rc = curl_easy_perform(h);
        if (job.aborted)
            result = {TransferOutcome::Cancelled, "cancelled"};
        else if (rc != CURLE_OK)
            result.reason = failureReason(rc, job, detail, partPath);
        else if (job.expected > 0 && job.received != job.expected)
            result.reason = "the body had " + std::to_string(job.received) + " of " +
                            std::to_string(job.expected) + " bytes";
        else
            result.outcome = TransferOutcome::Succeeded;

        // The final counts. A stop answered here still keeps the old file: the user asked.
        const bool goOn = job.notify();
        if (result.outcome == TransferOutcome::Succeeded && !goOn)
            result = {TransferOutcome::Cancelled, "cancelled"};
    }

    if (job.fd >= 0) {
        // A close error is a lost write on some file systems: the data is not safely there.
        if (::close(job.fd) != 0 && result.outcome == TransferOutcome::Succeeded)
            result = {TransferOutcome::Failed,
                      "cannot write " + partPath + ": " + errnoText(errno)};
        if (direct) {
            // Nothing to rename or remove.
        } else if (result.outcome == TransferOutcome::Succeeded &&
                   std::rename(partPath.c_str(), targetPath.c_str()) != 0)
            result = {TransferOutcome::Failed,
                      "cannot rename " + partPath + " to " + targetPath + ": " + errnoText(errno)};
        if (!direct && result.outcome != TransferOutcome::Succeeded)
            ::unlink(partPath.c_str());
    }
    callback.onStop(result);
    return result;
}

} // namespace torvaline
