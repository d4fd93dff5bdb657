#pragma once

#include "list/DownloadList.h"
#include "platform/Result.h"

#include <cstdint>
#include <string>
#include <vector>

namespace torvaline {

// List files: plain bytes, one link per line, CR LF after every line.
//
// The largest list file read. A million links take about 50 MB, far more than anyone queues
// by hand; a bigger file is almost surely not a list, and reading it would hold several times
// its size in memory as rows and could end the program for want of memory.
inline constexpr std::uintmax_t MaxListFileBytes = 64u * 1024 * 1024;

// When the file cannot be read or written, every function fails with a reason that names the
// file and ends in the system's message ("Cannot open file \"x\": No such file or directory"),
// and a cause: NotFound when the file or its folder is not there, DiskFull when the disk or the
// user's quota has no room, Other otherwise.

// The lines of the file, split as SplitTypedLinks splits typed text (CR LF, LF or CR), bytes
// unchanged (a zero byte or Ctrl+Z stays in its line). A file over MaxListFileBytes, or one
// that is not a plain file (a pipe, a device, a folder), is refused with a readable reason.
Result<std::vector<std::string>> ReadListFile(const std::string& path);

// Appends the file's lines as new "Waiting..." rows. The list is untouched when reading fails.
Result<void> LoadFile(const std::string& path, DownloadList& grid);

// Writes the "URL" cell of rows 1 .. count-1, each followed by CR LF. The text goes to a
// temporary file beside the target that replaces it only once it is complete, so a failed save
// leaves the previous file as it was.
Result<void> SaveGrid(const std::string& path, const DownloadList& grid);

} // namespace torvaline
