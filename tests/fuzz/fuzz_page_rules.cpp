// The rule chain on arbitrary page text, driven as the capture drives it: a failed
// conversion appends the failure line, which runs the chain again on nothing.
#include "doubles/FakeClock.h"
#include "doubles/ManualTimer.h"
#include "pages/ConversionError.h"
#include "pages/PageRules.h"
#include "pages/PageText.h"
#include "state/CycleState.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace torvaline;

namespace {

void check(bool ok) {
    if (!ok)
        std::abort();
}

void checkCrLf(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r')
            check(i + 1 < text.size() && text[i + 1] == '\n');
        if (text[i] == '\n')
            check(i > 0 && text[i - 1] == '\r');
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    // The first byte picks the row's service and how the cycle answers a bad link.
    const std::uint8_t control = data[0];
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

    PageText page;
    CycleState state;
    test::FakeClock clock;
    test::ManualTimer timer1;
    test::ManualTimer timer2;
    int freeUser = 0;
    state.WaitNumber = (control & 4) ? "17" : "";
    PageRules rules({page, state, clock, timer1, timer2},
                    {[&] { state.PageHandled = (control & 2) != 0; },
                     [&] { ++freeUser; },
                     [&] { return std::string((control & 1) ? "4Shared" : "RapidShare"); },
                     {}});
    page.setOnChange([&] { rules.Memo2Change(); });

    bool failed = false;
    try {
        page.replace(text);
    } catch (const ConversionError&) {
        failed = true;
    }
    checkCrLf(page.text());
    if (failed) {
        check(!timer1.enabled() && !timer2.enabled());
        page.appendFailureLine(); // nothing to search: only the free-user step may act
        check(!timer1.enabled() && !timer2.enabled());
        check(page.searchStart() == page.text().size());
    }
    if (timer1.enabled() || timer2.enabled()) {
        check(state.PageHandled);
        check(!(timer1.enabled() && timer2.enabled()));
        check(state.WaitSpan >= 0 && state.WaitSpan < 1.0);
    }
    check(state.FinalURL.size() <= 150);
    if (state.FinalLinkFresh)
        check(state.FinalURL.rfind("http", 0) == 0 &&
              state.FinalURL.find('/') != std::string::npos);
    return 0;
}
