#pragma once

#include <cstddef>
#include <istream>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace torvaline {

// SHA-1 comes only from a hoster's page; checksum files are .sfv (CRC32) and .md5.
enum class DigestKind { Crc32, Md5, Sha1 };

// One file a checksum file vouches for: a plain name in the checksum file's own folder.
struct ChecksumEntry {
    std::string name;
    DigestKind kind = DigestKind::Crc32;
    std::string digest; // lower-case hexadecimal
};

// The lines of an .sfv (name and CRC32) or .md5 file (MD5 and name, either layout md5sum
// writes or the BSD one). These files come with the parts from a hoster, so every line is
// input: a line that cannot be used is left out with the reason, never trusted half.
class ChecksumList final {
public:
    // Beyond these the rest of a file or line is not read: no list of a few parts needs it.
    static constexpr std::size_t MostBytes = 4 * 1024 * 1024;
    static constexpr std::size_t LongestLine = 4096;
    static constexpr std::size_t MostReasons = 20;

    static ChecksumList parse(std::istream& in, DigestKind kind);
    // By the file's extension (.sfv or .md5); a file it cannot open gives one reason.
    static ChecksumList read(const std::string& path);

    // The entry for a file name (exact bytes first, then ignoring ASCII case, as the tools
    // that write these files on Windows do), or null.
    const ChecksumEntry* find(const std::string& fileName) const;

    const std::vector<ChecksumEntry>& entries() const { return m_entries; }
    // Why lines were left out ("line 3: ..."), the first MostReasons of them.
    const std::vector<std::string>& ignored() const { return m_ignored; }
    std::size_t ignoredCount() const { return m_ignoredCount; }

private:
    static constexpr std::size_t Conflicted = static_cast<std::size_t>(-1);
    std::optional<ChecksumEntry> readLine(std::string line, std::size_t number, DigestKind kind);
    void add(ChecksumEntry entry, std::size_t number,
             std::unordered_map<std::string, std::size_t>& index);
    void ignore(std::size_t line, const std::string& why);

    std::vector<ChecksumEntry> m_entries;
    std::vector<std::string> m_ignored;
    std::size_t m_ignoredCount = 0;
};

} // namespace torvaline
