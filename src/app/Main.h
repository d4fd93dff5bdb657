#pragma once

#include "app/DefaultFolder.h"
#include "list/ListCommands.h"
#include "session/SessionData.h"

#include <QMainWindow>

#include <functional>
#include <memory>
#include <string>

class QAction;
class QToolBar;
class QToolButton;

namespace torvaline {

class Browser;
class Dialogs;
class DownloadGrid;
class DownloadListModel;
class LinkIntake;
class TrayIcon;
class ProgressDisplay;
class QtTimer;
class Shell;
struct ButtonEntry;
class ShutdownControl;
class StatusPanels;
class Timer;

// The main window: the download list, its menus and toolbar, the status bar. What they show is
// the download session's (borrowed); a window made alone, as its own tests make it, keeps the
// same data of its own.
class TForm1 final : public QMainWindow {
    Q_OBJECT

public:
    static constexpr const char* Caption = "Torvaline V.1.2";
    static constexpr const char* StartPage = "about:blank";
    static constexpr int FormWidth = 834;
    static constexpr int FormHeight = 480;
    // In reference units (see ReferenceUnits): the window, toolbar and buttons grow with the
    // font, so that every text of the list and the status bar shows whole.
    static constexpr int ToolBarHeight = 52;
    static constexpr int ButtonWidth = 49;
    static constexpr int ButtonHeight = 48;
    static constexpr int IconSize = 42;

    // The data's default folder is created at once (when missing) and is what the commands
    // fall back on. The data must outlive the window.
    TForm1(Browser& browser, Dialogs& dialogs, Shell& shell, SessionData& data,
           QWidget* parent = nullptr);
    ~TForm1() override;

    // What the download cycle and the progress display work on.
    DownloadList& downloadList() { return m_list; }
    DownloadListModel& listModel() { return *m_model; }
    StatusBar& StatusBar1() { return m_statusBar; }
    DownloadFolder& Edit2() { return m_folder; }
    AppTitle& appTitle() { return m_appTitle; }
    Browser& WebBrowser1() { return m_browser; }
    Timer& StbarTimer();
    ListCommands& listCommands() { return m_listCommands; }
    DownloadGrid* MyStringGrid() const { return m_grid; }
    // Start Download and Stop Download run whatever the download cycle binds here; unbound
    // they do nothing.
    void bindStartDownload(std::function<void()> command) { m_startDownload = std::move(command); }
    void bindStopDownload(std::function<void()> command) { m_stopDownload = std::move(command); }
    void bindRetryFailed(std::function<void()> command) { m_retryFailed = std::move(command); }
    // Check Links Again, and the Tools entry that turns the check on and off.
    void bindLinkCheck(std::function<void()> again, std::function<void(bool)> setOn) {
        m_checkLinksAgain = std::move(again);
        m_setCheckLinks = std::move(setOn);
    }
    // Tools > Archive Passwords runs what the session binds here; unbound it does nothing.
    void bindArchivePasswords(std::function<void()> command) {
        m_archivePasswords = std::move(command);
    }
    // Pause Download and Resume Download (entries and buttons) likewise; they are enabled only
    // as the cycle says they apply.
    void bindPauseResume(std::function<void()> pause, std::function<void()> resume) {
        m_pauseDownload = std::move(pause);
        m_resumeDownload = std::move(resume);
    }
    void setPauseResumeEnabled(bool pause, bool resume);
    // The shutdown button and the menu item show and change one state, the control's arming
    // (and mark its Tag); unbound they stay up and unchecked. Pass null to unbind. A bound
    // control must be unbound before it goes.
    void bindShutdownControl(ShutdownControl* control);
    QToolButton* shutBtn() const { return m_shutBtn; }
    QAction* ShutPC1() const { return m_shutPC1; }
    // Minimise, restore and StbarTimerTimer go to the progress display, which mirrors the
    // status bar in the program title and takes StbarTimer's ticks itself; unbound they do
    // nothing. Pass null to unbind.
    void bindProgressDisplay(ProgressDisplay* display);

    // Links from drops, pastes, the clipboard, a second start and Click'n'Load; the tray.
    LinkIntake& linkIntake() { return *m_intake; }
    TrayIcon& trayIcon() { return *m_tray; }

public slots:
    void AddActionExecute();
    void DelActionExecute();
    void CopyBtnClick();
    void StartDownload1Click();
    void StopDownExecute();
    void PauseDownload1Click();
    void ResumeDownload1Click();
    void UpButtonClick();
    void MDownBtnClick();
    void MFirstBtnClick();
    void LastBtnClick();
    void ImportList1Click();
    void SaveOptBtnClick();
    void DownloadOptions1Click();
    void FileSave();
    void ClearActionExecute();
    void shutBtnClick();
    void ShutPC1Click();
    void Exit1Click();
    void HistoryClick();
    void AboutTorvaline1Click();
    void MyStringGridClick();

    // Links in, and the tray.
    void PasteLinks1Click();
    void RetryFailedRows1Click();
    void WatchClipboard1Click();
    void WatchAnyLink1Click();
    void ClickNLoad1Click();
    void CloseToTray1Click();
    void CheckLinksAgain1Click();
    void CheckLinks1Click();
    void ArchivePasswords1Click();

    void ApplicationEvents1Minimize();
    void ApplicationEvents1Restore();
    void StbarTimerTimer();

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // The menus, their entries and the window's own actions, from the command table.
    void createActions();
    void createToolBar();
    QToolButton* addToolButton(const ButtonEntry& entry);
    void InitGrid();
    void centreOnScreen();
    void showAppTitle(const std::string& title);
    void showShutdownControl();
    // Runs a move after CheckRowNum; the selection stays on the row index it started from.
    void moveCurrentRow(void (*move)(DownloadList&, int));
    int currentRow() const;

    Browser& m_browser;
    Dialogs& m_dialogs;
    Shell& m_shell;

    SessionData& m_data;
    DownloadList& m_list;
    StatusBar& m_statusBar;
    AppTitle& m_appTitle;
    DownloadFolder& m_folder;
    ListCommands m_listCommands;

    DownloadListModel* m_model = nullptr;
    DownloadGrid* m_grid = nullptr;
    StatusPanels* m_panels = nullptr;
    QToolBar* m_toolBar = nullptr;

    QAction* m_shutPC1 = nullptr;
    QToolButton* m_upButton = nullptr;
    QToolButton* m_shutBtn = nullptr;

    std::function<void()> m_startDownload;
    std::function<void()> m_stopDownload;
    std::function<void()> m_retryFailed;
    std::function<void()> m_checkLinksAgain;
    std::function<void(bool)> m_setCheckLinks;
    std::function<void()> m_archivePasswords;
    std::function<void()> m_pauseDownload;
    std::function<void()> m_resumeDownload;
    ShutdownControl* m_shutdown = nullptr;
    ProgressDisplay* m_progress = nullptr;
    bool m_closeApproved = false;

    LinkIntake* m_intake = nullptr;
    TrayIcon* m_tray = nullptr;
};

} // namespace torvaline
