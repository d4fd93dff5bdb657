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
    {"Edit1", "CheckLinksAgain1", "Check Links Again", nullptr, {}, &F::CheckLinksAgain1Click},
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
    {"Tools1", "CheckLinks1", "Check Links When Added", nullptr, {}, &F::CheckLinks1Click, true},
    {"Tools1", "ArchivePasswords1", "Archive Passwords", nullptr, {}, &F::ArchivePasswords1Click},
    {"View1", "ViewHistory1", "View History", nullptr, {}, &F::HistoryClick},
    {"Help1", "AboutTorvaline1", "About Torvaline", nullptr, {}, &F::AboutTorvaline1Click},
    {nullptr, "StopDown", "Stop Down", "Stop Download", {}, &F::StopDownExecute},
});

const auto kToolBar = std::to_array<ButtonEntry>({
    {"addBtn", "Add New Download", "add", &F::AddActionExecute},
    {"delBtn", "Delete Selected", "delete", nullptr, "DelAction"},
    {"CopyBtn", "Copy Selected", "copy", &F::CopyBtnClick},
    {nullptr},
    {"startBtn", "Start Download", "start", &F::StartDownload1Click},
    {"pauseBtn", "Pause Download", "pause", nullptr, "PauseDownload1"},
    {"resumeBtn", "Resume Download", "resume", nullptr, "ResumeDownload1"},
    {"stopBtn", "Stop Download", "stop", nullptr, "StopDown"},
    {nullptr},
    {"UpButton", "Move UP", "up", &F::UpButtonClick},
    {"MDownBtn", "Move Down", "down", &F::MDownBtnClick},
    {"MFirstBtn", "Move to First", "first", &F::MFirstBtnClick},
    {"LastBtn", "Move to Last", "last", &F::LastBtnClick},
    {nullptr},
    {"impBtn", "Import List", "import", &F::ImportList1Click},
    {"SaveOptBtn", "Save Options", "folder", &F::SaveOptBtnClick},
    {"saveasBtn", "Save File as", "saveas", &F::FileSave},
    {"clrBtn", "Clear List", "clear", nullptr, "ClearAction"},
    {nullptr},
    // A power symbol, so that nobody takes it for the window's close box.
    {"shutBtn", "ShutDown PC", "power", &F::shutBtnClick, nullptr, true},
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
