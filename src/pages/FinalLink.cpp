#include "pages/FinalLink.h"

#include "pages/PageText.h"
#include "state/CycleState.h"

namespace torvaline {

namespace {

// The marker plus 150 characters: the longest piece of page text a link is cut from.
constexpr std::size_t PieceLength = 162;

constexpr CutShape RapidShareForm{"action=\"http", "action=\"", "\" method", PieceLength, false};
constexpr CutShape FourSharedAnchor{"A href=\"http", "A href=\"", "onclick", PieceLength, true};

// The anchor cut runs up to "onclick" and so keeps the attribute's closing quote and the
// blanks in front of the next attribute; a link ending in them could never be fetched.
std::string trimAnchorTail(std::string link) {
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!link.empty() && isBlank(link.back()))
        link.pop_back();
    if (!link.empty() && link.back() == '"')
        link.pop_back();
    return link;
}

} // namespace

void CutFinalURL(const PageText& page, CycleState& state, const CutShape& shape) {
    const std::string& text = page.text();
    const std::size_t start = page.searchStart();
    const std::size_t at = start < text.size() ? text.find(shape.marker, start) : std::string::npos;
    if (at == std::string::npos) {
        state.PageHandled = false;
        return;
    }
    const std::string_view piece = std::string_view(text).substr(at, shape.piece);
    std::string link = URLCopy(piece, shape.startMark, shape.endMark);
    if (shape.trimTail)
        link = trimAnchorTail(std::move(link));
    state.FinalURL = std::move(link);
    const bool named = state.FinalURL.find('/') != std::string::npos;
    GetFileName(state.FinalURL, '/', state);
    // Without a name of its own the link would be saved under an earlier row's file name.
    state.FinalLinkFresh = !state.FinalURL.empty() && named;
    state.PageHandled = true;
}

std::string URLCopy(std::string_view text, std::string_view startMark, std::string_view endMark) {
    const std::size_t endAt = text.find(endMark);
    const std::size_t startAt = text.find(startMark);
    if (endAt == std::string_view::npos || startAt == std::string_view::npos)
        return {};
    const std::size_t a = startAt + startMark.size();
    if (endAt <= a)
        return {};
    return std::string(text.substr(a, endAt - a));
}

void GetFileName(std::string_view link, char delimiter, CycleState& state) {
    // The query and the fragment are no part of the file's name: "name.zip?token=ab12" would
    // be saved under its key, and a '/' in a query would name the file after the query.
    link = link.substr(0, link.find_first_of("?#"));
    const std::size_t at = link.rfind(delimiter);
    if (at == std::string_view::npos)
        return;
    state.FinalFileName = std::string(link.substr(at + 1));
}

void FindFinalURL(const PageText& page, CycleState& state) {
    CutFinalURL(page, state, RapidShareForm);
}

void Find4sharedFinalURL(const PageText& page, CycleState& state) {
    CutFinalURL(page, state, FourSharedAnchor);
}

} // namespace torvaline
