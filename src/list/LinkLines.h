#pragma once

#include "list/DownloadList.h"
#include "list/UrlRanges.h"

#include <memory>
#include <string>
#include <vector>

namespace torvaline {

// The service a link belongs to, as shown in the "Host" column: "RapidShare", "4Shared" (wins
// when both words occur) or empty. Plain case-sensitive substring tests on the whole line.
std::string HostName(const std::string& line);

// Splits text into lines at CR LF, LF or CR. A line break at the very end adds no empty line;
// every other line counts, empty or not; empty text gives no line.
std::vector<std::string> SplitTypedLinks(const std::string& text);

// Appends one row per line after the last row: "URL" exactly as given, "Status" "Waiting...",
// "Host" from the list's host namer (HostName when it has none), the other cells empty; the
// rows come as the batch when one is given.
void AppendLinks(DownloadList& grid, std::vector<std::string> lines,
                 std::shared_ptr<const RowBatch> batch = {});
// Appends expanded lines as AppendLinks does, the links of each range as a batch of their own.
void AppendExpandedLinks(DownloadList& grid, RangeExpansion links);

} // namespace torvaline
