#include "archive/RarHeaders.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace torvaline {

namespace {

constexpr unsigned char Rar4Mark[] = {'R', 'a', 'r', '!', 0x1a, 0x07, 0x00};
constexpr unsigned char Rar5Mark[] = {'R', 'a', 'r', '!', 0x1a, 0x07, 0x01, 0x00};

// A volume of a million tiny entries is walked in well under a second; past this many blocks
// the rest is left to libarchive.
constexpr int MostBlocks = 2000000;
// RAR 5 headers are at most 2 MiB; RAR 4 ones at most 64 KiB (a 16-bit size).
constexpr std::uint64_t MostRar5Header = 2u << 20;

struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
};

// Reads exactly size bytes at offset, or fewer at the end of the file.
std::size_t readAt(int fd, std::uint64_t offset, unsigned char* into, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got =
            ::pread(fd, into + done, size - done, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

std::uint32_t le(const unsigned char* p, int bytes) {
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | p[i];
    return value;
}

std::uint32_t crc(const unsigned char* p, std::size_t size) {
    return static_cast<std::uint32_t>(::crc32(0, p, static_cast<uInt>(size)));
}

// RAR 5's variable-length integer: seven bits a byte, lowest first, the high bit for "more".
struct VarReader {
    const unsigned char* p;
    std::size_t size;
    std::size_t at = 0;
    std::optional<std::uint64_t> next() {
        std::uint64_t value = 0;
        for (int shift = 0; shift < 64 && at < size; shift += 7) {
            const unsigned char byte = p[at++];
            value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
            if (!(byte & 0x80))
                return value;
        }
        return std::nullopt;
    }
};

void walkRar4(int fd, std::uint64_t fileSize, RarVolumeInfo& info) {
    enum : unsigned { Main = 0x73, File = 0x74, NewSub = 0x7A, End = 0x7B };
    std::uint64_t at = sizeof Rar4Mark;
    bool lastSplitAfter = false;
    std::vector<unsigned char> header;
    for (int blocks = 0; blocks < MostBlocks && at < fileSize; ++blocks) {
        unsigned char base[7];
        if (readAt(fd, at, base, sizeof base) < sizeof base) {
            info.cut = true;
            return;
        }
        const unsigned type = base[2];
        const std::uint32_t flags = le(base + 3, 2);
        const std::uint32_t size = le(base + 5, 2);
        if (size < 7)
            return;
        if (at + size > fileSize) {
            info.cut = true;
            return;
        }
        header.resize(size);
        if (readAt(fd, at, header.data(), size) < size)
            return;
        if ((crc(header.data() + 2, size - 2) & 0xFFFF) != le(base, 2))
            return;
        std::uint64_t data = 0;
        if (type == File || type == NewSub) {
            if (size < 32)
                return;
            data = le(header.data() + 7, 4);
            if (flags & 0x100) { // sizes of 64 bits: the high halves follow the attributes
                if (size < 40)
                    return;
                data |= static_cast<std::uint64_t>(le(header.data() + 32, 4)) << 32;
            }
        } else if (flags & 0x8000) {
            if (size < 11)
                return;
            data = le(header.data() + 7, 4);
        }
        if (data > fileSize) {
            info.cut = true;
            return;
        }
        if (type == Main && (flags & 0x0080)) { // every header after this one is encrypted
            info.encrypted = true;
            return;
        }
        if (type == File) {
            if (flags & 0x04) {
                info.encrypted = true;
                return;
            }
            lastSplitAfter = (flags & 0x02) != 0;
        }
        if (type == End) {
            info.continues = lastSplitAfter || (flags & 0x0001);
            return;
        }
        at += size + data;
    }
    if (at > fileSize)
        info.cut = true;
    info.continues = lastSplitAfter;
}

void walkRar5(int fd, std::uint64_t fileSize, RarVolumeInfo& info) {
    enum : std::uint64_t { File = 2, Crypt = 4, End = 5 };
    std::uint64_t at = sizeof Rar5Mark;
    bool lastSplitAfter = false;
    std::vector<unsigned char> header;
    for (int blocks = 0; blocks < MostBlocks && at < fileSize; ++blocks) {
        // The header's CRC32, then its size as up to four bytes of variable-length integer.
        unsigned char base[8];
        const std::size_t got = std::min(readAt(fd, at, base, sizeof base), sizeof base);
        VarReader sizeField{base + 4, got > 4 ? got - 4 : 0};
        const auto size = sizeField.next();
        if (!size) {
            if (got < sizeof base)
                info.cut = true;
            return;
        }
        if (*size == 0 || *size > MostRar5Header)
            return;
        const std::uint64_t sized = sizeField.at + *size; // the CRC32 covers size and header
        if (at + 4 + sized > fileSize) {
            info.cut = true;
            return;
        }
        header.resize(sized);
        if (readAt(fd, at + 4, header.data(), sized) < sized)
            return;
        if (crc(header.data(), sized) != le(base, 4))
            return;
        VarReader fields{header.data(), sized, sizeField.at};
        const auto type = fields.next();
        const auto flags = fields.next();
        if (!type || !flags)
            return;
        std::uint64_t extraSize = 0;
        std::uint64_t dataSize = 0;
        if (*flags & 0x01) {
            const auto value = fields.next();
            if (!value || *value > *size)
                return;
            extraSize = *value;
        }
        if (*flags & 0x02) {
            const auto value = fields.next();
            if (!value)
                return;
            if (*value > fileSize) {
                info.cut = true;
                return;
            }
            dataSize = *value;
        }
        if (*type == Crypt) {
            info.encrypted = true;
            return;
        }
        if (*type == File) {
            // The extra area ends the header: records of a size, a type and their data.
            VarReader extra{header.data() + sized - extraSize, static_cast<std::size_t>(extraSize)};
            while (extra.at < extra.size) {
                const auto recordSize = extra.next();
                const std::size_t recordStart = extra.at;
                const auto recordType = extra.next();
                if (!recordSize || !recordType || *recordSize > extra.size - recordStart)
                    break;
                if (*recordType == 0x01) { // file encryption
                    info.encrypted = true;
                    return;
                }
                extra.at = recordStart + static_cast<std::size_t>(*recordSize);
            }
            lastSplitAfter = (*flags & 0x10) != 0;
        }
        if (*type == End) {
            const auto endFlags = fields.next();
            info.continues = lastSplitAfter || (endFlags && (*endFlags & 0x01));
            return;
        }
        at += 4 + sized + dataSize;
    }
    // A RAR 5 archive always closes with an end block (RAR 4 may leave it out): one that ends
    // without it was cut, if only between two blocks.
    if (at >= fileSize)
        info.cut = true;
    info.continues = lastSplitAfter;
}

} // namespace

RarVolumeInfo RarHeaders::read(const std::string& path) {
    RarVolumeInfo info;
    Fd file{::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)};
    struct stat status {};
    if (file.fd < 0 || ::fstat(file.fd, &status) != 0 || !S_ISREG(status.st_mode))
        return info;
    const auto fileSize = static_cast<std::uint64_t>(status.st_size);
    unsigned char mark[sizeof Rar5Mark];
    const std::size_t got = readAt(file.fd, 0, mark, sizeof mark);
    if (got == sizeof Rar5Mark && std::memcmp(mark, Rar5Mark, sizeof Rar5Mark) == 0) {
        info.version = 5;
        walkRar5(file.fd, fileSize, info);
    } else if (got >= sizeof Rar4Mark && std::memcmp(mark, Rar4Mark, sizeof Rar4Mark) == 0) {
        info.version = 4;
        walkRar4(file.fd, fileSize, info);
    }
    return info;
}

} // namespace torvaline
