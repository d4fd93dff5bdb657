#pragma once

#include "platform/EventLoop.h"

#include <QObject>

namespace torvaline {

// GUI-thread services over Qt's event loop. Construct it on the GUI thread: work handed in
// from other threads runs on the thread that constructed it.
class QtEventLoop final : public EventLoop {
public:
    QtEventLoop();

    void post(std::function<void()> fn) override;
    void invokeAndWait(std::function<void()> fn) override;
    void processPendingEvents() override;

private:
    QObject m_context;
};

} // namespace torvaline
