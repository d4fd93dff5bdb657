#pragma once

#include "list/DownloadList.h"

#include <string>
#include <vector>

namespace torvaline {

// List files: plain bytes, one link per line, CR LF after every line.
//
// Every function throws std::system_error carrying the system's message and the file name when
// the file cannot be read or written.

// The lines of the file, split as SplitTypedLinks splits typed text (CR LF, LF or CR), bytes
// unchanged (a zero byte or Ctrl+Z stays in its line).
std::vector<std::string> ReadListFile(const std::string& path);

// Appends the file's lines as new "Waiting..." rows. The list is untouched when reading fails.
void LoadFile(const std::string& path, DownloadList& grid);

// Writes the "URL" cell of rows 1 .. count-1, each followed by CR LF. The text goes to a
// temporary file beside the target that replaces it only once it is complete, so a failed save
// leaves the previous file as it was.
void SaveGrid(const std::string& path, const DownloadList& grid);

} // namespace torvaline
