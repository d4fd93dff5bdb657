#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace torvaline {

class PageText;
struct CycleState;

// The text between the first startMark and the first endMark of text (both searched from the
// start of text), taken as it stands; empty when either is missing or the end comes first.
std::string URLCopy(std::string_view text, std::string_view startMark, std::string_view endMark);

// Sets FinalFileName to what follows the last delimiter of the link's path (the link without
// its query and fragment); a path without one leaves it as it was.
void GetFileName(std::string_view link, char delimiter, CycleState& state);

// Cuts the direct link of a countdown page out of the page text into FinalURL and its file
// name into FinalFileName, and sets PageHandled to whether the link's marker was found.
// FinalLinkFresh becomes true only when both a link and its file name were cut from this page.
// FindFinalURL reads the download form's address, Find4sharedFinalURL the download anchor's.
void FindFinalURL(const PageText& page, CycleState& state);

// The cut both of them make: the piece of `piece` characters from the marker's first
// occurrence in the search region, then URLCopy of it; `trimTail` drops what an anchor cut
// keeps in front of its end mark (blanks and the attribute's closing quote).
struct CutShape {
    std::string_view marker;
    std::string_view startMark;
    std::string_view endMark;
    std::size_t piece;
    bool trimTail;
};
void CutFinalURL(const PageText& page, CycleState& state, const CutShape& shape);
void Find4sharedFinalURL(const PageText& page, CycleState& state);

} // namespace torvaline
