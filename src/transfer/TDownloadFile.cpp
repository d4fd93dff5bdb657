#include "transfer/TDownloadFile.h"

#include "transfer/DownloadThread.h"

#include <exception>
#include <system_error>
#include <thread>
#include <utility>

namespace torvaline {

TDownloadFile::TDownloadFile(EventLoop& loop, std::shared_ptr<TransferFacility> facility,
                             ThreadStarter startThread)
    : m_loop(loop)
    , m_facility(std::move(facility))
    , m_startThread(std::move(startThread)) {}

TDownloadFile::~TDownloadFile() {
    if (!m_link)
        return;
    // Not joined: the window would wait for as long as the transfer takes to notice the
    // cancel. Detached instead, so that nothing it hands over afterwards reaches this object.
    m_link->cancel.store(true);
    m_link->attached.store(false);
}

ThreadStarter TDownloadFile::detachedThread() {
    return [](std::function<void()> body) {
        try {
            std::thread(std::move(body)).detach();
            return true;
        } catch (const std::system_error&) {
            return false;
        }
    };
}

void TDownloadFile::Start() {
    if (m_busy) {
        raiseError(ErrorCode::ecBusy);
        return;
    }
    if (UrlToDownload.empty() || FileName.empty()) {
        raiseError(ErrorCode::ecNotSpecified);
        return;
    }
    m_busy = true;
    SavingPath.clear();
    ResumedFrom = 0;
    Keeping = PartialFile{};
    // From here the transfer owns the kept file: it continues it or discards it, and a later
    // Start must not be handed the same file again.
    PartialFile resume = std::move(Resume);
    Resume = PartialFile{};
    auto link = std::make_shared<DownloadLink>();
    auto worker =
        std::make_shared<DownloadThread>(UrlToDownload, FileName, resume, m_facility, m_loop, link);
    worker->setPostData(PostData);
    worker->setRequest(Request);
    // The dispatchers run on the GUI thread, the only thread that destroys the component, so
    // checking the link there is enough to know the component is still alive.
    worker->startDispatch = [this, link](DownloadThread& sender) {
        if (link->attached.load())
            dispatchStart(sender);
    };
    worker->progressDispatch = [this, link](DownloadThread& sender) {
        if (link->attached.load())
            dispatchProgress(sender);
    };
    worker->finishDispatch = [this, link](DownloadThread& sender, bool canceled,
                                          const TransferResult& result) {
        if (!link->attached.load())
            return;
        try {
            if (OnFinish)
                OnFinish(&sender, canceled, result);
        } catch (...) {
            // The handler is the user's code and may throw anything; whatever it throws must
            // neither keep the component busy nor reach the worker, which cannot act on it.
        }
        // The handler may have destroyed the component.
        if (!link->attached.load())
            return;
        m_busy = false;
        if (m_link == link)
            m_link.reset();
        if (OnIdle)
            OnIdle(this);
    };
    m_link = link;

    bool started = false;
    try {
        started = m_startThread([worker] { worker->run(); });
    } catch (const std::exception&) {
        // A starter that could not even hand the body over (out of memory copying it) is a
        // thread that did not start: reported below like any other.
        started = false;
    }
    if (!started) {
        Resume = std::move(resume); // no transfer took it
        link->attached.store(false);
        m_link.reset();
        m_busy = false;
        raiseError(ErrorCode::ecThreadFailed);
    }
}

void TDownloadFile::Stop() {
    if (m_busy && m_link)
        m_link->cancel.store(true);
    else
        raiseError(ErrorCode::ecNotActive);
}

void TDownloadFile::Pause() {
    if (m_busy && m_link)
        m_link->keep.store(true);
    Stop();
}

void TDownloadFile::DiscardPartial(const PartialFile& partial) {
    if (partial.empty())
        return;
    try {
        m_facility->discardPartial(partial);
    } catch (const std::exception&) {
        // Removing a temporary file is tidying up; failing at it loses no data and leaves
        // nothing for the user to do, so it is not reported.
    }
}

void TDownloadFile::raiseError(ErrorCode code) {
    if (!OnError)
        return;
    try {
        OnError(this, code, ErrorMessage(code));
    } catch (...) {
        // The error handler is the user's code and may throw anything; Start and Stop are
        // called from event handlers that cannot deal with it, so they throw nothing.
    }
}

void TDownloadFile::dispatchStart(DownloadThread& sender) {
    SavingPath = sender.savingPath();
    try {
        if (OnStart)
            OnStart(&sender);
    } catch (...) {
        // The start handler is the user's code and may throw anything; contained here so
        // that the transfer goes on and its finish event still comes.
    }
}

void TDownloadFile::dispatchProgress(DownloadThread& sender) {
    SavingPath = sender.savingPath();
    ResumedFrom = sender.resumedFrom();
    Keeping = sender.partialFile();
    ReceivedBytes = sender.receivedBytes();
    ExpectedBytes = sender.expectedBytes();
    try {
        if (OnProgress)
            OnProgress(&sender, sender.receivedKiB(), sender.expectedKiB());
    } catch (...) {
        // The progress handler is the user's code and may throw anything; a failed display
        // of figures must not end the transfer.
    }
}

} // namespace torvaline
