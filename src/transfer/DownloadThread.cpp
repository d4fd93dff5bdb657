#include "transfer/DownloadThread.h"

#include <exception>
#include <utility>

namespace torvaline {
namespace {

using SteadyClock = std::chrono::steady_clock;

// After a progress handler the window keeps this many times its duration to itself: a window
// slow at showing figures gets them less often and spends at most a fifth of its time on them,
// so it still answers the user, and a finish rarely has to wait for it.
constexpr int QuietFactor = 4;

} // namespace

DownloadThread::DownloadThread(std::string url, std::string targetPath, PartialFile resume,
                               std::shared_ptr<TransferFacility> facility, EventLoop& loop,
                               std::shared_ptr<DownloadLink> link)
    : m_url(std::move(url))
    , m_targetPath(std::move(targetPath))
    , m_facility(std::move(facility))
    , m_loop(loop)
    , m_link(std::move(link))
    , m_resume(std::move(resume)) {}

void DownloadThread::run() {
    TransferResult result;
    try {
        if (!m_request.empty())
            result = m_facility->transferWith(m_request, m_url, m_postData, m_targetPath, m_resume,
                                              *this);
        else if (m_postData.empty())
            result = m_facility->transfer(m_url, m_targetPath, m_resume, *this);
        else
            result = m_facility->transferPost(m_url, m_postData, m_targetPath, m_resume, *this);
    } catch (const std::exception& e) {
        std::string reason = std::string("The transfer failed: ") + e.what();
        if (reason.back() != '.')
            reason += '.';
        result = {TransferOutcome::Failed, std::move(reason)};
    } catch (...) {
        // A facility may be given anything to throw by the libraries under it.
        result = {TransferOutcome::Failed, "The transfer failed."};
    }
    // A facility that gave up without its end notification (a link refused at once) must not
    // leave the component busy for ever.
    if (!m_finishDelivered)
        deliverFinish(result);
}

std::string DownloadThread::savingPath() const {
    std::lock_guard lock(m_savingMutex);
    return m_savingPath;
}

void DownloadThread::onSaving(const std::string& path) {
    std::lock_guard lock(m_savingMutex);
    m_savingPath = path;
}

PartialFile DownloadThread::partialFile() const {
    std::lock_guard lock(m_savingMutex);
    return m_partial;
}

void DownloadThread::onPartial(const PartialFile& partial) {
    std::lock_guard lock(m_savingMutex);
    m_partial = partial;
}

void DownloadThread::onStart() {
    if (startDispatch)
        handOff([](DownloadThread& self) { self.startDispatch(self); });
}

bool DownloadThread::onProgress(std::uint64_t received, std::uint64_t expected) {
    // KiB in 32 bits, the width the progress event carries.
    m_receivedKiB.store(static_cast<std::uint32_t>(received >> 10));
    m_expectedKiB.store(static_cast<std::uint32_t>(expected >> 10));
    m_receivedBytes.store(received);
    m_expectedBytes.store(expected);
    m_published.fetch_add(1);
    if (progressDispatch && !m_finishDelivered && m_link->attached.load() &&
        SteadyClock::now().time_since_epoch().count() >= m_quietUntil.load() &&
        !m_progressPending.exchange(true)) {
        // The hand-off keeps the worker alive: it may run after the worker's thread has ended.
        try {
            m_loop.post([self = shared_from_this()] { self->runProgressHandOff(); });
        } catch (const std::exception&) {
            // Nothing was queued (out of memory): the next notification tries again.
            m_progressPending.store(false);
        }
    }
    // Answered from the flag alone: a stop reaches the transfer however busy the window is.
    return !m_link->cancel.load();
}

void DownloadThread::runProgressHandOff() {
    if (m_finishHandled)
        return;
    // Cleared before the counts are read, so that counts published meanwhile queue another.
    m_progressPending.store(false);
    showProgress();
}

void DownloadThread::showProgress() {
    m_shown = m_published.load();
    const auto began = SteadyClock::now();
    progressDispatch(*this);
    const auto ended = SteadyClock::now();
    m_quietUntil.store((ended + QuietFactor * (ended - began)).time_since_epoch().count());
}

void DownloadThread::onStop(const TransferResult& result) {
    if (!m_finishDelivered)
        deliverFinish(result);
}

void DownloadThread::deliverFinish(const TransferResult& result) {
    m_finishDelivered = true;
    // Whether Stop was asked while the transfer ran, not whether it came before the window
    // heard of the end: a file that arrived whole before the stop reads as what it is.
    const bool canceled = m_link->cancel.load();
    handOff([canceled, result](DownloadThread& self) { self.runFinishHandOff(canceled, result); });
}

void DownloadThread::runFinishHandOff(bool canceled, const TransferResult& result) {
    m_finishHandled = true;
    // The final counts, when the window's quiet time kept them back: whoever reads the
    // figures at the end (the size of the file) must find them whole.
    if (progressDispatch && m_shown != m_published.load())
        showProgress();
    if (finishDispatch)
        finishDispatch(*this, canceled, result);
}

void DownloadThread::handOff(std::function<void(DownloadThread& self)> fn) {
    if (!m_link->attached.load())
        return;
    try {
        // The hand-off keeps the worker alive: it may run after the worker's thread has ended.
        m_loop.post([self = shared_from_this(), fn = std::move(fn)] { fn(*self); });
    } catch (const std::exception&) {
        // The dispatchers contain the handlers' failures; what still arrives here comes from
        // queueing the hand-off (out of memory), and the transfer goes on regardless.
    }
}

} // namespace torvaline
