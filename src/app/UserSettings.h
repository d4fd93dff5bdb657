#pragma once

#include <QSettings>
#include <QString>

namespace torvaline {

// The choices the program remembers between runs, all in one file:
// $XDG_CONFIG_HOME/torvaline/torvaline.conf (by default ~/.config/torvaline/torvaline.conf).
// Version 1.2.2 and earlier kept the speed limit apart, in Qt's "Unknown Organization" folder;
// that file is read into this one the first time and then removed.
QSettings userSettings();

// The file userSettings() opens; empty when neither XDG_CONFIG_HOME nor HOME is absolute.
QString userSettingsPath();

} // namespace torvaline
