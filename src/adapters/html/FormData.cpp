#include "adapters/html/FormData.h"

#include "adapters/html/HtmlNode.h"
#include "adapters/html/Url.h"
#include "platform/AsciiCase.h"

namespace torvaline {

namespace {

// Submitted names and values carry CR LF line breaks whatever the page used.
std::string normalizeNewlines(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r') {
            out += "\r\n";
            if (i + 1 < s.size() && s[i + 1] == '\n')
                ++i;
        } else if (s[i] == '\n') {
            out += "\r\n";
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string multipartEscape(const std::string& s) {
    std::string out;
    for (const char c : s) {
        if (c == '"')
            out += "%22";
        else if (c == '\n')
            out += "%0A";
        else if (c == '\r')
            out += "%0D";
        else
            out += c;
    }
    return out;
}

std::string multipartBody(const std::vector<FormEntry>& entries, const std::string& boundary) {
    std::string body;
    for (const FormEntry& e : entries) {
        body += "--" + boundary + "\r\n";
        body += "Content-Disposition: form-data; name=\"" + multipartEscape(e.name) + "\"";
        if (e.isFile) {
            body += "; filename=\"" + multipartEscape(e.value) + "\"\r\n";
            body += "Content-Type: application/octet-stream\r\n\r\n";
        } else {
            body += "\r\n\r\n" + e.value;
        }
        body += "\r\n";
    }
    body += "--" + boundary + "--\r\n";
    return body;
}

// The attribute of the submitter when it has one, otherwise the form's.
const char* submissionAttribute(const GumboNode* form, const GumboNode* submitter,
                                const char* formName, const char* submitterName) {
    if (submitter != nullptr) {
        if (const char* v = html::attribute(submitter, submitterName))
            return v;
    }
    return html::attribute(form, formName);
}

std::string lowerText(const char* v) {
    return v == nullptr ? std::string() : asciiLower(v);
}

} // namespace

std::vector<FormEntry> buildFormEntries(const std::vector<const GumboNode*>& elements,
                                        const GumboNode* submitter, const ControlState& state) {
    std::vector<FormEntry> entries;
    for (const GumboNode* e : elements) {
        const bool submittable =
            html::isElement(e, GUMBO_TAG_INPUT) || html::isElement(e, GUMBO_TAG_BUTTON) ||
            html::isElement(e, GUMBO_TAG_SELECT) || html::isElement(e, GUMBO_TAG_TEXTAREA);
        if (!submittable || html::isDisabled(e))
            continue;
        if (html::isButton(e) && e != submitter)
            continue;
        const std::string type =
            html::isElement(e, GUMBO_TAG_INPUT) ? html::inputType(e) : std::string();
        if ((type == "checkbox" || type == "radio") && !state.checked(e))
            continue;
        const char* nameAttr = html::attribute(e, "name");
        if (nameAttr == nullptr || *nameAttr == '\0')
            continue;
        const std::string name = normalizeNewlines(nameAttr);
        if (html::isElement(e, GUMBO_TAG_SELECT)) {
            for (const GumboNode* option : html::selectedOptions(e)) {
                if (!html::isDisabled(option))
                    entries.push_back({name, normalizeNewlines(html::optionValue(option)), false});
            }
            continue;
        }
        if (type == "file") {
            entries.push_back({name, "", true});
            continue;
        }
        if (type == "hidden" && lowerText(nameAttr) == "_charset_" &&
            !html::hasAttribute(e, "value")) {
            entries.push_back({name, "UTF-8", false});
            continue;
        }
        entries.push_back({name, normalizeNewlines(state.value(e)), false});
    }
    return entries;
}

FormSubmission buildSubmission(const GumboNode* form, const GumboNode* submitter,
                               const std::vector<FormEntry>& entries,
                               const std::string& documentUrl, const std::string& baseUrl,
                               const std::string& boundary) {
    FormSubmission s;
    const std::string method =
        lowerText(submissionAttribute(form, submitter, "method", "formmethod"));
    s.method = method == "post" ? "POST" : "GET";
    const std::string enctype =
        lowerText(submissionAttribute(form, submitter, "enctype", "formenctype"));
    const char* target = submissionAttribute(form, submitter, "target", "formtarget");
    s.target = target == nullptr ? "" : target;

    const char* actionAttr = submissionAttribute(form, submitter, "action", "formaction");
    const std::string action = actionAttr == nullptr ? "" : actionAttr;
    s.url = action.empty() ? documentUrl : resolveUrl(baseUrl, action);

    std::vector<std::pair<std::string, std::string>> pairs;
    pairs.reserve(entries.size());
    for (const FormEntry& e : entries)
        pairs.emplace_back(e.name, e.value);

    if (s.method == "GET") {
        const std::size_t hash = s.url.find('#');
        const std::string fragment = hash == std::string::npos ? "" : s.url.substr(hash);
        std::string address = s.url.substr(0, hash);
        address = address.substr(0, address.find('?'));
        s.url = address + "?" + formUrlEncode(pairs) + fragment;
        return s;
    }
    if (enctype == "multipart/form-data") {
        s.contentType = "multipart/form-data; boundary=" + boundary;
        s.body = multipartBody(entries, boundary);
    } else if (enctype == "text/plain") {
        s.contentType = "text/plain";
        for (const auto& [name, value] : pairs)
            s.body += name + "=" + value + "\r\n";
    } else {
        s.contentType = "application/x-www-form-urlencoded";
        s.body = formUrlEncode(pairs);
    }
    return s;
}

} // namespace torvaline
