#pragma once

#include <QIcon>
#include <QString>

namespace torvaline {

// The pictures of the toolbar buttons, taken from the desktop's icon theme and, where the
// theme has none, from the widget style, so that every button always shows something.
class CommandIcons final {
public:
    // buttonName: the objectName of a toolbar button ("addBtn", "startBtn", ...).
    static QIcon forButton(const QString& buttonName);

private:
    static void useInstalledThemeAsFallback();
    // Start Download in colour: the theme's grey symbol looks as disabled as the Pause and
    // Resume buttons beside it, which are.
    static QIcon startIcon();
};

} // namespace torvaline
