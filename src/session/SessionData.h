#pragma once

#include "list/AppTitle.h"
#include "list/DownloadFolder.h"
#include "list/DownloadList.h"
#include "list/StatusBar.h"
#include "platform/Timer.h"

#include <memory>
#include <string>
#include <utility>

namespace torvaline {

// What a download session's front ends show and edit: the list, the download folder, the status
// bar and the program title (with the timer that mirrors the one in the other while the window
// is minimised). The session owns it; a window borrows it.
struct SessionData {
    SessionData(std::string defaultFolder, char separator, std::unique_ptr<Timer> titleTimer)
        : folder(std::move(defaultFolder), separator)
        , stbarTimer(std::move(titleTimer)) {}

    DownloadList list;
    StatusBar statusBar;
    AppTitle title;
    DownloadFolder folder;
    std::unique_ptr<Timer> stbarTimer;
};

} // namespace torvaline
