#include "adapters/curl/HttpBrowser.h"
#include "BrowserOverEmulator.h"
#include "adapters/curl/CurlShare.h"

#include <HosterSim.h>
#include <QueryText.h>
#include <httplib.h>

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace torvaline {
namespace {

using namespace std::chrono_literals;

class HttpBrowserTest : public test::BrowserOverEmulator {};

int closedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

TEST_F(HttpBrowserTest, FreeUserFlowOfAnOkLinkReachesTheCountdownPage) {
    const std::string link = sim.rapidshareLink("ok", "a.bin", 1000, 5);
    const DocumentCompleteEvent first = load(link);
    EXPECT_EQ(first.url, link);
    EXPECT_EQ(first.error, "");
    EXPECT_NE(body().find("value=\"Free user\""), std::string::npos) << body();

    ASSERT_TRUE(clickValue("Free user"));
    // The relative action is resolved against the page and announced before the fetch.
    const std::string action = sim.baseUrl() + "/rapidshare/ok/a.bin?size=1000&c=5";
    ASSERT_EQ(log.back(), "before " + action);
    ASSERT_TRUE(pumpUntil([&] { return completes.size() == 2; }));

    const std::string page = body();
    EXPECT_NE(page.find("var c=5;"), std::string::npos) << page;
    const std::string form =
        "<FORM name=\"dlf\" action=\"" + sim.baseUrl() + "/dl/1/a.bin\" method=\"post\">";
    EXPECT_NE(page.find(form), std::string::npos) << page;
    EXPECT_EQ(log,
              (std::vector<std::string>{"before " + link, "complete " + link, "download",
                                        "before " + action, "complete " + action, "download"}));

    const auto posts = requestsTo("/rapidshare/ok/a.bin");
    ASSERT_EQ(posts.size(), 2u);
    EXPECT_EQ(posts[1].method, "POST");
    EXPECT_EQ(posts[1].query, "size=1000&c=5");
    EXPECT_EQ(posts[1].fields, (std::vector<std::pair<std::string, std::string>>{
                                   {"fileid", "a.bin"}, {"free", "Free user"}}));
    EXPECT_EQ(sim.presses("ok", "a.bin"), 1);
}

TEST_F(HttpBrowserTest, SessionCookieIsKeptInTheSharedJarAndSentBack) {
    load(sim.rapidshareLink("ok", "c.bin", 10, 1));
    ASSERT_TRUE(clickValue("Free user"));
    ASSERT_TRUE(pumpUntil([&] { return completes.size() == 2; }));
    load(sim.rapidshareLink("ok", "c.bin", 10, 1));

    const auto gets = requestsTo("/rapidshare/ok/c.bin");
    ASSERT_EQ(gets.size(), 3u);
    EXPECT_EQ(gets[0].cookies.count("sid"), 0u);
    ASSERT_EQ(gets[2].cookies.count("sid"), 1u);
    EXPECT_EQ(gets[2].cookies.at("sid"), "s1");
    bool inJar = false;
    for (const std::string& line : share.cookies())
        inJar = inJar || line.find("\tsid\ts1") != std::string::npos;
    EXPECT_TRUE(inJar);
}

TEST_F(HttpBrowserTest, FileNeedsTheSessionCookieFromThePageFlow) {
    const std::string fileUrl = sim.baseUrl() + "/file/f.bin?size=64&cookie=sid";
    CurlShare emptyJar;
    makeBrowser(HttpBrowser::Options{}, &emptyJar);
    load(fileUrl);
    makeBrowser(HttpBrowser::Options{});
    load(sim.rapidshareLink("ok", "f.bin", 64, 1));
    ASSERT_TRUE(clickValue("Free user"));
    ASSERT_TRUE(pumpUntil([&] { return completes.size() == 3; }));
    load(fileUrl);

    const auto files = requestsTo("/file/f.bin");
    ASSERT_EQ(files.size(), 2u);
    EXPECT_GE(files[0].status, 400);
    EXPECT_EQ(files[1].status, 200);
}

TEST_F(HttpBrowserTest, RedirectsAreFollowedOnlyToWebAddresses) {
    const std::string target = sim.rapidshareLink("ok", "r.bin", 10, 1);
    const DocumentCompleteEvent followed =
        load(sim.baseUrl() + "/redirect?to=" + hostersim::encodeQueryValue(target));
    EXPECT_EQ(followed.error, "");
    EXPECT_EQ(followed.url, target);

    for (const char* to : {"ftp://127.0.0.1/x", "file:///etc/passwd"}) {
        const int before = downloads;
        const DocumentCompleteEvent refused = load(sim.baseUrl() + "/redirect?to=" + to);
        EXPECT_NE(refused.error, "") << to;
        EXPECT_EQ(downloads, before + 1);
        EXPECT_EQ(browser->document()->formCount(), 0);
        EXPECT_EQ(body().find("root:"), std::string::npos);
    }
    const DocumentCompleteEvent looping = load(sim.baseUrl() + "/loop");
    EXPECT_NE(looping.error.find("redirect"), std::string::npos) << looping.error;
}

TEST_F(HttpBrowserTest, OnlyWebAddressesAreOpened) {
    for (const char* url :
         {"file:///etc/passwd", "ftp://127.0.0.1/", "javascript:alert(1)", "no address at all"}) {
        const DocumentCompleteEvent e = load(url);
        EXPECT_NE(e.error, "") << url;
        EXPECT_EQ(body().find("root:"), std::string::npos);
    }
    EXPECT_TRUE(sim.requests().empty());
}

TEST_F(HttpBrowserTest, PagesOverTheSizeCapFail) {
    HttpBrowser::Options options;
    options.maxPageBytes = 64 * 1024;
    makeBrowser(options);
    EXPECT_EQ(load(sim.baseUrl() + "/page/big?size=60000").error, "");
    const DocumentCompleteEvent big = load(sim.baseUrl() + "/page/big?size=70000");
    EXPECT_NE(big.error.find("larger than 64 KiB"), std::string::npos) << big.error;
    EXPECT_NE(body().find("larger than 64 KiB"), std::string::npos) << body();
}

TEST_F(HttpBrowserTest, RefusedConnectionGivesAnErrorPageAndBothEvents) {
    const std::string url = "http://127.0.0.1:" + std::to_string(closedPort()) + "/x";
    const DocumentCompleteEvent e = load(url);
    EXPECT_EQ(e.url, url);
    EXPECT_NE(e.error, "");
    ASSERT_TRUE(pumpUntil([&] { return downloads == 1; }));
    auto doc = browser->document();
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(doc->formTagCount(), 0);
    EXPECT_NE(doc->bodyInnerHTML().find("could not be loaded"), std::string::npos);
    EXPECT_FALSE(browser->busy());
}

TEST_F(HttpBrowserTest, StopHaltsTheNavigationInFlight) {
    browser->Navigate(sim.baseUrl() + "/page/slow?ms=5000");
    pumpUntil([] { return false; }, 100ms);
    EXPECT_TRUE(browser->busy());
    browser->Stop();
    EXPECT_FALSE(browser->busy());
    ASSERT_TRUE(pumpUntil([&] { return downloads == 1; }, 2s));
    pumpUntil([] { return false; }, 300ms);
    EXPECT_TRUE(completes.empty());
    // Stopping with nothing in flight does nothing.
    browser->Stop();
    pumpUntil([] { return false; }, 100ms);
    EXPECT_EQ(downloads, 1);
}

TEST_F(HttpBrowserTest, NewNavigationSupersedesTheOneInFlight) {
    browser->Navigate(sim.baseUrl() + "/page/slow?ms=1500");
    const std::string link = sim.rapidshareLink("ok", "n.bin", 10, 1);
    browser->Navigate(link);
    ASSERT_TRUE(pumpUntil([&] { return completes.size() == 1; }));
    pumpUntil([] { return false; }, 2000ms);
    ASSERT_EQ(completes.size(), 1u);
    EXPECT_EQ(completes[0].url, link);
    EXPECT_EQ(downloads, 1);
    EXPECT_NE(body().find("Free user"), std::string::npos);
}

TEST_F(HttpBrowserTest, AboutBlankIsServedWithoutNetworkAndAsynchronously) {
    EXPECT_EQ(browser->document(), nullptr);
    browser->Navigate("about:blank");
    EXPECT_EQ(log, (std::vector<std::string>{"before about:blank"}));
    ASSERT_TRUE(pumpUntil([&] { return downloads == 1; }));
    EXPECT_EQ(log,
              (std::vector<std::string>{"before about:blank", "complete about:blank", "download"}));
    EXPECT_EQ(completes[0].error, "");
    EXPECT_EQ(body(), "");
    EXPECT_EQ(browser->document()->formTagCount(), 0);
    EXPECT_TRUE(sim.requests().empty());
}

TEST_F(HttpBrowserTest, DestroyingWithANavigationInFlightIsSafe) {
    browser->Navigate(sim.baseUrl() + "/page/slow?ms=3000");
    const auto start = std::chrono::steady_clock::now();
    browser.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2500ms);
    pumpUntil([] { return false; }, 100ms);
    EXPECT_TRUE(completes.empty());
}

TEST_F(HttpBrowserTest, HeavyPagesNeverHoldUpStopNavigationOrTheBrowsersEnd) {
    const std::string heavy = sim.baseUrl() + "/page/tableforms?size=8000000";
    // Given up three times while the page is on its way or being parsed: only the last
    // navigation completes, and with the right page.
    for (int i = 0; i < 3; ++i) {
        browser->Navigate(heavy);
        pumpUntil([] { return false; }, 150ms);
        browser->Stop();
    }
    EXPECT_EQ(load(sim.baseUrl() + "/").url, sim.baseUrl() + "/");
    EXPECT_EQ(completes.size(), 1u);

    // A page nested past the cap fails like an unreadable page, with both events.
    const auto deep = load(sim.baseUrl() + "/page/nested?depth=5000&size=100000");
    EXPECT_EQ(deep.error, "The page could not be read.");
    EXPECT_EQ(downloads, 5); // three stops and two pages

    // The browser's end waits neither for the parse (a second of work on that page: far less
    // than that) nor for a stalled server.
    sim.clearRequests();
    const std::vector<std::pair<std::string, std::chrono::milliseconds>> cases = {
        {heavy, 500ms}, {sim.baseUrl() + "/page/slow?ms=20000", 2s}};
    for (const auto& [url, bound] : cases) {
        browser->Navigate(url);
        // The heavy page is logged as it goes out; the parse follows its transfer.
        pumpUntil([&] { return !requestsTo("/page/tableforms").empty(); }, 2s);
        pumpUntil([] { return false; }, 200ms);
        const auto start = std::chrono::steady_clock::now();
        browser.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - start, bound) << url;
        makeBrowser(HttpBrowser::Options{});
    }
}

} // namespace
} // namespace torvaline
