#include "adapters/html/NestingBound.h"

#include "platform/AsciiCase.h"

#include <gumbo.h>

#include <array>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace torvaline::html {

namespace {

bool isAsciiAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isTagSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

// A tag as the estimate tracks it: the parser's tag, and for the tags it does not know a hash
// of the lower-cased name, so that </x> never closes <y>.
struct Tag {
    GumboTag tag = GUMBO_TAG_UNKNOWN;
    std::uint64_t name = 0;
    bool operator==(const Tag&) const = default;
};

Tag tagOf(std::string_view name) {
    char buffer[32];
    std::uint64_t hash = 1469598103934665603ull;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = asciiLower(name[i]);
        if (i < sizeof buffer)
            buffer[i] = c;
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    Tag t;
    if (name.size() <= sizeof buffer)
        t.tag = gumbo_tagn_enum(buffer, static_cast<unsigned>(name.size()));
    if (t.tag == GUMBO_TAG_UNKNOWN)
        t.name = hash;
    return t;
}

constexpr GumboTag kVoid[] = {
    GUMBO_TAG_AREA,  GUMBO_TAG_BASE,   GUMBO_TAG_BASEFONT, GUMBO_TAG_BGSOUND, GUMBO_TAG_BR,
    GUMBO_TAG_COL,   GUMBO_TAG_EMBED,  GUMBO_TAG_FRAME,    GUMBO_TAG_HR,      GUMBO_TAG_IMG,
    GUMBO_TAG_IMAGE, GUMBO_TAG_INPUT,  GUMBO_TAG_KEYGEN,   GUMBO_TAG_LINK,    GUMBO_TAG_META,
    GUMBO_TAG_PARAM, GUMBO_TAG_SOURCE, GUMBO_TAG_TRACK,    GUMBO_TAG_WBR,     GUMBO_TAG_MENUITEM};

// Elements whose content the tokenizer reads as text up to their own end tag (in HTML content).
constexpr GumboTag kRawText[] = {GUMBO_TAG_SCRIPT,   GUMBO_TAG_STYLE,   GUMBO_TAG_XMP,
                                 GUMBO_TAG_IFRAME,   GUMBO_TAG_NOEMBED, GUMBO_TAG_NOFRAMES,
                                 GUMBO_TAG_TEXTAREA, GUMBO_TAG_TITLE};

// Kept on the list of active formatting elements, and reopened by the parser after a block
// closes them: they count until their own end tag, whatever closes around them.
constexpr GumboTag kFormatting[] = {
    GUMBO_TAG_A,      GUMBO_TAG_B,      GUMBO_TAG_BIG,  GUMBO_TAG_CODE, GUMBO_TAG_EM,
    GUMBO_TAG_FONT,   GUMBO_TAG_I,      GUMBO_TAG_NOBR, GUMBO_TAG_S,    GUMBO_TAG_SMALL,
    GUMBO_TAG_STRIKE, GUMBO_TAG_STRONG, GUMBO_TAG_TT,   GUMBO_TAG_U};

// Closing one of these drops the formatting elements opened inside it.
constexpr GumboTag kMarker[] = {GUMBO_TAG_APPLET,  GUMBO_TAG_MARQUEE, GUMBO_TAG_OBJECT,
                                GUMBO_TAG_TD,      GUMBO_TAG_TH,      GUMBO_TAG_CAPTION,
                                GUMBO_TAG_TEMPLATE};

// Where the search for an element "in scope" stops (a frameset too: a page that is one shows
// nothing else, and nothing else may close it).
constexpr GumboTag kScope[] = {GUMBO_TAG_APPLET,
                               GUMBO_TAG_CAPTION,
                               GUMBO_TAG_HTML,
                               GUMBO_TAG_TABLE,
                               GUMBO_TAG_TD,
                               GUMBO_TAG_TH,
                               GUMBO_TAG_MARQUEE,
                               GUMBO_TAG_OBJECT,
                               GUMBO_TAG_TEMPLATE,
                               GUMBO_TAG_MI,
                               GUMBO_TAG_MO,
                               GUMBO_TAG_MN,
                               GUMBO_TAG_MS,
                               GUMBO_TAG_MTEXT,
                               GUMBO_TAG_ANNOTATION_XML,
                               GUMBO_TAG_FOREIGNOBJECT,
                               GUMBO_TAG_DESC,
                               GUMBO_TAG_BUTTON,
                               GUMBO_TAG_FRAMESET,
                               GUMBO_TAG_TITLE};

constexpr GumboTag kTableParts[] = {GUMBO_TAG_TABLE, GUMBO_TAG_TBODY,  GUMBO_TAG_THEAD,
                                    GUMBO_TAG_TFOOT, GUMBO_TAG_TR,     GUMBO_TAG_TD,
                                    GUMBO_TAG_TH,    GUMBO_TAG_CAPTION};

// Start tags that close an open P first.
constexpr GumboTag kClosesP[] = {
    GUMBO_TAG_ADDRESS, GUMBO_TAG_ARTICLE,  GUMBO_TAG_ASIDE,      GUMBO_TAG_BLOCKQUOTE,
    GUMBO_TAG_CENTER,  GUMBO_TAG_DETAILS,  GUMBO_TAG_DIR,        GUMBO_TAG_DIV,
    GUMBO_TAG_DL,      GUMBO_TAG_FIELDSET, GUMBO_TAG_FIGCAPTION, GUMBO_TAG_FIGURE,
    GUMBO_TAG_FOOTER,  GUMBO_TAG_HEADER,   GUMBO_TAG_HGROUP,     GUMBO_TAG_MAIN,
    GUMBO_TAG_MENU,    GUMBO_TAG_NAV,      GUMBO_TAG_OL,         GUMBO_TAG_P,
    GUMBO_TAG_SECTION, GUMBO_TAG_SUMMARY,  GUMBO_TAG_UL,         GUMBO_TAG_H1,
    GUMBO_TAG_H2,      GUMBO_TAG_H3,       GUMBO_TAG_H4,         GUMBO_TAG_H5,
    GUMBO_TAG_H6,      GUMBO_TAG_PRE,      GUMBO_TAG_LISTING,    GUMBO_TAG_FORM,
    GUMBO_TAG_LI,      GUMBO_TAG_DD,       GUMBO_TAG_DT};

constexpr GumboTag kHeading[] = {GUMBO_TAG_H1, GUMBO_TAG_H2, GUMBO_TAG_H3,
                                 GUMBO_TAG_H4, GUMBO_TAG_H5, GUMBO_TAG_H6};

// The parser's "special" elements, as far as the estimate needs them: an end tag of an ordinary
// element never closes past one of these.
constexpr GumboTag kSpecial[] = {GUMBO_TAG_ADDRESS,
                                 GUMBO_TAG_APPLET,
                                 GUMBO_TAG_ARTICLE,
                                 GUMBO_TAG_ASIDE,
                                 GUMBO_TAG_BLOCKQUOTE,
                                 GUMBO_TAG_BUTTON,
                                 GUMBO_TAG_CAPTION,
                                 GUMBO_TAG_CENTER,
                                 GUMBO_TAG_COLGROUP,
                                 GUMBO_TAG_DD,
                                 GUMBO_TAG_DETAILS,
                                 GUMBO_TAG_DIR,
                                 GUMBO_TAG_DIV,
                                 GUMBO_TAG_DL,
                                 GUMBO_TAG_DT,
                                 GUMBO_TAG_FIELDSET,
                                 GUMBO_TAG_FIGCAPTION,
                                 GUMBO_TAG_FIGURE,
                                 GUMBO_TAG_FOOTER,
                                 GUMBO_TAG_FORM,
                                 GUMBO_TAG_FRAMESET,
                                 GUMBO_TAG_H1,
                                 GUMBO_TAG_H2,
                                 GUMBO_TAG_H3,
                                 GUMBO_TAG_H4,
                                 GUMBO_TAG_H5,
                                 GUMBO_TAG_H6,
                                 GUMBO_TAG_HEADER,
                                 GUMBO_TAG_HGROUP,
                                 GUMBO_TAG_HTML,
                                 GUMBO_TAG_LI,
                                 GUMBO_TAG_LISTING,
                                 GUMBO_TAG_MAIN,
                                 GUMBO_TAG_MARQUEE,
                                 GUMBO_TAG_MENU,
                                 GUMBO_TAG_NAV,
                                 GUMBO_TAG_NOSCRIPT,
                                 GUMBO_TAG_OBJECT,
                                 GUMBO_TAG_OL,
                                 GUMBO_TAG_P,
                                 GUMBO_TAG_PRE,
                                 GUMBO_TAG_SECTION,
                                 GUMBO_TAG_SELECT,
                                 GUMBO_TAG_SUMMARY,
                                 GUMBO_TAG_TABLE,
                                 GUMBO_TAG_TBODY,
                                 GUMBO_TAG_TD,
                                 GUMBO_TAG_TEMPLATE,
                                 GUMBO_TAG_TFOOT,
                                 GUMBO_TAG_TH,
                                 GUMBO_TAG_THEAD,
                                 GUMBO_TAG_TR,
                                 GUMBO_TAG_UL,
                                 GUMBO_TAG_MI,
                                 GUMBO_TAG_MO,
                                 GUMBO_TAG_MN,
                                 GUMBO_TAG_MS,
                                 GUMBO_TAG_MTEXT,
                                 GUMBO_TAG_ANNOTATION_XML,
                                 GUMBO_TAG_FOREIGNOBJECT,
                                 GUMBO_TAG_DESC};

// End tags the parser matches "in scope"; any other end tag closes its element only when no
// special element is open inside it.
constexpr GumboTag kScopedEnd[] = {
    GUMBO_TAG_ADDRESS, GUMBO_TAG_ARTICLE, GUMBO_TAG_ASIDE,    GUMBO_TAG_BLOCKQUOTE,
    GUMBO_TAG_BUTTON,  GUMBO_TAG_CENTER,  GUMBO_TAG_DETAILS,  GUMBO_TAG_DIR,
    GUMBO_TAG_DIV,     GUMBO_TAG_DL,      GUMBO_TAG_FIELDSET, GUMBO_TAG_FIGCAPTION,
    GUMBO_TAG_FIGURE,  GUMBO_TAG_FOOTER,  GUMBO_TAG_HEADER,   GUMBO_TAG_HGROUP,
    GUMBO_TAG_LISTING, GUMBO_TAG_MAIN,    GUMBO_TAG_MENU,     GUMBO_TAG_NAV,
    GUMBO_TAG_OL,      GUMBO_TAG_PRE,     GUMBO_TAG_SECTION,  GUMBO_TAG_SUMMARY,
    GUMBO_TAG_UL,      GUMBO_TAG_FORM,    GUMBO_TAG_P,        GUMBO_TAG_LI,
    GUMBO_TAG_DD,      GUMBO_TAG_DT,      GUMBO_TAG_H1,       GUMBO_TAG_H2,
    GUMBO_TAG_H3,      GUMBO_TAG_H4,      GUMBO_TAG_H5,       GUMBO_TAG_H6,
    GUMBO_TAG_APPLET,  GUMBO_TAG_MARQUEE, GUMBO_TAG_OBJECT,   GUMBO_TAG_TEMPLATE};

// HTML start tags that break out of SVG and MathML.
constexpr GumboTag kBreakout[] = {
    GUMBO_TAG_B,      GUMBO_TAG_BIG,    GUMBO_TAG_BLOCKQUOTE, GUMBO_TAG_BODY,  GUMBO_TAG_BR,
    GUMBO_TAG_CENTER, GUMBO_TAG_CODE,   GUMBO_TAG_DD,         GUMBO_TAG_DIV,   GUMBO_TAG_DL,
    GUMBO_TAG_DT,     GUMBO_TAG_EM,     GUMBO_TAG_EMBED,      GUMBO_TAG_H1,    GUMBO_TAG_H2,
    GUMBO_TAG_H3,     GUMBO_TAG_H4,     GUMBO_TAG_H5,         GUMBO_TAG_H6,    GUMBO_TAG_HEAD,
    GUMBO_TAG_HR,     GUMBO_TAG_I,      GUMBO_TAG_IMG,        GUMBO_TAG_LI,    GUMBO_TAG_LISTING,
    GUMBO_TAG_MENU,   GUMBO_TAG_META,   GUMBO_TAG_NOBR,       GUMBO_TAG_OL,    GUMBO_TAG_P,
    GUMBO_TAG_PRE,    GUMBO_TAG_RUBY,   GUMBO_TAG_S,          GUMBO_TAG_SMALL, GUMBO_TAG_SPAN,
    GUMBO_TAG_STRONG, GUMBO_TAG_STRIKE, GUMBO_TAG_SUB,        GUMBO_TAG_SUP,   GUMBO_TAG_TABLE,
    GUMBO_TAG_TT,     GUMBO_TAG_U,      GUMBO_TAG_UL,         GUMBO_TAG_VAR,   GUMBO_TAG_FONT};

// SVG and MathML elements whose content is HTML again.
constexpr GumboTag kSvgIntegration[] = {GUMBO_TAG_FOREIGNOBJECT, GUMBO_TAG_DESC, GUMBO_TAG_TITLE};
constexpr GumboTag kMathIntegration[] = {GUMBO_TAG_MI, GUMBO_TAG_MO,    GUMBO_TAG_MN,
                                         GUMBO_TAG_MS, GUMBO_TAG_MTEXT, GUMBO_TAG_ANNOTATION_XML};

enum Kind : std::uint16_t {
    Void = 1 << 0,
    RawText = 1 << 1,
    Formatting = 1 << 2,
    Marker = 1 << 3,
    Scope = 1 << 4,
    TablePart = 1 << 5,
    ClosesP = 1 << 6,
    Heading = 1 << 7,
    Special = 1 << 8,
    ScopedEnd = 1 << 9,
    Breakout = 1 << 10,
    SvgIntegration = 1 << 11,
    MathIntegration = 1 << 12,
};

struct KindTable {
    std::array<std::uint16_t, GUMBO_TAG_LAST + 1> kinds{};
    template <std::size_t N> constexpr void mark(const GumboTag (&set)[N], Kind kind) {
        for (const GumboTag t : set)
            kinds[t] |= kind;
    }
};

constexpr KindTable makeKinds() {
    KindTable table;
    table.mark(kVoid, Void);
    table.mark(kRawText, RawText);
    table.mark(kFormatting, Formatting);
    table.mark(kMarker, Marker);
    table.mark(kScope, Scope);
    table.mark(kTableParts, TablePart);
    table.mark(kClosesP, ClosesP);
    table.mark(kHeading, Heading);
    table.mark(kSpecial, Special);
    table.mark(kScopedEnd, ScopedEnd);
    table.mark(kBreakout, Breakout);
    table.mark(kSvgIntegration, SvgIntegration);
    table.mark(kMathIntegration, MathIntegration);
    return table;
}

constexpr KindTable kKinds = makeKinds();

bool is(GumboTag tag, Kind kind) {
    return (kKinds.kinds[tag] & kind) != 0;
}

enum class Namespace : std::uint8_t { Html, Svg, Math };

class Estimate {
public:
    explicit Estimate(std::size_t limit)
        : m_limit(limit) {}

    bool exceeded() const { return m_exceeded; }

    bool honoursRawText() const {
        return m_open[GUMBO_TAG_SELECT] == 0 && m_open[GUMBO_TAG_FRAMESET] == 0;
    }

    // Returns whether the element opened (if any) is an HTML element.
    bool startTag(Tag t, bool selfClosing) {
        const GumboTag g = t.tag;
        // In SVG and MathML every tag but the breakouts makes a foreign element, which honours
        // "/>" and closes nothing implicitly.
        if ((inForeignContent() && !is(g, Breakout)) || g == GUMBO_TAG_SVG || g == GUMBO_TAG_MATH) {
            if (!selfClosing) {
                const Namespace ns = g == GUMBO_TAG_MATH  ? Namespace::Math
                                     : g == GUMBO_TAG_SVG ? Namespace::Svg
                                                          : m_stack.back().ns;
                push(t, ns);
            }
            return false;
        }
        breakOut();
        // A select takes options and little else; a control or another select ends it.
        if (inSelect()) {
            if (g == GUMBO_TAG_INPUT || g == GUMBO_TAG_KEYGEN || g == GUMBO_TAG_TEXTAREA ||
                g == GUMBO_TAG_SELECT) {
                closeInSelect();
                if (g != GUMBO_TAG_TEXTAREA)
                    return false;
            } else if (is(g, TablePart) && tableOpen()) {
                closeInSelect(); // in a table, its structure ends the select too
            } else if (g != GUMBO_TAG_OPTION && g != GUMBO_TAG_OPTGROUP && g != GUMBO_TAG_SCRIPT &&
                       g != GUMBO_TAG_TEMPLATE) {
                return false;
            }
        }
        if (g == GUMBO_TAG_HR)
            closeInScope(Tag{GUMBO_TAG_P, 0}, true);
        if (g == GUMBO_TAG_HTML || g == GUMBO_TAG_HEAD || g == GUMBO_TAG_BODY || is(g, Void))
            return true;
        if (is(g, Formatting)) {
            // A second A or NOBR closes the first one.
            if (g == GUMBO_TAG_A || g == GUMBO_TAG_NOBR)
                closeFormatting(t);
            addFormatting(t);
            check();
            return true;
        }
        if (g == GUMBO_TAG_FORM && (m_formsOpen > 0 || inTableContext()))
            return true; // dropped, or inserted empty
        // Table structure outside any table is dropped; it must not close what is open either.
        if ((is(g, TablePart) && g != GUMBO_TAG_TABLE) && !tableOpen())
            return true;
        // A list item closes the previous one first, then an open P.
        if (g == GUMBO_TAG_LI)
            closeListItem({GUMBO_TAG_LI});
        else if (g == GUMBO_TAG_DD || g == GUMBO_TAG_DT)
            closeListItem({GUMBO_TAG_DD, GUMBO_TAG_DT});
        if (is(g, ClosesP))
            closeInScope(Tag{GUMBO_TAG_P, 0}, true);
        // Only when the heading is the current node: a formatting element inside it keeps it.
        if (is(g, Heading) && !m_stack.empty() && is(m_stack.back().tag.tag, Heading) &&
            !formattingOnTop())
            popTop();
        if (g == GUMBO_TAG_BUTTON)
            closeInScope(t, false);
        else if (g == GUMBO_TAG_OPTION || g == GUMBO_TAG_OPTGROUP) {
            if (topIs(GUMBO_TAG_OPTION) && !formattingOnTop())
                popTop();
            // Outside a select, option groups nest.
            if (g == GUMBO_TAG_OPTGROUP && topIs(GUMBO_TAG_OPTGROUP) && !formattingOnTop() &&
                m_open[GUMBO_TAG_SELECT] > 0)
                popTop();
        } else if (g == GUMBO_TAG_TD || g == GUMBO_TAG_TH) {
            closeInTable({GUMBO_TAG_TD, GUMBO_TAG_TH});
            if (topIs(GUMBO_TAG_TABLE))
                push(Tag{GUMBO_TAG_TBODY, 0});
            if (!topIs(GUMBO_TAG_TR) && inTableContext())
                push(Tag{GUMBO_TAG_TR, 0});
        } else if (g == GUMBO_TAG_TR) {
            closeInTable({GUMBO_TAG_TR});
            if (topIs(GUMBO_TAG_TABLE))
                push(Tag{GUMBO_TAG_TBODY, 0});
        } else if (g == GUMBO_TAG_TBODY || g == GUMBO_TAG_THEAD || g == GUMBO_TAG_TFOOT) {
            closeInTable({GUMBO_TAG_TBODY, GUMBO_TAG_THEAD, GUMBO_TAG_TFOOT});
        }
        push(t);
        return true;
    }

    void endTag(Tag t) {
        const GumboTag g = t.tag;
        if (g == GUMBO_TAG_HTML || g == GUMBO_TAG_HEAD || g == GUMBO_TAG_BODY || is(g, Void))
            return;
        if (is(g, Formatting)) {
            closeFormatting(t);
            return;
        }
        if (is(g, TablePart)) {
            if (g == GUMBO_TAG_TABLE || tableOpen())
                closeInTable({g});
            return;
        }
        if (g == GUMBO_TAG_FORM)
            removeForm();
        else if (is(g, ScopedEnd))
            closeInScope(t, g == GUMBO_TAG_P);
        else
            closeOrdinary(t);
    }

private:
    struct Open {
        Tag tag;
        std::size_t formattingMark;
        Namespace ns;
    };

    // Whether the parser's current node is an SVG or MathML element (other than one holding
    // HTML). A formatting element opened since is HTML.
    bool inForeignContent() const { return inForeignContent(m_stack.size()); }
    // The same, for the stack cut to `size` elements.
    bool inForeignContent(std::size_t size) const {
        if (size == 0 || formattingAt(size))
            return false;
        const Open& top = m_stack[size - 1];
        return (top.ns == Namespace::Svg && !is(top.tag.tag, SvgIntegration)) ||
               (top.ns == Namespace::Math && !is(top.tag.tag, MathIntegration));
    }

    void addFormatting(Tag t) {
        const std::size_t level = m_stack.size();
        if (m_formattingAt.size() <= level)
            m_formattingAt.resize(level + 1);
        ++m_formattingAt[level];
        m_formatting.push_back({t, level});
    }

    void removeFormatting(std::size_t index) {
        --m_formattingAt[m_formatting[index].level];
        m_formatting.erase(m_formatting.begin() + static_cast<std::ptrdiff_t>(index));
    }

    // Errs to "yes": a formatting element the parser has closed around it may still count here.
    bool formattingOnTop() const { return formattingAt(m_stack.size()); }
    bool formattingAt(std::size_t level) const {
        return level < m_formattingAt.size() && m_formattingAt[level] > 0;
    }

    bool topIs(GumboTag g) const { return !m_stack.empty() && m_stack.back().tag.tag == g; }

    bool inTableContext() const {
        return !m_stack.empty() &&
               (topIs(GUMBO_TAG_TABLE) || topIs(GUMBO_TAG_TBODY) || topIs(GUMBO_TAG_THEAD) ||
                topIs(GUMBO_TAG_TFOOT) || topIs(GUMBO_TAG_TR));
    }

    void check() {
        if (m_stack.size() + m_formatting.size() > m_limit)
            m_exceeded = true;
    }

    // An HTML start tag in SVG or MathML: the parser closes the foreign elements around it. Here
    // they stay and count, but as elements no end tag can name, since the parser has none of
    // them open any more.
    void breakOut() {
        for (std::size_t i = m_stack.size(); i > 0 && inForeignContent(i); --i) {
            Open& open = m_stack[i - 1];
            open.ns = Namespace::Html;
            if (is(open.tag.tag, Marker))
                continue;
            --m_open[open.tag.tag];
            ++m_open[GUMBO_TAG_UNKNOWN];
            open.tag = Tag{GUMBO_TAG_UNKNOWN, 0};
        }
    }

    // Whether the current node is a select, or an option in one.
    bool inSelect() const {
        for (std::size_t i = m_stack.size(); i > 0; --i) {
            const GumboTag open = m_stack[i - 1].tag.tag;
            if (open == GUMBO_TAG_SELECT)
                return !formattingOnTop() || i != m_stack.size();
            if (open != GUMBO_TAG_OPTION && open != GUMBO_TAG_OPTGROUP)
                return false;
        }
        return false;
    }

    void closeInSelect() {
        while (!m_stack.empty()) {
            const bool select = m_stack.back().tag.tag == GUMBO_TAG_SELECT;
            popTop();
            if (select)
                return;
        }
    }

    // Table structure counts inside a table, or a template (which may hold rows and cells).
    bool tableOpen() const { return m_open[GUMBO_TAG_TABLE] > 0 || m_open[GUMBO_TAG_TEMPLATE] > 0; }

    void push(Tag t, Namespace ns = Namespace::Html) {
        if (is(t.tag, Marker))
            m_markers.push_back(m_formatting.size());
        m_stack.push_back({t, m_formatting.size(), ns});
        ++m_open[t.tag];
        if (t.tag == GUMBO_TAG_FORM)
            ++m_formsOpen;
        check();
    }

    void popTop() {
        const Open open = m_stack.back();
        m_stack.pop_back();
        --m_open[open.tag.tag];
        if (open.tag.tag == GUMBO_TAG_FORM)
            --m_formsOpen;
        if (is(open.tag.tag, Marker)) {
            while (m_formatting.size() > open.formattingMark)
                removeFormatting(m_formatting.size() - 1);
            m_markers.pop_back();
        }
    }

    void popThrough(std::size_t index) {
        while (m_stack.size() > index)
            popTop();
    }

    // Closes the nearest open `t` unless a scope boundary (or, for a P, a button) comes first.
    void closeInScope(Tag t, bool buttonScope) {
        if (t.tag != GUMBO_TAG_UNKNOWN && m_open[t.tag] == 0)
            return;
        closeNearest([&](const Tag& open) { return open == t; },
                     [&](GumboTag open) {
                         return (is(open, Scope) && (buttonScope || open != GUMBO_TAG_BUTTON)) ||
                                // An LI closes only within its own list.
                                (t.tag == GUMBO_TAG_LI &&
                                 (open == GUMBO_TAG_UL || open == GUMBO_TAG_OL));
                     });
    }

    // </form> takes the form out of the parser's stack and leaves what is open inside it open;
    // the tree keeps it around them, so it still counts here, as an element nothing closes.
    void removeForm() {
        if (m_open[GUMBO_TAG_FORM] == 0)
            return;
        for (std::size_t i = m_stack.size(); i > 0; --i) {
            const GumboTag open = m_stack[i - 1].tag.tag;
            if (open == GUMBO_TAG_FORM) {
                m_stack[i - 1].tag = Tag{GUMBO_TAG_UNKNOWN, 0};
                ++m_open[GUMBO_TAG_UNKNOWN];
                --m_open[GUMBO_TAG_FORM];
                --m_formsOpen;
                return;
            }
            if (is(open, Scope) && open != GUMBO_TAG_BUTTON)
                return;
        }
    }

    void closeListItem(std::initializer_list<GumboTag> items) {
        if (!anyOpen(items))
            return;
        closeNearest([&](const Tag& open) { return among(open.tag, items); },
                     [](GumboTag open) {
                         return is(open, Special) && open != GUMBO_TAG_ADDRESS &&
                                open != GUMBO_TAG_DIV && open != GUMBO_TAG_P;
                     });
    }

    // Table structure closes through cells and rows, up to its own table.
    void closeInTable(std::initializer_list<GumboTag> parts) {
        if (!anyOpen(parts))
            return;
        closeNearest([&](const Tag& open) { return among(open.tag, parts); },
                     [](GumboTag open) {
                         return open == GUMBO_TAG_HTML || open == GUMBO_TAG_TEMPLATE ||
                                open == GUMBO_TAG_TABLE;
                     });
    }

    // An end tag of an ordinary element closes it only if no special element is open inside.
    void closeOrdinary(Tag t) {
        if (t.tag != GUMBO_TAG_UNKNOWN && m_open[t.tag] == 0)
            return;
        closeNearest([&](const Tag& open) { return open == t; },
                     [](GumboTag open) { return is(open, Special); });
    }

    // Only a formatting element opened since the last marker (a cell, say) can be closed.
    void closeFormatting(Tag t) {
        const std::size_t from = m_markers.empty() ? 0 : m_markers.back();
        for (std::size_t i = m_formatting.size(); i > from; --i) {
            if (m_formatting[i - 1].tag == t) {
                removeFormatting(i - 1);
                return;
            }
        }
    }

    // The parser's "close up to" steps: pops through the nearest open element `matches`
    // accepts, unless an element `stops` accepts is nearer; they differ only in those two tests.
    template <class Matches, class Stops> void closeNearest(Matches matches, Stops stops) {
        for (std::size_t i = m_stack.size(); i > 0; --i) {
            const Tag& open = m_stack[i - 1].tag;
            if (matches(open)) {
                popThrough(i - 1);
                return;
            }
            if (stops(open.tag))
                return;
        }
    }

    static bool among(GumboTag tag, std::initializer_list<GumboTag> tags) {
        for (const GumboTag t : tags) {
            if (t == tag)
                return true;
        }
        return false;
    }

    bool anyOpen(std::initializer_list<GumboTag> tags) const {
        for (const GumboTag t : tags) {
            if (m_open[t] > 0)
                return true;
        }
        return false;
    }

    std::size_t m_limit;
    std::vector<Open> m_stack;
    std::array<std::size_t, GUMBO_TAG_LAST + 1> m_open{};
    struct OpenFormatting {
        Tag tag;
        std::size_t level; // the stack's size when it was opened
    };
    std::vector<OpenFormatting> m_formatting;
    // How many open formatting elements were opened at each stack size: the parser's current
    // node may be one of them rather than the top of this stack.
    std::vector<std::size_t> m_formattingAt;
    // Where the formatting elements of each open marker element begin.
    std::vector<std::size_t> m_markers;
    int m_formsOpen = 0;
    bool m_exceeded = false;
};

// The position just past the tag whose name ends at `i`, and whether it ends in "/>". Follows
// the tokenizer's attribute states: a quote opens a value only right after "=", and only after
// an attribute name, so no quote can hide the tag's end from this scan.
std::size_t tagEnd(std::string_view s, std::size_t i, bool& selfClosing) {
    enum class State { BeforeName, Name, AfterName, BeforeValue, Unquoted, AfterQuoted };
    selfClosing = false;
    State state = State::BeforeName;
    while (i < s.size()) {
        const char c = s[i];
        if (state == State::Unquoted) {
            if (c == '>')
                return i + 1;
            if (isTagSpace(c))
                state = State::BeforeName;
            ++i;
            continue;
        }
        if (state == State::BeforeValue && (c == '"' || c == '\'')) {
            const std::size_t close = s.find(c, i + 1);
            if (close == std::string_view::npos)
                return s.size();
            i = close + 1;
            state = State::AfterQuoted;
            continue;
        }
        if (c == '>')
            return i + 1;
        if (isTagSpace(c)) {
            if (state == State::Name)
                state = State::AfterName;
            else if (state == State::AfterQuoted)
                state = State::BeforeName;
            ++i;
            continue;
        }
        if (c == '/' && state != State::BeforeValue) {
            if (i + 1 < s.size() && s[i + 1] == '>') {
                selfClosing = true;
                return i + 2;
            }
            state = State::BeforeName;
            ++i;
            continue;
        }
        if (c == '=' && (state == State::Name || state == State::AfterName)) {
            state = State::BeforeValue;
            ++i;
            continue;
        }
        // Any other character: part of a name (a leading "=" too), or of an unquoted value.
        state = state == State::BeforeValue ? State::Unquoted : State::Name;
        ++i;
    }
    return s.size();
}

// Where the comment opened at `i` ("<!--") ends: just past "-->" or "--!>", or at once for the
// abrupt "<!-->" and "<!--->"; the end of the page when it never closes.
std::size_t commentEnd(std::string_view s, std::size_t i) {
    const std::size_t body = i + 4;
    if (s.substr(body, 1) == ">")
        return body + 1;
    if (s.substr(body, 2) == "->")
        return body + 2;
    for (std::size_t k = s.find("--", body); k != std::string_view::npos; k = s.find("--", k + 1)) {
        if (s.substr(k + 2, 1) == ">")
            return k + 3;
        if (s.substr(k + 2, 2) == "!>")
            return k + 4;
    }
    return s.size();
}

// Where the raw text of `t` that starts at `from` ends: the start of its end tag.
std::size_t rawTextEnd(std::string_view s, std::size_t from, Tag t) {
    for (std::size_t i = s.find("</", from); i != std::string_view::npos; i = s.find("</", i + 2)) {
        std::size_t n = i + 2;
        while (n < s.size() && isAsciiAlpha(s[n]))
            ++n;
        if (n > i + 2 && tagOf(s.substr(i + 2, n - i - 2)) == t &&
            (n == s.size() || isTagSpace(s[n]) || s[n] == '/' || s[n] == '>'))
            return i;
    }
    // Never closed: all text to the parser, but read on as tags in case the parser did not
    // take the start tag as this element's.
    return from;
}

} // namespace

bool nestsDeeperThan(std::string_view s, std::size_t limit) {
    Estimate estimate(limit);
    std::size_t i = 0;
    while (!estimate.exceeded()) {
        i = s.find('<', i);
        if (i == std::string_view::npos || i + 1 >= s.size())
            break;
        const char next = s[i + 1];
        if (next == '!' && s.substr(i, 4) == "<!--") {
            i = commentEnd(s, i);
            continue;
        }
        if (next == '!' || next == '?') {
            // Doctypes and bogus comments end at the next ">".
            const std::size_t end = s.find('>', i + 2);
            if (end == std::string_view::npos)
                break;
            i = end + 1;
            continue;
        }
        const bool isEnd = next == '/';
        const std::size_t nameStart = i + (isEnd ? 2 : 1);
        if (nameStart >= s.size() || !isAsciiAlpha(s[nameStart])) {
            i = nameStart;
            continue;
        }
        std::size_t nameEnd = nameStart;
        while (nameEnd < s.size() && !isTagSpace(s[nameEnd]) && s[nameEnd] != '/' &&
               s[nameEnd] != '>')
            ++nameEnd;
        const Tag tag = tagOf(s.substr(nameStart, nameEnd - nameStart));
        bool selfClosing = false;
        i = tagEnd(s, nameEnd, selfClosing);
        if (isEnd) {
            estimate.endTag(tag);
            continue;
        }
        const bool html = estimate.startTag(tag, selfClosing);
        // In SVG and MathML, script and style hold markup; a select or a frameset ignores most
        // start tags, and the text behind an ignored one is markup.
        if (!html || !estimate.honoursRawText())
            continue;
        if (tag.tag == GUMBO_TAG_PLAINTEXT)
            break;
        if (is(tag.tag, RawText))
            i = rawTextEnd(s, i, tag);
    }
    return estimate.exceeded();
}

} // namespace torvaline::html
