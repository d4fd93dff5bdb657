#include "list/AppTitle.h"

namespace torvaline {

void AppTitle::setText(std::string text) {
    if (m_text == text)
        return;
    m_text = std::move(text);
    if (m_onChanged)
        m_onChanged(m_text);
}

} // namespace torvaline
