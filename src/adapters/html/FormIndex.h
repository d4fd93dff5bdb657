#pragma once

#include <gumbo.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace torvaline {

// The forms of a parsed page and each form's listed elements, in tree order, with form owners
// assigned the way the parser and the DOM assign them. Built in one pass plus sorted lookups:
// a hoster page may carry a hundred thousand controls, and the window waits for this.
class FormIndex final {
public:
    // `source` is the page text the tree was parsed from (for the parser's form pointer).
    FormIndex(const GumboNode* root, std::string_view source);

    int formCount() const { return static_cast<int>(m_forms.size()); }
    const GumboNode* form(int index) const { return m_forms[static_cast<std::size_t>(index)]; }
    const std::vector<const GumboNode*>& elements(int form) const {
        return m_elements[static_cast<std::size_t>(form)];
    }
    // The href of the first BASE element that has one, or null.
    const char* baseHref() const { return m_baseHref; }

private:
    // A FORM the parser inserted empty into a table, and which still takes the controls that
    // follow it in the source.
    struct TableForm {
        std::size_t offset;
        int index;
    };

    int associate(const GumboNode* element) const;
    int tableFormOwner(const GumboNode* element) const;

    std::vector<const GumboNode*> m_forms;
    std::vector<std::vector<const GumboNode*>> m_elements;
    std::unordered_map<const GumboNode*, int> m_formIndex;
    // The first element carrying each id, as getElementById finds it.
    std::unordered_map<std::string, const GumboNode*> m_ids;
    std::vector<TableForm> m_tableForms;    // by source offset
    std::vector<std::size_t> m_formEndTags; // source offsets of every "</form", ascending
    const char* m_baseHref = nullptr;
};

} // namespace torvaline
