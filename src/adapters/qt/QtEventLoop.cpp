#include "adapters/qt/QtEventLoop.h"

#include <QCoreApplication>
#include <QThread>
#include <QtGlobal>

#include <exception>

namespace torvaline {

QtEventLoop::QtEventLoop() = default;

void QtEventLoop::post(std::function<void()> fn) {
    QMetaObject::invokeMethod(
        &m_context,
        [fn = std::move(fn)] {
            // An exception must not unwind through Qt's event dispatch; nobody waits for
            // posted work, so all that is left is to say so.
            try {
                fn();
            } catch (const std::exception& e) {
                qWarning("posted work failed: %s", e.what());
            } catch (...) {
                qWarning("posted work failed");
            }
        },
        Qt::QueuedConnection);
}

void QtEventLoop::invokeAndWait(std::function<void()> fn) {
    // A blocking queued call from the GUI thread to itself would wait for ever.
    if (QThread::currentThread() == m_context.thread()) {
        fn();
        return;
    }
    std::exception_ptr failure;
    QMetaObject::invokeMethod(
        &m_context,
        [&fn, &failure] {
            try {
                fn();
            } catch (...) {
                failure = std::current_exception();
            }
        },
        Qt::BlockingQueuedConnection);
    if (failure)
        std::rethrow_exception(failure);
}

void QtEventLoop::processPendingEvents() {
    QCoreApplication::processEvents();
}

} // namespace torvaline
