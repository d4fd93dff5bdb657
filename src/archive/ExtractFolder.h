#pragma once

#include "platform/Result.h"

#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

namespace torvaline {

// The folder a set is extracted into, and everything written inside it. Every path is walked
// one folder at a time from the set's folder with no link followed, so nothing an archive or
// anybody else puts in the way can lead a write outside it; and every file and folder made is
// remembered, so that a failed extraction takes away exactly what it made.
class ExtractFolder final {
public:
    // A new folder `name` under base, or "name (2)" and on when that is taken: a folder the
    // program did not make is never written into. A failure when none can be made.
    static Result<std::unique_ptr<ExtractFolder>> create(const std::string& base,
                                                         const std::string& name);
    ~ExtractFolder();
    ExtractFolder(const ExtractFolder&) = delete;
    ExtractFolder& operator=(const ExtractFolder&) = delete;

    const std::string& path() const { return m_path; }

    Result<void> makeFolders(const std::vector<std::string>& parts);
    // A new file (never one that exists) open for writing: its descriptor.
    Result<int> createFile(const std::vector<std::string>& parts, bool executable);
    // A second name for a file this extraction wrote; a failure for anything else.
    Result<void> link(const std::vector<std::string>& target,
                      const std::vector<std::string>& parts);

    // Takes away every file and folder made, then the set's folder.
    void removeAll();

private:
    ExtractFolder(std::string path, int fd)
        : m_path(std::move(path))
        , m_root(fd) {}
    // The folder holding parts[0..count), made where missing when `make`.
    Result<int> parentOf(const std::vector<std::string>& parts, std::size_t count, bool make);

    std::string m_path;
    int m_root;
    // The last folder walked to: entries come folder by folder, so most need no walk.
    std::string m_cachedKey;
    int m_cachedFd = -1;
    struct Made {
        std::string path;
        bool folder;
    };
    std::vector<Made> m_made;
    std::unordered_set<std::string> m_files;
};

} // namespace torvaline
