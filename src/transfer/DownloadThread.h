#pragma once

#include "platform/EventLoop.h"
#include "platform/TransferFacility.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace torvaline {

// What one worker shares with the component that started it. The component may go away while
// its worker still runs: it then detaches, and from that moment the worker hands nothing more
// to the GUI thread. Whatever reaches the GUI thread checks `attached` there again, where the
// component is destroyed, so a hand-off already queued never reaches freed memory.
struct DownloadLink {
    std::atomic<bool> cancel{false};
    std::atomic<bool> attached{true};
    // Set with cancel when the cancel is a pause: the partial file is kept.
    std::atomic<bool> keep{false};
};

// The worker of one transfer: runs the transfer facility on its own thread and hands the
// start, progress and finish notifications to the GUI thread. None of them waits for the
// window, so a slow window can only see fewer figures, never slow the transfer down: the
// worker publishes the newest counts and queues one progress hand-off while none is pending,
// and that hand-off reads the counts that are newest when the GUI thread runs it. The GUI
// thread runs hand-offs in the order they were queued, so the window hears of the start
// before any figures and of the figures before the finish; a progress hand-off that still
// finds itself after the finish says nothing.
// The worker is shared by its thread and its queued hand-offs and ends with the last of them.
class DownloadThread final : public TransferCallback,
                             public std::enable_shared_from_this<DownloadThread> {
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

    // Form data the transfer posts to its address; set before the worker runs.
    void setPostData(std::string postData) { m_postData = std::move(postData); }
    // The row's own request options; set before the worker runs.
    void setRequest(RequestOptions request) { m_request = std::move(request); }

    // The body of the worker thread: one transfer, then one finish event whatever happened.
    void run();

    const std::string& url() const { return m_url; }
    const std::string& targetPath() const { return m_targetPath; }
    // Figures of the newest progress notification, in KiB.
    std::uint32_t receivedKiB() const { return m_receivedKiB.load(); }
    std::uint32_t expectedKiB() const { return m_expectedKiB.load(); }
    // The same in bytes, for whoever shows more than the KiB of the event.
    std::uint64_t receivedBytes() const { return m_receivedBytes.load(); }
    std::uint64_t expectedBytes() const { return m_expectedBytes.load(); }
    // The file the transfer saves to, as last told.
    std::string savingPath() const;
    // Bytes continued from an earlier attempt, as last told.
    std::uint64_t resumedFrom() const { return m_resumedFrom.load(); }

    void onStart() override;
    bool onProgress(std::uint64_t received, std::uint64_t expected) override;
    void onStop(const TransferResult& result) override;
    void onSaving(const std::string& path) override;
    void onResumed(std::uint64_t offset) override { m_resumedFrom.store(offset); }
    void onPartial(const PartialFile& partial) override;
    bool keepOnAbort() const override { return m_link->keep.load(); }
    // The temporary file as last told; guarded like the saving path.
    PartialFile partialFile() const;

private:
    // Queues fn on the GUI thread, keeping the worker alive until it has run.
    void handOff(std::function<void(DownloadThread& self)> fn);
    void deliverFinish(const TransferResult& result);
    // On the GUI thread: the finish event, after the final counts if none showed them yet.
    void runFinishHandOff(bool canceled, const TransferResult& result);
    // Runs on the GUI thread: one progress event with the newest counts, unless the finish
    // event came first.
    void runProgressHandOff();
    // On the GUI thread: the progress event itself, timed to keep the window's quiet time.
    void showProgress();

    const std::string m_url;
    const std::string m_targetPath;
    std::string m_postData;
    RequestOptions m_request;
    std::shared_ptr<TransferFacility> m_facility;
    EventLoop& m_loop;
    std::shared_ptr<DownloadLink> m_link;
    std::atomic<std::uint32_t> m_receivedKiB{0};
    std::atomic<std::uint32_t> m_expectedKiB{0};
    std::atomic<std::uint64_t> m_receivedBytes{0};
    std::atomic<std::uint64_t> m_expectedBytes{0};
    mutable std::mutex m_savingMutex;
    std::string m_savingPath;
    std::atomic<std::uint64_t> m_resumedFrom{0};
    PartialFile m_partial; // under m_savingMutex
    const PartialFile m_resume;
    bool m_finishDelivered = false; // worker thread only
    // A progress hand-off is queued and has not yet run.
    std::atomic<bool> m_progressPending{false};
    // No progress hand-off is queued before this time (steady clock, in its ticks), set from
    // how long the last progress handler took: a slow handler leaves the window room for
    // painting and input, and the finish rarely finds it busy.
    std::atomic<std::chrono::steady_clock::rep> m_quietUntil{0};
    // Counts every progress notification; the GUI thread remembers the one it last showed, so
    // that the finish can first show the final counts when no hand-off carried them.
    std::atomic<std::uint64_t> m_published{0};
    std::uint64_t m_shown = 0; // GUI thread only
    // Set on the GUI thread as the finish event is handed over; a progress hand-off that runs
    // later is dropped. Read and written on the GUI thread only.
    bool m_finishHandled = false;
};

} // namespace torvaline
