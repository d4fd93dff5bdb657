#include "adapters/html/FormIndex.h"

#include "adapters/html/HtmlNode.h"
#include "platform/AsciiCase.h"

#include <algorithm>

namespace torvaline {

namespace {

template <typename Visit> void walkTreeOrder(const GumboNode* root, Visit visit) {
    std::vector<const GumboNode*> stack{root};
    while (!stack.empty()) {
        const GumboNode* n = stack.back();
        stack.pop_back();
        if (n->type == GUMBO_NODE_ELEMENT)
            visit(n);
        // Template contents are a separate fragment: not part of the document's collections.
        if (n->type != GUMBO_NODE_ELEMENT && n->type != GUMBO_NODE_DOCUMENT)
            continue;
        const GumboVector& children = html::childrenOf(n);
        for (unsigned i = children.length; i > 0; --i)
            stack.push_back(static_cast<const GumboNode*>(children.data[i - 1]));
    }
}

bool fromSource(const GumboNode* n) {
    return n->v.element.original_tag.length > 0;
}

bool isTableSection(const GumboNode* n) {
    return html::isElement(n, GUMBO_TAG_TABLE) || html::isElement(n, GUMBO_TAG_TBODY) ||
           html::isElement(n, GUMBO_TAG_THEAD) || html::isElement(n, GUMBO_TAG_TFOOT) ||
           html::isElement(n, GUMBO_TAG_TR);
}

// Where each "</form" (any case) starts in the source, in ascending order.
std::vector<std::size_t> formEndTags(std::string_view text) {
    static constexpr std::string_view endTag = "</form";
    std::vector<std::size_t> found;
    for (std::size_t i = text.find("</"); i != std::string_view::npos; i = text.find("</", i + 2)) {
        if (i + endTag.size() > text.size())
            break;
        bool match = true;
        for (std::size_t k = 2; k < endTag.size() && match; ++k)
            match = asciiLower(text[i + k]) == endTag[k];
        if (match)
            found.push_back(i);
    }
    return found;
}

} // namespace

FormIndex::FormIndex(const GumboNode* root, std::string_view source) {
    std::vector<const GumboNode*> listed;
    walkTreeOrder(root, [&](const GumboNode* n) {
        if (html::isElement(n, GUMBO_TAG_FORM)) {
            m_formIndex.emplace(n, static_cast<int>(m_forms.size()));
            m_forms.push_back(n);
        } else if (html::isListed(n)) {
            listed.push_back(n);
        }
        if (const char* id = html::attribute(n, "id"); id != nullptr && *id != '\0')
            m_ids.emplace(id, n);
        if (m_baseHref == nullptr && html::isElement(n, GUMBO_TAG_BASE))
            m_baseHref = html::attribute(n, "href");
    });
    for (std::size_t i = 0; i < m_forms.size(); ++i) {
        const GumboNode* form = m_forms[i];
        if (fromSource(form) && form->v.element.children.length == 0 &&
            isTableSection(form->parent) && form->v.element.start_pos.offset < source.size())
            m_tableForms.push_back({form->v.element.start_pos.offset, static_cast<int>(i)});
    }
    // Foster parenting can put tree order and source order apart; the lookups go by source.
    std::stable_sort(m_tableForms.begin(), m_tableForms.end(),
                     [](const TableForm& a, const TableForm& b) { return a.offset < b.offset; });
    if (!m_tableForms.empty())
        m_formEndTags = formEndTags(source);

    m_elements.resize(m_forms.size());
    for (const GumboNode* element : listed) {
        const int owner = associate(element);
        if (owner >= 0)
            m_elements[static_cast<std::size_t>(owner)].push_back(element);
    }
}

int FormIndex::associate(const GumboNode* element) const {
    // An explicit form="" wins over the tree, and names either a form or nothing.
    if (const char* formId = html::attribute(element, "form")) {
        const auto it = m_ids.find(formId);
        if (it == m_ids.end() || !html::isElement(it->second, GUMBO_TAG_FORM))
            return -1;
        return m_formIndex.at(it->second);
    }
    for (const GumboNode* p = element->parent; p != nullptr; p = p->parent) {
        if (html::isElement(p, GUMBO_TAG_FORM))
            return m_formIndex.at(p);
    }
    return tableFormOwner(element);
}

int FormIndex::tableFormOwner(const GumboNode* element) const {
    // A FORM start tag inside a table is inserted empty, but the parser keeps pointing at it and
    // gives it the controls that follow until a </form>. Pages built with tables rely on that.
    if (m_tableForms.empty() || !fromSource(element))
        return -1;
    const std::size_t at = element->v.element.start_pos.offset;
    // The nearest such form before the control, unless a </form> lies between them.
    auto next = std::lower_bound(m_tableForms.begin(), m_tableForms.end(), at,
                                 [](const TableForm& f, std::size_t v) { return f.offset < v; });
    if (next == m_tableForms.begin())
        return -1;
    const TableForm& best = *std::prev(next);
    const auto end = std::upper_bound(m_formEndTags.begin(), m_formEndTags.end(), best.offset);
    if (end != m_formEndTags.end() && *end < at)
        return -1;
    return best.index;
}

} // namespace torvaline
