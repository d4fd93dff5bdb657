#include "platform/Result.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace torvaline {
namespace {

// A caller that forgets to ask ok() must meet an exception naming the failure, never read a
// value that is not there; and a success must not pass for a failure with an empty reason.
TEST(ResultTest, ReadingTheWrongSideThrowsAndASuccessHasNoReason) {
    const Result<std::string> refused = fail(FailureCause::NameRefused, "a slash in the name");
    EXPECT_FALSE(refused);
    EXPECT_EQ(refused.cause(), FailureCause::NameRefused);
    EXPECT_EQ(refused.reason(), "a slash in the name");
    try {
        static_cast<void>(refused.value());
        ADD_FAILURE() << "value() of a failure returned";
    } catch (const BadResultAccess& e) {
        EXPECT_NE(std::string(e.what()).find("a slash in the name"), std::string::npos);
    }
    EXPECT_THROW(static_cast<void>(*refused), BadResultAccess);
    EXPECT_THROW(static_cast<void>(refused->size()), BadResultAccess);

    Result<std::unique_ptr<int>> held = std::make_unique<int>(7);
    ASSERT_TRUE(held);
    EXPECT_EQ(**held, 7);
    EXPECT_TRUE(held.reason().empty());
    EXPECT_THROW(static_cast<void>(held.failure()), BadResultAccess);
    const std::unique_ptr<int> taken = std::move(held).value();
    EXPECT_EQ(*taken, 7);

    const Result<void> done;
    EXPECT_TRUE(done);
    EXPECT_NO_THROW(done.value());
    EXPECT_THROW(static_cast<void>(done.failure()), BadResultAccess);
    const Result<void> stopped = Failure{FailureCause::Stopped, "stopped"};
    EXPECT_FALSE(stopped);
    EXPECT_THROW(stopped.value(), BadResultAccess);
    EXPECT_EQ(stopped.failure().cause, FailureCause::Stopped);
}

} // namespace
} // namespace torvaline
