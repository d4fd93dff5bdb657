// URLCopy and GetFileName against their definitions, and both link extractions on
// arbitrary page text.
#include "pages/FinalLink.h"
#include "pages/PageText.h"
#include "state/CycleState.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace torvaline;

namespace {

void check(bool ok) {
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    // text \0 startMark \0 endMark
    const std::size_t z1 = all.find('\0');
    const std::size_t z2 = z1 == std::string_view::npos ? z1 : all.find('\0', z1 + 1);
    if (z2 != std::string_view::npos) {
        const std::string_view text = all.substr(0, z1);
        const std::string_view start = all.substr(z1 + 1, z2 - z1 - 1);
        const std::string_view end = all.substr(z2 + 1);
        const std::string got = URLCopy(text, start, end);
        const std::size_t s = text.find(start);
        const std::size_t e = text.find(end);
        if (s == std::string_view::npos || e == std::string_view::npos || e <= s + start.size())
            check(got.empty());
        else
            check(got == text.substr(s + start.size(), e - s - start.size()));
    }

    CycleState state;
    state.FinalFileName = "keep";
    GetFileName(all, '/', state);
    const std::string_view path = all.substr(0, all.find_first_of("?#"));
    if (path.find('/') == std::string_view::npos)
        check(state.FinalFileName == "keep");
    else
        check(state.FinalFileName.find_first_of("/?#") == std::string::npos &&
              path.size() >= state.FinalFileName.size() &&
              path.substr(path.size() - state.FinalFileName.size()) == state.FinalFileName);

    PageText page;
    page.replace(all);
    for (const bool fourShared : {false, true}) {
        CycleState s2;
        s2.FinalURL = "old";
        s2.FinalFileName = "old";
        if (fourShared)
            Find4sharedFinalURL(page, s2);
        else
            FindFinalURL(page, s2);
        check(s2.FinalURL.size() <= 150);
        if (!s2.PageHandled)
            check(s2.FinalURL == "old" && !s2.FinalLinkFresh);
        if (s2.FinalLinkFresh)
            check(s2.FinalURL.rfind("http", 0) == 0);
    }
    return 0;
}
