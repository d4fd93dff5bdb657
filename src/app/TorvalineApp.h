#pragma once

#include "app/DefaultFolder.h"

#include <QMetaObject>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace torvaline {

class CurlShare;
class DesktopNotifier;
class ListDoneNotice;
class CurlTransfer;
class Dialogs;
class HttpBrowser;
class ListRecovery;
class QtClock;
class QtEventLoop;
class QtShutdownNotice;
class QtTimer;
class RecoveryStore;
class Shell;
class ShutdownService;
class SpeedLimitControl;
class TDownloadFile;
class TForm1;
class TorvalineCore;
class WorkingRowMarker;
class PauseResumeButtons;

// The program put together: the main window over the real browser, the real transfers, Qt's
// timers and clock, with the core wired to all of them and the window's commands and events
// bound to the core. The program and the GUI tests build this same object.
class TorvalineApp final {
public:
    struct Options {
        std::string defaultFolder = DefaultFolder::path();
        // From the user's locale in the program.
        char decimalSeparator = '.';
        // How long the end of the program waits for a cancelled transfer to let go.
        std::chrono::milliseconds workerGrace{3000};
        // Where the list is kept against a crash (the user's state folder in the program);
        // empty: it is not kept.
        std::string recoveryFolder;
        // Tells the end of the list while the window is out of view; none when null. Must
        // outlive this object.
        DesktopNotifier* notifier = nullptr;
    };

    // The shutdown service is the operating system's in the program and a recording double in
    // the tests; it must outlive this object.
    TorvalineApp(Dialogs& dialogs, Shell& shell, ShutdownService& shutdownService, Options options);
    // Stops a running transfer and waits (a bounded time) for its worker to let go.
    ~TorvalineApp();
    TorvalineApp(const TorvalineApp&) = delete;
    TorvalineApp& operator=(const TorvalineApp&) = delete;

    TForm1& form() { return *m_form; }
    TorvalineCore& core() { return *m_core; }
    QtShutdownNotice& shutdownNotice() { return *m_notice; }
    // The window's speed limit entry, which hands the limit to the transfers.
    SpeedLimitControl& speedLimit() { return *m_speedLimit; }

    // Once the window is shown: offers back what a session that did not end normally left,
    // and from then on keeps the list in the recovery file. Without a recovery folder it
    // does nothing.
    void offerRecovery();
    // Writes the recovery file now (the remote control's saveSession); returns why not, or
    // an empty text.
    std::string saveRecoveryNow();

private:
    void keepListForRecovery();
    // Whether no transfer worker holds the facility any more, after at most `grace`.
    bool waitForWorkers(std::chrono::milliseconds grace);

    Options m_options;
    // Declared in the order of creation, so that each part goes before what it uses.
    std::unique_ptr<QtEventLoop> m_loop;
    std::shared_ptr<CurlShare> m_share;
    std::unique_ptr<HttpBrowser> m_browser;
    std::unique_ptr<TForm1> m_form;
    std::unique_ptr<QtClock> m_clock;
    std::unique_ptr<QtTimer> m_timer1;
    std::unique_ptr<QtTimer> m_timer2;
    std::unique_ptr<QtTimer> m_elpsTimer;
    std::unique_ptr<QtTimer> m_estTimer;
    std::unique_ptr<QtTimer> m_noticeTimer;
    std::shared_ptr<CurlTransfer> m_facility;
    std::unique_ptr<TDownloadFile> m_component;
    std::unique_ptr<QtShutdownNotice> m_notice;
    std::unique_ptr<TorvalineCore> m_core;
    std::unique_ptr<WorkingRowMarker> m_workingRow;
    std::unique_ptr<PauseResumeButtons> m_pauseButtons;
    Dialogs& m_dialogs;
    std::unique_ptr<RecoveryStore> m_recoveryStore;
    std::unique_ptr<QtTimer> m_recoveryTimer;
    std::unique_ptr<ListRecovery> m_recovery;
    std::vector<QMetaObject::Connection> m_recoveryConnections;
    std::unique_ptr<ListDoneNotice> m_doneNotice;
    SpeedLimitControl* m_speedLimit = nullptr; // owned by the window
};

} // namespace torvaline
