#include "archive/DesktopTrash.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace torvaline {

namespace {

bool absolute(const char* path) {
    return path != nullptr && path[0] == '/';
}

std::string parentOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The Path key's value: the bytes of the path, with everything but unreserved characters and
// '/' escaped, as the layout asks.
std::string escapedPath(const std::string& path) {
    static const char* const hex = "0123456789ABCDEF";
    std::string out;
    for (const char c : path) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
            c == '-' || c == '_' || c == '.' || c == '~' || c == '/') {
            out += c;
        } else {
            out += '%';
            out += hex[u >> 4];
            out += hex[u & 15];
        }
    }
    return out;
}

std::string deletionDate() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

// A folder of ours: made with mode 0700 when missing, refused when it is a link or another
// user's.
bool ownFolder(const std::string& path, bool make) {
    if (make)
        ::mkdir(path.c_str(), 0700);
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid();
}

// Moves the file into one trash folder; `shown` is the path the info file records.
Result<void> moveInto(const std::string& trash, const std::string& path, const std::string& shown) {
    const std::string files = trash + "/files";
    const std::string info = trash + "/info";
    if (!ownFolder(trash, true) || !ownFolder(files, true) || !ownFolder(info, true))
        return fail(FailureCause::Other, "cannot use the trash folder " + trash);
    std::string name = path.substr(path.find_last_of('/') + 1);
    const std::size_t dot = name.find_last_of('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    const std::string ext = dot == std::string::npos || dot == 0 ? "" : name.substr(dot);
    // The info file is made first, exclusively: it reserves the name in the trash.
    for (int n = 1; n <= 1000; ++n) {
        const std::string candidate = n == 1 ? name : stem + "." + std::to_string(n) + ext;
        const std::string infoPath = info + "/" + candidate + ".trashinfo";
        const int fd =
            ::open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return fail(FailureCause::Other,
                        std::string("cannot write to the trash: ") + std::strerror(errno));
        }
        const std::string text =
            "[Trash Info]\nPath=" + escapedPath(shown) + "\nDeletionDate=" + deletionDate() + "\n";
        const bool written =
            ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        ::close(fd);
        const std::string target = files + "/" + candidate;
        struct stat taken {};
        if (written && ::lstat(target.c_str(), &taken) != 0 &&
            ::rename(path.c_str(), target.c_str()) == 0)
            return {};
        const int why = errno;
        ::unlink(infoPath.c_str());
        if (written && ::lstat(target.c_str(), &taken) == 0)
            continue; // a file without its info file holds the name
        return fail(FailureCause::Other,
                    written ? std::string("cannot move to the trash: ") + std::strerror(why)
                            : std::string("cannot write to the trash"));
    }
    return fail(FailureCause::Other, "the trash holds too many files of this name");
}

} // namespace

std::string DesktopTrash::homeTrash() {
    if (const char* data = std::getenv("XDG_DATA_HOME"); absolute(data))
        return std::string(data) + "/Trash";
    if (const char* home = std::getenv("HOME"); absolute(home))
        return std::string(home) + "/.local/share/Trash";
    return {};
}

Result<void> DesktopTrash::moveToTrash(const std::string& path) {
    struct stat file {};
    if (path.empty() || path[0] != '/' || ::lstat(path.c_str(), &file) != 0)
        return fail(FailureCause::NotFound, "the file is gone");
    const std::string home = homeTrash();
    struct stat homeInfo {};
    if (!home.empty()) {
        // The home trash's disk is that of its nearest existing folder.
        std::string probe = home;
        while (::stat(probe.c_str(), &homeInfo) != 0 && probe != "/")
            probe = parentOf(probe);
        if (homeInfo.st_dev == file.st_dev) {
            // A fresh account may have no data folder yet.
            for (std::size_t at = home.find('/', 1); at != std::string::npos;
                 at = home.find('/', at + 1))
                ::mkdir(home.substr(0, at).c_str(), 0700);
            return moveInto(home, path, path);
        }
    }
    // The top of the file's disk: the last folder up from it on the same device.
    std::string top = parentOf(path);
    for (int depth = 0; top != "/" && depth < 256; ++depth) {
        struct stat up {};
        if (::stat(parentOf(top).c_str(), &up) != 0 || up.st_dev != file.st_dev)
            break;
        top = parentOf(top);
    }
    const std::string trash =
        (top == "/" ? std::string() : top) + "/.Trash-" + std::to_string(::getuid());
    // Paths in a disk's own trash are told from its top.
    const std::string shown = top == "/" ? path : path.substr(top.size() + 1);
    return moveInto(trash, path, shown);
}

} // namespace torvaline
