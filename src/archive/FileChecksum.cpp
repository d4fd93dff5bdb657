#include "archive/FileChecksum.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace torvaline {

namespace {

std::string hex(const unsigned char* bytes, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(digits[bytes[i] >> 4]);
        out.push_back(digits[bytes[i] & 0xF]);
    }
    return out;
}

struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

Result<std::string> FileChecksum::digest(const std::string& path, DigestKind kind,
                                         std::stop_token stop, const Progress& progress) {
    // No link followed and nothing that blocks: a part is a plain file we wrote.
    Fd file{::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)};
    struct stat info {};
    if (file.fd < 0 || ::fstat(file.fd, &info) != 0)
        return fail(FailureCause::Other,
                    std::string("cannot read the file: ") + std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        return fail(FailureCause::Other, "not a plain file");
    const auto size = static_cast<std::uint64_t>(info.st_size);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md(nullptr, &EVP_MD_CTX_free);
    if (kind != DigestKind::Crc32) {
        md.reset(EVP_MD_CTX_new());
        const bool sha1 = kind == DigestKind::Sha1;
        if (!md || EVP_DigestInit_ex(md.get(), sha1 ? EVP_sha1() : EVP_md5(), nullptr) != 1)
            return fail(FailureCause::Other,
                        sha1 ? "SHA-1 is not available" : "MD5 is not available");
    }
    uLong crc = crc32_z(0, nullptr, 0);
    std::vector<unsigned char> block(1 << 20);
    std::uint64_t done = 0;
    for (;;) {
        if (stop.stop_requested())
            return fail(FailureCause::Stopped, "stopped");
        const ssize_t got = ::read(file.fd, block.data(), block.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return fail(FailureCause::Other,
                        std::string("cannot read the file: ") + std::strerror(errno));
        if (got == 0)
            break;
        const auto n = static_cast<std::size_t>(got);
        if (kind == DigestKind::Crc32)
            crc = crc32_z(crc, block.data(), n);
        else
            EVP_DigestUpdate(md.get(), block.data(), n);
        done += n;
        if (progress)
            progress(done, size);
    }
    if (kind == DigestKind::Crc32) {
        char text[9];
        std::snprintf(text, sizeof text, "%08lx", static_cast<unsigned long>(crc));
        return std::string(text);
    }
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(md.get(), out, &length);
    return hex(out, length);
}

Result<void> FileChecksum::check(const std::string& path, const ChecksumEntry& expected,
                                 std::stop_token stop, const Progress& progress) {
    const Result<std::string> got = digest(path, expected.kind, stop, progress);
    if (!got)
        return got.failure();
    if (*got != expected.digest)
        return fail(FailureCause::Other, "checksum mismatch");
    return {};
}

} // namespace torvaline
