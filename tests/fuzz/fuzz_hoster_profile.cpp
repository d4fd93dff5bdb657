// A profile file is input: any bytes must be refused with a message or loaded, and a loaded
// profile must run on a page without crashing.
#include "hosters/HosterCheck.h"
#include "hosters/ProfileLoader.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto profile = torvaline::ParseProfile(text, "fuzz.toml", {});
    if (!profile) {
        // A refusal always says why.
        if (profile.reason().empty())
            __builtin_trap();
        return 0;
    }
    static const std::string page =
        "<html><body><p>You have to wait 5 minutes</p><span id=\"countdown\">12</span>"
        "<form method=\"post\" action=\"\"><input type=\"hidden\" name=\"op\" value=\"download2\">"
        "<input type=\"hidden\" name=\"fname\" value=\"a.bin\"><input type=\"submit\" "
        "value=\"Free Download\"></form><a href=\"/get/1/a.bin\">a</a></body></html>";
    torvaline::RunProfileOnPage(*profile, page, "http://files.example/abcdef012345/a.bin.html");
    return 0;
}
