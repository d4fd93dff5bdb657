#include "adapters/html/GumboDocument.h"

#include "adapters/html/FormData.h"
#include "adapters/html/FormIndex.h"
#include "adapters/html/HtmlNode.h"
#include "adapters/html/InnerHtml.h"
#include "adapters/html/NestingBound.h"
#include "adapters/html/Url.h"

#include <gumbo.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

namespace torvaline {

namespace {

GumboOptions parseOptions() {
    GumboOptions options = kGumboDefaultOptions;
    // Parse errors are of no use here and would only cost memory on broken pages.
    options.max_errors = 0;
    return options;
}

const GumboNode* findChild(const GumboNode* parent, GumboTag tag) {
    if (parent == nullptr)
        return nullptr;
    const GumboVector& children = html::childrenOf(parent);
    for (unsigned i = 0; i < children.length; ++i) {
        const auto* c = static_cast<const GumboNode*>(children.data[i]);
        if (html::isElement(c, tag))
            return c;
    }
    return nullptr;
}

// Value sanitisation of the input types whose value a browser cleans up on reading.
std::string sanitizedInputValue(const std::string& type, std::string value) {
    auto stripNewlines = [](std::string v) {
        std::erase_if(v, [](char c) { return c == '\r' || c == '\n'; });
        return v;
    };
    if (type == "text" || type == "search" || type == "tel" || type == "password")
        return stripNewlines(std::move(value));
    if (type == "url" || type == "email") {
        value = stripNewlines(std::move(value));
        const std::size_t first = value.find_first_not_of(" \t\f");
        if (first == std::string::npos)
            return {};
        const std::size_t last = value.find_last_not_of(" \t\f");
        return value.substr(first, last - first + 1);
    }
    return value;
}

std::string makeBoundary() {
    static std::atomic<unsigned> counter{0};
    const unsigned n = ++counter;
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string boundary = "----TorvalineFormBoundary";
    unsigned long long v = (static_cast<unsigned long long>(n) * 0x9E3779B97F4A7C15ull) ^
                           reinterpret_cast<std::uintptr_t>(&counter);
    for (int i = 0; i < 16; ++i) {
        boundary += digits[v % 36];
        v /= 36;
        if (v == 0)
            v = 0x5DEECE66Dull * (i + n + 1);
    }
    return boundary;
}

} // namespace

struct GumboDocument::Impl {
    std::string html;
    std::string url;
    GumboOutput* output = nullptr;
    mutable std::optional<FormIndex> forms;
    std::unordered_map<const GumboNode*, bool> checkedOverride;
    std::unordered_map<const GumboNode*, std::string> valueOverride;
    SubmitHandler submit;

    const FormIndex& formIndex() const {
        if (!forms)
            forms.emplace(output->document, html);
        return *forms;
    }

    const GumboNode* element(int form, int element) const {
        const FormIndex& index = formIndex();
        if (form < 0 || form >= index.formCount())
            throw DomError("No form at index " + std::to_string(form));
        const auto& elements = index.elements(form);
        if (element < 0 || static_cast<std::size_t>(element) >= elements.size())
            throw DomError("No element at index " + std::to_string(element));
        return elements[static_cast<std::size_t>(element)];
    }

    // The radios of one form that share a name, each group with the one radio that is on.
    struct RadioGroups {
        std::unordered_map<const GumboNode*, std::size_t> groupOf;
        std::vector<const GumboNode*> checkedOne;
    };
    mutable std::optional<RadioGroups> radios;

    static bool isRadio(const GumboNode* e) {
        return html::isElement(e, GUMBO_TAG_INPUT) && html::inputType(e) == "radio";
    }

    // Built once: a page of many radios must not cost a scan of its form per radio.
    RadioGroups& radioGroups() const {
        if (radios)
            return *radios;
        RadioGroups& groups = radios.emplace();
        const FormIndex& index = formIndex();
        for (int form = 0; form < index.formCount(); ++form) {
            std::unordered_map<std::string, std::size_t> byName;
            for (const GumboNode* e : index.elements(form)) {
                if (!isRadio(e))
                    continue;
                std::string name = html::lowerAttribute(e, "name");
                if (name.empty())
                    continue;
                const auto [it, added] = byName.emplace(std::move(name), groups.checkedOne.size());
                if (added)
                    groups.checkedOne.push_back(nullptr);
                groups.groupOf.emplace(e, it->second);
                // Of the radios of one group that carry "checked", the parser leaves the last on.
                if (html::hasAttribute(e, "checked"))
                    groups.checkedOne[it->second] = e;
            }
        }
        return groups;
    }

    bool checked(const GumboNode* input) const {
        if (isRadio(input)) {
            const RadioGroups& groups = radioGroups();
            if (const auto it = groups.groupOf.find(input); it != groups.groupOf.end())
                return groups.checkedOne[it->second] == input;
        }
        if (const auto it = checkedOverride.find(input); it != checkedOverride.end())
            return it->second;
        return html::hasAttribute(input, "checked");
    }

    std::string value(const GumboNode* e) const {
        if (const auto it = valueOverride.find(e); it != valueOverride.end())
            return it->second;
        if (html::isElement(e, GUMBO_TAG_INPUT)) {
            const std::string type = html::inputType(e);
            const char* v = html::attribute(e, "value");
            if (type == "checkbox" || type == "radio")
                return v == nullptr ? "on" : v;
            if (type == "file")
                return {};
            return sanitizedInputValue(type, v == nullptr ? "" : v);
        }
        if (html::isElement(e, GUMBO_TAG_BUTTON)) {
            const char* v = html::attribute(e, "value");
            return v == nullptr ? "" : v;
        }
        if (html::isElement(e, GUMBO_TAG_TEXTAREA) || html::isElement(e, GUMBO_TAG_OUTPUT))
            return html::textContent(e);
        if (html::isElement(e, GUMBO_TAG_SELECT)) {
            const auto selected = html::selectedOptions(e);
            return selected.empty() ? "" : html::optionValue(selected.front());
        }
        if (html::isElement(e, GUMBO_TAG_OPTION))
            return html::optionValue(e);
        throw DomError("The element has no value");
    }

    void setRadioChecked(const GumboNode* radio) {
        RadioGroups& groups = radioGroups();
        if (const auto it = groups.groupOf.find(radio); it != groups.groupOf.end())
            groups.checkedOne[it->second] = radio;
        else
            checkedOverride[radio] = true;
    }
};

GumboDocument::GumboDocument(std::string html, std::string url)
    : m_impl(std::make_unique<Impl>()) {
    m_impl->html = std::move(html);
    m_impl->url = std::move(url);
    if (torvaline::html::nestsDeeperThan(m_impl->html, torvaline::html::kMaxTreeDepth))
        throw DomError("The page is nested too deeply to be read.");
    const GumboOptions options = parseOptions();
    m_impl->output = gumbo_parse_with_options(&options, m_impl->html.data(), m_impl->html.size());
    if (m_impl->output == nullptr)
        throw std::bad_alloc();
}

GumboDocument::~GumboDocument() {
    const GumboOptions options = parseOptions();
    gumbo_destroy_output(&options, m_impl->output);
}

const std::string& GumboDocument::url() const {
    return m_impl->url;
}

void GumboDocument::setSubmitHandler(SubmitHandler handler) {
    m_impl->submit = std::move(handler);
}

std::string GumboDocument::bodyInnerHTML() const {
    const GumboNode* htmlElement = findChild(m_impl->output->document, GUMBO_TAG_HTML);
    // A frameset page has no BODY; the document's body is then its FRAMESET.
    const GumboNode* body = findChild(htmlElement, GUMBO_TAG_BODY);
    if (body == nullptr)
        body = findChild(htmlElement, GUMBO_TAG_FRAMESET);
    if (body == nullptr)
        throw DomError("The document has no body");
    std::string out;
    out.reserve(m_impl->html.size() + m_impl->html.size() / 8);
    appendInnerHtml(body, out);
    return out;
}

int GumboDocument::formTagCount() const {
    return m_impl->formIndex().formCount();
}

int GumboDocument::formCount() const {
    return m_impl->formIndex().formCount();
}

int GumboDocument::formElementCount(int form) const {
    const FormIndex& index = m_impl->formIndex();
    if (form < 0 || form >= index.formCount())
        throw DomError("No form at index " + std::to_string(form));
    return static_cast<int>(index.elements(form).size());
}

std::string GumboDocument::elementValue(int form, int element) const {
    return m_impl->value(m_impl->element(form, element));
}

void GumboDocument::setElementValue(int form, int element, const std::string& value) {
    const GumboNode* e = m_impl->element(form, element);
    (void)m_impl->value(e); // an element without a value has none to set
    m_impl->valueOverride[e] = value;
}

namespace {

// The form's first submit control that is not disabled, or null.
const GumboNode* firstSubmitter(const std::vector<const GumboNode*>& elements) {
    for (const GumboNode* e : elements) {
        if (html::isSubmitControl(e) && !html::isDisabled(e))
            return e;
    }
    return nullptr;
}

} // namespace

FormSubmission GumboDocument::submission(int form, const GumboNode* submitter) const {
    const FormIndex& index = m_impl->formIndex();
    const GumboNode* formNode = index.form(form);
    ControlState state;
    state.checked = [this](const GumboNode* n) { return m_impl->checked(n); };
    state.value = [this](const GumboNode* n) { return m_impl->value(n); };
    const auto entries = buildFormEntries(index.elements(form), submitter, state);
    std::string baseUrl = m_impl->url;
    if (const char* href = index.baseHref()) {
        if (std::string resolved = resolveUrl(m_impl->url, href); !resolved.empty())
            baseUrl = std::move(resolved);
    }
    return buildSubmission(formNode, submitter, entries, m_impl->url, baseUrl, makeBoundary());
}

std::string GumboDocument::elementAttribute(int form, int element, const std::string& name) const {
    const char* v = html::attribute(m_impl->element(form, element), name.c_str());
    return v == nullptr ? std::string() : std::string(v);
}

std::string GumboDocument::formAction(int form) const {
    if (form < 0 || form >= m_impl->formIndex().formCount())
        throw DomError("No form at index " + std::to_string(form));
    return submission(form, firstSubmitter(m_impl->formIndex().elements(form))).url;
}

std::vector<std::string> GumboDocument::anchorHrefs() const {
    std::vector<std::string> hrefs;
    std::string baseUrl = m_impl->url;
    if (const char* href = m_impl->formIndex().baseHref()) {
        if (std::string resolved = resolveUrl(m_impl->url, href); !resolved.empty())
            baseUrl = std::move(resolved);
    }
    // Depth first in document order, without recursion: the tree's depth is the page's.
    std::vector<const GumboNode*> stack{m_impl->output->document};
    while (!stack.empty()) {
        const GumboNode* node = stack.back();
        stack.pop_back();
        if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_DOCUMENT &&
            node->type != GUMBO_NODE_TEMPLATE)
            continue;
        if (html::isElement(node, GUMBO_TAG_A)) {
            if (const char* href = html::attribute(node, "href")) {
                std::string resolved = resolveUrl(baseUrl, href);
                if (!resolved.empty() && urlScheme(resolved) != "javascript")
                    hrefs.push_back(std::move(resolved));
            }
        }
        const GumboVector& children = html::childrenOf(node);
        for (unsigned i = children.length; i > 0; --i)
            stack.push_back(static_cast<const GumboNode*>(children.data[i - 1]));
    }
    return hrefs;
}

Document::Post GumboDocument::formPost(int form) const {
    if (form < 0 || form >= m_impl->formIndex().formCount())
        throw DomError("No form at index " + std::to_string(form));
    const FormSubmission s = submission(form, firstSubmitter(m_impl->formIndex().elements(form)));
    if (s.url.empty() || urlScheme(s.url) == "javascript")
        throw DomError("The form cannot be submitted");
    return {s.method, s.url, s.body, s.contentType};
}

void GumboDocument::submitForm(int form) {
    if (form < 0 || form >= m_impl->formIndex().formCount())
        throw DomError("No form at index " + std::to_string(form));
    const GumboNode* submitter = firstSubmitter(m_impl->formIndex().elements(form));
    const FormSubmission s = submission(form, submitter);
    if (s.url.empty() || urlScheme(s.url) == "javascript")
        return;
    if (m_impl->submit)
        m_impl->submit(s);
}

void GumboDocument::click(int form, int element) {
    const GumboNode* e = m_impl->element(form, element);
    if (html::isDisabled(e))
        return;
    if (html::isElement(e, GUMBO_TAG_INPUT)) {
        const std::string type = html::inputType(e);
        if (type == "checkbox") {
            m_impl->checkedOverride[e] = !m_impl->checked(e);
            return;
        }
        if (type == "radio") {
            m_impl->setRadioChecked(e);
            return;
        }
    }
    if (!html::isSubmitControl(e))
        return;
    const FormSubmission s = submission(form, e);
    // Script addresses are never run.
    if (urlScheme(s.url) == "javascript" || s.url.empty())
        return;
    if (m_impl->submit)
        m_impl->submit(s);
}

} // namespace torvaline
