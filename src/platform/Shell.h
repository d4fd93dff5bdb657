#pragma once

#include <string>

namespace torvaline {

// The desktop around the program.
class Shell {
public:
    virtual ~Shell() = default;
    virtual void setClipboardText(const std::string& text) = 0;
    // Hands an address (web page or mailto:) to the desktop's handler; returns at once.
    virtual void openAddress(const std::string& address) = 0;
    // Shows a folder in the desktop's file manager; returns at once. A shell without one
    // does nothing.
    virtual void openFolder(const std::string& path) { static_cast<void>(path); }
};

} // namespace torvaline
