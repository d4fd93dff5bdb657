#include "app/TorvalineApp.h"

#include "adapters/curl/CurlLinkProbe.h"
#include "adapters/curl/CurlShare.h"
#include "adapters/curl/CurlTransfer.h"
#include "adapters/curl/HttpBrowser.h"
#include "adapters/qt/QtClock.h"
#include "adapters/qt/QtEventLoop.h"
#include "adapters/qt/QtShutdownNotice.h"
#include "adapters/qt/QtTimer.h"
#include "app/CaptchaPrompt.h"
#include "app/DownloadGrid.h"
#include "app/DownloadListModel.h"
#include "app/LanesControl.h"
#include "app/LinkIntake.h"
#include "app/ListDoneNotice.h"
#include "app/Main.h"
#include "app/PauseResumeButtons.h"
#include "app/SpeedLimitControl.h"
#include "app/UserSettings.h"
#include "app/WorkingRowMarker.h"
#include "cycle/TorvalineCore.h"
#include "dialogs/ArchivePasswords.h"
#include "platform/Dialogs.h"
#include "platform/WorkerCount.h"
#include "session/ArchiveSettings.h"
#include "session/DownloadLanes.h"
#include "session/DownloadSession.h"
#include "session/LinkCheck.h"
#include "session/PackageFollowUp.h"

#include <QAction>
#include <QApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPointer>

namespace torvaline {

namespace {
const QString CheckLinksKey = QStringLiteral("links/checkWhenAdded");
} // namespace

TorvalineApp::TorvalineApp(Dialogs& dialogs, Shell& shell, ShutdownService& shutdownService,
                           Options options)
    : m_options(std::move(options))
    , m_dialogs(dialogs)
    , m_loop(std::make_unique<QtEventLoop>())
    , m_share(std::make_shared<CurlShare>())
    , m_workers(std::make_shared<WorkerCount>())
    , m_browser(std::make_unique<HttpBrowser>(*m_loop, *m_share))
    , m_clock(std::make_unique<QtClock>())
    , m_notice(std::make_unique<QtShutdownNotice>())
    // The transfers send the cookies the pages set: one jar for both.
    , m_facility(std::make_shared<CurlTransfer>(m_share)) {
    m_browser->countWorkers(m_workers);
    DownloadSession::Options sessionOptions;
    sessionOptions.defaultFolder = m_options.defaultFolder;
    sessionOptions.separator = DefaultFolder::separator();
    sessionOptions.decimalSeparator = m_options.decimalSeparator;
    sessionOptions.workerGrace = m_options.workerGrace;
    sessionOptions.recoveryFolder = m_options.recoveryFolder;
    // The Tools entry's remembered choice; until the user changes it, nothing is written.
    const bool checkRemembered = userSettings().value(CheckLinksKey, true).toBool();
    sessionOptions.checkLinks = m_options.checkLinks && checkRemembered;
    sessionOptions.lanes = m_options.lanes;
    // The window asks the user for image captchas.
    sessionOptions.captchaAnswered = true;
    sessionOptions.captchaTimeout = m_options.captchaTimeout;
    m_session = std::make_unique<DownloadSession>(
        DownloadSession::Adapters{
            .browser = *m_browser,
            .loop = *m_loop,
            .clock = *m_clock,
            .makeTimer = [] { return std::make_unique<QtTimer>(); },
            .facility = m_facility,
            .shutdownService = shutdownService,
            .shutdownNotice = *m_notice,
            .workers = m_workers,
            .notice = {},
            .startThread = {},
            .linkProbe = std::make_shared<CurlLinkProbe>(m_share),
            .makeBrowser = [this]() -> std::unique_ptr<Browser> {
                auto browser = std::make_unique<HttpBrowser>(*m_loop, *m_share);
                browser->countWorkers(m_workers);
                return browser;
            },
        },
        sessionOptions);
    m_form = std::make_unique<TForm1>(*m_browser, dialogs, shell, m_session->data());
    TForm1& form = *m_form;
    m_notice->setParent(&form);
    TorvalineCore& core = m_session->core();
    DownloadSession& session = *m_session;
    m_workingRow = std::make_unique<WorkingRowMarker>(
        [&form](std::uint64_t id, bool working) { form.listModel().markWorking(id, working); });
    m_session->attach(*m_workingRow);
    // Each row at work among several shows its own countdown and wait.
    form.listModel().setStatusText(
        [&session](std::uint64_t id) { return session.lanes().laneText(id); });
    session.lanes().setOnLaneTexts(
        [&form](const std::vector<int>& rows) { form.listModel().statusChanged(rows); });
    // "Start Download Now" of the Download Options dialog runs the same command.
    form.bindStartDownload([&session] { session.start(); });
    form.bindStopDownload([&session] { session.stop(); });
    // Failed rows wait again in their places; a list at rest starts on the first of them.
    if (auto* entry = form.findChild<QAction*>(QStringLiteral("CheckLinks1")))
        entry->setChecked(sessionOptions.checkLinks);
    LinkCheck& check = m_session->linkCheck();
    form.bindLinkCheck([&check] { check.checkAgain(); },
                       [&check](bool on) {
                           check.setEnabled(on);
                           userSettings().setValue(CheckLinksKey, on);
                       });
    form.bindRetryFailed([&core, &form, &session] {
        DownloadList& list = form.downloadList();
        int first = 0;
        for (int row = 1; row < list.rowCount(); ++row)
            if (core.cycle().retryRow(list.id(row)) && first == 0)
                first = row;
        if (first != 0)
            session.startAt(first);
    });
    bindPackages();
    // Pause and Resume act on the focused row's lane, else on the row shown.
    const auto focused = [&form]() -> std::uint64_t {
        const int row = form.MyStringGrid()->currentRow();
        return row >= 1 ? form.downloadList().id(row) : 0;
    };
    const auto target = [&session, focused](bool pausing) -> std::uint64_t {
        const std::uint64_t id = focused();
        const bool applies = pausing ? session.canPause(id) : session.canResume(id);
        return id != 0 && applies ? id : 0;
    };
    const auto refreshPause = [&form, &session, target] {
        form.setPauseResumeEnabled(session.canPause(target(true)),
                                   session.canResume(target(false)));
    };
    m_pauseButtons = std::make_unique<PauseResumeButtons>(refreshPause);
    m_session->attach(*m_pauseButtons);
    // A pause of a transfer is told once the transfer stopped; until then neither applies.
    form.bindPauseResume(
        [&session, refreshPause, target] {
            session.pause(target(true));
            refreshPause();
        },
        [&session, refreshPause, target] {
            session.resume(target(false));
            refreshPause();
        });
    m_lanesControl = new LanesControl(form, session, focused);
    m_captchas = std::make_unique<CaptchaPrompt>(
        CaptchaPrompt::Ports{form, form.downloadList(), *m_loop, m_share, m_workers,
                             [&session](std::uint64_t id, const std::string& code) {
                                 return session.answerCaptcha(id, code);
                             },
                             m_options.notifier});
    m_session->attach(*m_captchas);
    m_focusFollower = QObject::connect(form.MyStringGrid()->selectionModel(),
                                       &QItemSelectionModel::currentChanged, m_lanesControl,
                                       [this, refreshPause] {
                                           m_lanesControl->focusChanged();
                                           refreshPause();
                                       });
    form.bindShutdownControl(&core.shutdown());
    form.bindProgressDisplay(&core.progress());
    if (m_options.notifier) {
        const QPointer<TForm1> window(&form);
        m_doneNotice = std::make_unique<ListDoneNotice>(
            form.downloadList(), *m_options.notifier,
            ListDoneNotice::Window{
                // One of our windows active (a dialog over the main window counts) and the
                // main window not minimised.
                [window] {
                    return window && QApplication::activeWindow() != nullptr &&
                           !window->isMinimized();
                },
                [window] {
                    if (!window)
                        return;
                    if (window->isMinimized())
                        window->showNormal();
                    window->show();
                    window->raise();
                    window->activateWindow();
                }});
        core.setOnListDone([this] { m_doneNotice->listDone(); });
    }
    // The facility is shared with the workers: the limit reaches a running transfer too.
    m_speedLimit =
        new SpeedLimitControl(form, [facility = std::weak_ptr(m_facility)](std::uint64_t rate) {
            if (const auto held = facility.lock())
                held->setSpeedLimit(rate);
        });
}

void TorvalineApp::bindPackages() {
    TForm1& form = *m_form;
    PackageFollowUp& packages = m_session->packages();
    packages.setChoices(ArchiveSettings::load());
    // Progress and results in the notice at the right of the status bar; the rows' tool tips
    // follow from the list.
    packages.setOnNotice([&form](const PackageFollowUp::Notice& notice) {
        LinkIntake& intake = form.linkIntake();
        intake.showNotice(
            QString::fromStdString(notice.brief.empty() ? notice.text : notice.brief));
        intake.notice()->setToolTip(QString::fromStdString(notice.text));
    });
    form.bindArchivePasswords([this, &form, &packages] {
        ArchivePasswords dialog(packages.choices(), &form);
        if (dialog.exec() != QDialog::Accepted)
            return;
        const ArchiveChoices choices = dialog.choices();
        packages.setChoices(choices);
        if (const std::string problem = ArchiveSettings::save(choices); !problem.empty())
            m_dialogs.showError(problem);
    });
}

TorvalineCore& TorvalineApp::core() {
    return m_session->core();
}

void TorvalineApp::offerRecovery() {
    m_session->offerRecovery(m_dialogs);
}

std::string TorvalineApp::saveRecoveryNow() {
    return m_session->saveRecoveryNow();
}

TorvalineApp::~TorvalineApp() {
    // The program ends normally: the list was seen and the user was asked about saving it.
    m_session->endRecovery(false);
    // The window outlives the core: nothing it still delivers may reach the core once gone.
    m_form->bindStartDownload({});
    m_form->bindStopDownload({});
    m_form->bindRetryFailed({});
    m_form->bindLinkCheck({}, {});
    m_form->bindArchivePasswords({});
    m_session->packages().setOnNotice({});
    m_form->bindPauseResume({}, {});
    m_form->listModel().setStatusText({});
    m_lanesControl->detach();
    QObject::disconnect(m_focusFollower);
    m_session->lanes().setOnLaneTexts({});
    m_form->bindShutdownControl(nullptr);
    m_form->bindProgressDisplay(nullptr);
    m_session->detach(*m_workingRow);
    m_session->detach(*m_pauseButtons);
    m_session->detach(*m_captchas);
    m_captchas.reset();
    m_session->core().setOnListDone({});
    m_doneNotice.reset();
    if (!m_session->close()) {
        // A worker that has not let go may still be about to reach the event loop. Leaving
        // the loop in place costs a few bytes at exit; freeing it could crash.
        static_cast<void>(m_loop.release());
    }
}

} // namespace torvaline
