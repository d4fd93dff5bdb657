#include "session/ArchiveSettings.h"

#include <QDir>
#include <QSettings>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace torvaline {

namespace {

const char* const AfterExtractKey = "Archives/AfterExtract";
const char* const PackageFoldersKey = "Archives/PackageFolders";

QString settingsFile(const QString& folder) {
    return folder + QStringLiteral("/torvaline.conf");
}

std::string passwordsPath(const QString& folder) {
    return (folder + QLatin1Char('/') + QLatin1String(ArchiveSettings::PasswordsFile))
        .toStdString();
}

} // namespace

// Read from the environment rather than through QStandardPaths, whose test mode would send
// the tests' settings somewhere the tests cannot choose.
QString userConfigFolder() {
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.startsWith(QLatin1Char('/')))
        return config + QStringLiteral("/torvaline");
    const QString home = qEnvironmentVariable("HOME");
    if (home.startsWith(QLatin1Char('/')))
        return home + QStringLiteral("/.config/torvaline");
    return {};
}

ArchiveChoices ArchiveSettings::load() {
    ArchiveChoices choices;
    const QString folder = userConfigFolder();
    if (folder.isEmpty())
        return choices;
    const QSettings settings(settingsFile(folder), QSettings::IniFormat);
    const QString after = settings.value(QLatin1String(AfterExtractKey)).toString();
    if (after == QLatin1String("delete"))
        choices.afterExtract = ArchiveChoices::AfterExtract::Delete;
    else if (after == QLatin1String("keep"))
        choices.afterExtract = ArchiveChoices::AfterExtract::Keep;
    choices.packageFolders = settings.value(QLatin1String(PackageFoldersKey), false).toBool();

    const std::string path = passwordsPath(folder);
    // Only a plain file of ours, never through a link; one others can read is closed first.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return choices;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::getuid() ||
        info.st_size > (1 << 20)) {
        ::close(fd);
        return choices;
    }
    if ((info.st_mode & 077) != 0)
        ::fchmod(fd, 0600);
    std::string text(static_cast<std::size_t>(info.st_size), '\0');
    const ssize_t got = ::read(fd, text.data(), text.size());
    ::close(fd);
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            choices.passwords.push_back(std::move(line));
        start = end + 1;
    }
    return choices;
}

std::string ArchiveSettings::save(const ArchiveChoices& choices) {
    const QString folder = userConfigFolder();
    if (folder.isEmpty())
        return "no folder for the settings (HOME is not set)";
    QDir().mkpath(folder);
    {
        QSettings settings(settingsFile(folder), QSettings::IniFormat);
        const char* after = choices.afterExtract == ArchiveChoices::AfterExtract::Delete ? "delete"
                            : choices.afterExtract == ArchiveChoices::AfterExtract::Keep ? "keep"
                                                                                         : "trash";
        settings.setValue(QLatin1String(AfterExtractKey), QLatin1String(after));
        settings.setValue(QLatin1String(PackageFoldersKey), choices.packageFolders);
        settings.sync();
        if (settings.status() != QSettings::NoError)
            return "cannot write " + settingsFile(folder).toStdString();
    }
    // Written beside and renamed into place, made 0600 before a byte of it is written.
    const std::string path = passwordsPath(folder);
    const std::string temporary = path + ".new";
    ::unlink(temporary.c_str());
    const int fd =
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return "cannot write " + path + ": " + std::strerror(errno);
    std::string text;
    for (const std::string& password : choices.passwords)
        if (!password.empty() && password.find_first_of("\r\n") == std::string::npos)
            text += password + "\n";
    bool ok = ::fchmod(fd, 0600) == 0;
    for (std::size_t done = 0; ok && done < text.size();) {
        const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
        ok = wrote > 0;
        done += ok ? static_cast<std::size_t>(wrote) : 0;
    }
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string why = std::strerror(errno);
        ::unlink(temporary.c_str());
        return "cannot write " + path + ": " + why;
    }
    return {};
}

} // namespace torvaline
