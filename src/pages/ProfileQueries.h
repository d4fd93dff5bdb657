#pragma once

#include "pages/HosterProfile.h"

#include <cstddef>
#include <string>

namespace torvaline {

class Browser;
class Document;
class PageText;
struct CycleState;

// The control a query names, as form and element index; false when the page has none.
bool FindControl(const Document& document, const ControlQuery& query, int& form, int& element);
// The form whose address matches the query's pattern; -1 when none does.
int FindForm(const Document& document, const ControlQuery& query);

// Presses the profile's free-download button in the browser's current page; returns whether
// anything was pressed. A button found by its value is pressed as "Free user" always was.
bool PressButton(Browser& browser, const ControlQuery& button);

// Reads the direct link of a countdown page as the profile says into FinalURL (and the form
// data to post it with into FinalPostData), its file name into FinalFileName, and sets
// PageHandled to whether the link's source was found. `document` may be null (a page the
// browser no longer holds): the sources that need it are then not found.
void FindProfileLink(const HosterProfile& profile, const PageText& page, const Document* document,
                     CycleState& state);

// The same from one link source, the name from `fileName` (empty: the link's last part).
void FindLink(const LinkSource& link, const ValueSource& fileName, const PageText& page,
              const Document* document, CycleState& state);

// The first capture group of `pattern` in the page's search region, or the value of the
// named control; empty when neither is there.
std::string ReadValue(const ValueSource& source, const PageText& page, const Document* document);

// The longest archive password a page is taken at.
constexpr std::size_t MaxPagePassword = 256;
// The archive password a page tells, as `source` (a profile's [password]) reads it: the text
// of the page without its escapes (&amp; is "&") or the control's value, blanks around it
// dropped. Empty when the page tells none, or nothing a person could type: longer than
// MaxPagePassword bytes, with a control character in it, or with the parser's stand-in for a
// character the page could not spell (U+FFFD).
std::string ReadPagePassword(const ValueSource& source, const PageText& page,
                             const Document* document);
// The MD5 (32 hexadecimal digits) or SHA-1 (40) a page gives for its file, as `source` (a
// profile's [checksum]) reads it, in lower case. Empty when the page gives none or anything
// else: a value of another length or with another character is no checksum.
std::string ReadPageChecksum(const ValueSource& source, const PageText& page,
                             const Document* document);

} // namespace torvaline
