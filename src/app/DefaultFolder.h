#pragma once

#include <string>

namespace torvaline {

// Where downloads go when the user has chosen no folder, and how paths are joined there.
class DefaultFolder final {
public:
    // Windows: C:\Torvaline\Downloads. Elsewhere: the user's download folder + /Torvaline.
    static std::string path();
    static char separator();
    // Creates the folder with its missing parents; a failure shows later, when a transfer
    // into the folder fails, so it is not reported here.
    static void create(const std::string& path);
};

} // namespace torvaline
