#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>

namespace torvaline {

// The three panels of the status bar: text and width (start widths 190, 50, 50). Widths are
// in reference units, pixels of the small dialog font the layout was drawn for; the window
// converts them for its own font, so a width of so many units per character keeps its meaning.
class StatusBar final {
public:
    static constexpr int PanelCount = 3;

    // The width of a panel sized to its text: so many units a character, ten unless a panel
    // is laid out narrower.
    static constexpr int UnitsPerCharacter = 10;
    static int widthFor(std::string_view text, int unitsPerCharacter = UnitsPerCharacter) {
        return unitsPerCharacter * static_cast<int>(text.size());
    }

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
