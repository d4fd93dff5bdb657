#include "list/LinkLines.h"

#include "list/RowTexts.h"

#include <cstddef>
#include <iterator>

namespace torvaline {

std::string HostName(const std::string& line) {
    std::string host;
    if (line.find("rapidshare") != std::string::npos)
        host = HostRapidShare;
    if (line.find("4shared") != std::string::npos)
        host = Host4Shared;
    return host;
}

std::vector<std::string> SplitTypedLinks(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c != '\r' && c != '\n') {
            ++i;
            continue;
        }
        lines.push_back(text.substr(start, i - start));
        i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
        start = i;
    }
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

void AppendLinks(DownloadList& grid, std::vector<std::string> lines,
                 std::shared_ptr<const RowBatch> batch) {
    std::vector<DownloadList::Row> rows(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        DownloadList::Row& row = rows[i];
        row[DownloadList::Host] =
            grid.hostNamer() ? grid.hostNamer()(lines[i]) : HostName(lines[i]);
        row[DownloadList::URL] = std::move(lines[i]);
        row[DownloadList::Status] = StatusWaiting;
    }
    grid.appendRows(std::move(rows), std::move(batch));
}

void AppendExpandedLinks(DownloadList& grid, RangeExpansion links) {
    std::size_t at = 0;
    const auto take = [&](std::size_t end) {
        const auto from = links.lines.begin();
        return std::vector<std::string>(
            std::make_move_iterator(from + static_cast<std::ptrdiff_t>(at)),
            std::make_move_iterator(from + static_cast<std::ptrdiff_t>(end)));
    };
    for (const auto& [first, end] : links.batches) {
        if (first > at)
            AppendLinks(grid, take(first));
        at = first;
        AppendLinks(grid, take(end), grid.newBatch());
        at = end;
    }
    if (at < links.lines.size())
        AppendLinks(grid, take(links.lines.size()));
}

} // namespace torvaline
