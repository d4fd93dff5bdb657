#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QLocalServer;
class QLocalSocket;

namespace torvaline {

// One window per user and display: a second start hands its links and list files to the
// window that runs and ends, so that the file manager's "Open With" adds to the running list.
// The window listens on a local socket named after the user and the display, in the user's
// runtime folder or, without one, in a folder of the user's own in the temporary folder. Where
// neither can be had safely there is no hand-over: each start opens a window of its own.
class SingleInstance final : public QObject {
    Q_OBJECT

public:
    struct HandOff {
        QStringList links;
        QStringList files; // absolute paths
        QString folder;    // empty: leave the running window's folder
        bool start = false;
    };

    // Only the running window's own user may connect; a message bigger than this is not one
    // of ours.
    static constexpr qint64 MaxMessageBytes = 64 * 1024 * 1024;

    explicit SingleInstance(QObject* parent = nullptr);
    ~SingleInstance() override;

    // The socket for this user and display, from the environment; empty when no folder
    // only the user can write to is at hand.
    static QString serverName();
    // Where the socket lives: the runtime folder, or torvaline-UID in the temporary folder,
    // created with mode 0700; empty when the one found is not the user's alone.
    static QString socketFolder();

    // In the second start: hands over to the running window. True when the window took it;
    // false when none runs (or it does not answer within timeoutMs), and the caller goes on
    // to open its own window. Needs no display.
    static bool handOff(const HandOff& handOff, int timeoutMs = 5000);

    // In the window: takes hand-offs from now on, unless another window listens already.
    bool listen(std::function<void(HandOff)> onHandOff);
    bool isListening() const;

    static QByteArray encode(const HandOff& handOff);
    static bool decode(const QByteArray& message, HandOff& handOff);

private:
    void accept();

    QLocalServer* m_server;
    std::function<void(HandOff)> m_onHandOff;
};

} // namespace torvaline
