#pragma once

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

    // Moves the file at `path` (absolute) to the trash; false with `error` set when it cannot,
    // and the file then stays where it was. Never copies: a file that would have to cross a
    // disk to reach a trash stays.
    static bool moveToTrash(const std::string& path, std::string& error);
};

} // namespace torvaline
