#pragma once

#include "platform/Shell.h"

namespace torvaline {

// The clipboard and the desktop's handler for web and mail addresses.
class QtShell final : public Shell {
public:
    void setClipboardText(const std::string& text) override;
    // Only http, https and mailto addresses are handed on: nothing else is ours to open.
    void openAddress(const std::string& address) override;
    void openFolder(const std::string& path) override;
};

} // namespace torvaline
