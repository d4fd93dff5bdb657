#include "ProfileBench.h"
#include "MedianTime.h"

#include "LegacyPageRules.h"
#include "adapters/curl/HttpBrowser.h"
#include "adapters/html/GumboDocument.h"
#include "adapters/html/NestingBound.h"
#include "doubles/ManualTimer.h"
#include "hosters/ProfileLoader.h"
#include "pages/HosterProfiles.h"
#include "pages/PageRules.h"
#include "pages/PageText.h"
#include "platform/Clock.h"
#include "state/CycleState.h"

#include <HosterPages.h>
#include <gumbo.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

using namespace torvaline;

namespace {

class StillClock final : public Clock {
public:
    double timeOfDay() const override { return 0.5; }
};

// The page text the rules see: the parsed page's body as the browser writes it.
std::string pageText(const std::string& html) {
    return torvaline::GumboDocument(html, "http://host.example/files/1/f.zip").bodyInnerHTML();
}

// One run of the rules over a page text, as a capture runs them.
template <typename Rules> struct RulesRun {
    PageText page;
    CycleState state;
    StillClock clock;
    test::ManualTimer timer1, timer2;
    int presses = 0;
    Rules rules{{page, state, clock, timer1, timer2}, hooks()};
    // By name: the frozen rules have fewer hooks than today's.
    typename Rules::Hooks hooks() {
        typename Rules::Hooks h;
        h.DeleteURLError = [] {};
        h.freeUserStep = [this] { ++presses; };
        h.currentHost = [] { return std::string("RapidShare"); };
        return h;
    }
    RulesRun() {
        page.setOnChange([this] { rules.Memo2Change(); });
    }
    void run(const std::string& text) {
        page.clear();
        state.PageHandled = false;
        page.replace(text);
    }
};

void target(const std::string& name, double ratio, double goal) {
    std::printf("target %s: x%.2f (goal x%.1f) %s\n", name.c_str(), ratio, goal,
                ratio < goal ? "met" : "missed");
}

} // namespace

void measureProfiles(const std::function<std::string(std::size_t)>& hosterPage) {
    const std::vector<HosterProfile> builtins = BuiltinHosters();
    const HosterProfiles profiles(builtins);
    const std::size_t cap = HttpBrowser::Options{}.maxPageBytes;
    struct Page {
        std::string name;
        std::string text;
    };
    std::vector<Page> pages{
        {"5 MB", pageText(hosterPage(5 * 1024 * 1024))},
        {"table-form", pageText(hostersim::pages::tableFormsPage(cap))},
        {"radios", pageText(hostersim::pages::radiosPage(cap))},
        {"nesting", pageText(hostersim::pages::nestedPage(html::kMaxTreeDepth, cap))},
    };
    for (const Page& p : pages) {
        RulesRun<LegacyPageRules> legacy;
        RulesRun<PageRules> profile;
        profile.rules.setProfiles(&profiles);
        // Interleaved, so that neither side has the warmer caches.
        double compiled = 0;
        double loaded = 0;
        for (int round = 0; round < 3; ++round) {
            compiled += medianSeconds(5, [&] { legacy.run(p.text); });
            loaded += medianSeconds(5, [&] { profile.run(p.text); });
        }
        if (legacy.presses != profile.presses)
            std::fprintf(stderr, "%s: the profile pressed %d times, the compiled rules %d\n",
                         p.name.c_str(), profile.presses, legacy.presses);
        std::printf("rules   %-10s %9zu bytes of text: compiled %8.3f ms | built-in profile "
                    "%8.3f ms (%.2f x)\n",
                    p.name.c_str(), p.text.size(), compiled / 3 * 1e3, loaded / 3 * 1e3,
                    loaded / compiled);
        target("profile " + p.name, loaded / compiled, 1.2);
    }

    // The Free Download family's patterns over the biggest page, which holds none of them.
    const std::string html = hosterPage(cap);
    const double bare = medianSeconds(5, [&] {
        GumboOutput* out =
            gumbo_parse_with_options(&kGumboDefaultOptions, html.data(), html.size());
        gumbo_destroy_output(&kGumboDefaultOptions, out);
    });
    const std::string text = pageText(html);
    RulesRun<PageRules> xfs;
    xfs.rules.setProfiles(&profiles);
    const HosterProfile* family = profiles.byName("XFileSharing");
    const HosterProfiles only({*family});
    xfs.rules.setProfiles(&only);
    const double messages = medianSeconds(5, [&] { xfs.run(text); });
    std::printf("RE2     %-10s %9zu bytes: gumbo parse %8.3f ms | XFileSharing messages "
                "%8.3f ms (%.2f x parse)\n",
                "8 MiB", html.size(), bare * 1e3, messages * 1e3, messages / bare);
    target("XFileSharing messages", messages / bare, 2.0);
}
