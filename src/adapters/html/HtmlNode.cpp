#include "adapters/html/HtmlNode.h"

#include "platform/AsciiCase.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace torvaline::html {

namespace {

bool isAsciiWhitespace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

} // namespace

bool isElement(const GumboNode* node, GumboTag tag) {
    return node != nullptr && node->type == GUMBO_NODE_ELEMENT &&
           node->v.element.tag_namespace == GUMBO_NAMESPACE_HTML && node->v.element.tag == tag;
}

const char* attribute(const GumboNode* node, const char* name) {
    if (node == nullptr || (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE))
        return nullptr;
    const GumboAttribute* a = gumbo_get_attribute(&node->v.element.attributes, name);
    return a == nullptr ? nullptr : a->value;
}

bool hasAttribute(const GumboNode* node, const char* name) {
    return attribute(node, name) != nullptr;
}

std::string lowerAttribute(const GumboNode* node, const char* name) {
    std::string value;
    if (const char* v = attribute(node, name)) {
        for (; *v != '\0'; ++v)
            value += asciiLower(*v);
    }
    return value;
}

std::string textContent(const GumboNode* node) {
    std::string text;
    std::vector<const GumboNode*> stack{node};
    while (!stack.empty()) {
        const GumboNode* n = stack.back();
        stack.pop_back();
        if (n->type == GUMBO_NODE_TEXT || n->type == GUMBO_NODE_WHITESPACE ||
            n->type == GUMBO_NODE_CDATA) {
            text += n->v.text.text;
        } else if (n->type == GUMBO_NODE_ELEMENT || n->type == GUMBO_NODE_TEMPLATE) {
            const GumboVector& children = n->v.element.children;
            for (unsigned i = children.length; i > 0; --i)
                stack.push_back(static_cast<const GumboNode*>(children.data[i - 1]));
        }
    }
    return text;
}

std::string collapseWhitespace(const std::string& text) {
    std::string out;
    bool pendingSpace = false;
    for (const char c : text) {
        if (isAsciiWhitespace(c)) {
            pendingSpace = !out.empty();
            continue;
        }
        if (pendingSpace)
            out += ' ';
        pendingSpace = false;
        out += c;
    }
    return out;
}

std::string inputType(const GumboNode* input) {
    static constexpr std::array<const char*, 22> known = {
        "hidden",   "text",  "search", "tel",      "url",   "email",
        "password", "date",  "month",  "week",     "time",  "datetime-local",
        "number",   "range", "color",  "checkbox", "radio", "file",
        "submit",   "image", "reset",  "button"};
    const std::string type = lowerAttribute(input, "type");
    for (const char* k : known) {
        if (type == k)
            return type;
    }
    return "text";
}

bool isListed(const GumboNode* node) {
    if (node == nullptr || node->type != GUMBO_NODE_ELEMENT ||
        node->v.element.tag_namespace != GUMBO_NAMESPACE_HTML)
        return false;
    switch (node->v.element.tag) {
    case GUMBO_TAG_BUTTON:
    case GUMBO_TAG_FIELDSET:
    case GUMBO_TAG_OBJECT:
    case GUMBO_TAG_OUTPUT:
    case GUMBO_TAG_SELECT:
    case GUMBO_TAG_TEXTAREA:
        return true;
    case GUMBO_TAG_INPUT:
        return inputType(node) != "image";
    default:
        return false;
    }
}

bool isButton(const GumboNode* node) {
    if (isElement(node, GUMBO_TAG_BUTTON))
        return true;
    if (!isElement(node, GUMBO_TAG_INPUT))
        return false;
    const std::string type = inputType(node);
    return type == "submit" || type == "reset" || type == "button" || type == "image";
}

bool isSubmitControl(const GumboNode* node) {
    if (isElement(node, GUMBO_TAG_INPUT)) {
        const std::string type = inputType(node);
        return type == "submit" || type == "image";
    }
    if (isElement(node, GUMBO_TAG_BUTTON)) {
        const std::string type = lowerAttribute(node, "type");
        return type != "reset" && type != "button";
    }
    return false;
}

bool isDisabled(const GumboNode* node) {
    if (hasAttribute(node, "disabled"))
        return true;
    if (isElement(node, GUMBO_TAG_OPTION))
        return isElement(node->parent, GUMBO_TAG_OPTGROUP) &&
               hasAttribute(node->parent, "disabled");
    const GumboNode* child = node;
    for (const GumboNode* p = node->parent; p != nullptr; child = p, p = p->parent) {
        if (!isElement(p, GUMBO_TAG_FIELDSET) || !hasAttribute(p, "disabled"))
            continue;
        // The first legend of a disabled fieldset keeps its controls enabled.
        const GumboVector& children = p->v.element.children;
        const GumboNode* firstLegend = nullptr;
        for (unsigned i = 0; i < children.length && firstLegend == nullptr; ++i) {
            const auto* c = static_cast<const GumboNode*>(children.data[i]);
            if (isElement(c, GUMBO_TAG_LEGEND))
                firstLegend = c;
        }
        if (firstLegend == nullptr || child != firstLegend)
            return true;
    }
    return false;
}

std::vector<const GumboNode*> selectOptions(const GumboNode* select) {
    std::vector<const GumboNode*> options;
    const GumboVector& children = select->v.element.children;
    for (unsigned i = 0; i < children.length; ++i) {
        const auto* c = static_cast<const GumboNode*>(children.data[i]);
        if (isElement(c, GUMBO_TAG_OPTION)) {
            options.push_back(c);
        } else if (isElement(c, GUMBO_TAG_OPTGROUP)) {
            const GumboVector& inner = c->v.element.children;
            for (unsigned k = 0; k < inner.length; ++k) {
                const auto* o = static_cast<const GumboNode*>(inner.data[k]);
                if (isElement(o, GUMBO_TAG_OPTION))
                    options.push_back(o);
            }
        }
    }
    return options;
}

std::vector<const GumboNode*> selectedOptions(const GumboNode* select) {
    const std::vector<const GumboNode*> options = selectOptions(select);
    std::vector<const GumboNode*> selected;
    if (hasAttribute(select, "multiple")) {
        for (const GumboNode* o : options) {
            if (hasAttribute(o, "selected"))
                selected.push_back(o);
        }
        return selected;
    }
    // In a single select a later selected option deselects the earlier ones while parsing.
    for (const GumboNode* o : options) {
        if (hasAttribute(o, "selected"))
            selected.assign(1, o);
    }
    if (!selected.empty())
        return selected;
    const char* size = attribute(select, "size");
    const bool dropDown = size == nullptr || std::atoi(size) <= 1;
    if (dropDown) {
        for (const GumboNode* o : options) {
            if (!isDisabled(o)) {
                selected.push_back(o);
                break;
            }
        }
    }
    return selected;
}

std::string optionValue(const GumboNode* option) {
    if (const char* value = attribute(option, "value"))
        return value;
    return collapseWhitespace(textContent(option));
}

const GumboVector& childrenOf(const GumboNode* node) {
    if (node->type == GUMBO_NODE_DOCUMENT)
        return node->v.document.children;
    return node->v.element.children;
}

} // namespace torvaline::html
