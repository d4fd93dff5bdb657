#pragma once

#include <gumbo.h>

#include <string>
#include <vector>

// Small read-only queries on the parser's nodes, shared by the form code.
namespace torvaline::html {

bool isElement(const GumboNode* node, GumboTag tag);
// The children of a document or an element node (gumbo keeps them in two places).
const GumboVector& childrenOf(const GumboNode* node);
// The attribute's value, or null when the element does not carry it.
const char* attribute(const GumboNode* node, const char* name);
bool hasAttribute(const GumboNode* node, const char* name);
// The attribute's value in ASCII lower case; the empty text when missing.
std::string lowerAttribute(const GumboNode* node, const char* name);
// The concatenated text of all descendant text nodes.
std::string textContent(const GumboNode* node);
// The strip-and-collapse of ASCII whitespace that option labels get.
std::string collapseWhitespace(const std::string& text);
// The input's type keyword; unknown and missing types are "text".
std::string inputType(const GumboNode* input);
// Whether the element is one of a form's listed elements (form.elements).
bool isListed(const GumboNode* node);
// A button, or an input of type submit, reset or button.
bool isButton(const GumboNode* node);
// A control that submits its form when clicked.
bool isSubmitControl(const GumboNode* node);
// Disabled by its own attribute or by a disabled fieldset around it.
bool isDisabled(const GumboNode* node);

} // namespace torvaline::html

namespace torvaline::html {

// The OPTION elements of a select, in tree order (direct children and those in OPTGROUPs).
std::vector<const GumboNode*> selectOptions(const GumboNode* select);
// The options a browser shows selected when the page has loaded.
std::vector<const GumboNode*> selectedOptions(const GumboNode* select);
// The value attribute, else the label text with whitespace collapsed.
std::string optionValue(const GumboNode* option);

} // namespace torvaline::html
