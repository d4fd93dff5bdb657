#pragma once

#include "cycle/RowEvents.h"
#include "session/SessionData.h"
#include "transfer/TDownloadFile.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace torvaline {

class Browser;
class Clock;
class DownloadLanes;
class Dialogs;
class EventLoop;
class FileRecoveryStore;
class HosterProfiles;
class LinkCheck;
class LinkProbe;
class ListRecovery;
class PackageFollowUp;
class RowEventHub;
class ShutdownNotice;
class ShutdownService;
class TorvalineCore;
class TransferFacility;
class WorkerCount;

// One download list at work, below every front end: the list and what is shown with it, the
// core that downloads it, its copy against a crash, the optional remote control, and the end
// that waits for the worker threads. The window, the headless run and the daemon each make the
// adapters, make a session and attach what shows the rows.
class DownloadSession final {
public:
    // The outside world as the session meets it. The references must outlive the session.
    struct Adapters {
        Browser& browser;
        EventLoop& loop;
        Clock& clock;
        // A new one-second timer each call: the cycle's, the progress display's, the shutdown
        // notice's and the recovery's.
        std::function<std::unique_ptr<Timer>()> makeTimer;
        // Shared with the transfer workers, which may outlive the session.
        std::shared_ptr<TransferFacility> facility;
        ShutdownService& shutdownService;
        ShutdownNotice& shutdownNotice;
        // Where the browser counts its page workers, which the end waits for too; null: the
        // session counts its transfer workers alone.
        std::shared_ptr<WorkerCount> workers;
        // Told what went wrong with the copy against a crash; unset, the status bar shows it.
        std::function<void(const std::string&)> notice;
        // Runs one worker body on a thread of its own; unset, a detached std::thread.
        ThreadStarter startThread;
        // Fetches the links' first answers for the link check; null: no link is checked.
        std::shared_ptr<LinkProbe> linkProbe = nullptr;
        // A browser for each further lane (its page workers counted in `workers`); unset:
        // one row at a time.
        std::function<std::unique_ptr<Browser>()> makeBrowser = {};
    };

    struct Options {
        // What the download folder falls back on, and what joins folder and file name.
        std::string defaultFolder;
        char separator = '/';
        // Between the whole and the fractional part of the sizes and speeds shown.
        char decimalSeparator = '.';
        // How long the end waits for the worker threads to let go.
        std::chrono::milliseconds workerGrace{3000};
        // Where the list is kept against a crash; empty: it is not kept.
        std::string recoveryFolder;
        // A restored row that was paused is held again (a front end that can let it go).
        bool holdRestoredRows = false;
        // Nobody is there to answer: rows that would wait for a user fail instead.
        bool unattended = false;
        // Rows are checked as they come (with a link probe).
        bool checkLinks = true;
        // Rows worked on at once (1 to 8), with browsers for more than one.
        int lanes = 3;
        // Someone reads image captchas (the window, the remote control), in this time.
        bool captchaAnswered = false;
        std::chrono::seconds captchaTimeout{600};
    };

    // What a front end adds to the session and the session keeps (the remote control): it
    // goes first when the session closes, while everything it uses is still there.
    class Part {
    public:
        virtual ~Part() = default;
    };

    DownloadSession(Adapters adapters, Options options);
    // As close().
    ~DownloadSession();
    DownloadSession(const DownloadSession&) = delete;
    DownloadSession& operator=(const DownloadSession&) = delete;

    SessionData& data() { return m_data; }
    DownloadList& list() { return m_data.list; }
    StatusBar& statusBar() { return m_data.statusBar; }
    DownloadFolder& folder() { return m_data.folder; }
    TorvalineCore& core() { return *m_core; }
    TDownloadFile& component() { return *m_component; }
    TransferFacility& facility() { return *m_facility; }
    EventLoop& loop() { return m_adapters.loop; }
    // Looks at the rows' links as they come (see LinkCheck).
    LinkCheck& linkCheck() { return *m_linkCheck; }
    RowEventHub& rowEvents();
    // The archives among the completed rows: packages, checks, extraction.
    PackageFollowUp& packages() { return *m_packages; }
    // The hoster profiles the rows are handled by (they must outlive the session); null: the
    // compiled-in ones.
    void setProfiles(const HosterProfiles* profiles);
    // Whether a lane waits (a hoster's wait, a countdown, a retry wait).
    bool waiting() const;
    // Several rows at once, one a hoster; the commands below act on all of them.
    DownloadLanes& lanes() { return *m_lanes; }
    int maxDownloads() const;
    void setMaxDownloads(int lanes);
    // Start Download and Stop Download for every lane.
    void start();
    void stop();
    // Rows came from a front end: a list at rest starts on them, busy lanes take them up.
    bool startAt(int row);
    // Pause and Resume of the row with this id (0: the row shown), and of every row.
    bool pause(std::uint64_t id = 0);
    bool resume(std::uint64_t id = 0);
    bool canPause(std::uint64_t id = 0) const;
    bool canResume(std::uint64_t id = 0) const;
    void pauseAll();
    void resumeAll();
    // The code a person read off the captcha of the row with this id; false when it waits
    // for none.
    bool answerCaptcha(std::uint64_t id, const std::string& code);
    // The program ends: every lane stops, a held row stays held.
    void stopForTheEnd();

    // From now on `observer` hears the row events, after hearing of every row already on the
    // list and where it stands: a front end that comes late misses none. It removes itself
    // (detach) before it goes.
    void attach(RowEvents& observer);
    void detach(RowEvents& observer);

    // Asks about what a session that did not end normally left (through `dialogs`) and keeps
    // the list from then on. Returns how many rows came back; nothing without a recovery
    // folder.
    int offerRecovery(Dialogs& dialogs);
    // Writes the copy now and waits for it; returns why it could not, or an empty text.
    std::string saveRecoveryNow();
    // The end of a normal run: the copy goes, unless `keepUnfinished` and rows are left to do,
    // which the next start takes back.
    void endRecovery(bool keepUnfinished);

    // The remote control over this list (see SessionRemote), kept until it is replaced, reset
    // or the session closes; null: none.
    void setRemote(std::unique_ptr<Part> remote) { m_remote = std::move(remote); }
    Part* remote() { return m_remote.get(); }

    // Ends the core and cancels the running transfer, then waits (at most the grace) for every
    // worker thread to let go. False when one still runs: it may yet reach the event loop,
    // which must then be left in place. Once only; later calls answer the same.
    bool close();
    // Transfer and page workers still running.
    int workersRunning() const;

private:
    void keepListForRecovery();

    Adapters m_adapters;
    Options m_options;
    std::shared_ptr<WorkerCount> m_workers;
    std::shared_ptr<TransferFacility> m_facility;
    // Declared in the order of creation, so that each part goes before what it uses.
    SessionData m_data;
    std::unique_ptr<Timer> m_timer1, m_timer2, m_elpsTimer, m_estTimer, m_noticeTimer;
    std::unique_ptr<TDownloadFile> m_component;
    // The first lane's status bar, shown unless another lane's row is.
    StatusBar m_firstBar;
    std::unique_ptr<TorvalineCore> m_core;
    std::unique_ptr<DownloadLanes> m_lanes;
    std::unique_ptr<LinkCheck> m_linkCheck;
    std::unique_ptr<PackageFollowUp> m_packages;
    std::unique_ptr<FileRecoveryStore> m_recoveryStore;
    std::unique_ptr<Timer> m_recoveryTimer;
    std::unique_ptr<ListRecovery> m_recovery;
    std::unique_ptr<RowEvents> m_recoveryFeed;
    std::unique_ptr<Part> m_remote;
    bool m_closed = false;
    bool m_workersEnded = true;
};

} // namespace torvaline
