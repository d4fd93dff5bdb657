#pragma once

#include <string>

namespace torvaline {

// The file name of a download comes from outside (a hoster's page, an answer's
// Content-Disposition, the remote control's "out") and is joined to the download folder.
// Before it may become a path it must name one plain file inside that folder, and show as
// what it is: no control, invisible or text-direction character. Every source of a name goes
// through this one check.
class FileNameCheck final {
public:
    // The longest name most file systems take (NAME_MAX on Linux, 255 UTF-16 units on NTFS).
    static constexpr std::size_t MaxNameBytes = 255;

    // separator: the folder separator of the platform; '\\' adds the Windows rules (reserved
    // characters and device names, trailing dots and blanks).
    explicit FileNameCheck(char separator)
        : m_separator(separator) {}

    // Why the name cannot be used, for the user; empty when it can.
    std::string problem(const std::string& name) const;

private:
    char m_separator;
};

} // namespace torvaline
