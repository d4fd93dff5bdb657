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
};

} // namespace torvaline
