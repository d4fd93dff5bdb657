#include "list/StatusBar.h"

namespace torvaline {

namespace {
const std::string kEmpty;
bool valid(int panel) {
    return panel >= 0 && panel < StatusBar::PanelCount;
}
} // namespace

StatusBar::StatusBar() {
    m_panels[0].width = 190;
    m_panels[1].width = 50;
    m_panels[2].width = 50;
}

const std::string& StatusBar::text(int panel) const {
    return valid(panel) ? m_panels[static_cast<std::size_t>(panel)].text : kEmpty;
}

int StatusBar::width(int panel) const {
    return valid(panel) ? m_panels[static_cast<std::size_t>(panel)].width : 0;
}

void StatusBar::setText(int panel, std::string text) {
    if (!valid(panel))
        return;
    Panel& p = m_panels[static_cast<std::size_t>(panel)];
    if (p.text == text)
        return;
    p.text = std::move(text);
    if (m_onChanged)
        m_onChanged(panel);
}

void StatusBar::setWidth(int panel, int width) {
    if (!valid(panel))
        return;
    Panel& p = m_panels[static_cast<std::size_t>(panel)];
    if (p.width == width)
        return;
    p.width = width;
    if (m_onChanged)
        m_onChanged(panel);
}

void StatusBar::clear() {
    for (int i = 0; i < PanelCount; ++i)
        setText(i, std::string());
}

} // namespace torvaline
