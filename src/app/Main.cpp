#include "app/Main.h"

#include "adapters/qt/QtTimer.h"
#include "app/CommandIcons.h"
#include "app/DownloadGrid.h"
#include "app/DownloadListModel.h"
#include "app/StatusPanels.h"
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
#include <QMenuBar>
#include <QScreen>
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

TForm1::TForm1(Browser& browser, Dialogs& dialogs, Shell& shell, const std::string& defaultFolder,
               QWidget* parent)
    : QMainWindow(parent)
    , m_browser(browser)
    , m_dialogs(dialogs)
    , m_shell(shell)
    , m_folder(defaultFolder, DefaultFolder::separator())
    , m_listCommands(m_list, m_folder, m_statusBar, m_dialogs)
    , m_stbarTimer(std::make_unique<QtTimer>()) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromLatin1(Caption));
    // Fixed like the original window, in reference units: it grows with the font.
    setFixedSize(ReferenceUnits().size(FormWidth, FormHeight));
    centreOnScreen();

#ifndef Q_OS_WIN
    // Here ".Txt" would be a hidden file of that name, written by a mere Enter.
    m_listCommands.setChooserNames("txt", "");
#endif

    // The folder field stays empty; only the folder itself is made ready for the transfers.
    DefaultFolder::create(defaultFolder);

    m_model = new DownloadListModel(m_list, this);
    m_grid = new DownloadGrid(*m_model, this);
    setCentralWidget(m_grid);
    connect(m_grid, &QAbstractItemView::clicked, this, &TForm1::MyStringGridClick);
    m_panels = new StatusPanels(m_statusBar, this);
    setStatusBar(m_panels);

    createActions();
    createMenus();
    createToolBar();

    m_appTitle.setOnChanged([this](const std::string& title) { showAppTitle(title); });
    showAppTitle(m_appTitle.text());

    m_browser.Navigate(StartPage);
    InitGrid();
}

TForm1::~TForm1() {
    m_appTitle.setOnChanged({});
    // The view, the model and the panels refer to the core objects, which are members and
    // so would die before QObject gets round to deleting the children.
    delete m_grid;
    delete m_model;
    delete m_panels;
}

Timer& TForm1::StbarTimer() {
    return *m_stbarTimer;
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
    m_delAction = new QAction(QStringLiteral("Delete Selected"), this);
    m_delAction->setObjectName(QStringLiteral("DelAction"));
    m_delAction->setToolTip(QStringLiteral("Delete Selected"));
    m_delAction->setIcon(CommandIcons::forButton(QStringLiteral("delBtn")));
    connect(m_delAction, &QAction::triggered, this, &TForm1::DelActionExecute);

    m_stopDown = new QAction(QStringLiteral("Stop Down"), this);
    m_stopDown->setObjectName(QStringLiteral("StopDown"));
    m_stopDown->setToolTip(QStringLiteral("Stop Download"));
    m_stopDown->setIcon(CommandIcons::forButton(QStringLiteral("stopBtn")));
    connect(m_stopDown, &QAction::triggered, this, &TForm1::StopDownExecute);

    m_clearAction = new QAction(QStringLiteral("Clear &List"), this);
    m_clearAction->setObjectName(QStringLiteral("ClearAction"));
    m_clearAction->setToolTip(QStringLiteral("Clear List"));
    m_clearAction->setIcon(CommandIcons::forButton(QStringLiteral("clrBtn")));
    m_clearAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_L));
    m_clearAction->setShortcutContext(Qt::WindowShortcut);
    connect(m_clearAction, &QAction::triggered, this, &TForm1::ClearActionExecute);
    // Ctrl+L works wherever the window has the focus, also with the menu bar hidden.
    addAction(m_clearAction);
}

void TForm1::createMenus() {
    const auto entry = [this](QMenu* menu, const char* name, const char* caption,
                              void (TForm1::*command)()) {
        QAction* action = menu->addAction(QString::fromLatin1(caption));
        action->setObjectName(QString::fromLatin1(name));
        if (command != nullptr)
            connect(action, &QAction::triggered, this, command);
        return action;
    };
    const auto menu = [this](const char* name, const char* title) {
        QMenu* m = menuBar()->addMenu(QString::fromLatin1(title));
        m->setObjectName(QString::fromLatin1(name));
        return m;
    };

    QMenu* file = menu("File1", "File");
    entry(file, "NewDownload1", "New Download", &TForm1::AddActionExecute);
    entry(file, "StartDownload1", "&Start Download", &TForm1::StartDownload1Click);
    entry(file, "StopDownload1", "Stop Download", &TForm1::StopDownExecute);
    entry(file, "SaveAs1", "Save &As...", &TForm1::FileSave);
    entry(file, "Exit1", "E&xit", &TForm1::Exit1Click);

    QMenu* edit = menu("Edit1", "Edit");
    entry(edit, "MoveUp1", "Move Up", &TForm1::UpButtonClick);
    entry(edit, "MoveDown1", "Move Down", &TForm1::MDownBtnClick);
    entry(edit, "MovetoFirst1", "Move to First", &TForm1::MFirstBtnClick);
    entry(edit, "MovetoLast1", "Move to Last", &TForm1::LastBtnClick);
    edit->addAction(m_delAction);
    // An entry that does nothing while its toolbar twin copies the link only misleads.
    entry(edit, "CopySelected1", "Copy Selected", &TForm1::CopyBtnClick);

    QMenu* tools = menu("Tools1", "Tools");
    tools->addAction(m_clearAction);
    QAction* import = entry(tools, "ImportList1", "Import List", &TForm1::ImportList1Click);
    import->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
    entry(tools, "DownloadOptions1", "Save Options", &TForm1::DownloadOptions1Click);
    m_shutPC1 = entry(tools, "ShutPC1", "Shu&tDown PC", nullptr);
    m_shutPC1->setCheckable(true);
    m_shutPC1->setToolTip(QStringLiteral("ShutDown PC"));
    // triggered comes after the check mark has flipped.
    connect(m_shutPC1, &QAction::triggered, this, &TForm1::ShutPC1Click);

    QMenu* view = menu("View1", "View");
    entry(view, "ViewHistory1", "View History", &TForm1::HistoryClick);

    QMenu* help = menu("Help1", "Help");
    entry(help, "AboutTorvaline1", "About Torvaline", &TForm1::AboutTorvaline1Click);
}

QToolButton* TForm1::addToolButton(const char* name, const char* toolTip) {
    auto* button = new QToolButton(m_toolBar);
    button->setObjectName(QString::fromLatin1(name));
    button->setIcon(CommandIcons::forButton(button->objectName()));
    const ReferenceUnits units;
    button->setIconSize(buttonIconSize(units));
    button->setFixedSize(units.size(ButtonWidth, ButtonHeight));
    button->setAutoRaise(true);
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    button->setToolTip(QString::fromLatin1(toolTip));
    button->setFocusPolicy(Qt::NoFocus);
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

    const auto bind = [this](QToolButton* button, void (TForm1::*command)()) {
        connect(button, &QToolButton::clicked, this, command);
    };
    // Buttons that stand for an action take its command but keep their own tool tip.
    const auto bindAction = [](QToolButton* button, QAction* action) {
        const QString tip = button->toolTip();
        button->setDefaultAction(action);
        button->setToolTip(tip);
    };

    bind(addToolButton("addBtn", "Add New Download"), &TForm1::AddActionExecute);
    bindAction(addToolButton("delBtn", "Delete Selected"), m_delAction);
    bind(addToolButton("CopyBtn", "Copy Selected"), &TForm1::CopyBtnClick);
    m_toolBar->addSeparator();
    bind(addToolButton("startBtn", "Start Download"), &TForm1::StartDownload1Click);
    addToolButton("pauseBtn", "Pause Download")->setEnabled(false);
    addToolButton("resumeBtn", "Resume Download")->setEnabled(false);
    bindAction(addToolButton("stopBtn", "Stop Download"), m_stopDown);
    m_toolBar->addSeparator();
    m_upButton = addToolButton("UpButton", "Move UP");
    bind(m_upButton, &TForm1::UpButtonClick);
    bind(addToolButton("MDownBtn", "Move Down"), &TForm1::MDownBtnClick);
    bind(addToolButton("MFirstBtn", "Move to First"), &TForm1::MFirstBtnClick);
    bind(addToolButton("LastBtn", "Move to Last"), &TForm1::LastBtnClick);
    m_toolBar->addSeparator();
    bind(addToolButton("impBtn", "Import List"), &TForm1::ImportList1Click);
    bind(addToolButton("SaveOptBtn", "Save Options"), &TForm1::SaveOptBtnClick);
    bind(addToolButton("saveasBtn", "Save File as"), &TForm1::FileSave);
    bindAction(addToolButton("clrBtn", "Clear List"), m_clearAction);
    m_toolBar->addSeparator();
    m_shutBtn = addToolButton("shutBtn", "ShutDown PC");
    // A latching button: each click toggles it; what it shows comes from the shutdown control.
    m_shutBtn->setCheckable(true);
    bind(m_shutBtn, &TForm1::shutBtnClick);
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
    // The item has flipped its check mark already; the control flips its own, which is the
    // one that counts, and the item is set from it.
    if (m_shutdown != nullptr)
        m_shutdown->chooseShutPC1();
    showShutdownControl();
}

void TForm1::showShutdownControl() {
    m_shutBtn->setChecked(m_shutdown != nullptr && m_shutdown->down());
    m_shutPC1->setChecked(m_shutdown != nullptr && m_shutdown->menuChecked());
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

void TForm1::closeEvent(QCloseEvent* event) {
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
    // windows by it.
    QGuiApplication::setApplicationDisplayName(text(title));
    setWindowIconText(text(title));
    // Qt adds the display name only when a title is set, so the shown one is set again.
    if (QWindow* window = windowHandle())
        window->setTitle(window->title());
}

} // namespace torvaline
