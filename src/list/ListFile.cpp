#include "list/ListFile.h"

#include "list/LinkLines.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <system_error>

namespace torvaline {

namespace fs = std::filesystem;

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

FailureCause causeOf(int error) {
    switch (error) {
    case ENOENT:
        return FailureCause::NotFound;
    case ENOSPC:
    case EDQUOT:
        return FailureCause::DiskFull;
    default:
        return FailureCause::Other;
    }
}

// The file name with what was tried, then the system's message.
Failure systemFailure(int error, const std::string& what) {
    return fail(causeOf(error), what + ": " + std::generic_category().message(error));
}

Failure systemFailure(int error, const char* what, const std::string& path) {
    // A stream may fail without telling why; the user still gets a reason.
    if (error == 0)
        error = EIO;
    return systemFailure(error, std::string(what) + " \"" + path + "\"");
}

Failure tooLarge(const std::string& path) {
    return systemFailure(EFBIG, "The list file \"" + path + "\" is larger than " +
                                    std::to_string(MaxListFileBytes / (1024 * 1024)) +
                                    " MB and was not imported");
}

Result<std::string> readAll(const std::string& path) {
    // Only a plain file: a pipe or a device could block the window for ever or never end.
    std::error_code ec;
    const fs::file_status status = fs::status(fs::path(path), ec);
    if (!ec && fs::exists(status) && !fs::is_regular_file(status))
        return systemFailure(EINVAL, "\"" + path + "\" is not a plain file");
    const std::uintmax_t size = fs::file_size(fs::path(path), ec);
    if (!ec && size > MaxListFileBytes)
        return tooLarge(path);

    errno = 0;
    File f(std::fopen(path.c_str(), "rb"));
    if (!f)
        return systemFailure(errno, "Cannot open file", path);
    std::string data;
    if (!ec)
        data.reserve(static_cast<std::size_t>(size));
    char buffer[64 * 1024];
    for (;;) {
        errno = 0;
        const std::size_t n = std::fread(buffer, 1, sizeof buffer, f.get());
        data.append(buffer, n);
        // The file may have grown since its size was read.
        if (data.size() > MaxListFileBytes)
            return tooLarge(path);
        if (n == sizeof buffer)
            continue;
        if (std::ferror(f.get()))
            return systemFailure(errno, "Cannot read file", path);
        return data;
    }
}

struct Temporary {
    File file;
    fs::path path;
};

// Creates a file of a new name in the target's folder, so that the rename into place stays on
// one file system.
Result<Temporary> createTemporaryBeside(const fs::path& target, const std::string& path) {
    std::random_device seed;
    std::mt19937_64 random(seed());
    int error = 0;
    for (int attempt = 0; attempt < 16; ++attempt) {
        fs::path temporary = target;
        temporary.replace_filename(target.filename().string() + ".~" +
                                   std::to_string(random() % 1000000000u) + ".tmp");
        errno = 0;
        // "x": never reuse a file that happens to carry the same name.
        File f(std::fopen(temporary.string().c_str(), "wbx"));
        if (f)
            return Temporary{std::move(f), std::move(temporary)};
        error = errno;
        if (error != EEXIST)
            break;
    }
    return systemFailure(error, "Cannot create file", path);
}

} // namespace

Result<std::vector<std::string>> ReadListFile(const std::string& path) {
    Result<std::string> data = readAll(path);
    if (!data)
        return data.failure();
    return SplitTypedLinks(*data);
}

Result<void> LoadFile(const std::string& path, DownloadList& grid) {
    Result<std::vector<std::string>> lines = ReadListFile(path);
    if (!lines)
        return lines.failure();
    AppendLinks(grid, std::move(lines).value());
    return {};
}

Result<void> SaveGrid(const std::string& path, const DownloadList& grid) {
    std::string content;
    for (int r = 1; r < grid.rowCount(); ++r) {
        content += grid.cell(r, DownloadList::URL);
        content += "\r\n";
    }

    fs::path target(path);
    std::error_code ec;
    // Replacing a link would cut it from the file it points at: write where it points.
    if (fs::is_symlink(target, ec)) {
        fs::path resolved = fs::weakly_canonical(target, ec);
        if (!ec)
            target = resolved;
    }

    Result<Temporary> created = createTemporaryBeside(target, path);
    if (!created)
        return created.failure();
    File file = std::move(created->file);
    const fs::path temporary = std::move(created->path);
    auto discard = [&temporary] {
        std::error_code ignored;
        fs::remove(temporary, ignored);
    };

    errno = 0;
    const bool written =
        std::fwrite(content.data(), 1, content.size(), file.get()) == content.size() &&
        std::fflush(file.get()) == 0;
    if (!written) {
        const int error = errno;
        file.reset();
        discard();
        return systemFailure(error, "Cannot write file", path);
    }
    errno = 0;
    if (std::fclose(file.release()) != 0) {
        const int error = errno;
        discard();
        return systemFailure(error, "Cannot write file", path);
    }

    // The replacement keeps the access rights of the file it replaces.
    const fs::file_status old = fs::status(target, ec);
    if (!ec && fs::is_regular_file(old))
        fs::permissions(temporary, old.permissions(), ec);

    fs::rename(temporary, target, ec);
    if (ec) {
        discard();
        return fail(causeOf(ec.value()), "Cannot create file \"" + path + "\": " + ec.message());
    }
    return {};
}

} // namespace torvaline
