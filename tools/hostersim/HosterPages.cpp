#include "HosterPages.h"

namespace hostersim::pages {

namespace {

std::string head(const std::string& name) {
    return "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>" + htmlEscape(name) +
           " - hoster emulator</title>\n</head>\n<body>\n<h1>" + htmlEscape(name) + "</h1>\n";
}

const char* const kFoot = "<div class=\"foot\">Hoster emulator</div>\n</body>\n</html>\n";

} // namespace

std::string htmlEscape(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string pathEscape(const std::string& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += hex[b >> 4];
            out += hex[b & 0xF];
        }
    }
    return out;
}

std::string firstPage(const std::string& name, std::uint64_t size, const std::string& action,
                      const std::string& message) {
    std::string page = head(name);
    page += "<p>File size: " + std::to_string(size) + " bytes</p>\n";
    if (!message.empty()) {
        page += "<p class=\"msg\">" + htmlEscape(message) + "</p>\n";
    } else {
        page += "<form id=\"ff\" action=\"" + htmlEscape(action) + "\" method=\"post\">\n";
        page += "<input type=\"hidden\" name=\"fileid\" value=\"" + htmlEscape(name) + "\">\n";
        page += "<table><tr>\n";
        page += "<td><input type=\"submit\" name=\"free\" value=\"Free user\"></td>\n";
        page += "<td><input type=\"submit\" name=\"premium\" value=\"Premium user\"></td>\n";
        page += "</tr></table>\n</form>\n";
    }
    return page + kFoot;
}

std::string messagePage(const std::string& name, const std::string& message) {
    // The rules cut a few characters behind a message; the next line starts with a tag so that
    // no stray letter joins the number.
    return head(name) + "<p class=\"msg\">" + htmlEscape(message) + "</p>\n" + kFoot;
}

std::string countdownPage(const std::string& name, int countdown, const std::string& fileUrl) {
    std::string page = head(name);
    page += "<p>Your download is being prepared: <span id=\"s\">" + std::to_string(countdown) +
            "</span> seconds.</p>\n";
    page += "<script type=\"text/javascript\">var c=" + std::to_string(countdown) +
            ";\nfunction tick() { if (c > 0) { c = c - 1; "
            "document.getElementById(\"s\").innerHTML = c; setTimeout(tick, 1000); } }\n"
            "setTimeout(tick, 1000);\n</script>\n";
    if (!fileUrl.empty()) {
        page += "<form name=\"dlf\" action=\"" + htmlEscape(fileUrl) + "\" method=\"post\">\n";
        page += "<input type=\"submit\" name=\"mirror\" value=\"Download\">\n</form>\n";
    }
    return page + kFoot;
}

std::string fourSharedPage(const std::string& name, int countdown, const std::string& fileUrl) {
    std::string page = head(name);
    page += "<script type=\"text/javascript\">var c=" + std::to_string(countdown) + ";</script>\n";
    page += "<div class=\"dl\"><a href=\"" + htmlEscape(fileUrl) +
            "\" onclick=\"return c <= 0;\">Download file</a></div>\n";
    return page + kFoot;
}

std::string waitMessage(const std::string& scenario, int minutes) {
    const std::string n = std::to_string(minutes);
    if (scenario == "tryagainabout")
        return "You have just downloaded a file. Or try again in about " + n + " minutes.";
    if (scenario == "tryagain")
        return "Your IP address is already downloading a file. Please try again in " + n +
               " minutes.";
    if (scenario == "slots")
        return "Unfortunately right now our servers are overloaded and we have no more download "
               "slots left for non-members. Of course you can also download as a premium user.";
    if (scenario == "wait")
        return "Unfortunately you will have to wait " + n + " minutes until your next download.";
    if (scenario == "about")
        return "You can download again in about " + n + " minutes.";
    if (scenario == "reach")
        return "You have reached the download limit for free-users. Would you like more?";
    return {};
}

namespace {

const char* const kFreeUserForm = "<form action=\"/free\" method=\"post\">"
                                  "<input type=\"submit\" name=\"dl\" value=\"Free user\">"
                                  "</form>\n</body></html>\n";

// `head`, then `unit` as often as it fits before the closing form within `size` bytes.
std::string filled(std::string head, const std::string& unit, std::size_t size) {
    const std::size_t tail = std::char_traits<char>::length(kFreeUserForm);
    if (!unit.empty() && size > head.size() + tail) {
        const std::size_t count = (size - head.size() - tail) / unit.size();
        head.reserve(head.size() + count * unit.size() + tail);
        for (std::size_t i = 0; i < count; ++i)
            head += unit;
    }
    return head + kFreeUserForm;
}

} // namespace

std::string nestedPage(std::size_t depth, std::size_t size) {
    std::string unit;
    for (std::size_t i = 0; i < depth; ++i)
        unit += "<div>";
    for (std::size_t i = 0; i < depth; ++i)
        unit += "</div>";
    return filled("<html><body>\n", unit, size);
}

std::string tableFormsPage(std::size_t size) {
    return filled("<html><body>\n<table><form action=\"/tabled\"></table>\n",
                  "<input name=\"q\" value=\"x\">", size);
}

std::string radiosPage(std::size_t size) {
    return filled("<html><body>\n<form action=\"/radios\" method=\"post\">\n",
                  "<input type=\"radio\" name=\"r\" value=\"Free user\">", size);
}

} // namespace hostersim::pages
