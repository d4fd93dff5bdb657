// Arbitrary HTML through the real document: parse, write the body's inner HTML, run the
// capture's text handling on it and press "Free user" in it.
#include "adapters/html/GumboDocument.h"
#include "doubles/FakeBrowser.h"
#include "pages/FillForm.h"
#include "pages/PageText.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace torvaline;

namespace {

void check(bool ok) {
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 256 * 1024)
        return 0;
    const std::string html(reinterpret_cast<const char*>(data), size);
    auto doc = std::make_shared<GumboDocument>(html, "http://host.example/dir/page.html");
    int submissions = 0;
    test::FakeBrowser browser;
    doc->setSubmitHandler([&](const FormSubmission& s) {
        ++submissions;
        check(s.method == "GET" || s.method == "POST");
        // A click may replace the page; the search must go on safely on the new one.
        browser.current = std::make_shared<GumboDocument>(s.body, s.url);
    });
    browser.current = doc;

    std::string body;
    try {
        body = doc->bodyInnerHTML();
    } catch (const DomError&) {
    }
    PageText page;
    page.replace(body);
    try {
        FillForm(browser, "Free user");
    } catch (const DomError&) {
    }
    doc.reset();
    browser.current.reset();
    return 0;
}
