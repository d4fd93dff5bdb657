// Times what one document-complete event costs the page handling (capture, rules, free-user
// form search) on a large hoster page, beside gumbo's bare parse of the same bytes. The page
// carries no message, so every rule searches all of it. Then the worst pages a hoster can send
// within the browser's page cap (the most unowned controls after a table form, the most radios
// of one group, the deepest nesting the documents accept), each parsed and handled, against
// gumbo's bare parse of a plain page of the same size.
#include "MedianTime.h"
#include "adapters/curl/HttpBrowser.h"
#include "adapters/html/GumboDocument.h"
#include "adapters/html/NestingBound.h"
#include "doubles/ManualTimer.h"
#include "pages/PageHandling.h"
#include "platform/Browser.h"
#include "platform/Clock.h"
#include "platform/EventLoop.h"
#include "platform/Timer.h"
#include "state/CycleState.h"

#include "ProfileBench.h"
#include "StepBench.h"

#include <HosterPages.h>
#include <gumbo.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

using namespace torvaline;

namespace {

class IdleLoop final : public EventLoop {
public:
    void post(std::function<void()> fn) override { fn(); }
    void invokeAndWait(std::function<void()> fn) override { fn(); }
    void processPendingEvents() override {}
};

class StillClock final : public Clock {
public:
    double timeOfDay() const override { return 0.5; }
};

class OnePageBrowser final : public Browser {
public:
    void Navigate(const std::string&) override {}
    void Stop() override {}
    std::shared_ptr<Document> document() override { return page; }
    void setEvents(BrowserEvents) override {}
    std::shared_ptr<Document> page;
};

// A free-user landing page grown to `size` bytes: text, tables, scripts with LF line breaks,
// and a form every few kilobytes, the "Free user" button in the last one.
std::string hosterPage(std::size_t size) {
    std::string html = "<!DOCTYPE html>\n<html><head><title>file.zip</title>\n"
                       "<style>td { padding: 2px }</style></head>\n<body>\n";
    const std::string block =
        "<div class=\"box\"><h2>Download file.zip &amp; more</h2>\n"
        "<p>Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor "
        "incididunt ut labore et dolore magna aliqua. <a href=\"/faq.html#free\">FAQ</a></p>\n"
        "<table><tr><td>Size</td><td>104 MB</td></tr><tr><td>Type</td><td>zip</td></tr></table>\n"
        "<script type=\"text/javascript\">var t = 1; if (t < 2) { t = t + 1; }</script>\n"
        "<form action=\"/search\" method=\"get\"><input type=\"text\" name=\"q\" value=\"\">"
        "<select name=\"s\"><option value=\"a\">a</option><option selected>b</option></select>"
        "<input type=\"submit\" value=\"Search\"></form>\n</div>\n";
    const std::string tail = "<form action=\"/cgi-bin/download\" method=\"post\">"
                             "<input type=\"hidden\" name=\"uid\" value=\"abcdef\">"
                             "<input type=\"submit\" name=\"dl\" value=\"Free user\">"
                             "<input type=\"submit\" value=\"Premium user\"></form>\n"
                             "</body></html>\n";
    while (html.size() + tail.size() < size)
        html += block;
    return html + tail;
}

void measure(const char* label, std::size_t size, int runs) {
    const std::string html = hosterPage(size);

    const double bare = medianSeconds(runs, [&] {
        GumboOutput* out =
            gumbo_parse_with_options(&kGumboDefaultOptions, html.data(), html.size());
        gumbo_destroy_output(&kGumboDefaultOptions, out);
    });

    CycleState state;
    StillClock clock;
    test::ManualTimer timer1, timer2;
    OnePageBrowser browser;
    IdleLoop loop;
    PageHandling handling({state, clock, timer1, timer2, browser, loop},
                          {[] {}, [] { return std::string("RapidShare"); }, {}});
    auto document =
        std::make_shared<torvaline::GumboDocument>(html, "http://host.example/files/1/file.zip");
    int clicks = 0;
    document->setSubmitHandler([&](const FormSubmission&) { ++clicks; });
    browser.page = document;

    const double handlingOnly = medianSeconds(runs, [&] {
        handling.clearPageText(); // as before a navigation
        state.PageHandled = false;
        handling.BrowserInfo();
    });
    const double withParse = medianSeconds(runs, [&] {
        auto fresh =
            std::make_shared<torvaline::GumboDocument>(html, "http://host.example/files/1/f.zip");
        fresh->setSubmitHandler([&](const FormSubmission&) { ++clicks; });
        browser.page = fresh;
        handling.clearPageText();
        state.PageHandled = false;
        handling.BrowserInfo();
        browser.page.reset();
    });
    if (clicks < 2 * runs || handling.page().text().size() < html.size() / 2) {
        std::fprintf(stderr, "%s: the free-user button was not pressed on every run\n", label);
        return;
    }
    std::printf("%-7s %9zu bytes  gumbo parse %8.3f ms | capture+rules+FillForm %8.3f ms "
                "(%.2f x parse) | with our parse %8.3f ms (%.2f x parse)\n",
                label, html.size(), bare * 1e3, handlingOnly * 1e3, handlingOnly / bare,
                withParse * 1e3, withParse / bare);
}

struct Handling {
    CycleState state;
    StillClock clock;
    test::ManualTimer timer1, timer2;
    OnePageBrowser browser;
    IdleLoop loop;
    PageHandling handling{{state, clock, timer1, timer2, browser, loop},
                          {[] {}, [] { return std::string("RapidShare"); }, {}}};

    // One document-complete event on a freshly parsed page; the number of form submissions.
    int handle(const std::string& html) {
        int clicks = 0;
        auto doc =
            std::make_shared<torvaline::GumboDocument>(html, "http://host.example/files/1/f.zip");
        doc->setSubmitHandler([&](const FormSubmission&) { ++clicks; });
        browser.page = doc;
        handling.clearPageText();
        state.PageHandled = false;
        handling.BrowserInfo();
        browser.page.reset();
        return clicks;
    }
};

struct Target {
    std::string name;
    double ratio;
    double goal;
};

// The worst page of each kind within the cap, through parse, capture, rules and FillForm.
std::vector<Target> measureWorstPages(int runs) {
    const std::size_t cap = HttpBrowser::Options{}.maxPageBytes;
    const std::string plain = hosterPage(cap);
    const double bare = medianSeconds(runs, [&] {
        GumboOutput* out =
            gumbo_parse_with_options(&kGumboDefaultOptions, plain.data(), plain.size());
        gumbo_destroy_output(&kGumboDefaultOptions, out);
    });
    std::printf("plain   %9zu bytes  gumbo parse %8.3f ms (the yardstick below)\n", plain.size(),
                bare * 1e3);

    struct Page {
        const char* name;
        std::string html;
        std::size_t count;
        const char* what;
    };
    const std::string unit = "<input name=\"q\" value=\"x\">";
    const std::string radio = "<input type=\"radio\" name=\"r\" value=\"Free user\">";
    std::vector<Page> pages;
    pages.push_back({"table-form", hostersim::pages::tableFormsPage(cap), 0, "inputs"});
    pages.push_back({"radios", hostersim::pages::radiosPage(cap), 0, "radios"});
    pages.push_back({"nesting", hostersim::pages::nestedPage(html::kMaxTreeDepth, cap),
                     html::kMaxTreeDepth, "levels"});
    pages[0].count = pages[0].html.size() / unit.size();
    pages[1].count = pages[1].html.size() / radio.size();

    std::vector<Target> targets;
    Handling handling;
    for (const Page& page : pages) {
        int clicks = 0;
        const double t = medianSeconds(runs, [&] { clicks = handling.handle(page.html); });
        if (clicks == 0)
            std::fprintf(stderr, "%s: the free-user button was not pressed\n", page.name);
        std::printf("%-10s %9zu bytes, about %zu %s: parse+capture+rules+FillForm %8.3f ms "
                    "(%.2f x plain parse)\n",
                    page.name, page.html.size(), page.count, page.what, t * 1e3, t / bare);
        targets.push_back({page.name, t / bare, 2.0});
    }
    return targets;
}

} // namespace

int main(int argc, char** argv) {
    // "steps": the profile steps' figures alone.
    if (argc > 1 && std::string_view(argv[1]) == "steps") {
        measureSteps();
        return 0;
    }
    measure("100 KB", 100 * 1024, 41);
    measure("5 MB", 5 * 1024 * 1024, 7);
    const std::vector<Target> targets = measureWorstPages(3);
    for (const Target& t : targets)
        std::printf("target %s: x%.2f (goal x%.0f) %s\n", t.name.c_str(), t.ratio, t.goal,
                    t.ratio < t.goal ? "met" : "missed");
    measureProfiles(hosterPage);
    measureSteps();
    return 0;
}
