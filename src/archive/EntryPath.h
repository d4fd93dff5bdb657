#pragma once

#include "platform/Result.h"

#include <string>
#include <vector>

namespace torvaline {

// The path of an archive entry, taken apart into the folder names it would create under the
// set's folder. An archive is input from a hoster: a path that could leave the folder or
// disguise a file's name is refused, never repaired.
class EntryPath final {
public:
    // The components of path ("a/b/c.txt" -> a, b, c.txt; "./" and doubled slashes dropped),
    // never none; a NameRefused failure when the entry may not be written.
    static Result<std::vector<std::string>> split(const std::string& path);

    // Whether one component can be a file name, or why not (NameRefused). The same rules the
    // download's own file names follow (control and text-direction characters, length), kept
    // here because extraction sits below the cycle that holds that check.
    static Result<void> checkName(const std::string& name);
};

} // namespace torvaline
