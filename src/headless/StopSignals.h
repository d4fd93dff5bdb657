#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace torvaline {

// SIGINT and SIGTERM delivered as an ordinary event on the thread that created this object.
// The handler only writes the signal's number into a pipe (a self-pipe: the one thing that is
// safe in a signal handler); a socket notifier reads it in the event loop. One instance at a
// time; the previous handlers come back when it goes.
class StopSignals final : public QObject {
    Q_OBJECT
public:
    explicit StopSignals(std::function<void(int signal)> onSignal, QObject* parent = nullptr);
    ~StopSignals() override;

    // Whether the handlers are in place (false if the pipe could not be made).
    bool installed() const { return m_notifier != nullptr; }

private:
    void readSignal();

    std::function<void(int)> m_onSignal;
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace torvaline
