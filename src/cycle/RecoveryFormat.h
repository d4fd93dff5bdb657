#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace torvaline {

// The rows of the list as the recovery file keeps them.
struct RecoveryRow {
    std::string host;
    std::string link;
    std::string status;
    bool operator==(const RecoveryRow&) const = default;
};

// The recovery file's text. One line per row, its three cells separated by tabs, with
// backslash, tab, CR and LF written as \\, \t, \r and \n, so that any byte of any cell comes
// back as it went; a header with a version and a trailer with the row count, so that a file
// that was cut short or is something else altogether is recognised as such.
//
//   torvaline-recovery 1
//   <host> TAB <link> TAB <status>
//   ...
//   end <row count>
class RecoveryFormat final {
public:
    struct Decoded {
        bool ok = false;
        std::vector<RecoveryRow> rows;
        std::string problem; // when not ok: what is wrong, and where
    };

    static std::string encode(const std::vector<RecoveryRow>& rows);
    // Appends one row's line; the list is encoded without first copying its rows.
    static void appendRow(std::string& out, std::string_view host, std::string_view link,
                          std::string_view status);
    static std::string header();
    static std::string trailer(std::size_t rows);

    // Never throws on any input; anything but a whole, well-formed file is refused.
    static Decoded decode(std::string_view text);
};

} // namespace torvaline
