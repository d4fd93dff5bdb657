#pragma once

#include <functional>
#include <string>

namespace torvaline {

// The program title shown on the taskbar button (not the window caption).
class AppTitle final {
public:
    static constexpr const char* Initial = "Torvaline V.1.2.2";
    static constexpr const char* AfterMinimize = " Torvaline V.1.2.2";

    const std::string& text() const { return m_text; }
    void setText(std::string text);
    void setOnChanged(std::function<void(const std::string&)> onChanged) {
        m_onChanged = std::move(onChanged);
    }

private:
    std::string m_text = Initial;
    std::function<void(const std::string&)> m_onChanged;
};

} // namespace torvaline
