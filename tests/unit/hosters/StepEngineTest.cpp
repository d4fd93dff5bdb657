#include "hosters/HosterCheck.h"
#include "hosters/ProfileLoader.h"

#include "adapters/html/GumboDocument.h"
#include "pages/PageText.h"
#include "pages/StepEngine.h"
#include "state/CycleState.h"

#include <gtest/gtest.h>

#include <string>

namespace torvaline {
namespace {

HosterProfile load(const std::string& toml) {
    auto p = ParseProfile(toml, "steps.toml", {});
    EXPECT_TRUE(p) << p.reason();
    return p ? *p : HosterProfile{};
}

// Profiles are input: a way that goes round, a step without a way forward, a captcha nobody
// could mean must each fail the row with why, never press on for ever.
TEST(StepEngineTest, WaysThatLeadNowhereFailTheRowWithWhy) {
    const HosterProfile p = load(R"(
name = "Circle"
hosts = ["circle.example"]
[[step]]
name = "again"
press = { value = "Go" }
[[step]]
name = "code"
match = 'Enter the code'
post = { name = "op" }
digit_captcha = "code"
[[step]]
name = "take"
match = 'Here it is'
link = { from = "anchor", pattern = '/dl/' }
)");
    // The button leads back to a page like itself: the 12th return ends the row.
    const std::string html =
        R"(<form method="post" action="/x"><input type="submit" value="Go"></form>)";
    PageText page;
    page.replace(html);
    CycleState state;
    state.CurrentURL = "http://circle.example/f";
    StepEngine engine;
    StepEngine::Outcome o;
    int presses = 0;
    for (int i = 0; i < 50; ++i) {
        GumboDocument document(html, state.CurrentURL);
        o = engine.act(p, page, &document, state);
        if (o.kind != StepEngine::Outcome::Kind::Pressed)
            break;
        ++presses;
    }
    EXPECT_EQ(presses, StepEngine::MaxReturns + 1);
    EXPECT_EQ(o.kind, StepEngine::Outcome::Kind::Failed);
    EXPECT_NE(o.failure.find("go round in circles"), std::string::npos) << o.failure;
    // Another row starts with a clean count.
    state.CurrentURL = "http://circle.example/g";
    GumboDocument fresh(html, state.CurrentURL);
    EXPECT_EQ(engine.act(p, page, &fresh, state).kind, StepEngine::Outcome::Kind::Pressed);

    struct Case {
        std::string html;
        std::string reason;
    };
    const std::string form = R"(<form method="post"><input type="hidden" name="op" value="2">)"
                             R"(<input name="code"><input type="submit" value="Send">)";
    std::string flood = "<p>Enter the code</p>" + form;
    for (int i = 0; i < 1000; ++i)
        flood += R"(<span style="position:absolute;padding-left:)" + std::to_string(i) +
                 R"(px">7</span>)";
    const Case cases[] = {
        {"<p>Nothing here</p>", "none of the steps of 'Circle'"},
        {"<p>Here it is</p><a href=\"/other\">x</a>", "finds no link"},
        {flood + "</form>", "more than 12 characters"},
        {"<p>Enter the code</p>" + form +
             "<span style=\"position:absolute;padding-left:3px\">x</span></form>",
         "other than one digit"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        const PageOutcome out = RunProfileOnPage(p, "<html><body>" + c.html + "</body></html>",
                                                 "http://circle.example/f");
        EXPECT_EQ(out.reaction, "failed");
        EXPECT_NE(out.failure.find(c.reason), std::string::npos) << out.failure;
    }
    // A step that says nothing to do is refused with the profile.
    const auto refused = ParseProfile("name = \"N\"\nhosts = [\"n.example\"]\n[[step]]\nname = "
                                      "\"idle\"\nmatch = 'x'\n",
                                      "n.toml", {});
    EXPECT_FALSE(refused);
    EXPECT_NE(refused.reason().find("needs one way forward"), std::string::npos)
        << refused.reason();
}

} // namespace
} // namespace torvaline
