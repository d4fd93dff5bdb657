#include "cycle/RecoveryFormat.h"

#include <charconv>
#include <utility>

namespace torvaline {

namespace {

constexpr std::string_view Magic = "torvaline-recovery 2\n";
constexpr std::string_view MagicV1 = "torvaline-recovery 1\n";
constexpr std::string_view EndWord = "end ";
constexpr std::string_view DirName = "dir=";
constexpr std::string_view OutName = "out=";
// Cells a row may have: the three of the row, the three of its partial file and named ones.
constexpr std::size_t MaxCells = 64;

bool needsEscape(char c) {
    return c == '\\' || c == '\t' || c == '\n' || c == '\r';
}

const char* escapeOf(char c) {
    switch (c) {
    case '\\':
        return "\\\\";
    case '\t':
        return "\\t";
    case '\n':
        return "\\n";
    default:
        return "\\r";
    }
}

void appendEscaped(std::string& out, std::string_view cell) {
    // Cells rarely hold anything to escape: the runs between such bytes are copied whole.
    std::size_t runStart = 0;
    for (std::size_t i = 0; i < cell.size(); ++i) {
        if (!needsEscape(cell[i]))
            continue;
        out.append(cell.data() + runStart, i - runStart);
        out.append(escapeOf(cell[i]), 2);
        runStart = i + 1;
    }
    out.append(cell.data() + runStart, cell.size() - runStart);
}

// One cell of a row line: up to the next tab or the end of the line. False on a bad escape.
bool unescape(std::string_view field, std::string& out) {
    out.clear();
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i == field.size())
            return false;
        switch (field[i]) {
        case '\\':
            out += '\\';
            break;
        case 't':
            out += '\t';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        default:
            return false;
        }
    }
    return true;
}

RecoveryFormat::Decoded refuse(std::string problem) {
    RecoveryFormat::Decoded d;
    d.problem = std::move(problem);
    return d;
}

} // namespace

std::string RecoveryFormat::header() {
    return std::string(Magic);
}

std::string RecoveryFormat::trailer(std::size_t rows) {
    return std::string(EndWord) + std::to_string(rows) + "\n";
}

void RecoveryFormat::appendRow(std::string& out, std::string_view host, std::string_view link,
                               std::string_view status) {
    appendEscaped(out, host);
    out += '\t';
    appendEscaped(out, link);
    out += '\t';
    appendEscaped(out, status);
    out += '\n';
}

void RecoveryFormat::appendRow(std::string& out, const RecoveryRow& row) {
    const bool named = !row.dir.empty() || !row.out.empty();
    appendRow(out, row.host, row.link, row.status);
    if (row.partialPath.empty() && !named)
        return;
    out.pop_back(); // the line goes on
    out += '\t';
    if (!row.partialPath.empty()) {
        appendEscaped(out, row.partialPath);
        out += '\t';
        out += std::to_string(row.partialTotal);
        out += '\t';
        appendEscaped(out, row.partialValidator);
    } else {
        out += "\t\t"; // three empty cells: no partial file
    }
    for (const auto& [name, value] :
         {std::pair<std::string_view, const std::string&>{DirName, row.dir}, {OutName, row.out}}) {
        if (value.empty())
            continue;
        out += '\t';
        out += name;
        appendEscaped(out, value);
    }
    out += '\n';
}

std::string RecoveryFormat::encode(const std::vector<RecoveryRow>& rows) {
    std::string out = header();
    for (const RecoveryRow& r : rows)
        appendRow(out, r);
    out += trailer(rows.size());
    return out;
}

RecoveryFormat::Decoded RecoveryFormat::decode(std::string_view text) {
    const bool v1 = text.substr(0, MagicV1.size()) == MagicV1;
    if (!v1 && text.substr(0, Magic.size()) != Magic)
        return refuse("it is not a Torvaline recovery file of this version");
    std::vector<RecoveryRow> rows;
    std::size_t pos = Magic.size();
    std::size_t lineNumber = 1;
    for (;;) {
        ++lineNumber;
        const std::size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos)
            return refuse("it ends in the middle of line " + std::to_string(lineNumber));
        const std::string_view line = text.substr(pos, eol - pos);
        pos = eol + 1;
        if (line.substr(0, EndWord.size()) == EndWord &&
            line.find('\t') == std::string_view::npos) {
            const std::string_view digits = line.substr(EndWord.size());
            std::size_t count = 0;
            const auto [end, ec] =
                std::from_chars(digits.data(), digits.data() + digits.size(), count);
            if (ec != std::errc() || end != digits.data() + digits.size() || digits.empty())
                return refuse("line " + std::to_string(lineNumber) + " is not a row count");
            if (count != rows.size())
                return refuse("it holds " + std::to_string(rows.size()) + " rows, not " +
                              std::to_string(count));
            if (pos != text.size())
                return refuse("there is more after its last line");
            Decoded d;
            d.ok = true;
            d.rows = std::move(rows);
            return d;
        }
        std::vector<std::string_view> cells;
        for (std::size_t start = 0;;) {
            const std::size_t tab = line.find('\t', start);
            cells.push_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
            if (tab == std::string_view::npos || cells.size() > MaxCells)
                break;
            start = tab + 1;
        }
        if (cells.size() > MaxCells || (cells.size() != 3 && (v1 || cells.size() < 6)))
            return refuse("line " + std::to_string(lineNumber) + " is not a row of " +
                          (v1 ? "three cells" : "three, six or more cells"));
        RecoveryRow row;
        const bool partial = cells.size() >= 6 && !(cells.size() > 6 && cells[3].empty() &&
                                                    cells[4].empty() && cells[5].empty());
        if (!unescape(cells[0], row.host) || !unescape(cells[1], row.link) ||
            !unescape(cells[2], row.status) ||
            (partial &&
             (!unescape(cells[3], row.partialPath) || !unescape(cells[5], row.partialValidator))))
            return refuse("line " + std::to_string(lineNumber) + " holds a broken escape");
        for (std::size_t i = 6; i < cells.size(); ++i) {
            const std::string_view cell = cells[i];
            const std::size_t equals = cell.find('=');
            std::string value;
            if (equals == std::string_view::npos || equals == 0 ||
                !unescape(cell.substr(equals + 1), value))
                return refuse("line " + std::to_string(lineNumber) +
                              " holds a cell without a name");
            const std::string_view name = cell.substr(0, equals + 1);
            if (name == DirName)
                row.dir = std::move(value);
            else if (name == OutName)
                row.out = std::move(value);
            // Any other name is a later program's: skipped.
        }
        if (partial) {
            const std::string_view total = cells[4];
            const auto [end, ec] =
                std::from_chars(total.data(), total.data() + total.size(), row.partialTotal);
            if (ec != std::errc() || end != total.data() + total.size() || total.empty() ||
                row.partialPath.empty())
                return refuse("line " + std::to_string(lineNumber) + " names no partial file");
        }
        rows.push_back(std::move(row));
    }
}

} // namespace torvaline
