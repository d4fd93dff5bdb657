#pragma once

#include <QIcon>

namespace torvaline {

struct ButtonEntry;

// The pictures of the toolbar buttons, taken from the desktop's icon theme and, where the
// theme has none, from the widget style, so that every button always shows something.
class CommandIcons final {
public:
    static QIcon forButton(const ButtonEntry& button);

private:
    static void useInstalledThemeAsFallback();
    // Start Download in colour: the theme's grey symbol looks as disabled as the Pause and
    // Resume buttons beside it, which are.
    static QIcon startIcon();
};

} // namespace torvaline
