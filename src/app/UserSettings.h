#pragma once

#include <QSettings>
#include <QString>

namespace torvaline {

// The few choices the program remembers between runs, in the user's config folder
// (~/.config/torvaline/torvaline.conf). The tests point QSettings' user path elsewhere.
inline QSettings userSettings() {
    return QSettings(QSettings::UserScope, QStringLiteral("torvaline"),
                     QStringLiteral("torvaline"));
}

} // namespace torvaline
