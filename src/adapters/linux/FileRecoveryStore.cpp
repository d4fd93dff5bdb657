#include "adapters/linux/FileRecoveryStore.h"

#include "platform/PartialName.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace torvaline {

namespace {

std::string systemError(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

std::string folderOf(const std::string& path) {
    const std::string folder = std::filesystem::path(path).parent_path().string();
    return folder.empty() ? std::string(".") : folder;
}

// A rename or an unlink is only on the disk once the folder that names the file is.
std::string syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return systemError("cannot open " + folder, errno);
    std::string error;
    if (::fsync(fd) != 0)
        error = systemError("cannot sync " + folder, errno);
    ::close(fd);
    return error;
}

// The folder of a partial file named by a recovery file, opened, and the file's own name in
// it; the folder is -1 when the path cannot name one of our partial files.
struct PartialEntry {
    int dirFd = -1;
    std::string name;
    struct stat st {};
    bool ours = false;
};

PartialEntry inspectPartial(const std::string& path) {
    PartialEntry e;
    const std::size_t slash = path.rfind('/');
    if (path.empty() || path.front() != '/' || slash == std::string::npos ||
        path.find('\0') != std::string::npos)
        return e;
    e.name = path.substr(slash + 1);
    if (!PartialName::matches(e.name))
        return e;
    const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
    e.dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (e.dirFd < 0)
        return e;
    // The name itself is not followed: a link there, whatever it points at, is not ours. A
    // second name means the data is also seen (or was planted) elsewhere.
    e.ours = ::fstatat(e.dirFd, e.name.c_str(), &e.st, AT_SYMLINK_NOFOLLOW) == 0 &&
             S_ISREG(e.st.st_mode) && e.st.st_nlink == 1 && e.st.st_uid == ::geteuid();
    return e;
}

} // namespace

std::optional<std::uint64_t> FileRecoveryStore::partialSize(const std::string& path) {
    PartialEntry e = inspectPartial(path);
    if (e.dirFd >= 0)
        ::close(e.dirFd);
    if (!e.ours)
        return std::nullopt;
    return static_cast<std::uint64_t>(e.st.st_size);
}

void FileRecoveryStore::removePartial(const std::string& path) {
    PartialEntry e = inspectPartial(path);
    if (e.ours)
        ::unlinkat(e.dirFd, e.name.c_str(), 0);
    if (e.dirFd >= 0)
        ::close(e.dirFd);
}

namespace {

std::string slotName(int slot, const char* extension) {
    return slot == 1 ? std::string("recovery") + extension
                     : "recovery-" + std::to_string(slot) + extension;
}

} // namespace

std::string FileRecoveryStore::defaultFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/')
        return std::string(state) + "/torvaline";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/')
        return std::string(home) + "/.local/state/torvaline";
    return {};
}

FileRecoveryStore::FileRecoveryStore(std::string folder)
    : m_folder(std::move(folder)) {
    if (m_folder.empty()) {
        m_problem = "no state folder is known";
        return;
    }
    std::error_code ec;
    std::filesystem::create_directories(m_folder, ec);
    if (ec) {
        m_problem = "cannot create " + m_folder + ": " + ec.message();
        return;
    }
    for (int slot = 1; slot <= MaxSlots && m_lockFd < 0; ++slot) {
        const std::string lockPath = m_folder + "/" + slotName(slot, ".lock");
        const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            m_problem = systemError("cannot open " + lockPath, errno);
            continue;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            m_problem = "every slot is held by another running copy";
            ::close(fd);
            continue;
        }
        m_lockFd = fd;
        m_path = m_folder + "/" + slotName(slot, ".tsv");
        m_problem.clear();
    }
    if (m_lockFd >= 0)
        m_writer = std::thread([this] { run(); });
}

FileRecoveryStore::~FileRecoveryStore() {
    if (m_writer.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_quit = true;
        }
        m_changed.notify_all();
        m_writer.join();
    }
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

std::string FileRecoveryStore::problem() const {
    if (!active())
        return m_problem;
    return lastWriteError();
}

std::optional<std::uint64_t> FileRecoveryStore::fileSize(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return static_cast<std::uint64_t>(st.st_size);
}

std::string FileRecoveryStore::lastWriteError() const {
    std::lock_guard lock(m_mutex);
    return m_lastError;
}

RecoveryStore::Loaded FileRecoveryStore::load() {
    Loaded result;
    if (!active())
        return result;
    // A writer killed half-way leaves its temporary file; the real one is still whole.
    ::unlink(temporaryPath(m_path).c_str());
    // Non-blocking and no links: whatever sits under that name, reading it must not hang.
    const int fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        if (errno != ENOENT) {
            result.kind = Loaded::Kind::Unreadable;
            result.problem = systemError("cannot open " + m_path, errno);
        }
        return result;
    }
    struct stat st {};
    result.kind = Loaded::Kind::Unreadable;
    if (::fstat(fd, &st) != 0) {
        result.problem = systemError("cannot read " + m_path, errno);
    } else if (!S_ISREG(st.st_mode)) {
        result.problem = m_path + " is not a regular file";
    } else if (static_cast<std::uint64_t>(st.st_size) > MaxBytes) {
        result.problem = m_path + " is too large (" + std::to_string(st.st_size) + " bytes)";
    } else {
        std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
        std::size_t got = 0;
        while (got < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        if (got != bytes.size()) {
            result.problem = "cannot read " + m_path + " whole";
        } else {
            result.kind = Loaded::Kind::Bytes;
            result.bytes = std::move(bytes);
        }
    }
    ::close(fd);
    return result;
}

void FileRecoveryStore::save(std::string bytes) {
    if (!active())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_pending = std::move(bytes);
    }
    m_changed.notify_all();
}

void FileRecoveryStore::remove() {
    if (!active())
        return;
    std::unique_lock lock(m_mutex);
    m_pending.reset();
    // A write in flight would bring the file back after the unlink.
    m_changed.wait(lock, [this] { return !m_writing; });
    ::unlink(temporaryPath(m_path).c_str());
    if (::unlink(m_path.c_str()) == 0)
        syncFolder(m_folder);
}

std::string FileRecoveryStore::keepAside() {
    if (!active())
        return {};
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_writing; });
    const std::string aside = m_path + ".bad";
    if (::rename(m_path.c_str(), aside.c_str()) != 0)
        return {};
    syncFolder(m_folder);
    return aside;
}

void FileRecoveryStore::flush() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_pending && !m_writing; });
}

void FileRecoveryStore::run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_quit || m_pending.has_value(); });
        if (!m_pending)
            return; // quit with nothing left to write
        std::string bytes = std::move(*m_pending);
        m_pending.reset();
        m_writing = true;
        lock.unlock();
        std::string error = writeAtomically(m_path, bytes);
        releaseCopy(bytes);
        lock.lock();
        m_writing = false;
        m_lastError = std::move(error);
        m_changed.notify_all();
    }
}

void FileRecoveryStore::releaseCopy(std::string& bytes) {
    const std::size_t size = bytes.size();
    std::string().swap(bytes);
#if defined(__GLIBC__)
    // The copy of a long list leaves a gap in the heap that glibc keeps: the program would hold
    // as much again as the longest list it ever kept, for good.
    if (size >= (std::size_t{1} << 20))
        malloc_trim(0);
#else
    static_cast<void>(size);
#endif
}

std::string FileRecoveryStore::writeAtomically(const std::string& path, const std::string& bytes) {
    const std::string temporary = temporaryPath(path);
    // A temporary file left by a writer that was killed is ours and worthless.
    ::unlink(temporary.c_str());
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return systemError("cannot create " + temporary, errno);
    std::string error;
    std::size_t done = 0;
    while (done < bytes.size() && error.empty()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            error = systemError("cannot write " + temporary, errno);
        else
            done += static_cast<std::size_t>(n);
    }
    // The content must be on the disk before the name points at it, or a power loss could
    // leave the new name on an empty file.
    if (error.empty() && ::fsync(fd) != 0)
        error = systemError("cannot sync " + temporary, errno);
    if (::close(fd) != 0 && error.empty())
        error = systemError("cannot close " + temporary, errno);
    if (error.empty() && ::rename(temporary.c_str(), path.c_str()) != 0)
        error = systemError("cannot rename " + temporary, errno);
    if (!error.empty()) {
        ::unlink(temporary.c_str());
        return error;
    }
    return syncFolder(folderOf(path));
}

} // namespace torvaline
