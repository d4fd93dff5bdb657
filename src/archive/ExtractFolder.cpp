#include "archive/ExtractFolder.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace torvaline {

namespace {

std::string joined(const std::vector<std::string>& parts, std::size_t count) {
    std::string path;
    for (std::size_t i = 0; i < count; ++i) {
        if (i)
            path += '/';
        path += parts[i];
    }
    return path;
}

// The system's reason for the last call's failure; a full disk says so in its cause.
Failure systemFailure(const char* what) {
    const int error = errno;
    return fail(error == ENOSPC || error == EDQUOT ? FailureCause::DiskFull : FailureCause::Other,
                std::string(what) + ": " + std::strerror(error));
}

constexpr int FolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

} // namespace

Result<std::unique_ptr<ExtractFolder>> ExtractFolder::create(const std::string& base,
                                                             const std::string& name) {
    for (int n = 1; n <= 100; ++n) {
        const std::string leaf = n == 1 ? name : name + " (" + std::to_string(n) + ")";
        const std::string path = base + "/" + leaf;
        if (::mkdir(path.c_str(), 0755) != 0) {
            if (errno == EEXIST)
                continue;
            return systemFailure("cannot make the folder");
        }
        const int fd = ::open(path.c_str(), FolderFlags);
        if (fd < 0)
            return systemFailure("cannot open the folder");
        return std::unique_ptr<ExtractFolder>(new ExtractFolder(path, fd));
    }
    return fail(FailureCause::Other, "no free folder name");
}

ExtractFolder::~ExtractFolder() {
    if (m_cachedFd >= 0)
        ::close(m_cachedFd);
    ::close(m_root);
}

Result<int> ExtractFolder::parentOf(const std::vector<std::string>& parts, std::size_t count,
                                    bool make) {
    if (count == 0)
        return m_root;
    const std::string key = joined(parts, count);
    if (m_cachedFd >= 0 && key == m_cachedKey)
        return m_cachedFd;
    int at = m_root;
    for (std::size_t i = 0; i < count; ++i) {
        int next = ::openat(at, parts[i].c_str(), FolderFlags);
        if (next < 0 && errno == ENOENT && make) {
            if (::mkdirat(at, parts[i].c_str(), 0755) == 0)
                m_made.push_back({joined(parts, i + 1), true});
            next = ::openat(at, parts[i].c_str(), FolderFlags);
        }
        Failure failure;
        if (next < 0) {
            // A file of the name (ENOTDIR) or a link (ELOOP) is in the way: never walked through.
            failure = errno == ENOTDIR || errno == ELOOP
                          ? fail(FailureCause::NameRefused, "a file of that name is in the way")
                          : systemFailure("cannot make the folder");
        }
        if (at != m_root)
            ::close(at);
        if (next < 0)
            return failure;
        at = next;
    }
    if (m_cachedFd >= 0)
        ::close(m_cachedFd);
    m_cachedFd = at;
    m_cachedKey = key;
    return at;
}

Result<void> ExtractFolder::makeFolders(const std::vector<std::string>& parts) {
    if (Result<int> folder = parentOf(parts, parts.size(), true); !folder)
        return folder.failure();
    return {};
}

Result<int> ExtractFolder::createFile(const std::vector<std::string>& parts, bool executable) {
    const Result<int> parent = parentOf(parts, parts.size() - 1, true);
    if (!parent)
        return parent.failure();
    const int fd =
        ::openat(*parent, parts.back().c_str(),
                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, executable ? 0755 : 0644);
    if (fd < 0)
        return errno == EEXIST ? fail(FailureCause::NameRefused, "a second entry of the same name")
                               : systemFailure("cannot write");
    std::string path = joined(parts, parts.size());
    m_files.insert(path);
    m_made.push_back({std::move(path), false});
    return fd;
}

Result<void> ExtractFolder::link(const std::vector<std::string>& target,
                                 const std::vector<std::string>& parts) {
    if (!m_files.count(joined(target, target.size())))
        return fail(FailureCause::NameRefused, "a hard link to a file outside the set");
    // Both folders are walked without links; the cache holds one, so the target's is copied.
    const Result<int> from = parentOf(target, target.size() - 1, false);
    if (!from)
        return from.failure();
    const int fromFd = ::dup(*from);
    const Result<int> to = parentOf(parts, parts.size() - 1, true);
    Result<void> linked = to ? Result<void>() : to.failure();
    if (to && ::linkat(fromFd, target.back().c_str(), *to, parts.back().c_str(), 0) != 0)
        linked = errno == EEXIST
                     ? fail(FailureCause::NameRefused, "a second entry of the same name")
                     : systemFailure("cannot link");
    ::close(fromFd);
    if (linked) {
        std::string path = joined(parts, parts.size());
        m_files.insert(path);
        m_made.push_back({std::move(path), false});
    }
    return linked;
}

void ExtractFolder::removeAll() {
    for (auto made = m_made.rbegin(); made != m_made.rend(); ++made) {
        std::vector<std::string> parts;
        std::size_t from = 0;
        for (std::size_t to; (to = made->path.find('/', from)) != std::string::npos; from = to + 1)
            parts.push_back(made->path.substr(from, to - from));
        parts.push_back(made->path.substr(from));
        if (const Result<int> parent = parentOf(parts, parts.size() - 1, false))
            ::unlinkat(*parent, parts.back().c_str(), made->folder ? AT_REMOVEDIR : 0);
    }
    m_made.clear();
    m_files.clear();
    if (m_cachedFd >= 0)
        ::close(m_cachedFd);
    m_cachedFd = -1;
    m_cachedKey.clear();
    ::rmdir(m_path.c_str());
}

} // namespace torvaline
