#include "pages/FillForm.h"
#include "doubles/FakeBrowser.h"
#include "doubles/FakeDocument.h"

#include <gtest/gtest.h>

#include <optional>

namespace torvaline::test {
namespace {

using Element = FakeDocument::Element;
using Clicks = std::vector<std::pair<int, int>>;

Element valued(const char* value) {
    return Element{std::string(value)};
}

Element valueless() {
    return Element{std::nullopt};
}

TEST(FillForm, ClicksEveryExactMatchInDocumentOrder) {
    struct Case {
        const char* name;
        std::vector<FakeDocument::Form> forms;
        bool result;
        Clicks clicks;
    } cases[] = {
        {"no form", {}, false, {}},
        {"one button",
         {{valued("user"), valued("Free user"), valued("Premium user")}},
         true,
         {{0, 1}}},
        {"case and blanks differ",
         {{valued("free user"), valued("Free user "), valued(" Free user"), valued("Free  user")}},
         false,
         {}},
        {"two forms, both clicked in order",
         {{valued("Free user")}, {valued("x"), valued("Free user")}},
         true,
         {{0, 0}, {1, 1}}},
        {"a text field holding the caption counts too",
         {{valued("Free user"), valued("Free user")}},
         true,
         {{0, 0}, {0, 1}}},
        {"an element without a value stops the search before the button",
         {{valued("a"), valueless(), valued("Free user")}, {valued("Free user")}},
         false,
         {}},
        {"an element without a value after a click keeps the flag",
         {{valued("Free user"), valueless(), valued("Free user")}, {valued("Free user")}},
         true,
         {{0, 0}}},
        {"an empty form is passed over", {{}, {valued("Free user")}}, true, {{1, 0}}},
        {"a click that fails ends the search",
         {{Element{std::string("Free user"), true}, valued("Free user")}},
         false,
         {}},
    };
    for (const auto& c : cases) {
        auto doc = std::make_shared<FakeDocument>();
        doc->forms = c.forms;
        FakeBrowser browser;
        browser.current = doc;
        EXPECT_EQ(FillForm(browser, "Free user"), c.result) << c.name;
        EXPECT_EQ(doc->clicks, c.clicks) << c.name;
    }
}

TEST(FillForm, PageWithoutFormTagsIsNotSearched) {
    auto doc = std::make_shared<FakeDocument>();
    doc->forms = {{valued("Free user")}};
    doc->formTags = 0;
    doc->formsFail = true; // proves the forms collection is never read
    FakeBrowser browser;
    browser.current = doc;
    EXPECT_FALSE(FillForm(browser, "Free user"));
    EXPECT_EQ(doc->valueReads, 0);
}

TEST(FillForm, DocumentAndFormListErrorsReachTheCaller) {
    FakeBrowser noDocument;
    EXPECT_THROW(FillForm(noDocument, "Free user"), DomError);

    for (const bool tagsFail : {true, false}) {
        auto doc = std::make_shared<FakeDocument>();
        doc->forms = {{valued("Free user")}};
        doc->formTagsFail = tagsFail;
        doc->formsFail = !tagsFail;
        FakeBrowser browser;
        browser.current = doc;
        EXPECT_THROW(FillForm(browser, "Free user"), DomError) << tagsFail;
        EXPECT_TRUE(doc->clicks.empty());
    }
}

TEST(FillForm, FormThatCannotBeReadReachesTheCaller) {
    // The form list shrinks under the search: the form is gone when it is read.
    auto doc = std::make_shared<FakeDocument>();
    doc->forms = {{valued("Free user")}, {valued("x")}};
    FakeBrowser browser;
    browser.current = doc;
    doc->onClick = [&](int, int) { doc->forms.pop_back(); };
    EXPECT_THROW(FillForm(browser, "Free user"), DomError);
    EXPECT_EQ(doc->clicks.size(), 1u);
}

TEST(FillForm, ClickThatReplacesTheDocumentReadsTheNewOne) {
    FakeBrowser browser;
    auto first = std::make_shared<FakeDocument>();
    first->forms = {{valued("Free user"), valued("Free user")}};
    auto next = std::make_shared<FakeDocument>();
    next->forms = {{valued("Free user")}};
    first->onClick = [&](int, int) { browser.current = next; };
    browser.current = first;
    std::weak_ptr<FakeDocument> watch = first;
    first.reset(); // only the browser holds the first page now

    // The second element is read from the new page, which has just one: the search ends.
    EXPECT_TRUE(FillForm(browser, "Free user"));
    EXPECT_TRUE(watch.expired());
    EXPECT_TRUE(next->clicks.empty());
}

} // namespace
} // namespace torvaline::test
