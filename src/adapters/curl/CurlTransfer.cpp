#include "adapters/curl/CurlTransfer.h"

#include "adapters/curl/CurlShare.h"
#include "adapters/curl/DownloadTarget.h"
#include "adapters/curl/ErrorPage.h"
#include "adapters/curl/RowRequest.h"
#include "adapters/curl/TransferAnswer.h"
#include "adapters/curl/TransferMessages.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <unistd.h>

namespace torvaline {
namespace {

using SteadyClock = std::chrono::steady_clock;

// What one transfer keeps while libcurl calls back into it.
struct Job {
    Job(TransferCallback& cb, CURL* h, const CurlTransferOptions& o, DownloadTarget& t,
        std::string name, const PartialFile& r, const SpeedLimit& limit)
        : callback(cb)
        , easy(h)
        , options(o)
        , target(t)
        , fileName(std::move(name))
        , resume(r)
        , pacer(limit) {}

    TransferCallback& callback;
    CURL* easy;
    const CurlTransferOptions& options;
    DownloadTarget& target;
    std::string fileName;
    const PartialFile& resume;
    // Bytes of a kept file we asked the server to continue; 0 when we asked for all of it.
    std::uint64_t offered = 0;
    // The kept file's last bytes, asked for again: the answer must start with them.
    std::string overlap;
    std::size_t overlapSeen = 0;
    // Bytes the file held before this answer's body: the continued part.
    std::uint64_t base = 0;
    // The answer did not continue the kept file: ask again for the whole file.
    bool startOver = false;
    std::string validator;

    TransferAnswer answer;
    std::uint64_t received = 0; // body bytes that arrived
    std::uint64_t written = 0;  // bytes in the file
    std::uint64_t expected = 0;
    std::uint64_t reservedTo = 0;
    int writeErrno = 0;
    bool aborted = false;
    // Set when we ended the answer ourselves, with why.
    bool refused = false;
    TransferResult refusal;
    // The body's start is held back until it shows whether it is a web page.
    bool sniffing = true;
    // The body coming is a redirect's, which we follow ourselves: nothing of the file.
    bool redirectBody = false;
    std::string head;
    bool webPage = false;
    std::string page;
    // Body bytes not yet written to the file.
    std::string gathered;
    SteadyClock::time_point lastNotice = SteadyClock::now();
    // The stall rule's window: body bytes since it began.
    SteadyClock::time_point windowStart = SteadyClock::now();
    std::uint64_t windowBytes = 0;
    SpeedPacer pacer;

    // Back to a request for the whole file, into an empty file.
    void reset() {
        answer = {};
        offered = base = received = written = expected = reservedTo = 0;
        startOver = refused = webPage = false;
        sniffing = true;
        head.clear();
        page.clear();
        gathered.clear();
        overlap.clear();
        overlapSeen = 0;
        windowStart = SteadyClock::now();
        windowBytes = 0;
    }

    // A burst now and then must not keep a dead transfer alive: the bytes of each window
    // are counted, and a window that brought too few ends the transfer.
    bool stalled() {
        const auto now = SteadyClock::now();
        if (now - windowStart < std::chrono::seconds(options.lowSpeedTime))
            return false;
        const auto least = static_cast<std::uint64_t>(options.lowSpeedLimit * options.lowSpeedTime);
        if (windowBytes < least) {
            refuse(TransferMessage::stalled(TransferMessage::tooFewBytes(
                       windowBytes, static_cast<int>(options.lowSpeedTime))),
                   true);
            refusal.cause = FailureCause::TimeOut;
            return true;
        }
        windowStart = now;
        windowBytes = 0;
        return false;
    }

    bool notify() {
        lastNotice = SteadyClock::now();
        if (!callback.onProgress(base + received, expected))
            aborted = true;
        return !aborted;
    }

    bool refuse(std::string reason, bool transient = false) {
        refused = true;
        refusal = {TransferOutcome::Failed, std::move(reason)};
        refusal.transient = transient;
        return false;
    }

    // The final answer's headers are in: decides whether its body is worth reading.
    bool accept(long status) {
        if (status == 416 && offered > 0) {
            // The kept part reaches past the file as it is now: it changed.
            startOver = true;
            return false;
        }
        if (status >= 400) {
            refuse(TransferMessage::httpStatus(status), TransferAnswer::isTransientStatus(status));
            refusal.cause = status == 404 || status == 410 ? FailureCause::NotFound
                            : status == 401 || status == 403 || status == 407
                                ? FailureCause::Authorisation
                            : status == 408 ? FailureCause::TimeOut
                                            : FailureCause::BadHttpAnswer;
            refusal.retryAfter = answer.retryAfterSeconds();
            return false;
        }
        if (status < 200 || status >= 300 || (status == 206 && offered == 0)) {
            refuse(TransferMessage::httpStatus(status));
            refusal.cause = FailureCause::BadHttpAnswer;
            return false;
        }
        if (status == 206) {
            if (!continuesKeptFile()) {
                // Another version of the file, or another piece of it: never spliced.
                startOver = true;
                return false;
            }
            base = written = reservedTo = offered;
            expected = resume.total;
            validator = resume.validator;
            sniffing = false; // the body does not start the document
        } else {
            overlap.clear();
            if (offered > 0) {
                if (const Result<void> restarted = target.restart(); !restarted)
                    return refuse(restarted.reason());
            }
            offered = 0;
            curl_off_t announced = -1;
            curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
            expected = announced > 0 ? static_cast<std::uint64_t>(announced) : 0;
            validator = answer.validator();
        }
        // After the range's own checks: a range the server could not serve (it shrank) may
        // come with any length, and is asked for again whole rather than refused.
        std::uint64_t length = 0;
        if (answer.length(length) == TransferAnswer::Length::Unreadable) {
            refuse(answer.contentLengthsDiffer ? TransferMessage::lengthsDisagree()
                                               : TransferMessage::lengthUnreadable());
            refusal.cause = FailureCause::BadHttpAnswer;
            return false;
        }
        if (ErrorPage::isHtmlType(answer.contentType) && !ErrorPage::isHtmlName(fileName) &&
            status != 206) {
            webPage = true;
            sniffing = false;
            return true;
        }
        if (!target.temporaryPath().empty())
            callback.onPartial(PartialFile{target.temporaryPath(), 0, expected, validator});
        const std::uint64_t free = space().free;
        if (expected - base > free) {
            refuse(TransferMessage::notEnoughSpace(TransferAnswer::sizeText(expected - base),
                                                   TransferAnswer::sizeText(free)));
            refusal.cause = FailureCause::DiskFull;
            return false;
        }
        return reserve(written);
    }

    bool continuesKeptFile() const {
        std::uint64_t first = 0, last = 0, total = 0;
        if (!answer.contentRangeOf(first, last, total))
            return false;
        if (first + overlap.size() != offered || total != resume.total || last + 1 != total)
            return false;
        // Without a validator the server cannot tell us that the file is the same.
        return TransferAnswer::isStrongValidator(resume.validator) &&
               (answer.etag == resume.validator || answer.lastModified == resume.validator);
    }

    // The body of a continuing answer first repeats the kept file's last bytes; false (and a
    // start over) when it does not. Consumes what it compared.
    bool checkOverlap(const char*& data, std::size_t& length) {
        const std::size_t n = std::min(length, overlap.size() - overlapSeen);
        if (std::memcmp(data, overlap.data() + overlapSeen, n) != 0) {
            startOver = true;
            return false;
        }
        overlapSeen += n;
        data += n;
        length -= n;
        if (overlapSeen == overlap.size()) {
            overlap.clear();
            callback.onResumed(base);
        }
        return true;
    }

    DiskSpace space() const {
        if (target.fd() < 0 || target.temporaryPath().empty())
            return target.space();
        return options.diskSpace ? options.diskSpace(target.fd()) : target.space();
    }

    // Whether `length` more bytes of a body of unknown length leave the file system its floor
    // of free space; the answer is ended when they do not.
    bool roomFor(std::uint64_t length) {
        if (expected != 0 || target.temporaryPath().empty())
            return true;
        const DiskSpace disk = space();
        const std::uint64_t floor =
            std::max(options.freeFloor, disk.size / 100 * options.freeFloorPercent);
        if (disk.free >= floor && disk.free - floor >= length)
            return true;
        return refuse(TransferMessage::moreSpaceThanFree(TransferAnswer::sizeText(written),
                                                         TransferAnswer::sizeText(disk.free)));
    }

    // Claims the space for the bytes up to `position` and a window beyond.
    bool reserve(std::uint64_t position) {
        if (expected == 0 || target.temporaryPath().empty() ||
            position + options.reserveAhead / 2 <= reservedTo)
            return true;
        const std::uint64_t upTo = std::min(expected, position + options.reserveAhead);
        if (upTo <= reservedTo)
            return true;
        // The file's size stays the bytes written: after a crash it is all that tells how
        // much of the file arrived, and a size grown by the reservation would splice zeros
        // into the file when it is continued.
        const int rc = ::fallocate(target.fd(), FALLOC_FL_KEEP_SIZE, static_cast<off_t>(reservedTo),
                                   static_cast<off_t>(upTo - reservedTo)) == 0
                           ? 0
                           : errno;
        reservedTo = upTo; // a file system without the call is not asked again
        if (rc == ENOSPC || rc == EFBIG || rc == EIO || rc == EDQUOT) {
            writeErrno = rc;
            return false;
        }
        return true;
    }

    // Takes body bytes. libcurl hands them over 16 KiB at a time whatever its buffer; they are
    // gathered here into writes of at least options.writeSize, which the disk takes far faster.
    bool write(const char* data, std::size_t length) {
        if (gathered.empty() && length >= options.writeSize)
            return writeOut(data, length);
        if (gathered.capacity() == 0)
            gathered.reserve(options.writeSize + CURL_MAX_WRITE_SIZE);
        gathered.append(data, length);
        return gathered.size() < options.writeSize || flush();
    }

    // Writes what is gathered. Needed before anything looks at the file or at `written`.
    bool flush() {
        const bool ok = gathered.empty() || writeOut(gathered.data(), gathered.size());
        gathered.clear();
        return ok;
    }

    // `written` counts what the file really took, also when a write fails half-way: a kept
    // partial file is cut to it.
    bool writeOut(const char* data, std::size_t length) {
        if (!reserve(written + length) || !roomFor(length))
            return false;
        std::size_t done = 0;
        while (done < length) {
            const ssize_t n = ::write(target.fd(), data + done, length - done);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                writeErrno = errno == EAGAIN ? EIO : errno;
                return false;
            }
            done += static_cast<std::size_t>(n);
            written += static_cast<std::size_t>(n);
        }
        return true;
    }

    void keepPage(const char* data, std::size_t length) {
        page.append(data, std::min(length, ErrorPage::KeptBytes -
                                               std::min(ErrorPage::KeptBytes, page.size())));
    }

    // Whether enough of the body is in to tell a web page from the file. The bytes are
    // looked at as they read decoded: a page compressed though nobody asked is still a page.
    bool canDecide() const {
        if (head.size() >= ErrorPage::KeptBytes)
            return true;
        return head.size() >= ErrorPage::SniffBytes &&
               ErrorPage::sniff(ErrorPage::decoded(head, answer.contentEncoding)) !=
                   ErrorPage::Verdict::Undecided;
    }

    // Enough of the body (or all of it) is in to tell a web page from the file. What is still
    // undecided then opens like markup and nothing else: a hoster's page, not a file.
    bool decide() {
        sniffing = false;
        const auto verdict = ErrorPage::sniff(ErrorPage::decoded(head, answer.contentEncoding));
        if (verdict != ErrorPage::Verdict::NotPage && !head.empty() &&
            !ErrorPage::isHtmlName(fileName)) {
            webPage = true;
            keepPage(head.data(), head.size());
            return true;
        }
        const bool ok = write(head.data(), head.size());
        head.clear();
        head.shrink_to_fit();
        return ok;
    }
};

size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto& job = *static_cast<Job*>(user);
    const size_t length = size * count;
    std::string_view line(data, length);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    if (line.starts_with("HTTP/")) {
        job.answer = {};
        job.redirectBody = false;
        return length;
    }
    if (!line.empty()) {
        job.answer.takeHeader(line);
        return length;
    }
    // The end of one answer's headers.
    long status = 0;
    curl_easy_getinfo(job.easy, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || (status >= 300 && status < 400 && job.answer.location)) {
        // An interim answer, or a redirect that libcurl or followRedirects follows.
        job.redirectBody = status >= 300;
        return length;
    }
    return job.accept(status) ? length : 0;
}

size_t onData(char* dataIn, size_t size, size_t count, void* user) {
    auto& job = *static_cast<Job*>(user);
    const size_t all = size * count;
    if (job.redirectBody)
        return all;
    job.windowBytes += all;
    if (!job.pacer.pace(all, [&job] {
            return SteadyClock::now() - job.lastNotice < job.options.progressInterval ||
                   job.notify();
        }))
        return 0;
    const char* data = dataIn;
    size_t length = all;
    if (!job.overlap.empty()) {
        if (!job.checkOverlap(data, length))
            return 0;
        if (length == 0)
            return all;
    }
    job.received += length;
    if (job.webPage) {
        job.keepPage(data, length);
        // Its title is all we want of it.
        return job.page.size() < ErrorPage::KeptBytes ? all : 0;
    }
    if (job.sniffing) {
        job.head.append(data, length);
        if (!job.canDecide())
            return all;
        return job.decide() ? all : 0;
    }
    return job.write(data, length) ? all : 0;
}

// libcurl calls this after every read while data flows and about once a second when it
// does not; notifying at most every progressInterval keeps the GUI from pacing the transfer.
int onProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto& job = *static_cast<Job*>(user);
    if (job.stalled())
        return 1;
    if (SteadyClock::now() - job.lastNotice < job.options.progressInterval)
        return 0;
    return job.notify() ? 0 : 1;
}

std::string failureReason(CURLcode rc, const Job& job, const std::string& detail) {
    switch (rc) {
    case CURLE_PARTIAL_FILE:
        return TransferMessage::connectionClosed(job.base + job.received, job.expected);
    case CURLE_OPERATION_TIMEDOUT:
        return TransferMessage::stalled(detail);
    case CURLE_WRITE_ERROR:
        if (job.writeErrno)
            return TransferMessage::cannotWrite(job.target.temporaryPath(),
                                                TransferMessage::errnoText(job.writeErrno));
        break;
    case CURLE_UNSUPPORTED_PROTOCOL:
        return TransferMessage::onlyHttp(detail);
    case CURLE_TOO_MANY_REDIRECTS:
        return TransferMessage::tooManyRedirects(detail);
    case CURLE_URL_MALFORMAT:
        return TransferMessage::notAnAddress(detail);
    case CURLE_WEIRD_SERVER_REPLY:
        // libcurl refuses some lengths itself (a sign, nothing at all): told as ours are.
        if (detail.find("Content-Length") != std::string::npos)
            return TransferMessage::lengthUnreadable();
        break;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
        return TransferMessage::cannotConnect(detail);
    default:
        break;
    }
    return TransferMessage::curlFailure(curl_easy_strerror(rc), detail);
}

FailureCause failureCause(CURLcode rc, const Job& job) {
    switch (rc) {
    case CURLE_OPERATION_TIMEDOUT:
        return FailureCause::TimeOut;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_SSL_CONNECT_ERROR:
        return FailureCause::Network;
    case CURLE_WRITE_ERROR:
        return job.writeErrno == ENOSPC || job.writeErrno == EDQUOT ? FailureCause::DiskFull
                                                                    : FailureCause::Other;
    default:
        return FailureCause::Other;
    }
}

std::string baseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

CurlTransfer::CurlTransfer(std::shared_ptr<CurlShare> share, CurlTransferOptions options)
    : m_share(std::move(share))
    , m_options(std::move(options)) {
    CurlShare::globalInit();
}

TransferResult CurlTransfer::transfer(const std::string& url, const std::string& targetPath,
                                      const PartialFile& resume, TransferCallback& callback) {
    return perform(url, nullptr, targetPath, resume, callback, nullptr);
}

TransferResult CurlTransfer::transferPost(const std::string& url, const std::string& postData,
                                          const std::string& targetPath, const PartialFile& resume,
                                          TransferCallback& callback) {
    return perform(url, &postData, targetPath, resume, callback, nullptr);
}

TransferResult CurlTransfer::transferWith(const RequestOptions& options, const std::string& url,
                                          const std::string& postData,
                                          const std::string& targetPath, const PartialFile& resume,
                                          TransferCallback& callback) {
    return perform(url, postData.empty() ? nullptr : &postData, targetPath, resume, callback,
                   &options);
}

TransferResult CurlTransfer::perform(const std::string& url, const std::string* postData,
                                     const std::string& targetPath, const PartialFile& resume,
                                     TransferCallback& callback, const RequestOptions* request) {
    TransferResult result{TransferOutcome::Failed, ""};

    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> easy(curl_easy_init(), &curl_easy_cleanup);
    DownloadTarget target;
    Job job(callback, easy.get(), m_options, target, baseName(targetPath), resume, m_limit);
    if (!easy) {
        result.reason = TransferMessage::cannotStart();
    } else if (const Result<void> prepared = target.prepare(targetPath, resume); !prepared) {
        result.reason = prepared.reason();
        result.cause = prepared.failure().cause;
    } else {
        callback.onSaving(target.savingPath());
    }
    // Told once the name is chosen: whoever tells of the start names the file as it is saved.
    callback.onStart();
    if (!result.reason.empty()) {
        // Nothing to fetch into.
    } else if (!job.notify()) {
        result = {TransferOutcome::Cancelled, TransferMessage::cancelled()};
    } else {
        char detail[CURL_ERROR_SIZE] = {};
        CURL* h = easy.get();
        CurlShare::restrictToWeb(h, m_options.maxRedirects);
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(h, CURLOPT_TCP_KEEPALIVE, 1L);
        curl_easy_setopt(h, CURLOPT_BUFFERSIZE, m_options.bufferSize);
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, m_options.connectTimeout);
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

        // The request's own header lines (If-Range), then the row's where it allows them.
        std::vector<std::string> own;
        RowRequest row(request);
        const auto prepare = [&](const RequestHop& hop) {
            curl_easy_setopt(h, CURLOPT_URL, hop.url.c_str());
            if (hop.post) {
                // The answer's redirect to the file is followed with a GET, as a browser does.
                curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                                 static_cast<curl_off_t>(postData->size()));
                curl_easy_setopt(h, CURLOPT_POSTFIELDS, postData->c_str());
            } else if (!hop.previous.empty()) {
                curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
            }
            row.apply(h, hop.url, own, {}, m_options.userAgent);
        };
        const auto run = [&] {
            if (row.followsItself())
                return followRedirects(h, url, postData != nullptr, m_options.maxRedirects, prepare,
                                       [h] { return curl_easy_perform(h); });
            prepare(RequestHop{url, postData != nullptr, {}});
            return curl_easy_perform(h);
        };
        // Continuing a kept file: the rest of it, and only if it is still the same version.
        job.offered = target.adopted();
        if (job.offered > 0) {
            // Only a validator lets the server tell whether our part is of its file; the
            // kept bytes are asked for again, and must come back as they are.
            std::string tail(std::min<std::uint64_t>(job.offered, OverlapBytes), '\0');
            const auto at = static_cast<off_t>(job.offered - tail.size());
            if (!TransferAnswer::isStrongValidator(resume.validator) ||
                ::pread(target.fd(), tail.data(), tail.size(), at) !=
                    static_cast<ssize_t>(tail.size())) {
                job.offered = 0;
                if (const Result<void> restarted = target.restart(); !restarted)
                    job.refuse(restarted.reason());
            } else {
                job.overlap = std::move(tail);
            }
        }
        const std::string range = std::to_string(job.offered - job.overlap.size()) + "-";
        if (job.offered > 0) {
            curl_easy_setopt(h, CURLOPT_RANGE, range.c_str());
            own.push_back("If-Range: " + resume.validator);
        }
        CURLcode rc = job.refused ? CURLE_WRITE_ERROR : run();
        if (job.startOver && !job.aborted) {
            // The answer would not continue our file: the whole file, from an empty one.
            curl_easy_setopt(h, CURLOPT_RANGE, nullptr);
            own.clear();
            job.reset();
            detail[0] = '\0';
            rc = target.restart().ok() ? run() : CURLE_WRITE_ERROR;
            if (job.startOver)
                job.refuse(TransferMessage::partOnly());
        }
        // A body shorter than the look-ahead is judged once it is all in.
        if (rc == CURLE_OK && job.sniffing && !job.decide())
            rc = CURLE_WRITE_ERROR;
        // The tail, before the counts decide what is kept: a disk that refuses it is the
        // failure to report, whatever else went wrong.
        const bool pausing = job.aborted && callback.keepOnAbort();
        if ((!job.aborted || pausing) && !job.flush())
            rc = CURLE_WRITE_ERROR;
        if (job.aborted) {
            result = {TransferOutcome::Cancelled, TransferMessage::cancelled()};
        } else if (job.refused) {
            result = job.refusal;
        } else if (job.webPage) {
            const std::string title =
                ErrorPage::title(ErrorPage::decoded(job.page, job.answer.contentEncoding));
            // The hoster's own words, as its page gave them.
            result.reason = title.empty() ? TransferMessage::webPageInstead() : title;
        } else if (rc != CURLE_OK) {
            result.reason = failureReason(rc, job, detail);
            result.transient = TransferAnswer::isTransientCode(rc);
            result.cause = failureCause(rc, job);
        } else if (job.expected > 0 && job.base + job.received != job.expected) {
            result.reason = TransferMessage::shortBody(job.base + job.received, job.expected);
            result.transient = true;
            result.cause = FailureCause::Network;
        } else {
            result.outcome = TransferOutcome::Succeeded;
        }

        // The final counts. A stop answered here still keeps the old file: the user asked.
        const bool goOn = job.notify();
        if (result.outcome == TransferOutcome::Succeeded && !goOn)
            result = {TransferOutcome::Cancelled, TransferMessage::cancelled()};

        // What came of a file whose size we know is worth continuing after a transient
        // failure; the version it belongs to goes with it.
        // A pause keeps the same, on the same terms: without them the resume starts over.
        const bool keep = (result.outcome == TransferOutcome::Failed && result.transient) ||
                          (pausing && result.outcome == TransferOutcome::Cancelled);
        if (keep && job.written > 0 && job.expected > job.written && !job.webPage &&
            TransferAnswer::isStrongValidator(job.validator)) {
            result.partial = target.keep(job.written);
            result.partial.total = result.partial.empty() ? 0 : job.expected;
            result.partial.validator = result.partial.empty() ? std::string() : job.validator;
        }
    }

    // Settled before the end is told: whoever hears it may look at the folder at once.
    if (result.outcome == TransferOutcome::Succeeded) {
        if (const Result<void> committed = target.commit()) {
            result.savedPath = target.savingPath();
            result.savedBytes = job.written;
        } else {
            result = {TransferOutcome::Failed, committed.reason()};
            result.cause = committed.failure().cause;
        }
    }
    target.discard();
    // A kept file this attempt could not even look at is still ours to remove.
    if (!resume.empty() && target.adopted() == 0)
        DownloadTarget::discardPartial(resume);
    callback.onStop(result);
    return result;
}

void CurlTransfer::discardPartial(const PartialFile& partial) {
    DownloadTarget::discardPartial(partial);
}

} // namespace torvaline
