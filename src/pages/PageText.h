#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace torvaline {

// The hidden page text buffer (Memo2): the captured page's HTML with CR LF line breaks and a
// search start. The rules search only behind the search start, so a capture that replaces the
// page searches the whole text and an appended failure line leaves nothing to search.
class PageText final {
public:
    static constexpr std::string_view FailureLine = "No Web Document Body HTML";

    const std::string& text() const { return m_text; }
    // 0-based offset where the rules start searching (selection start plus length).
    std::size_t searchStart() const { return m_searchStart; }
    // Called after every real change of the text. It may change the text again (nested
    // captures) before it returns.
    void setOnChange(std::function<void()> onChange) { m_onChange = std::move(onChange); }

    // Takes the page text with its line breaks made CR LF. Returns false, changing and
    // announcing nothing, when that equals the current text; otherwise the search starts at 0
    // and the change is announced before this returns.
    bool replace(std::string_view text);
    // Empties the text before a navigation. Deliberately silent: an empty page runs no rules.
    void clear();
    // Adds the failure line as the new last line, leaves the search start behind it and
    // announces the change.
    void appendFailureLine();

    // Every CR or LF that is not part of a CR LF pair becomes CR LF (so LF CR is two breaks).
    static std::string normaliseLineBreaks(std::string_view text);

private:
    void changed();

    std::string m_text;
    std::size_t m_searchStart = 0;
    std::function<void()> m_onChange;
};

} // namespace torvaline
