#include <HosterSim.h>
#include <httplib.h>

#include <gtest/gtest.h>

#include <chrono>

namespace hostersim {
namespace {

using namespace std::chrono_literals;

TEST(HosterSim, StartsAndStopsQuicklyOnItsOwnPort) {
    const auto begin = std::chrono::steady_clock::now();
    HosterSim a;
    HosterSim b;
    const int portA = a.start();
    const int portB = b.start();
    EXPECT_GT(portA, 0);
    EXPECT_NE(portA, portB);
    EXPECT_EQ(a.baseUrl(), "http://127.0.0.1:" + std::to_string(portA));
    {
        // A keep-alive connection left open must not hold up stop().
        httplib::Client client("127.0.0.1", portA);
        client.set_keep_alive(true);
        ASSERT_TRUE(client.Get("/"));
        a.stop();
    }
    b.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 2500ms);
    EXPECT_FALSE(httplib::Client("127.0.0.1", portA).Get("/"));
}

TEST(HosterSim, LogsFieldsAndCookiesOfEachRequest) {
    HosterSim sim;
    sim.start();
    httplib::Client client("127.0.0.1", sim.port());
    const httplib::Headers cookie = {{"Cookie", "sid=s9; other=x"}};
    ASSERT_TRUE(client.Post("/rapidshare/ok/l.bin?size=5&c=1", cookie,
                            "fileid=l.bin&free=Free+user", "application/x-www-form-urlencoded"));
    const auto log = sim.requests();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].method, "POST");
    EXPECT_EQ(log[0].path, "/rapidshare/ok/l.bin");
    EXPECT_EQ(log[0].query, "size=5&c=1");
    EXPECT_EQ(log[0].fields, (std::vector<std::pair<std::string, std::string>>{
                                 {"fileid", "l.bin"}, {"free", "Free user"}}));
    EXPECT_EQ(log[0].cookies, (std::map<std::string, std::string>{{"sid", "s9"}, {"other", "x"}}));
    EXPECT_EQ(log[0].status, 200);
    sim.clearRequests();
    EXPECT_TRUE(sim.requests().empty());
}

TEST(HosterSim, UnknownScenarioAndMalformedNumbersAreHandled) {
    HosterSim sim;
    sim.start();
    httplib::Client client("127.0.0.1", sim.port());
    auto unknown = client.Get("/rapidshare/nosuch/x.bin");
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->status, 404);
    auto junk = client.Get("/rapidshare/ok/x.bin?size=-1&c=abc");
    ASSERT_TRUE(junk);
    EXPECT_EQ(junk->status, 200);
    auto countdown = client.Post("/rapidshare/ok/x.bin?c=99999", "free=Free+user",
                                 "application/x-www-form-urlencoded");
    ASSERT_TRUE(countdown);
    // The countdown is capped to what the page rules can read: three digits.
    EXPECT_NE(countdown->body.find("var c=999;"), std::string::npos);
}

} // namespace
} // namespace hostersim
