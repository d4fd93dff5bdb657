#include "app/UserSettings.h"

#include "session/ArchiveSettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace torvaline {

namespace {

// The folder above the program's own settings folder (which the archive settings share).
QString configHome() {
    const QString folder = userConfigFolder();
    return folder.isEmpty() ? QString() : folder.left(folder.lastIndexOf(QLatin1Char('/')));
}

// What QSettings() wrote with no organisation name set.
const char* const EarlierFolder = "Unknown Organization";

void takeInEarlierSettings(const QString& base, const QString& path) {
    const QString earlier =
        base + QLatin1Char('/') + QLatin1String(EarlierFolder) + QStringLiteral("/torvaline.conf");
    if (!QFileInfo(earlier).isFile())
        return;
    {
        const QSettings from(earlier, QSettings::IniFormat);
        // One that cannot be read is left as it is rather than lost.
        if (from.status() != QSettings::NoError)
            return;
        QSettings to(path, QSettings::IniFormat);
        // A choice made since in the new file is the newer one.
        for (const QString& key : from.allKeys())
            if (!to.contains(key))
                to.setValue(key, from.value(key));
        to.sync();
        if (to.status() != QSettings::NoError)
            return; // taken in at the next start
    }
    QFile::remove(earlier);
    QDir(base).rmdir(QLatin1String(EarlierFolder)); // only when nothing else lives there
}

} // namespace

QString userSettingsPath() {
    const QString base = configHome();
    return base.isEmpty() ? QString() : base + QStringLiteral("/torvaline/torvaline.conf");
}

QSettings userSettings() {
    const QString path = userSettingsPath();
    if (path.isEmpty())
        return QSettings(QSettings::UserScope, QStringLiteral("torvaline"),
                         QStringLiteral("torvaline"));
    takeInEarlierSettings(configHome(), path);
    return QSettings(path, QSettings::IniFormat);
}

} // namespace torvaline
