#pragma once

#include "platform/Shell.h"

#include <string>
#include <vector>

namespace torvaline::test {

// Records what the program hands to the desktop.
class FakeShell final : public Shell {
public:
    std::vector<std::string> clipboard;
    std::vector<std::string> opened;
    std::vector<std::string> folders;

    void setClipboardText(const std::string& text) override { clipboard.push_back(text); }
    void openAddress(const std::string& address) override { opened.push_back(address); }
    void openFolder(const std::string& path) override { folders.push_back(path); }
};

} // namespace torvaline::test
