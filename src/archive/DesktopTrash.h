#pragma once

#include "platform/Result.h"

#include <string>

namespace torvaline {

// Moves files to the desktop's trash as the freedesktop.org trash layout has it: the file goes
// into Trash/files under a name of its own and Trash/info holds where it came from and when,
// so that the file manager can put it back. The home trash ($XDG_DATA_HOME/Trash) takes files
// of its own disk; a file on another disk goes to that disk's .Trash-<uid> at its top.
class DesktopTrash final {
public:
    // The home trash's folder; empty when neither XDG_DATA_HOME nor HOME is absolute.
    static std::string homeTrash();

    // Moves the file at `path` (absolute) to the trash; a failure when it cannot (NotFound when
    // the file is gone), and the file then stays where it was. Never copies: a file that would
    // have to cross a disk to reach a trash stays.
    static Result<void> moveToTrash(const std::string& path);
};

} // namespace torvaline
