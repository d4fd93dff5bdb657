#pragma once

#include <string>
#include <vector>

namespace torvaline {

// What the user chose for the archives of a list (Tools > Archive Passwords).
struct ArchiveChoices {
    enum class AfterExtract { Trash, Delete, Keep };
    std::vector<std::string> passwords; // tried in turn
    // What becomes of a package's parts once it is extracted.
    AfterExtract afterExtract = AfterExtract::Trash;
    // Each package is downloaded into a folder of its own under the download folder.
    bool packageFolders = false;
};

} // namespace torvaline
