#include "adapters/html/InnerHtml.h"

#include "adapters/html/HtmlNode.h"
#include "platform/AsciiCase.h"

#include <gumbo.h>

#include <vector>

namespace torvaline {

namespace {

bool isVoid(GumboTag tag) {
    switch (tag) {
    case GUMBO_TAG_AREA:
    case GUMBO_TAG_BASE:
    case GUMBO_TAG_BASEFONT:
    case GUMBO_TAG_BGSOUND:
    case GUMBO_TAG_BR:
    case GUMBO_TAG_COL:
    case GUMBO_TAG_EMBED:
    case GUMBO_TAG_FRAME:
    case GUMBO_TAG_HR:
    case GUMBO_TAG_IMG:
    case GUMBO_TAG_INPUT:
    case GUMBO_TAG_KEYGEN:
    case GUMBO_TAG_LINK:
    case GUMBO_TAG_META:
    case GUMBO_TAG_PARAM:
    case GUMBO_TAG_SOURCE:
    case GUMBO_TAG_TRACK:
    case GUMBO_TAG_WBR:
        return true;
    default:
        return false;
    }
}

// Text inside these is written as it stands. The parser runs with scripting off, so NOSCRIPT
// content is markup and is escaped like any other text.
bool holdsRawText(const GumboNode* parent) {
    if (parent == nullptr || parent->type != GUMBO_NODE_ELEMENT ||
        parent->v.element.tag_namespace != GUMBO_NAMESPACE_HTML)
        return false;
    switch (parent->v.element.tag) {
    case GUMBO_TAG_STYLE:
    case GUMBO_TAG_SCRIPT:
    case GUMBO_TAG_XMP:
    case GUMBO_TAG_IFRAME:
    case GUMBO_TAG_NOEMBED:
    case GUMBO_TAG_NOFRAMES:
    case GUMBO_TAG_PLAINTEXT:
        return true;
    default:
        return false;
    }
}

void appendUpper(std::string& out, const std::string& s) {
    for (const char c : s)
        out += asciiUpper(c);
}

void appendLower(std::string& out, const char* s) {
    for (; *s != '\0'; ++s) {
        out += asciiLower(*s);
    }
}

void appendEscaped(std::string& out, const char* s, bool attributeMode) {
    for (; *s != '\0'; ++s) {
        const char c = *s;
        if (c == '&') {
            out += "&amp;";
        } else if (c == '\xC2' && s[1] == '\xA0') {
            out += "&nbsp;";
            ++s;
        } else if (attributeMode && c == '"') {
            out += "&quot;";
        } else if (!attributeMode && c == '<') {
            out += "&lt;";
        } else if (!attributeMode && c == '>') {
            out += "&gt;";
        } else {
            out += c;
        }
    }
}

bool hasChildren(const GumboNode* node) {
    return node->type == GUMBO_NODE_DOCUMENT || node->type == GUMBO_NODE_ELEMENT ||
           node->type == GUMBO_NODE_TEMPLATE;
}

void appendStartTag(const GumboNode* node, std::string& out) {
    out += '<';
    appendUpper(out, elementName(node));
    const GumboVector& attributes = node->v.element.attributes;
    for (unsigned i = 0; i < attributes.length; ++i) {
        const auto* attribute = static_cast<const GumboAttribute*>(attributes.data[i]);
        out += ' ';
        switch (attribute->attr_namespace) {
        case GUMBO_ATTR_NAMESPACE_XLINK:
            out += "xlink:";
            break;
        case GUMBO_ATTR_NAMESPACE_XML:
            out += "xml:";
            break;
        default:
            break;
        }
        appendLower(out, attribute->name);
        out += "=\"";
        appendEscaped(out, attribute->value, true);
        out += '"';
    }
    out += '>';
}

void appendLeaf(const GumboNode* node, std::string& out) {
    switch (node->type) {
    case GUMBO_NODE_TEXT:
    case GUMBO_NODE_WHITESPACE:
    case GUMBO_NODE_CDATA:
        if (holdsRawText(node->parent))
            out += node->v.text.text;
        else
            appendEscaped(out, node->v.text.text, false);
        break;
    case GUMBO_NODE_COMMENT:
        out += "<!--";
        out += node->v.text.text;
        out += "-->";
        break;
    default:
        break;
    }
}

// Older browsers wrote the line feed that the parser swallows after <PRE>, <TEXTAREA> and
// <LISTING> back out, so that the text reads the same when parsed again.
bool needsLeadingNewline(const GumboNode* node) {
    const GumboTag tag = node->v.element.tag;
    if (tag != GUMBO_TAG_PRE && tag != GUMBO_TAG_TEXTAREA && tag != GUMBO_TAG_LISTING)
        return false;
    const GumboVector& children = node->v.element.children;
    if (children.length == 0)
        return false;
    const auto* first = static_cast<const GumboNode*>(children.data[0]);
    return (first->type == GUMBO_NODE_TEXT || first->type == GUMBO_NODE_WHITESPACE) &&
           first->v.text.text[0] == '\n';
}

} // namespace

std::string elementName(const GumboInternalNode* node) {
    const GumboElement& element = node->v.element;
    if (element.tag != GUMBO_TAG_UNKNOWN)
        return gumbo_normalized_tagname(element.tag);
    GumboStringPiece piece = element.original_tag;
    gumbo_tag_from_original_text(&piece);
    return asciiLower(std::string_view(piece.data, piece.length));
}

void appendInnerHtml(const GumboInternalNode* root, std::string& out) {
    if (root == nullptr || !hasChildren(root))
        return;
    struct Frame {
        const GumboNode* node;
        unsigned next;
    };
    std::vector<Frame> stack{{root, 0}};
    while (!stack.empty()) {
        Frame& frame = stack.back();
        const GumboVector& children = html::childrenOf(frame.node);
        if (frame.next >= children.length) {
            const GumboNode* done = frame.node;
            stack.pop_back();
            if (!stack.empty()) {
                out += "</";
                appendUpper(out, elementName(done));
                out += '>';
            }
            continue;
        }
        const auto* child = static_cast<const GumboNode*>(children.data[frame.next++]);
        if (child->type != GUMBO_NODE_ELEMENT && child->type != GUMBO_NODE_TEMPLATE) {
            appendLeaf(child, out);
            continue;
        }
        appendStartTag(child, out);
        if (child->v.element.tag_namespace == GUMBO_NAMESPACE_HTML && isVoid(child->v.element.tag))
            continue;
        if (needsLeadingNewline(child))
            out += '\n';
        stack.push_back({child, 0});
    }
}

} // namespace torvaline
