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

std::string failure(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

constexpr int FolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

} // namespace

std::unique_ptr<ExtractFolder> ExtractFolder::create(const std::string& base,
                                                     const std::string& name, std::string& error) {
    for (int n = 1; n <= 100; ++n) {
        const std::string leaf = n == 1 ? name : name + " (" + std::to_string(n) + ")";
        const std::string path = base + "/" + leaf;
        if (::mkdir(path.c_str(), 0755) != 0) {
            if (errno == EEXIST)
                continue;
            error = failure("cannot make the folder");
            return nullptr;
        }
        const int fd = ::open(path.c_str(), FolderFlags);
        if (fd < 0) {
            error = failure("cannot open the folder");
            return nullptr;
        }
        return std::unique_ptr<ExtractFolder>(new ExtractFolder(path, fd));
    }
    error = "no free folder name";
    return nullptr;
}

ExtractFolder::~ExtractFolder() {
    if (m_cachedFd >= 0)
        ::close(m_cachedFd);
    ::close(m_root);
}

int ExtractFolder::parentOf(const std::vector<std::string>& parts, std::size_t count, bool make,
                            std::string& error) {
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
        if (next < 0) {
            // A file of the name (ENOTDIR) or a link (ELOOP) is in the way: never walked through.
            error = errno == ENOTDIR || errno == ELOOP ? "a file of that name is in the way"
                                                       : failure("cannot make the folder");
        }
        if (at != m_root)
            ::close(at);
        if (next < 0)
            return -1;
        at = next;
    }
    if (m_cachedFd >= 0)
        ::close(m_cachedFd);
    m_cachedFd = at;
    m_cachedKey = key;
    return at;
}

bool ExtractFolder::makeFolders(const std::vector<std::string>& parts, std::string& error) {
    return parentOf(parts, parts.size(), true, error) >= 0;
}

int ExtractFolder::createFile(const std::vector<std::string>& parts, bool executable,
                              std::string& error) {
    const int parent = parentOf(parts, parts.size() - 1, true, error);
    if (parent < 0)
        return -1;
    const int fd =
        ::openat(parent, parts.back().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                 executable ? 0755 : 0644);
    if (fd < 0) {
        error = errno == EEXIST ? "a second entry of the same name" : failure("cannot write");
        return -1;
    }
    std::string path = joined(parts, parts.size());
    m_files.insert(path);
    m_made.push_back({std::move(path), false});
    return fd;
}

bool ExtractFolder::link(const std::vector<std::string>& target,
                         const std::vector<std::string>& parts, std::string& error) {
    if (!m_files.count(joined(target, target.size()))) {
        error = "a hard link to a file outside the set";
        return false;
    }
    // Both folders are walked without links; the cache holds one, so the target's is copied.
    const int from = parentOf(target, target.size() - 1, false, error);
    if (from < 0)
        return false;
    const int fromFd = ::dup(from);
    const int to = parentOf(parts, parts.size() - 1, true, error);
    bool ok = to >= 0;
    if (ok && ::linkat(fromFd, target.back().c_str(), to, parts.back().c_str(), 0) != 0) {
        error = errno == EEXIST ? "a second entry of the same name" : failure("cannot link");
        ok = false;
    }
    ::close(fromFd);
    if (ok) {
        std::string path = joined(parts, parts.size());
        m_files.insert(path);
        m_made.push_back({std::move(path), false});
    }
    return ok;
}

void ExtractFolder::removeAll() {
    std::string ignored;
    for (auto made = m_made.rbegin(); made != m_made.rend(); ++made) {
        std::vector<std::string> parts;
        std::size_t from = 0;
        for (std::size_t to; (to = made->path.find('/', from)) != std::string::npos; from = to + 1)
            parts.push_back(made->path.substr(from, to - from));
        parts.push_back(made->path.substr(from));
        const int parent = parentOf(parts, parts.size() - 1, false, ignored);
        if (parent >= 0)
            ::unlinkat(parent, parts.back().c_str(), made->folder ? AT_REMOVEDIR : 0);
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
