#include "pages/SiteQuantities.h"

#include <gtest/gtest.h>

#include <string>

namespace torvaline {
namespace {

// Waits and sizes as sites write them; a wrong reading is a row waiting far too long or
// hammering the hoster far too early.
TEST(SiteQuantities, DurationsAndSizesReadAsSitesWriteThem) {
    struct Wait {
        std::string text;
        std::int64_t bare;
        std::int64_t seconds; // -1: not a wait
    };
    const Wait waits[] = {
        {"1 hour, 5 minutes, 10 seconds", 1, 3910},
        {"10 seconds, 5 minutes and 1 hour", 1, 3910},
        {"59 seconds", 1, 59},
        {"2 hours", 1, 7200},
        {"5 min", 1, 300},
        {"30 sec", 1, 30},
        {"1h 5m 10s", 1, 3910},
        {"1 Hour 1 Minute", 1, 3660},
        {"7", 60, 420}, // a bare number in the unit the message means
        {"7", 1, 7},
        {"1.5 minutes", 1, 90},
        {"", 1, -1},
        {"soon", 1, -1},
        {"5 fortnights", 1, -1},
        {"5 10", 1, -1},
        {"400 days", 1, -1},
        {"99999999999999999999 seconds", 1, -1},
        {std::string(1000, '9'), 1, -1},
    };
    for (const Wait& w : waits) {
        SCOPED_TRACE(w.text.substr(0, 40));
        const auto read = ReadDuration(w.text, w.bare);
        EXPECT_EQ(read ? *read : -1, w.seconds);
    }
    struct Size {
        std::string text;
        long long bytes; // -1: not a size
    };
    const Size sizes[] = {
        {"1.2 GB", 1288490189}, {"700 MB", 734003200}, {"512 KB", 524288}, {"123 bytes", 123},
        {"4 Mb", 4194304},      {"1,5 GB", -1},        {"big", -1},        {"12", -1},
        {"9999999999 TB", -1},
    };
    for (const Size& s : sizes) {
        SCOPED_TRACE(s.text);
        const auto read = ReadSize(s.text);
        EXPECT_EQ(read ? static_cast<long long>(*read) : -1, s.bytes);
    }
}

} // namespace
} // namespace torvaline
