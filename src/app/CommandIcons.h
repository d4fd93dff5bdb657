#pragma once

#include <QIcon>

namespace torvaline {

struct ButtonEntry;

// The pictures of the toolbar buttons: the program's own, from its resources, never the
// desktop's icon theme, whose pictures differ from desktop to desktop and are missing on a
// bare one (a blank sheet for Add, a red cross for ShutDown PC where a close box would be).
class CommandIcons final {
public:
    static QIcon forButton(const ButtonEntry& button);
};

} // namespace torvaline
