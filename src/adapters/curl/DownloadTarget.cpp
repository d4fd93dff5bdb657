#include "adapters/curl/DownloadTarget.h"

#include "adapters/curl/TransferMessages.h"
#include "platform/PartialName.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace torvaline {
namespace {

// The bit bucket is the one special file we write into: the benchmarks measure against it,
// and no page name can reach it (a name holds no separator).
constexpr const char* Sink = "/dev/null";
constexpr std::size_t NameMax = 255;
// Room left in a name for " (9999)" or our temporary suffix.
constexpr std::size_t TempStemMax = 200;
constexpr int MaxNumber = 9999;
constexpr int OpenFlags = O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;

// The longest head of `text` of at most `max` bytes that does not split a UTF-8 sequence.
std::string utf8Head(const std::string& text, std::size_t max) {
    if (text.size() <= max)
        return text;
    std::size_t end = max;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

std::string randomSuffix() {
    unsigned char bytes[PartialName::HexDigits / 2] = {};
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        // Only uniqueness matters, and exclusive creation guards it anyway.
        static std::uint64_t counter = 0;
        const auto mix = static_cast<std::uint64_t>(getpid()) * 1000003u + ++counter;
        std::memcpy(bytes, &mix, sizeof bytes);
    }
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (const unsigned char b : bytes) {
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    return out;
}

// A failed system call's reason, worded by `reason` from the errno text.
template <class Reason> Failure systemFailure(Reason reason) {
    const int error = errno;
    return fail(error == ENOSPC || error == EDQUOT ? FailureCause::DiskFull : FailureCause::Other,
                reason(TransferMessage::errnoText(error)));
}

} // namespace

DownloadTarget::~DownloadTarget() {
    discard();
}

void DownloadTarget::discard() {
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!m_committed && !m_kept && !m_tempName.empty() && stillOurs())
        ::unlinkat(m_dirFd, m_tempName.c_str(), 0);
    m_tempName.clear();
    if (m_dirFd >= 0)
        ::close(m_dirFd);
    m_dirFd = -1;
}

std::string DownloadTarget::numberedName(const std::string& name, int n) {
    const std::size_t dot = name.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot > 0;
    const std::string extension = hasExtension ? name.substr(dot) : std::string();
    const std::string number = " (" + std::to_string(n) + ")";
    std::string stem = hasExtension ? name.substr(0, dot) : name;
    const std::size_t room =
        NameMax > number.size() + extension.size() ? NameMax - number.size() - extension.size() : 0;
    return utf8Head(stem, room) + number + utf8Head(extension, NameMax - number.size());
}

void DownloadTarget::discardPartial(const PartialFile& partial) {
    const std::size_t slash = partial.path.rfind('/');
    if (slash == std::string::npos || !PartialName::matches(partial.path.substr(slash + 1)))
        return;
    const std::string folder = slash == 0 ? "/" : partial.path.substr(0, slash);
    const std::string name = partial.path.substr(slash + 1);
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return;
    struct stat st {};
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
        st.st_nlink == 1)
        ::unlinkat(dirFd, name.c_str(), 0);
    ::close(dirFd);
}

bool DownloadTarget::adopt(const PartialFile& resume) {
    const std::size_t slash = resume.path.rfind('/');
    if (slash == std::string::npos)
        return false;
    const std::string folder = slash == 0 ? "/" : resume.path.substr(0, slash);
    const std::string name = resume.path.substr(slash + 1);
    if (folder != m_folder || !PartialName::matches(name))
        return false;
    // Read as well: the transfer compares the file's last bytes with what the server sends.
    const int fd = ::openat(m_dirFd, name.c_str(), (OpenFlags & ~O_WRONLY) | O_RDWR);
    if (fd < 0)
        return false;
    struct stat st {};
    // A second link would mean someone else can see (or planted) what we write.
    const bool usable = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 &&
                        resume.size > 0 && resume.size < resume.total &&
                        static_cast<std::uint64_t>(st.st_size) >= resume.size &&
                        ::ftruncate(fd, static_cast<off_t>(resume.size)) == 0 &&
                        ::lseek(fd, 0, SEEK_END) == static_cast<off_t>(resume.size);
    if (!usable) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    m_tempName = name;
    m_tempPath = resume.path;
    m_dev = st.st_dev;
    m_ino = st.st_ino;
    m_adopted = resume.size;
    return true;
}

PartialFile DownloadTarget::keep(std::uint64_t size) {
    if (m_sink || m_fd < 0 || m_tempName.empty())
        return {};
    // The space claimed ahead of the data is not part of it.
    if (::ftruncate(m_fd, static_cast<off_t>(size)) != 0 || !close().ok())
        return {};
    m_kept = true;
    PartialFile partial;
    partial.path = m_tempPath;
    partial.size = size;
    return partial;
}

Result<void> DownloadTarget::prepare(const std::string& targetPath, const PartialFile& resume) {
    if (targetPath == Sink) {
        m_sink = true;
        m_chosen = targetPath;
        m_fd = ::open(Sink, O_WRONLY | O_CLOEXEC | O_NONBLOCK);
        struct stat st {};
        if (m_fd < 0 || ::fstat(m_fd, &st) != 0 || !S_ISCHR(st.st_mode))
            return fail(FailureCause::Other, TransferMessage::cannotWrite(targetPath));
        return {};
    }
    const std::size_t slash = targetPath.rfind('/');
    m_folder = slash == std::string::npos ? "." : slash == 0 ? "/" : targetPath.substr(0, slash);
    m_name = slash == std::string::npos ? targetPath : targetPath.substr(slash + 1);
    if (m_name.empty() || m_name == "." || m_name == "..")
        return fail(FailureCause::NameRefused, TransferMessage::targetIsFolder(targetPath));
    const auto cannotCreateIn = [this](const std::string& why) {
        return TransferMessage::cannotCreateIn(m_folder, why);
    };
    m_dirFd = ::open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_dirFd < 0)
        return systemFailure(cannotCreateIn);
    // Only the name asked for must be a plain file if it exists: a pipe there would have
    // blocked the old writer, a device would be written through. Numbered names just step
    // over whatever holds them.
    struct stat st {};
    if (::fstatat(m_dirFd, m_name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode))
        return fail(FailureCause::NameRefused, TransferMessage::targetNotRegular(targetPath));
    if (Result<void> chosen = chooseName(0); !chosen)
        return chosen;
    if (!resume.empty()) {
        if (adopt(resume))
            return {};
        discardPartial(resume);
    }

    const std::string stem = utf8Head(m_name, TempStemMax);
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string temp = PartialName::make(stem, randomSuffix());
        // Exclusive: a file, link or pipe planted under the name makes us pick another one
        // instead of writing through it.
        const int fd = ::openat(m_dirFd, temp.c_str(), OpenFlags | O_CREAT | O_EXCL, 0644);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return systemFailure(cannotCreateIn);
        }
        m_fd = fd;
        m_tempName = temp;
        m_tempPath = m_folder + "/" + temp;
        struct stat own {};
        ::fstat(fd, &own);
        m_dev = own.st_dev;
        m_ino = own.st_ino;
        return {};
    }
    return fail(FailureCause::Other, TransferMessage::noTemporaryName(m_folder));
}

Result<void> DownloadTarget::chooseName(int from) {
    for (int n = from; n <= MaxNumber; ++n) {
        const std::string candidate = n == 0 ? m_name : numberedName(m_name, n);
        struct stat st {};
        if (::fstatat(m_dirFd, candidate.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            continue;
        if (errno != ENOENT)
            return systemFailure([&](const std::string& why) {
                return TransferMessage::cannotCreate(m_folder + "/" + candidate, why);
            });
        m_chosen = candidate;
        m_number = n;
        return {};
    }
    return fail(FailureCause::Other, TransferMessage::noFreeName(m_name, m_folder));
}

std::string DownloadTarget::savingPath() const {
    return m_sink ? m_chosen : m_folder + "/" + m_chosen;
}

bool DownloadTarget::stillOurs() const {
    // Someone who can write the folder may have put another file under our temporary name;
    // that one is not ours to remove or to move.
    struct stat st {};
    return m_dirFd >= 0 && ::fstatat(m_dirFd, m_tempName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISREG(st.st_mode) && st.st_dev == m_dev && st.st_ino == m_ino;
}

DiskSpace DownloadTarget::space() const {
    if (m_sink || m_fd < 0)
        return {std::numeric_limits<std::uint64_t>::max(), 0};
    return spaceOf(m_fd);
}

DiskSpace DownloadTarget::spaceOf(int fd) {
    struct statvfs vfs {};
    if (::fstatvfs(fd, &vfs) != 0)
        return {std::numeric_limits<std::uint64_t>::max(), 0};
    return {static_cast<std::uint64_t>(vfs.f_bavail) * vfs.f_frsize,
            static_cast<std::uint64_t>(vfs.f_blocks) * vfs.f_frsize};
}

Result<void> DownloadTarget::restart() {
    if (m_sink)
        return {};
    if (::ftruncate(m_fd, 0) != 0 || ::lseek(m_fd, 0, SEEK_SET) != 0)
        return systemFailure([this](const std::string& why) {
            return TransferMessage::cannotWrite(m_tempPath, why);
        });
    return {};
}

Result<void> DownloadTarget::close() {
    if (m_fd < 0)
        return {};
    const int rc = ::close(m_fd);
    m_fd = -1;
    // A close error is a lost write on some file systems: the data is not safely there.
    if (rc != 0 && !m_sink)
        return systemFailure([this](const std::string& why) {
            return TransferMessage::cannotWrite(m_tempPath, why);
        });
    return {};
}

Result<void> DownloadTarget::commit() {
    if (Result<void> closed = close(); !closed)
        return closed;
    if (m_sink) {
        m_committed = true;
        return {};
    }
    if (!stillOurs())
        return fail(FailureCause::Other, TransferMessage::temporaryReplaced(m_tempPath));
    for (int tries = 0; tries <= MaxNumber; ++tries) {
        // No replace: a file that took the name while we were busy stays as it is.
        int rc =
            ::renameat2(m_dirFd, m_tempName.c_str(), m_dirFd, m_chosen.c_str(), RENAME_NOREPLACE);
        if (rc != 0 && (errno == EINVAL || errno == ENOSYS)) {
            // A file system without the flag: a new link fails on an existing name as well.
            rc = ::linkat(m_dirFd, m_tempName.c_str(), m_dirFd, m_chosen.c_str(), 0);
            if (rc == 0)
                ::unlinkat(m_dirFd, m_tempName.c_str(), 0);
        }
        if (rc == 0) {
            m_committed = true;
            return {};
        }
        if (errno != EEXIST)
            return systemFailure([this](const std::string& why) {
                return TransferMessage::cannotRename(m_tempPath, savingPath(), why);
            });
        if (Result<void> chosen = chooseName(m_number + 1); !chosen)
            return chosen;
    }
    return fail(FailureCause::Other, TransferMessage::noFreeName(m_name, m_folder));
}

} // namespace torvaline
