#include "transfer/DownloadThread.h"

#include <exception>
#include <utility>

namespace torvaline {

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
        result = m_facility->transfer(m_url, m_targetPath, m_resume, *this);
    } catch (const std::exception& e) {
        result = {TransferOutcome::Failed, std::string("the transfer failed: ") + e.what()};
    } catch (...) {
        result = {TransferOutcome::Failed, "the transfer failed"};
    }
    // A facility that gave up without its end notification (a link refused at once) must not
    // leave the component busy for ever.
    if (!m_finishDelivered)
        deliverFinish(result);
}

void DownloadThread::onStart() {
    if (startDispatch)
        handOff([this] { startDispatch(*this); });
}

bool DownloadThread::onProgress(std::uint64_t received, std::uint64_t expected) {
    m_receivedKiB = static_cast<std::uint32_t>(received >> 10);
    m_expectedKiB = static_cast<std::uint32_t>(expected >> 10);
    if (progressDispatch)
        handOff([this] { progressDispatch(*this); });
    return !m_link->cancel.load();
}

void DownloadThread::onStop(const TransferResult& result) {
    if (!m_finishDelivered)
        deliverFinish(result);
}

void DownloadThread::deliverFinish(const TransferResult& result) {
    m_finishDelivered = true;
    const bool canceled = m_link->cancel.load();
    if (finishDispatch)
        handOff([this, canceled, &result] { finishDispatch(*this, canceled, result); });
}

void DownloadThread::handOff(const std::function<void()>& fn) {
    if (!m_link->attached.load())
        return;
    try {
        m_loop.invokeAndWait(fn);
    } catch (...) {
        // The dispatchers contain the handlers' failures; whatever still arrives here comes
        // from the hand-off itself, and the transfer goes on regardless.
    }
}

} // namespace torvaline
