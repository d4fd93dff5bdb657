#pragma once

#include <string>

struct GumboInternalNode;

namespace torvaline {

// Appends the inner HTML of `node` (its children) to `out`, as the classic embedded browser wrote
// it: the HTML fragment serialisation, but with element names in upper case, attribute names in
// lower case and every attribute value in double quotes. Iterative, so deep trees are safe.
void appendInnerHtml(const GumboInternalNode* node, std::string& out);

// The name of an element in lower case, also for elements the parser does not know.
std::string elementName(const GumboInternalNode* node);

} // namespace torvaline
