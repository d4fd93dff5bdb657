#include "app/Commands.h"

#include "app/Main.h"

#include <array>

namespace torvaline {

namespace {

using F = TForm1;

const auto kMenus = std::to_array<MenuEntry>({
    {"File1", "File"},
    {"Edit1", "Edit"},
    {"Tools1", "Tools"},
    {"View1", "View"},
    {"Help1", "Help"},
});

const auto kActions = std::to_array<ActionEntry>({
    {"File1", "NewDownload1", "New Download", nullptr, {}, &F::AddActionExecute},
    {"File1", "StartDownload1", "&Start Download", nullptr, {}, &F::StartDownload1Click},
    {"File1", "StopDownload1", "Stop Download", nullptr, {}, &F::StopDownExecute},
    {"File1", "PauseDownload1", "Pause Download", nullptr, {}, &F::PauseDownload1Click},
    {"File1", "ResumeDownload1", "Resume Download", nullptr, {}, &F::ResumeDownload1Click},
    {"File1", "SaveAs1", "Save &As...", nullptr, {}, &F::FileSave},
    {"File1", "Exit1", "E&xit", nullptr, {}, &F::Exit1Click},
    {"Edit1", "MoveUp1", "Move Up", nullptr, {}, &F::UpButtonClick},
    {"Edit1", "MoveDown1", "Move Down", nullptr, {}, &F::MDownBtnClick},
    {"Edit1", "MovetoFirst1", "Move to First", nullptr, {}, &F::MFirstBtnClick},
    {"Edit1", "MovetoLast1", "Move to Last", nullptr, {}, &F::LastBtnClick},
    {"Edit1", "DelAction", "Delete Selected", "Delete Selected", Qt::Key_Delete,
     &F::DelActionExecute},
    // An entry that does nothing while its toolbar twin copies the link only misleads.
    {"Edit1", "CopySelected1", "Copy Selected", nullptr, {}, &F::CopyBtnClick},
    {"Edit1", "PasteLinks1", "Paste Links", nullptr, Qt::CTRL | Qt::Key_V, &F::PasteLinks1Click},
    {"Edit1", "RetryFailedRows1", "Retry Failed Rows", nullptr, {}, &F::RetryFailedRows1Click},
    {"Tools1", "ClearAction", "Clear &List", "Clear List", Qt::CTRL | Qt::Key_L,
     &F::ClearActionExecute},
    {"Tools1", "ImportList1", "Import List", nullptr, Qt::CTRL | Qt::Key_I, &F::ImportList1Click},
    {"Tools1", "DownloadOptions1", "Save Options", nullptr, {}, &F::DownloadOptions1Click},
    // triggered comes after the check mark has flipped.
    {"Tools1", "ShutPC1", "Shu&tDown PC", "ShutDown PC", {}, &F::ShutPC1Click, true},
    {"Tools1", "WatchClipboard1", "&Watch Clipboard", nullptr, {}, &F::WatchClipboard1Click, true},
    {"Tools1",
     "WatchAnyLink1",
     "Watch Clipboard for Any Link",
     nullptr,
     {},
     &F::WatchAnyLink1Click,
     true},
    {"Tools1",
     "ClickNLoad1",
     "&Click'n'Load from the Browser",
     nullptr,
     {},
     &F::ClickNLoad1Click,
     true},
    {"Tools1", "CloseToTray1", "Close to Tra&y", nullptr, {}, &F::CloseToTray1Click, true},
    {"View1", "ViewHistory1", "View History", nullptr, {}, &F::HistoryClick},
    {"Help1", "AboutTorvaline1", "About Torvaline", nullptr, {}, &F::AboutTorvaline1Click},
    {nullptr, "StopDown", "Stop Down", "Stop Download", {}, &F::StopDownExecute},
});

const auto kToolBar = std::to_array<ButtonEntry>({
    {"addBtn", "Add New Download", "list-add", QStyle::SP_FileIcon, &F::AddActionExecute},
    {"delBtn", "Delete Selected", "list-remove", QStyle::SP_TrashIcon, nullptr, "DelAction"},
    {"CopyBtn", "Copy Selected", "edit-copy", QStyle::SP_FileDialogContentsView, &F::CopyBtnClick},
    {nullptr},
    {"startBtn", "Start Download", "media-playback-start", QStyle::SP_MediaPlay,
     &F::StartDownload1Click},
    {"pauseBtn", "Pause Download", "media-playback-pause", QStyle::SP_MediaPause, nullptr,
     "PauseDownload1"},
    {"resumeBtn", "Resume Download", "media-seek-forward", QStyle::SP_MediaSeekForward, nullptr,
     "ResumeDownload1"},
    {"stopBtn", "Stop Download", "process-stop", QStyle::SP_MediaStop, nullptr, "StopDown"},
    {nullptr},
    {"UpButton", "Move UP", "go-up", QStyle::SP_ArrowUp, &F::UpButtonClick},
    {"MDownBtn", "Move Down", "go-down", QStyle::SP_ArrowDown, &F::MDownBtnClick},
    {"MFirstBtn", "Move to First", "go-top", QStyle::SP_MediaSkipBackward, &F::MFirstBtnClick},
    {"LastBtn", "Move to Last", "go-bottom", QStyle::SP_MediaSkipForward, &F::LastBtnClick},
    {nullptr},
    {"impBtn", "Import List", "document-open", QStyle::SP_DialogOpenButton, &F::ImportList1Click},
    {"SaveOptBtn", "Save Options", "document-properties", QStyle::SP_DirIcon, &F::SaveOptBtnClick},
    {"saveasBtn", "Save File as", "document-save-as", QStyle::SP_DialogSaveButton, &F::FileSave},
    {"clrBtn", "Clear List", "edit-clear-all", QStyle::SP_DialogResetButton, nullptr,
     "ClearAction"},
    {nullptr},
    {"shutBtn", "ShutDown PC", "system-shutdown", QStyle::SP_BrowserStop, &F::shutBtnClick, nullptr,
     true},
});

} // namespace

std::span<const MenuEntry> Commands::menus() {
    return kMenus;
}

std::span<const ActionEntry> Commands::actions() {
    return kActions;
}

std::span<const ButtonEntry> Commands::toolBar() {
    return kToolBar;
}

} // namespace torvaline
