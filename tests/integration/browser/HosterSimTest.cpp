#include "BrowserOverEmulator.h"

#include "list/ListFile.h"

#include <HosterSim.h>
#include <HosterSites.h>
#include <MixedList.h>
#include <httplib.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

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

// Sites on 127.0.0.1 and 127.0.0.2 share a port and nothing else: a wait shown on one, its
// button's presses and the links it hands out are that site's alone.
TEST(HosterSim, SitesOnTheirOwnAddressesKeepTheirOwnState) {
    HosterSites sites(2);
    const int port = sites.start();
    ASSERT_EQ(sites.site(1).port(), port);
    EXPECT_EQ(sites.site(1).baseUrl(), "http://127.0.0.2:" + std::to_string(port));
    const std::string wait = "try again in about 7 minutes";
    const auto press = [&](std::size_t site) {
        httplib::Client client(HosterSites::address(site), port);
        const auto page = client.Post("/rapidshare/tryagainabout/a.bin?size=5&c=1&wait=7",
                                      "free=Free+user", "application/x-www-form-urlencoded");
        return page ? page->body : std::string("(no answer)");
    };
    // The first press of each site meets its wait; the second of the first site its countdown.
    EXPECT_NE(press(0).find(wait), std::string::npos);
    EXPECT_NE(press(0).find("var c=1;"), std::string::npos);
    const std::string other = press(1);
    EXPECT_NE(other.find(wait), std::string::npos);
    EXPECT_EQ(other.find("var c="), std::string::npos);
    EXPECT_EQ(sites.site(0).presses("tryagainabout", "a.bin"), 2);
    EXPECT_EQ(sites.site(1).presses("tryagainabout", "a.bin"), 1);
    EXPECT_EQ(sites.site(0).requests().size(), 2u);
    EXPECT_EQ(sites.site(1).requests().size(), 1u);
    // A site's links name its own address.
    EXPECT_EQ(press(1).find("127.0.0.1:"), std::string::npos);
    sites.stop();
    EXPECT_FALSE(httplib::Client(HosterSites::address(1), port).Get("/"));
}

// The mixed list: three sites, each holding a free user for its wait after each of its files,
// and each on its own (a file of the first site holds the first site alone). The written list
// reads back as its links, grouped by site, each site's links on its own address.
TEST(HosterSim, MixedSitesHoldAFreeUserAfterEachFileEachOnItsOwn) {
    HosterSites sites(3);
    const int port = sites.start();
    MixedList mixed;
    mixed.waitAfter = 30;
    mixed.countdown = 0;
    mixed.size = 1000;
    mixed.files = 2;
    const std::vector<std::string> links = mixed.links(sites);
    ASSERT_EQ(links.size(), 6u);
    for (std::size_t i = 0; i < links.size(); ++i)
        EXPECT_EQ(links[i].rfind(sites.site(i / 2).baseUrl() + "/xfs/ok/", 0), 0u) << links[i];
    const std::string file = (std::filesystem::temp_directory_path() /
                              ("torvaline-mixed-" + std::to_string(port) + ".txt"))
                                 .string();
    ASSERT_TRUE(writeListFile(links, file));
    EXPECT_EQ(torvaline::ReadListFile(file).value(), links);
    std::filesystem::remove(file);

    // "Free Download" on link `i`: the answer's body, and its session cookie.
    const auto press = [&](std::size_t i, std::string& rand) {
        const std::string& link = links[i];
        const std::string target = link.substr(sites.site(i / 2).baseUrl().size());
        const std::string code = target.substr(8, 12); // "/xfs/ok/" then the code
        httplib::Client client(HosterSites::address(i / 2), port);
        const auto page = client.Post(target, "op=download1&id=" + code + "&method_free=Free",
                                      "application/x-www-form-urlencoded");
        if (!page)
            return std::string("(no answer)");
        const std::string field = "name=\"rand\" value=\"";
        const std::size_t at = page->body.find(field);
        const std::size_t from = at + field.size();
        rand = at == std::string::npos ? ""
                                       : page->body.substr(from, page->body.find('"', from) - from);
        return page->body;
    };
    // The file of link `i`, from its countdown page on; its size, 0 when none came.
    const auto fetch = [&](std::size_t i) -> std::size_t {
        std::string rand;
        press(i, rand);
        if (rand.empty())
            return 0;
        const std::string target = links[i].substr(sites.site(i / 2).baseUrl().size());
        httplib::Client client(HosterSites::address(i / 2), port);
        const auto answer = client.Post(target, {{"Cookie", "xfss=" + rand}},
                                        "op=download2&id=" + target.substr(8, 12) + "&rand=" + rand,
                                        "application/x-www-form-urlencoded");
        if (!answer || answer->status != 302)
            return 0;
        const std::string location = answer->get_header_value("Location");
        const auto body = client.Get(location.substr(location.find("/file/")));
        return body && body->status == 200 ? body->body.size() : 0;
    };
    const std::string held = "You have to wait 30 seconds till next download";
    std::string rand;
    EXPECT_EQ(fetch(0), 1000u);
    // The first site holds its next link and its first alike; the others hold nothing until a
    // file of their own has gone out.
    EXPECT_NE(press(1, rand).find(held), std::string::npos);
    EXPECT_NE(press(0, rand).find(held), std::string::npos);
    EXPECT_TRUE(rand.empty());
    EXPECT_GT(fetch(2), 1000u);
    EXPECT_NE(press(3, rand).find(held), std::string::npos);
    EXPECT_EQ(press(4, rand).find("You have to wait"), std::string::npos);
    EXPECT_FALSE(rand.empty());
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

// A throttled file answers a range at the file's rate from the range's start: paced as if the
// bytes before it had been sent, a resumed transfer would sit idle for as long.
TEST(HosterSim, ARangeIsPacedFromWhereItStarts) {
    HosterSim sim;
    sim.start();
    httplib::Client client("127.0.0.1", sim.port());
    const auto timed = [&](const std::string& range, std::size_t& bytes) {
        const auto began = std::chrono::steady_clock::now();
        const auto answer = client.Get("/file/r.bin?size=2000000&rate=1000000",
                                       httplib::Headers{{"Range", "bytes=" + range}});
        bytes = answer ? answer->body.size() : 0;
        return std::chrono::steady_clock::now() - began;
    };
    std::size_t bytes = 0;
    // The last 100 000 bytes: a tenth of a second, not the two seconds of the whole file.
    EXPECT_LT(timed("1900000-", bytes), 800ms);
    EXPECT_EQ(bytes, 100000u);
    // The rate still holds for a range: 300 000 bytes take most of 0.3 s.
    EXPECT_GT(timed("1000000-1299999", bytes), 200ms);
    EXPECT_EQ(bytes, 300000u);
    sim.stop();
}

} // namespace
} // namespace hostersim

namespace torvaline {
namespace {

// The emulator's pages as a browser sees them: each scenario shows the message its rule looks
// for, in the form the rules were written against.
class EmulatorPages : public test::BrowserOverEmulator {};

// The hosters' messages in the order the page rules test them.
const std::vector<std::string> kMarkers = {
    "This file is suspected to contain illegal",
    "The file could not be found. Please check the download link.",
    "Or try again in about",
    "try again in",
    "Unfortunately right now our servers are over",
    "Unfortunately you will have to wait",
    "var c=",
    "again in about",
    "You have reached the download limit for free-users",
};

struct ScenarioCase {
    const char* scenario;
    bool afterPress;          // the message comes after "Free user", not on the first page
    std::size_t marker;       // index into kMarkers of the rule that must act
    const char* behindMarker; // the text right behind the marker
};

TEST_F(EmulatorPages, EveryScenarioShowsTheMessageItsRuleLooksFor) {
    const ScenarioCase cases[] = {
        {"illegal", false, 0, " content"},
        {"notfound", false, 1, ""},
        {"tryagainabout", true, 2, " 7 minutes.</P>\r\n<DIV"},
        {"tryagain", true, 3, " 7 minutes"},
        {"slots", true, 4, "loaded"},
        {"wait", true, 5, " 7 minutes"},
        {"ok", true, 6, "4;\r\n"},
        {"nolink", true, 6, "4;\r\n"},
        {"about", true, 7, " 7 minutes.</P>"},
        {"reach", true, 8, ". "},
    };
    for (const ScenarioCase& c : cases) {
        SCOPED_TRACE(c.scenario);
        load(sim.rapidshareLink(c.scenario, "s.bin", 10, 4, "wait=7"));
        if (c.afterPress) {
            const std::size_t before = completes.size();
            ASSERT_TRUE(clickValue("Free user"));
            ASSERT_TRUE(pumpUntil([&] { return completes.size() > before; }));
        } else {
            EXPECT_EQ(browser->document()->formCount(), 0);
        }
        // The page text as the capture holds it: CR LF line breaks.
        std::string text;
        for (const char ch : body()) {
            if (ch == '\n')
                text += '\r';
            text += ch;
        }
        const std::size_t at = text.find(kMarkers[c.marker]);
        ASSERT_NE(at, std::string::npos) << text;
        EXPECT_EQ(text.substr(at + kMarkers[c.marker].size(), std::strlen(c.behindMarker)),
                  c.behindMarker);
        for (std::size_t earlier = 0; earlier < c.marker; ++earlier)
            EXPECT_EQ(text.find(kMarkers[earlier]), std::string::npos) << kMarkers[earlier];
        const bool hasLink = text.find("action=\"http") != std::string::npos;
        EXPECT_EQ(hasLink, std::string(c.scenario) == "ok");
    }
}

TEST_F(EmulatorPages, WaitScenariosGiveWayToTheCountdownAfterKPresses) {
    const std::string link = sim.rapidshareLink("reach", "k.bin", 10, 2, "k=2");
    std::vector<bool> countdown;
    for (int press = 0; press < 3; ++press) {
        load(link);
        const std::size_t before = completes.size();
        ASSERT_TRUE(clickValue("Free user"));
        ASSERT_TRUE(pumpUntil([&] { return completes.size() > before; }));
        countdown.push_back(body().find("var c=2;") != std::string::npos);
    }
    EXPECT_EQ(countdown, (std::vector<bool>{false, false, true}));
    EXPECT_EQ(sim.presses("reach", "k.bin"), 3);
}

TEST_F(EmulatorPages, SecondHosterPageCarriesTheDownloadAnchor) {
    load(sim.fourSharedLink("b.bin", 10, 3));
    const std::string page = body();
    EXPECT_NE(page.find("var c=3;"), std::string::npos) << page;
    EXPECT_NE(page.find("<A href=\"" + sim.baseUrl() + "/dl/1/b.bin\" onclick"), std::string::npos)
        << page;
}

TEST_F(EmulatorPages, PremiumButtonLeadsNowhere) {
    load(sim.rapidshareLink("ok", "p.bin", 10, 1));
    ASSERT_TRUE(clickValue("Premium user"));
    ASSERT_TRUE(pumpUntil([&] { return completes.size() == 2; }));
    EXPECT_EQ(body().find("var c="), std::string::npos);
    EXPECT_EQ(sim.presses("ok", "p.bin"), 0);
}

} // namespace
} // namespace torvaline
