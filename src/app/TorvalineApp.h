#pragma once

#include "app/DefaultFolder.h"

#include <QObject>

#include <chrono>
#include <memory>
#include <string>

namespace torvaline {

class CurlShare;
class CurlTransfer;
class DesktopNotifier;
class Dialogs;
class DownloadSession;
class HttpBrowser;
class ListDoneNotice;
class PauseResumeButtons;
class QtClock;
class QtEventLoop;
class QtShutdownNotice;
class Shell;
class ShutdownService;
class SpeedLimitControl;
class TForm1;
class TorvalineCore;
class WorkerCount;
class WorkingRowMarker;
class LanesControl;
class CaptchaPrompt;

// The program in its window: the real browser, the real transfers, Qt's timers and clock under
// one download session, and the main window over the session's data with its commands and
// events bound to the core. The program and the GUI tests build this same object.
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
        // Rows are checked as they come, as the Tools entry remembers (the program's
        // --no-check turns it off for the run).
        bool checkLinks = false;
        // Rows worked on at once (1 to 8).
        int lanes = 3;
        // How long a row waits for the user to read its captcha before it is set aside.
        std::chrono::seconds captchaTimeout{600};
    };

    // The shutdown service is the operating system's in the program and a recording double in
    // the tests; it must outlive this object.
    TorvalineApp(Dialogs& dialogs, Shell& shell, ShutdownService& shutdownService, Options options);
    // Stops a running transfer and waits (a bounded time) for its worker to let go.
    ~TorvalineApp();
    TorvalineApp(const TorvalineApp&) = delete;
    TorvalineApp& operator=(const TorvalineApp&) = delete;

    TForm1& form() { return *m_form; }
    DownloadSession& session() { return *m_session; }
    TorvalineCore& core();
    QtShutdownNotice& shutdownNotice() { return *m_notice; }
    // The window's speed limit entry, which hands the limit to the transfers.
    SpeedLimitControl& speedLimit() { return *m_speedLimit; }
    LanesControl& lanesControl() { return *m_lanesControl; }
    CaptchaPrompt& captchas() { return *m_captchas; }

    // Once the window is shown: offers back what a session that did not end normally left,
    // and from then on keeps the list in the recovery file. Without a recovery folder it
    // does nothing.
    void offerRecovery();
    // Writes the recovery file now (the remote control's saveSession); returns why not, or
    // an empty text.
    std::string saveRecoveryNow();

private:
    // The archives of the list: the stored choices, the notices, Tools > Archive Passwords.
    void bindPackages();

    Options m_options;
    Dialogs& m_dialogs;
    // Declared in the order of creation, so that each part goes before what it uses.
    std::unique_ptr<QtEventLoop> m_loop;
    std::shared_ptr<CurlShare> m_share;
    std::shared_ptr<WorkerCount> m_workers;
    std::unique_ptr<HttpBrowser> m_browser;
    std::unique_ptr<QtClock> m_clock;
    std::unique_ptr<QtShutdownNotice> m_notice;
    std::shared_ptr<CurlTransfer> m_facility;
    std::unique_ptr<DownloadSession> m_session;
    std::unique_ptr<TForm1> m_form;
    std::unique_ptr<WorkingRowMarker> m_workingRow;
    std::unique_ptr<PauseResumeButtons> m_pauseButtons;
    std::unique_ptr<ListDoneNotice> m_doneNotice;
    SpeedLimitControl* m_speedLimit = nullptr; // owned by the window
    LanesControl* m_lanesControl = nullptr;    // owned by the window
    QMetaObject::Connection m_focusFollower;
    std::unique_ptr<CaptchaPrompt> m_captchas;
};

} // namespace torvaline
