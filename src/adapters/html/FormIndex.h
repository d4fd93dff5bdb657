#pragma once

#include <gumbo.h>

#include <string>
#include <string_view>
#include <vector>

namespace torvaline {

// The forms of a parsed page and each form's listed elements, in tree order, with form owners
// assigned the way the parser and the DOM assign them.
class FormIndex final {
public:
    // `source` is the page text the tree was parsed from (for the parser's form pointer).
    FormIndex(const GumboNode* root, std::string_view source);

    int formCount() const { return static_cast<int>(m_forms.size()); }
    const GumboNode* form(int index) const { return m_forms[static_cast<std::size_t>(index)]; }
    const std::vector<const GumboNode*>& elements(int form) const {
        return m_elements[static_cast<std::size_t>(form)];
    }
    // The index of the form that owns `element`, or -1.
    int ownerOf(const GumboNode* element) const;
    // The href of the first BASE element that has one, or null.
    const char* baseHref() const { return m_baseHref; }

private:
    int associate(const GumboNode* element, std::string_view source) const;

    std::vector<const GumboNode*> m_forms;
    std::vector<std::vector<const GumboNode*>> m_elements;
    std::vector<std::pair<const GumboNode*, int>> m_owners;
    std::vector<std::pair<std::string, const GumboNode*>> m_ids;
    const char* m_baseHref = nullptr;
};

} // namespace torvaline
