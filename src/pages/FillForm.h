#pragma once

#include <string>

namespace torvaline {

class Browser;

// Clicks every form element of the browser's current document whose value equals caption
// exactly, in document order; returns whether it clicked any. A page without forms is left
// alone. An element that cannot be read or clicked ends the search quietly; a document, form
// list or form that cannot be read throws DomError.
bool FillForm(Browser& browser, const std::string& caption);

} // namespace torvaline
