#include "StepBench.h"
#include "MedianTime.h"

#include "hosters/HosterCheck.h"
#include "hosters/ProfileLoader.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <vector>

using namespace torvaline;

namespace {

// The family's profile as it was before it had steps: one button, one countdown message, the
// second form's answer as the link. Frozen here as the yardstick.
constexpr std::string_view kOneButton = R"toml(
name = "XFileSharing"
# Links of these hosters end in a file code of 12 letters and digits, then maybe the name's
# page (name.html).
url = '^https?://[^/?#]+/(?:[^?#]*/)?[0-9a-z]{12}(?:/[^/?#]+\.html?)?(?:[?#].*)?$'

[[message]]
text = "File Not Found"
reaction = "missing"

[[message]]
pattern = 'You have to wait (\d+) minute'
reaction = "wait"

[[message]]
text = "You have reached the download-limit"
reaction = "limit"
minutes = 60

[[message]]
pattern = '(?i)<span[^>]*\bid="countdown"[^>]*>\s*(\d+)\s*</span>'
reaction = "countdown"

[button]
value = "Free Download"

[link]
from = "post_form"
form = { name = "op", value = "download2" }

[file_name]
control = "fname"

)toml";

// A family page: `body` after `filler` bytes of an ordinary hoster page's blocks.
std::string familyPage(const std::string& body, std::size_t filler) {
    std::string html = "<!DOCTYPE html>\n<html><head><title>demo.bin</title></head><body>\n";
    const std::string block =
        "<div class=\"box\"><p>Lorem ipsum dolor sit amet, consectetur adipiscing elit. "
        "<a href=\"/faq.html\">FAQ</a></p><table><tr><td>Size</td><td>104 MB</td></tr></table>"
        "<script>var t = 1;</script></div>\n";
    while (html.size() < filler)
        html += block;
    return html + body + "</body></html>";
}

} // namespace

void measureSteps() {
    const auto today = ParseProfile(kOneButton, "one-button", {});
    if (!today)
        throw std::logic_error(today.reason());
    HosterProfile steps;
    for (HosterProfile& p : BuiltinHosters()) {
        if (p.name == "XFileSharing")
            steps = p;
    }
    const std::string url = "http://files.example/abcdef012345/demo.bin.html";
    const std::string second =
        "<form method=\"POST\" action=\"\"><input type=\"hidden\" name=\"op\" value=\"download2\">"
        "<input type=\"hidden\" name=\"id\" value=\"abcdef012345\"><input type=\"hidden\" "
        "name=\"fname\" value=\"demo.bin\"><input type=\"submit\" value=\"Create Download "
        "Link\"></form>";
    struct Page {
        const char* name;
        std::string body;
    };
    const Page pages[] = {
        {"first", "<form method=\"POST\" action=\"\"><input type=\"hidden\" name=\"op\" "
                  "value=\"download1\"><input type=\"hidden\" name=\"method_free\" value=\"Free "
                  "Download\"><input type=\"submit\" name=\"method_free\" value=\"Free "
                  "Download\"></form>"},
        {"countdown", "<p>Wait <span id=\"countdown\">30</span> seconds</p>" + second},
        {"missing", "<h2>File Not Found</h2>"},
    };
    double worst = 0;
    for (const std::size_t filler : {std::size_t{2} << 10, std::size_t{200} << 10}) {
        for (const Page& page : pages) {
            const std::string html = familyPage(page.body, filler);
            const PageOutcome a = RunProfileOnPage(*today, html, url);
            const PageOutcome b = RunProfileOnPage(steps, html, url);
            if (a.reaction != b.reaction || a.wait != b.wait || a.link != b.link)
                std::fprintf(stderr, "%s: today's profile made %s, the steps %s\n", page.name,
                             a.reaction.c_str(), b.reaction.c_str());
            const int runs = filler > 10000 ? 15 : 201;
            const double t0 = medianSeconds(runs, [&] { RunProfileOnPage(*today, html, url); });
            const double t1 = medianSeconds(runs, [&] { RunProfileOnPage(steps, html, url); });
            worst = std::max(worst, t1 / t0);
            std::printf("steps   %-9s %8zu bytes: one button %8.3f ms | steps %8.3f ms (x%.2f)\n",
                        page.name, html.size(), t0 * 1e3, t1 * 1e3, t1 / t0);
        }
    }
    std::printf("target XFileSharing steps against one button: x%.2f (goal x1.2) %s\n", worst,
                worst <= 1.2 ? "met" : "missed");
}
