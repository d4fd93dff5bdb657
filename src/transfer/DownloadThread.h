#pragma once

#include "platform/EventLoop.h"
#include "platform/TransferFacility.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace torvaline {

// What one worker shares with the component that started it. The component may go away while
// its worker still runs: it then detaches, and from that moment the worker hands nothing more
// to the GUI thread. Whatever reaches the GUI thread checks `attached` there again, where the
// component is destroyed, so a hand-off already queued never reaches freed memory.
struct DownloadLink {
    std::atomic<bool> cancel{false};
    std::atomic<bool> attached{true};
};

// The worker of one transfer: runs the transfer facility on its own thread and hands the
// start, progress and finish notifications to the GUI thread, waiting until each is handled.
// It is owned by the thread that runs it and ends with that thread.
class DownloadThread final : public TransferCallback {
public:
    using StartDispatch = std::function<void(DownloadThread& sender)>;
    using ProgressDispatch = std::function<void(DownloadThread& sender)>;
    using FinishDispatch =
        std::function<void(DownloadThread& sender, bool canceled, const TransferResult& result)>;

    DownloadThread(std::string url, std::string targetPath, PartialFile resume,
                   std::shared_ptr<TransferFacility> facility, EventLoop& loop,
                   std::shared_ptr<DownloadLink> link);

    // Set by the component before the worker runs; each is called on the GUI thread.
    StartDispatch startDispatch;
    ProgressDispatch progressDispatch;
    FinishDispatch finishDispatch;

    // The body of the worker thread: one transfer, then one finish event whatever happened.
    void run();
    void cancel() { m_link->cancel.store(true); }

    const std::string& url() const { return m_url; }
    const std::string& targetPath() const { return m_targetPath; }
    // Figures of the latest progress notification, in KiB (written before its hand-off).
    std::uint32_t receivedKiB() const { return m_receivedKiB; }
    std::uint32_t expectedKiB() const { return m_expectedKiB; }
    // The file the transfer saves to, as last told (written before a progress hand-off).
    const std::string& savingPath() const { return m_savingPath; }
    // Bytes continued from an earlier attempt, as last told (written like savingPath).
    std::uint64_t resumedFrom() const { return m_resumedFrom; }

    void onStart() override;
    bool onProgress(std::uint64_t received, std::uint64_t expected) override;
    void onStop(const TransferResult& result) override;
    void onSaving(const std::string& path) override { m_savingPath = path; }
    void onResumed(std::uint64_t offset) override { m_resumedFrom = offset; }
    void onPartial(const PartialFile& partial) override { m_partial = partial; }
    // The temporary file as last told (written like savingPath).
    const PartialFile& partialFile() const { return m_partial; }

private:
    void handOff(const std::function<void()>& fn);
    void deliverFinish(const TransferResult& result);

    const std::string m_url;
    const std::string m_targetPath;
    std::shared_ptr<TransferFacility> m_facility;
    EventLoop& m_loop;
    std::shared_ptr<DownloadLink> m_link;
    std::uint32_t m_receivedKiB = 0;
    std::uint32_t m_expectedKiB = 0;
    std::string m_savingPath;
    std::uint64_t m_resumedFrom = 0;
    PartialFile m_partial;
    const PartialFile m_resume;
    bool m_finishDelivered = false;
};

} // namespace torvaline
