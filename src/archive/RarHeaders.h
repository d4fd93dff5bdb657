#pragma once

#include <string>

namespace torvaline {

// What the block headers of one RAR volume say, read before libarchive extracts the set:
// libarchive reads a RAR 5 entry's encrypted data as if it were plain, and a RAR 5 set whose
// next volume is missing ends its last file early without a word.
struct RarVolumeInfo {
    int version = 0;        // 4 or 5; 0: no RAR signature at the start of the file
    bool encrypted = false; // an entry's data, or every header after the first, needs a password
    bool cut = false;       // a header or its data runs past the end of the file
    bool continues = false; // the volume's last entry, or its end block, goes on in a next one
};

class RarHeaders final {
public:
    // The headers are walked up to the end block, the first sign of encryption, or the first
    // header that does not read (a wrong checksum, a size out of bounds): what comes after that
    // is libarchive's to judge. Only headers are read; data is stepped over.
    static RarVolumeInfo read(const std::string& path);
};

} // namespace torvaline
