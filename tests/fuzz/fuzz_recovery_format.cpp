// The recovery file's reader on arbitrary bytes: it never crashes, and what it accepts comes
// back the same through the writer.
#include "cycle/RecoveryFormat.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace torvaline;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const RecoveryFormat::Decoded decoded = RecoveryFormat::decode(text);
    if (!decoded.ok)
        return 0;
    const RecoveryFormat::Decoded again =
        RecoveryFormat::decode(RecoveryFormat::encode(decoded.rows));
    if (!again.ok || again.rows != decoded.rows)
        std::abort();
    return 0;
}
