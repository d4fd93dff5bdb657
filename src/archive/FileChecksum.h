#pragma once

#include "archive/ChecksumList.h"

#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>

namespace torvaline {

// A completed part checked against its line in a checksum file. Meant for a worker thread: the
// file is read in blocks (never whole), and a stop request ends the reading at the next block.
class FileChecksum final {
public:
    struct Result {
        bool matches = false;
        std::string reason; // empty when the file matches: "checksum mismatch", why it was not read
    };
    // bytes read so far and the file's size, after every block.
    using Progress = std::function<void(std::uint64_t done, std::uint64_t size)>;

    static Result check(const std::string& path, const ChecksumEntry& expected,
                        std::stop_token stop = {}, const Progress& progress = {});

    // The file's digest in lower-case hexadecimal; empty with `error` set when it cannot be read.
    static std::string digest(const std::string& path, DigestKind kind, std::string& error,
                              std::stop_token stop = {}, const Progress& progress = {});
};

} // namespace torvaline
