#include "pages/PageText.h"

namespace torvaline {

std::string PageText::normaliseLineBreaks(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    std::size_t from = 0;
    while (from < text.size()) {
        const std::size_t brk = text.find_first_of("\r\n", from);
        if (brk == std::string_view::npos) {
            out.append(text.substr(from));
            break;
        }
        out.append(text.substr(from, brk - from));
        out += "\r\n";
        const bool pair = text[brk] == '\r' && brk + 1 < text.size() && text[brk + 1] == '\n';
        from = brk + (pair ? 2 : 1);
    }
    return out;
}

bool PageText::replace(std::string_view text) {
    std::string normalised = normaliseLineBreaks(text);
    if (normalised == m_text)
        return false;
    m_text = std::move(normalised);
    m_searchStart = 0;
    changed();
    return true;
}

void PageText::clear() {
    m_text.clear();
    m_searchStart = 0;
}

void PageText::appendFailureLine() {
    // The last line is empty when the text is empty or ends with its line break.
    if (m_text.empty() || m_text.back() == '\n') {
        m_text += FailureLine;
        m_text += "\r\n";
    } else {
        m_text += "\r\n";
        m_text += FailureLine;
    }
    m_searchStart = m_text.size();
    changed();
}

void PageText::changed() {
    // A copy: the handler may replace the handler or the text while it runs.
    if (auto onChange = m_onChange)
        onChange();
}

} // namespace torvaline
