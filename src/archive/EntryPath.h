#pragma once

#include <string>
#include <vector>

namespace torvaline {

// The path of an archive entry, taken apart into the folder names it would create under the
// set's folder. An archive is input from a hoster: a path that could leave the folder or
// disguise a file's name is refused, never repaired.
class EntryPath final {
public:
    // The components of path ("a/b/c.txt" -> a, b, c.txt; "./" and doubled slashes dropped);
    // empty with `problem` set when the entry may not be written.
    static std::vector<std::string> split(const std::string& path, std::string& problem);

    // Why one component cannot be a file name; empty when it can. The same rules the
    // download's own file names follow (control and text-direction characters, length), kept
    // here because extraction sits below the cycle that holds that check.
    static std::string nameProblem(const std::string& name);
};

} // namespace torvaline
