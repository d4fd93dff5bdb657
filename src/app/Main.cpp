#include "app/Main.h"

#include "adapters/qt/QtTimer.h"
#include "app/CommandIcons.h"
#include "app/Commands.h"
#include "app/DownloadGrid.h"
#include "app/DownloadListModel.h"
#include "app/LinkIntake.h"
#include "app/StatusPanels.h"
#include "app/TrayIcon.h"
#include "cycle/ShutdownControl.h"
#include "dialogs/AboutTorvaline.h"
#include "dialogs/DownOpt.h"
#include "dialogs/ReferenceUnits.h"
#include "dialogs/SaveOn.h"
#include "list/ListOperations.h"
#include "platform/Browser.h"
#include "platform/Dialogs.h"
#include "platform/Shell.h"
#include "transfer/ProgressDisplay.h"

#include <algorithm>

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QToolBar>
#include <QToolButton>
#include <QWindow>
#include <QWindowStateChangeEvent>

namespace torvaline {

namespace {

QString text(const std::string& bytes) {
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// Square, and inside its button whichever way the font stretches the units.
QSize buttonIconSize(const ReferenceUnits& units) {
    const int side = std::min(units.x(TForm1::IconSize), units.y(TForm1::IconSize));
    return {side, side};
}

} // namespace

TForm1::TForm1(Browser& browser, Dialogs& dialogs, Shell& shell, SessionData& data, QWidget* parent)
    : QMainWindow(parent)
    , m_browser(browser)
    , m_dialogs(dialogs)
    , m_shell(shell)
    , m_data(data)
    , m_list(m_data.list)
    , m_statusBar(m_data.statusBar)
    , m_appTitle(m_data.title)
    , m_folder(m_data.folder)
    , m_listCommands(m_list, m_folder, m_statusBar, m_dialogs) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromLatin1(Caption));
    // Fixed: the toolbar and the columns are laid out for this size. In reference units, so
    // it grows with the font.
    setFixedSize(ReferenceUnits().size(FormWidth, FormHeight));
    centreOnScreen();

#ifndef Q_OS_WIN
    // Here ".Txt" would be a hidden file of that name, written by a mere Enter.
    m_listCommands.setChooserNames("txt", "");
#endif

    // The folder field stays empty; only the folder itself is made ready for the transfers.
    DefaultFolder::create(m_folder.defaultPath());

    m_model = new DownloadListModel(m_list, this);
    m_grid = new DownloadGrid(*m_model, this);
    setCentralWidget(m_grid);
    connect(m_grid, &QAbstractItemView::clicked, this, &TForm1::MyStringGridClick);
    m_panels = new StatusPanels(m_statusBar, this);
    setStatusBar(m_panels);

    createActions();
    createToolBar();
    m_intake = new LinkIntake(*this, m_dialogs, m_shell);
    m_tray = new TrayIcon(*this, QSystemTrayIcon::isSystemTrayAvailable());

    m_appTitle.setOnChanged([this](const std::string& title) { showAppTitle(title); });
    showAppTitle(m_appTitle.text());

    m_browser.Navigate(StartPage);
    InitGrid();
}

TForm1::~TForm1() {
    m_appTitle.setOnChanged({});
    delete m_tray;
    delete m_intake;
    // The view, the model and the panels refer to the data, which may be a member and so
    // would die before QObject gets round to deleting the children.
    delete m_grid;
    delete m_model;
    delete m_panels;
}

Timer& TForm1::StbarTimer() {
    return *m_data.stbarTimer;
}

void TForm1::bindShutdownControl(ShutdownControl* control) {
    if (m_shutdown != nullptr)
        m_shutdown->setOnChanged({});
    m_shutdown = control;
    if (m_shutdown != nullptr)
        m_shutdown->setOnChanged([this] { showShutdownControl(); });
    showShutdownControl();
}

void TForm1::bindProgressDisplay(ProgressDisplay* display) {
    m_progress = display;
}

void TForm1::centreOnScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    const QRect area = screen->availableGeometry();
    move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
}

void TForm1::InitGrid() {
    m_list.InitGrid();
    // The grid view sets its 16-pixel rows, widths and selection rules itself.
}

// ---- commands and bindings ----

void TForm1::createActions() {
    for (const MenuEntry& entry : Commands::menus()) {
        QMenu* menu = menuBar()->addMenu(QString::fromLatin1(entry.title));
        menu->setObjectName(QString::fromLatin1(entry.objectName));
    }
    for (const ActionEntry& entry : Commands::actions()) {
        auto* action = new QAction(QString::fromLatin1(entry.text), this);
        action->setObjectName(QString::fromLatin1(entry.objectName));
        if (entry.toolTip != nullptr)
            action->setToolTip(QString::fromLatin1(entry.toolTip));
        if (entry.shortcut.key() != Qt::Key_unknown)
            action->setShortcut(QKeySequence(entry.shortcut));
        action->setCheckable(entry.checkable);
        connect(action, &QAction::triggered, this, entry.command);
        if (entry.menu != nullptr)
            menuBar()->findChild<QMenu*>(QString::fromLatin1(entry.menu))->addAction(action);
    }
    m_shutPC1 = findChild<QAction*>(QStringLiteral("ShutPC1"));
    setPauseResumeEnabled(false, false);
}

void TForm1::setPauseResumeEnabled(bool pause, bool resume) {
    if (auto* action = findChild<QAction*>(QStringLiteral("PauseDownload1")))
        action->setEnabled(pause);
    if (auto* action = findChild<QAction*>(QStringLiteral("ResumeDownload1")))
        action->setEnabled(resume);
}

void TForm1::PauseDownload1Click() {
    if (m_pauseDownload)
        m_pauseDownload();
}

void TForm1::ResumeDownload1Click() {
    if (m_resumeDownload)
        m_resumeDownload();
}

QToolButton* TForm1::addToolButton(const ButtonEntry& entry) {
    auto* button = new QToolButton(m_toolBar);
    button->setObjectName(QString::fromLatin1(entry.objectName));
    button->setIcon(CommandIcons::forButton(entry));
    const ReferenceUnits units;
    button->setIconSize(buttonIconSize(units));
    button->setFixedSize(units.size(ButtonWidth, ButtonHeight));
    button->setAutoRaise(true);
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    button->setFocusPolicy(Qt::NoFocus);
    // A latching button: what it shows comes from the shutdown control.
    button->setCheckable(entry.latching);
    if (entry.command != nullptr) {
        connect(button, &QToolButton::clicked, this, entry.command);
    } else if (entry.action != nullptr) {
        auto* action = findChild<QAction*>(QString::fromLatin1(entry.action));
        action->setIcon(button->icon());
        button->setDefaultAction(action);
        // The window holds it too, so that its shortcut (Ctrl+L) works wherever the window
        // has the focus, also with the menu bar hidden.
        addAction(action);
    } else {
        button->setEnabled(false);
    }
    // Set last: a button that stands for an action keeps its own tool tip.
    button->setToolTip(QString::fromLatin1(entry.toolTip));
    m_toolBar->addWidget(button);
    return button;
}

void TForm1::createToolBar() {
    m_toolBar = new QToolBar(this);
    m_toolBar->setObjectName(QStringLiteral("ToolBar1"));
    m_toolBar->setMovable(false);
    m_toolBar->setFloatable(false);
    const ReferenceUnits units;
    m_toolBar->setFixedHeight(units.y(ToolBarHeight));
    m_toolBar->setIconSize(buttonIconSize(units));
    m_toolBar->toggleViewAction()->setVisible(false);
    // Sixteen 49-pixel buttons and four separators only just fit the fixed window width.
    m_toolBar->layout()->setSpacing(0);
    m_toolBar->layout()->setContentsMargins(0, 0, 0, 0);
    m_toolBar->setContentsMargins(0, 0, 0, 0);
    addToolBar(Qt::TopToolBarArea, m_toolBar);

    for (const ButtonEntry& entry : Commands::toolBar()) {
        if (entry.objectName == nullptr) {
            m_toolBar->addSeparator();
            continue;
        }
        QToolButton* button = addToolButton(entry);
        if (button->objectName() == QLatin1String("UpButton"))
            m_upButton = button;
        else if (button->objectName() == QLatin1String("shutBtn"))
            m_shutBtn = button;
    }
}

int TForm1::currentRow() const {
    return m_grid->currentRow();
}

void TForm1::AddActionExecute() {
    TForm2 dialog(
        m_list, m_folder, [this] { StartDownload1Click(); }, this);
    dialog.exec();
}

void TForm1::DelActionExecute() {
    const int row = currentRow();
    DeleteStringGridRow1(m_list, row);
    // The view moves the focus off a removed row; the index stays, showing the link that
    // followed (or the new last row).
    if (row >= 1 && currentRow() != row)
        m_grid->setCurrentRow(std::min(row, m_list.rowCount() - 1));
}

void TForm1::CopyBtnClick() {
    const int row = currentRow();
    if (row < 0)
        return;
    m_shell.setClipboardText(m_list.cell(row, DownloadList::URL));
}

void TForm1::StartDownload1Click() {
    if (m_startDownload)
        m_startDownload();
}

void TForm1::StopDownExecute() {
    if (m_stopDownload)
        m_stopDownload();
}

void TForm1::moveCurrentRow(void (*move)(DownloadList&, int)) {
    const int row = currentRow();
    m_upButton->setEnabled(CheckRowNum(row));
    move(m_list, row);
}

void TForm1::UpButtonClick() {
    moveCurrentRow(&MoveUpStringGridRow);
}
void TForm1::MDownBtnClick() {
    moveCurrentRow(&MoveDownStringGridRow);
}
void TForm1::MFirstBtnClick() {
    moveCurrentRow(&MoveFirstStringGridRow);
}
void TForm1::LastBtnClick() {
    moveCurrentRow(&MoveLastStringGridRow);
}

void TForm1::ImportList1Click() {
    m_listCommands.ImportList1Click();
}

void TForm1::FileSave() {
    m_listCommands.FileSave();
}

void TForm1::SaveOptBtnClick() {
    TForm4 dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    std::string path = dialog.selectedPath();
    if (!path.empty())
        m_folder.setText(std::move(path));
}

void TForm1::DownloadOptions1Click() {
    SaveOptBtnClick();
}

void TForm1::ClearActionExecute() {
    m_statusBar.clear();
    m_list.setRowCount(1);
}

void TForm1::shutBtnClick() {
    // The button has toggled itself already; the control takes its new state.
    if (m_shutdown != nullptr) {
        m_shutdown->setDown(m_shutBtn->isChecked());
        m_shutdown->shutBtnClick();
    }
    showShutdownControl();
}

void TForm1::ShutPC1Click() {
    // The item has flipped its check mark already and arms or disarms as the button does: a
    // tick that armed nothing beside a button that does would switch off a machine whose
    // user believed it disarmed.
    if (m_shutdown != nullptr) {
        m_shutdown->setDown(m_shutPC1->isChecked());
        m_shutdown->shutBtnClick();
    }
    showShutdownControl();
}

void TForm1::showShutdownControl() {
    const bool armed = m_shutdown != nullptr && m_shutdown->down();
    m_shutBtn->setChecked(armed);
    m_shutPC1->setChecked(armed);
}

void TForm1::Exit1Click() {
    if (!m_listCommands.AskSaveChanges())
        return;
    m_closeApproved = true;
    close();
}

void TForm1::HistoryClick() {}

void TForm1::AboutTorvaline1Click() {
    TForm3 dialog(m_shell, this);
    dialog.exec();
}

void TForm1::MyStringGridClick() {}

// ---- links in, and the tray ----

void TForm1::PasteLinks1Click() {
    m_intake->paste();
}

void TForm1::RetryFailedRows1Click() {
    if (m_retryFailed)
        m_retryFailed();
}

void TForm1::CheckLinksAgain1Click() {
    if (m_checkLinksAgain)
        m_checkLinksAgain();
}

void TForm1::CheckLinks1Click() {
    if (m_setCheckLinks)
        m_setCheckLinks(findChild<QAction*>(QStringLiteral("CheckLinks1"))->isChecked());
}

void TForm1::ArchivePasswords1Click() {
    if (m_archivePasswords)
        m_archivePasswords();
}

void TForm1::WatchClipboard1Click() {
    m_intake->setWatchClipboard(
        findChild<QAction*>(QStringLiteral("WatchClipboard1"))->isChecked());
}

void TForm1::WatchAnyLink1Click() {
    m_intake->setWatchAnyLink(findChild<QAction*>(QStringLiteral("WatchAnyLink1"))->isChecked());
}

void TForm1::ClickNLoad1Click() {
    m_intake->setClickNLoad(findChild<QAction*>(QStringLiteral("ClickNLoad1"))->isChecked());
}

void TForm1::CloseToTray1Click() {
    m_tray->setCloseToTray(findChild<QAction*>(QStringLiteral("CloseToTray1"))->isChecked());
}

void TForm1::closeEvent(QCloseEvent* event) {
    // With a tray to go to, the user may have the close box only put the window away.
    if (!m_closeApproved && event->spontaneous() && m_tray != nullptr && m_tray->closesToTray()) {
        hide();
        event->ignore();
        return;
    }
    // The close box asks what Exit asks: a list of links is never lost without a word.
    if (!m_closeApproved && !m_listCommands.AskSaveChanges()) {
        event->ignore();
        return;
    }
    m_closeApproved = false;
    event->accept();
}

// ---- the title while minimised ----

void TForm1::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange)
        return;
    const auto* change = static_cast<QWindowStateChangeEvent*>(event);
    const bool wasMinimized = change->oldState().testFlag(Qt::WindowMinimized);
    if (isMinimized() && !wasMinimized)
        ApplicationEvents1Minimize();
    else if (!isMinimized() && wasMinimized)
        ApplicationEvents1Restore();
}

void TForm1::ApplicationEvents1Minimize() {
    if (m_progress != nullptr)
        m_progress->ApplicationEvents1Minimize();
}

void TForm1::ApplicationEvents1Restore() {
    if (m_progress != nullptr)
        m_progress->ApplicationEvents1Restore();
}

void TForm1::StbarTimerTimer() {
    if (m_progress != nullptr)
        m_progress->StbarTimerTimer();
}

void TForm1::showAppTitle(const std::string& title) {
    // On the desktops Qt serves, the taskbar names a window by its title, to which Qt adds
    // the application's display name; the icon text is for those that name minimised
    // windows by it. The idle program title would only name the version a second time
    // after the caption, so then nothing is added.
    const QString shown = text(title);
    const bool idle = shown.trimmed() == QLatin1String(AppTitle::Initial);
    QGuiApplication::setApplicationDisplayName(idle ? QString() : shown);
    setWindowIconText(shown);
    // Qt adds the display name only when a title is set, so the shown one is set again.
    if (QWindow* window = windowHandle())
        window->setTitle(window->title());
}

} // namespace torvaline
