#pragma once

#include <string_view>

namespace torvaline {

// The texts of the "Status" column. Code that writes or compares a status uses these names, so
// a row written by one part is recognised by every other (recovery, the window's widths).
inline constexpr std::string_view StatusDownloading = "Downloading... ";
inline constexpr std::string_view StatusWaiting = "Waiting...";
inline constexpr std::string_view StatusCompleted = "Completed";
inline constexpr std::string_view StatusStopped = "Stopped";
inline constexpr std::string_view StatusFailed = "Failed";
inline constexpr std::string_view StatusPaused = "Paused";

// The texts of the "Host" column.
inline constexpr std::string_view HostRapidShare = "RapidShare";
inline constexpr std::string_view Host4Shared = "4Shared";

} // namespace torvaline
