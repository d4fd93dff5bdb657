#pragma once

#include "session/PackageFollowUp.h"

#include <QString>

#include <string>

namespace torvaline {

// Where the user's choices are kept: $XDG_CONFIG_HOME/torvaline (~/.config/torvaline); empty
// when neither XDG_CONFIG_HOME nor HOME is absolute. The window and the runs without one read
// the same files.
QString userConfigFolder();

// The archive choices, stored with the user's settings: what to do with the parts and the
// package folders in torvaline.conf, the passwords apart in archive-passwords (one a line,
// mode 0600: nobody else may read them).
class ArchiveSettings final {
public:
    static constexpr const char* PasswordsFile = "archive-passwords";

    // What is stored; the defaults where nothing is (or the folder is not known).
    static ArchiveChoices load();
    // Stores the choices; returns why it could not, or an empty text.
    static std::string save(const ArchiveChoices& choices);
};

} // namespace torvaline
