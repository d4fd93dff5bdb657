#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace torvaline {

// The rows of the list as the recovery file keeps them.
struct RecoveryRow {
    std::string host;
    std::string link;
    std::string status;
    // The temporary file of the row's transfer a crash may have cut, with the full size the
    // server announced and its validator; an empty path when there is none.
    std::string partialPath{};
    std::uint64_t partialTotal = 0;
    std::string partialValidator{};
    // Where the row's file goes when it is not the download folder and the hoster's name: a
    // folder and a file name, either may be empty.
    std::string dir{};
    std::string out{};
    bool operator==(const RecoveryRow&) const = default;
};

// The recovery file's text. One line per row, its cells separated by tabs, with backslash,
// tab, CR and LF written as \\, \t, \r and \n, so that any byte of any cell comes back as it
// went; a header with a version and a trailer with the row count, so that a file that was cut
// short or is something else altogether is recognised as such.
//
//   torvaline-recovery 2
//   <host> TAB <link> TAB <status> [TAB <partial path> TAB <total> TAB <validator>
//                                   [TAB <name>=<value>]...]
//   ...
//   end <row count>
//
// Version 1, written before transfers could be continued, has the three first cells only;
// it is still read. Named cells came later (dir=, out=): they follow the three partial-file
// cells, which are then all empty when the row has no partial file. A reader skips names it
// does not know, so that a later program's file still reads; a row without named cells is
// written as before, so that a program from before them reads it too.
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
    // The same, with the partial file of the row's transfer (written only when it has one).
    static void appendRow(std::string& out, const RecoveryRow& row);
    static std::string header();
    static std::string trailer(std::size_t rows);

    // Never throws on any input; anything but a whole, well-formed file is refused.
    static Decoded decode(std::string_view text);
};

} // namespace torvaline
