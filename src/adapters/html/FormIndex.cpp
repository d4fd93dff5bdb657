#include "adapters/html/FormIndex.h"

#include "adapters/html/HtmlNode.h"

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
        const GumboVector& children =
            n->type == GUMBO_NODE_DOCUMENT ? n->v.document.children : n->v.element.children;
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

bool containsFormEndTag(std::string_view text) {
    static constexpr std::string_view endTag = "</form";
    for (std::size_t i = 0; i + endTag.size() <= text.size(); ++i) {
        bool match = true;
        for (std::size_t k = 0; k < endTag.size() && match; ++k) {
            char c = text[i + k];
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
            match = c == endTag[k];
        }
        if (match)
            return true;
    }
    return false;
}

} // namespace

FormIndex::FormIndex(const GumboNode* root, std::string_view source) {
    std::vector<const GumboNode*> listed;
    walkTreeOrder(root, [&](const GumboNode* n) {
        if (html::isElement(n, GUMBO_TAG_FORM))
            m_forms.push_back(n);
        else if (html::isListed(n))
            listed.push_back(n);
        if (const char* id = html::attribute(n, "id"); id != nullptr && *id != '\0')
            m_ids.emplace_back(id, n);
        if (m_baseHref == nullptr && html::isElement(n, GUMBO_TAG_BASE))
            m_baseHref = html::attribute(n, "href");
    });
    m_elements.resize(m_forms.size());
    for (const GumboNode* element : listed) {
        const int owner = associate(element, source);
        m_owners.emplace_back(element, owner);
        if (owner >= 0)
            m_elements[static_cast<std::size_t>(owner)].push_back(element);
    }
}

int FormIndex::ownerOf(const GumboNode* element) const {
    for (const auto& [e, owner] : m_owners) {
        if (e == element)
            return owner;
    }
    return -1;
}

int FormIndex::associate(const GumboNode* element, std::string_view source) const {
    auto indexOf = [this](const GumboNode* form) {
        const auto it = std::find(m_forms.begin(), m_forms.end(), form);
        return it == m_forms.end() ? -1 : static_cast<int>(it - m_forms.begin());
    };
    // An explicit form="" wins over the tree, and names either a form or nothing.
    if (const char* formId = html::attribute(element, "form")) {
        for (const auto& [id, node] : m_ids) {
            if (id == formId)
                return html::isElement(node, GUMBO_TAG_FORM) ? indexOf(node) : -1;
        }
        return -1;
    }
    for (const GumboNode* p = element->parent; p != nullptr; p = p->parent) {
        if (html::isElement(p, GUMBO_TAG_FORM))
            return indexOf(p);
    }
    // A FORM start tag inside a table is inserted empty, but the parser keeps pointing at it and
    // gives it the controls that follow until a </form>. Pages built with tables rely on that.
    if (!fromSource(element))
        return -1;
    const std::size_t at = element->v.element.start_pos.offset;
    int best = -1;
    std::size_t bestOffset = 0;
    for (std::size_t i = 0; i < m_forms.size(); ++i) {
        const GumboNode* form = m_forms[i];
        const std::size_t offset = form->v.element.start_pos.offset;
        if (!fromSource(form) || offset >= at || form->v.element.children.length != 0 ||
            !isTableSection(form->parent))
            continue;
        if (best < 0 || offset > bestOffset) {
            best = static_cast<int>(i);
            bestOffset = offset;
        }
    }
    if (best < 0 || at > source.size() ||
        containsFormEndTag(source.substr(bestOffset, at - bestOffset)))
        return -1;
    return best;
}

} // namespace torvaline
