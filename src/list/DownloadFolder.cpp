#include "list/DownloadFolder.h"

namespace torvaline {

DownloadFolder::DownloadFolder(std::string defaultPath, char separator)
    : m_default(std::move(defaultPath))
    , m_separator(separator) {}

void DownloadFolder::setText(std::string text) {
    if (m_text == text)
        return;
    m_text = std::move(text);
    if (m_onChanged)
        m_onChanged(m_text);
}

} // namespace torvaline
