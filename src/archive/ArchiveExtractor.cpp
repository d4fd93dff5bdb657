#include "archive/ArchiveExtractor.h"

#include "archive/EntryPath.h"
#include "archive/ExtractFolder.h"
#include "archive/RarHeaders.h"
#include "platform/AsciiCase.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace torvaline {

namespace {

using Archive = std::unique_ptr<archive, decltype(&archive_read_free)>;

bool contains(const std::string& text, const char* part) {
    return asciiLower(text).find(part) != std::string::npos;
}

std::string formatName(int format) {
    switch (format & ARCHIVE_FORMAT_BASE_MASK) {
    case ARCHIVE_FORMAT_RAR:
    case ARCHIVE_FORMAT_RAR_V5:
        return "RAR";
    case ARCHIVE_FORMAT_7ZIP:
        return "7z";
    case ARCHIVE_FORMAT_ZIP:
        return "ZIP";
    default:
        return "archive";
    }
}

Failure passwordFailure(bool passwordsGiven) {
    return fail(FailureCause::Authorisation,
                passwordsGiven ? "Extract: wrong password" : "Extract: password required");
}

Failure failure(std::string reason) {
    return fail(FailureCause::Other, std::move(reason));
}

// What the last call's errno says of a write that failed.
Failure writeFailure() {
    const int error = errno;
    return fail(error == ENOSPC || error == EDQUOT ? FailureCause::DiskFull : FailureCause::Other,
                "Extract: cannot write (" + std::string(std::strerror(error)) + ")");
}

// libarchive's error as the user reads it. The texts it gives are matched loosely: they differ
// between formats and releases, and the user needs the kind of failure more than its wording.
Failure failureFor(archive* a, bool passwordsGiven, bool encryptedEntry) {
    const char* raw = archive_error_string(a);
    // The 7z reader, for one, gives up without a word when its header runs past the end.
    if (!raw || !*raw)
        return failure("Extract: archive damaged or cut short");
    const std::string message = raw;
    const std::string format = formatName(archive_format(a));
    if (contains(message, "passphrase") || contains(message, "password"))
        return passwordFailure(passwordsGiven);
    if (contains(message, "encrypt") || contains(message, "decrypt") || contains(message, "crypto"))
        return failure("Extract: not supported (encrypted " + format + ")");
    // libarchive's RAR 4 reader refuses a solid archive at its second file.
    if (contains(message, "solid") &&
        (archive_format(a) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_RAR)
        return failure("Extract: not supported (solid RAR 4)");
    if (encryptedEntry && (contains(message, "crc") || contains(message, "checksum")))
        return passwordFailure(passwordsGiven);
    if (contains(message, "truncat") || contains(message, "premature") ||
        contains(message, "unexpected end") || contains(message, "eof"))
        return failure("Extract: archive cut short (a part is incomplete)");
    if (contains(message, "unrecognized archive format"))
        return failure("Extract: not supported (not an archive libarchive reads)");
    if (contains(message, "unsupported") || contains(message, "not supported") ||
        contains(message, "no support") || contains(message, "support unavailable"))
        return failure("Extract: not supported (" + format + ": " + message + ")");
    return failure("Extract: damaged archive (" + message + ")");
}

// Whether libarchive decrypts the entries of the archive's format. Its RAR reader claims it
// can, yet hands out the encrypted bytes as they are.
bool decrypts(archive* a) {
    const int base = archive_format(a) & ARCHIVE_FORMAT_BASE_MASK;
    return (archive_read_format_capabilities(a) & ARCHIVE_READ_FORMAT_CAPS_ENCRYPT_DATA) &&
           base != ARCHIVE_FORMAT_RAR && base != ARCHIVE_FORMAT_RAR_V5;
}

// What the RAR headers of the parts (in volume order) tell before extracting: libarchive (3.6)
// reads RAR 5's encrypted entries as plain data, and ends a RAR 5 file quietly where its next
// volume is missing. A success: nothing found, or no RAR at all.
Result<void> checkRarHeaders(const std::vector<std::string>& paths,
                             const std::vector<std::string>& parts) {
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const RarVolumeInfo info = RarHeaders::read(paths[i]);
        if (info.version == 0)
            return {};
        if (info.encrypted)
            return failure("Extract: not supported (encrypted RAR)");
        if (info.cut)
            return failure("Extract: archive cut short (" + parts[i] + " is incomplete)");
        if (i + 1 == paths.size() && info.continues)
            return failure("Extract: part missing (the one after " + parts[i] + ")");
    }
    return {};
}

std::uint64_t freeBytes(const std::string& folder) {
    struct statvfs info {};
    if (::statvfs(folder.c_str(), &info) != 0)
        return 0;
    return static_cast<std::uint64_t>(info.f_bavail) * info.f_frsize;
}

} // namespace

Result<Extracted> ArchiveExtractor::extract(const ExtractRequest& request, std::stop_token stop,
                                            const Progress& progress) {
    Extracted result;
    const ArchivePackage& package = request.package;
    if (const Result<void> name = EntryPath::checkName(package.name); !name)
        return fail(FailureCause::NameRefused,
                    "Extract: the set's name cannot be a folder (" + name.reason() + ")");
    if (!package.missing.empty())
        return failure("Extract: part missing (" + package.missing.front() + ")");
    if (package.parts.empty())
        return failure("Extract: no parts");

    // The parts, in volume order, each a plain file.
    std::vector<std::string> paths;
    ExtractProgress state;
    for (const std::string& part : package.parts) {
        const std::string path = request.partsFolder + "/" + part;
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            return failure("Extract: part missing (" + part + ")");
        state.packedTotal += static_cast<std::uint64_t>(info.st_size);
        paths.push_back(path);
    }
    result.packedBytes = state.packedTotal;
    if (package.kind == PackageKind::Single || package.kind == PackageKind::RarParts ||
        package.kind == PackageKind::RarOldStyle)
        if (const Result<void> rar = checkRarHeaders(paths, package.parts); !rar)
            return rar.failure();
    std::vector<const char*> names;
    for (const std::string& path : paths)
        names.push_back(path.c_str());
    names.push_back(nullptr);

    // The whole package may unpack to no more than the free space leaves, and no more than the
    // ratio allows of what it packs: a bomb fails before it fills the disk.
    const ExtractLimits& limits = request.limits;
    const std::uint64_t free = freeBytes(request.baseFolder);
    const std::uint64_t room = free > limits.keepFreeBytes ? free - limits.keepFreeBytes : 0;
    const double byRatio = static_cast<double>(state.packedTotal) * limits.mostRatio;
    const std::uint64_t allowedByRatio =
        byRatio >= 1.8e19 ? UINT64_MAX
                          : std::max(limits.ratioFreeBytes, static_cast<std::uint64_t>(byRatio));
    const std::uint64_t allowed = std::min(room, allowedByRatio);
    const auto tooLarge = [&] {
        return allowedByRatio <= room
                   ? failure("Extract: too large (unpacks to more than " +
                             std::to_string(static_cast<long long>(limits.mostRatio)) +
                             " times its size)")
                   : fail(FailureCause::DiskFull, "Extract: not enough free space");
    };

    Archive a(archive_read_new(), &archive_read_free);
    if (!a)
        return failure("Extract: out of memory");
    archive_read_support_filter_all(a.get());
    if (package.kind == PackageKind::ZipSpanned) {
        // The zip format's own split: offsets in its central directory count from the start
        // of each volume, so the local headers are read in order instead.
        archive_read_support_format_zip_streamable(a.get());
    } else {
        archive_read_support_format_all(a.get());
    }
    for (const std::string& password : request.passwords)
        archive_read_add_passphrase(a.get(), password.c_str());
    const bool passwords = !request.passwords.empty();
    if (archive_read_open_filenames(a.get(), names.data(), 1 << 20) != ARCHIVE_OK)
        return failureFor(a.get(), passwords, false);

    Result<std::unique_ptr<ExtractFolder>> made =
        ExtractFolder::create(request.baseFolder, package.name);
    if (!made)
        return fail(made.cause(), "Extract: " + made.reason());
    const std::unique_ptr<ExtractFolder> folder = std::move(made).value();
    result.folder = folder->path();
    const auto abandon = [&](Failure why) {
        folder->removeAll();
        return why;
    };
    const Failure stopped = fail(FailureCause::Stopped, "Extract: stopped");
    const auto skip = [&](const std::string& name, const std::string& why) {
        ++result.skipped;
        if (result.skippedReasons.size() < Extracted::MostReasons)
            result.skippedReasons.push_back("\"" + name + "\": " + why);
    };
    const auto report = [&] {
        state.packedRead = static_cast<std::uint64_t>(archive_filter_bytes(a.get(), -1));
        if (progress)
            progress(state);
    };

    std::vector<char> block;
    archive_entry* entry = nullptr;
    for (;;) {
        if (stop.stop_requested())
            return abandon(stopped);
        const int header = archive_read_next_header(a.get(), &entry);
        if (header == ARCHIVE_EOF)
            break;
        if (header < ARCHIVE_WARN)
            return abandon(failureFor(a.get(), passwords, false));
        if (++state.entries > limits.mostEntries)
            return abandon(failure("Extract: too many entries (more than " +
                                   std::to_string(limits.mostEntries) + ")"));
        const char* utf8 = archive_entry_pathname_utf8(entry);
        const char* plain = archive_entry_pathname(entry);
        const std::string name = utf8 ? utf8 : plain ? plain : "";
        const Result<std::vector<std::string>> split = EntryPath::split(name);
        if (!split) {
            skip(name, split.reason());
            continue;
        }
        const std::vector<std::string>& parts = *split;
        const bool encrypted = archive_entry_is_encrypted(entry);
        if (encrypted && !decrypts(a.get()))
            return abandon(failure("Extract: not supported (encrypted " +
                                   formatName(archive_format(a.get())) + ")"));
        if (const char* target = archive_entry_hardlink(entry)) {
            const Result<std::vector<std::string>> targetParts = EntryPath::split(target);
            if (!targetParts) {
                skip(name, "a hard link " + targetParts.reason());
            } else if (const Result<void> linked = folder->link(*targetParts, parts); !linked) {
                skip(name, linked.reason());
            }
            continue;
        }
        const mode_t type = archive_entry_filetype(entry);
        if (type == AE_IFDIR) {
            if (const Result<void> made = folder->makeFolders(parts); !made)
                skip(name, made.reason());
            continue;
        }
        if (type == AE_IFLNK) {
            // A link could lead a later entry out of the folder; what it names may be
            // anywhere, so none is made.
            skip(name, "a symbolic link");
            continue;
        }
        if (type != AE_IFREG) {
            skip(name, "a device, pipe or socket");
            continue;
        }
        if (archive_entry_size_is_set(entry) &&
            static_cast<std::uint64_t>(archive_entry_size(entry)) > allowed - result.bytes)
            return abandon(tooLarge());
        const Result<int> created =
            folder->createFile(parts, (archive_entry_perm(entry) & 0100) != 0);
        if (!created) {
            skip(name, created.reason());
            if (archive_read_data_skip(a.get()) < ARCHIVE_WARN)
                return abandon(failureFor(a.get(), passwords, encrypted));
            continue;
        }
        const int fd = *created;
        ++result.files;
        const std::uint64_t before = result.bytes;
        std::uint64_t fileEnd = 0;
        for (;;) {
            if (stop.stop_requested()) {
                ::close(fd);
                return abandon(stopped);
            }
            const void* data = nullptr;
            std::size_t size = 0;
            la_int64_t offset = 0;
            const int got = archive_read_data_block(a.get(), &data, &size, &offset);
            if (got == ARCHIVE_EOF)
                break;
            if (got < ARCHIVE_WARN) {
                ::close(fd);
                return abandon(failureFor(a.get(), passwords, encrypted));
            }
            // Sparse entries give their blocks at offsets; what lies between reads as zeros.
            const auto end = static_cast<std::uint64_t>(offset) + size;
            // libarchive's RAR 4 reader goes on into a volume given twice, past the file's end.
            if (offset >= 0 && archive_entry_size_is_set(entry) &&
                end > static_cast<std::uint64_t>(archive_entry_size(entry))) {
                ::close(fd);
                return abandon(failure("Extract: damaged archive (\"" + name +
                                       "\" is longer than its header says)"));
            }
            if (offset < 0 || end > allowed - before) {
                ::close(fd);
                return abandon(tooLarge());
            }
            const char* bytes = static_cast<const char*>(data);
            for (std::size_t done = 0; done < size;) {
                const ssize_t wrote =
                    ::pwrite(fd, bytes + done, size - done, static_cast<off_t>(offset + done));
                if (wrote < 0 && errno == EINTR)
                    continue;
                if (wrote <= 0) {
                    const bool full = errno == ENOSPC || errno == EDQUOT;
                    Failure why =
                        full ? fail(FailureCause::DiskFull, "Extract: disk full") : writeFailure();
                    ::close(fd);
                    return abandon(std::move(why));
                }
                done += static_cast<std::size_t>(wrote);
            }
            fileEnd = std::max(fileEnd, end);
            result.bytes = before + fileEnd;
            if (result.bytes - state.unpacked >= (8u << 20)) {
                state.unpacked = result.bytes;
                report();
            }
        }
        // A sparse file may end in a hole: its size is what the archive says (checked above).
        // Any other file that ends early was cut short: libarchive's RAR 5 reader, for one,
        // ends a file without a word where the volume that goes on with it is missing.
        const la_int64_t size = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : 0;
        if (size > 0 && static_cast<std::uint64_t>(size) > fileEnd &&
            archive_entry_sparse_count(entry) == 0) {
            ::close(fd);
            return abandon(failure("Extract: archive damaged or cut short"));
        }
        if (size > 0 && static_cast<std::uint64_t>(size) > fileEnd) {
            if (::ftruncate(fd, size) != 0) {
                Failure why = writeFailure();
                ::close(fd);
                return abandon(std::move(why));
            }
            result.bytes = before + static_cast<std::uint64_t>(size);
        }
        state.unpacked = result.bytes;
        if (archive_entry_mtime_is_set(entry)) {
            const timespec times[2] = {{archive_entry_mtime(entry), 0},
                                       {archive_entry_mtime(entry), 0}};
            ::futimens(fd, times);
        }
        if (::close(fd) != 0)
            return abandon(writeFailure());
        report();
    }
    report();
    return result;
}

} // namespace torvaline
