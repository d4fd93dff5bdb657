#pragma once

#include <array>
#include <functional>
#include <string>

namespace torvaline {

// The three panels of the status bar: text and width in pixels (start widths 190, 50, 50).
class StatusBar final {
public:
    static constexpr int PanelCount = 3;

    StatusBar();

    const std::string& text(int panel) const;
    int width(int panel) const;
    void setText(int panel, std::string text);
    void setWidth(int panel, int width);
    // Empties all three panels (widths stay).
    void clear();

    // Called with the panel whose text or width changed.
    void setOnChanged(std::function<void(int panel)> onChanged) {
        m_onChanged = std::move(onChanged);
    }

private:
    struct Panel {
        std::string text;
        int width = 0;
    };
    std::array<Panel, PanelCount> m_panels;
    std::function<void(int)> m_onChanged;
};

} // namespace torvaline
