#pragma once

#include "archive/ChecksumList.h"
#include "platform/Result.h"

#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>

namespace torvaline {

// A completed part checked against its line in a checksum file. Meant for a worker thread: the
// file is read in blocks (never whole), and a stop request ends the reading at the next block.
class FileChecksum final {
public:
    // bytes read so far and the file's size, after every block.
    using Progress = std::function<void(std::uint64_t done, std::uint64_t size)>;

    // Done when the file matches; else "checksum mismatch", or why it was not read (Stopped
    // when the stop request ended it).
    static Result<void> check(const std::string& path, const ChecksumEntry& expected,
                              std::stop_token stop = {}, const Progress& progress = {});

    // The file's digest in lower-case hexadecimal, or why it cannot be read.
    static Result<std::string> digest(const std::string& path, DigestKind kind,
                                      std::stop_token stop = {}, const Progress& progress = {});
};

} // namespace torvaline
