#pragma once

#include "platform/EventLoop.h"
#include "platform/TransferFacility.h"
#include "transfer/DownloadComponent.h"
#include "transfer/ErrorCode.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace torvaline {

struct DownloadLink;
class DownloadThread;

// The event types. Sender is the worker for the transfer events and the component for OnError.
using TNotifyEvent = std::function<void(void* Sender)>;
using TProgressNotifyEvent = std::function<void(void* Sender, std::uint32_t ReceivedBytes,
                                                std::uint32_t CalculatedFileSize)>;
// Canceled tells whether Stop was asked; Result tells how the transfer really ended.
using TFinishNotifyEvent =
    std::function<void(void* Sender, bool Canceled, const TransferResult& Result)>;
using TErrorNotifyEvent =
    std::function<void(void* Sender, ErrorCode ECode, const std::string& Msg)>;

// Runs a worker body on a thread of its own; false when no thread could be created.
using ThreadStarter = std::function<bool(std::function<void()> body)>;

// Copies one URL into one file on a worker thread and reports start, progress (in KiB) and
// finish on the GUI thread, where every operation of it is called. Misuse is reported through
// OnError, never thrown.
class TDownloadFile final : public DownloadComponent {
public:
    // The facility is shared with the workers, which may outlive the component; the event loop
    // must outlive them (it lives as long as the program).
    TDownloadFile(EventLoop& loop, std::shared_ptr<TransferFacility> facility,
                  ThreadStarter startThread = detachedThread());
    ~TDownloadFile() override;
    TDownloadFile(const TDownloadFile&) = delete;
    TDownloadFile& operator=(const TDownloadFile&) = delete;

    TNotifyEvent OnStart;
    TProgressNotifyEvent OnProgress;
    TFinishNotifyEvent OnFinish;
    TErrorNotifyEvent OnError;
    // After OnFinish, once the component is free again (busy() false); Sender is the component.
    TNotifyEvent OnIdle;

    void Start() override;
    void Stop() override;
    void Pause() override;
    void DiscardPartial(const PartialFile& partial) override;
    bool busy() const { return m_busy; }

    // The production starter: a std::thread that releases itself when its run ends.
    static ThreadStarter detachedThread();

private:
    void raiseError(ErrorCode code);
    void dispatchStart(DownloadThread& sender);
    void dispatchProgress(DownloadThread& sender);

    EventLoop& m_loop;
    std::shared_ptr<TransferFacility> m_facility;
    ThreadStarter m_startThread;
    bool m_busy = false;
    // The running transfer's link. The component never holds the worker itself: the worker
    // lives as long as its thread, and cancelling goes through the link.
    std::shared_ptr<DownloadLink> m_link;
};

} // namespace torvaline
