#include "TransferRecorder.h"

#include "adapters/curl/CurlShare.h"
#include "adapters/curl/CurlTransfer.h"
#include "adapters/curl/HttpBrowser.h"
#include "adapters/curl/RowRequest.h"
#include "doubles/QueuedEventLoop.h"

#include <HosterSites.h>
#include <QueryText.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

namespace torvaline {
namespace {

using namespace std::chrono_literals;
using hostersim::encodeQueryValue;
using hostersim::HosterSites;
using hostersim::RequestRecord;

// Where a row's headers may go: a look-alike name, a parent domain, another address or a
// step down from https must not have them.
TEST(RowRequest, TheRowsHeadersGoToItsHostAndItsSubdomainsAlone) {
    const struct {
        const char* link;
        const char* url;
        bool inScope;
    } cases[] = {
        {"http://example.com/f/1", "http://example.com/other", true},
        {"http://Example.COM/f/1", "https://example.com./x", true},
        {"http://example.com/f/1", "http://dl3.example.com/x", true},
        {"http://www.example.com/f/1", "http://dl3.example.com/x", true},
        {"http://www.example.com/f/1", "http://example.com/x", true},
        {"http://example.com/f/1", "http://badexample.com/x", false},
        {"http://example.com/f/1", "http://example.com.evil.net/x", false},
        {"http://dl.example.com/f/1", "http://example.com/x", false},
        {"http://www.com/f/1", "http://evil.com/x", false},
        {"https://example.com/f/1", "http://example.com/x", false},
        {"http://127.0.0.1:8080/f/1", "http://127.0.0.1:9090/x", true},
        {"http://127.0.0.1/f/1", "http://127.0.0.2/x", false},
        {"http://example.com/f/1", "http://user@evil.net/x?example.com", false},
        {"not a link", "http://example.com/x", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(inRowScope(c.link, c.url), c.inScope) << c.link << " -> " << c.url;
}

std::string header(const RequestRecord& record, const std::string& name) {
    for (const auto& [key, value] : record.headers)
        if (asciiEqualNoCase(key, name))
            return value;
    return "(none)";
}

// A row added with a login cookie and a token sends them to its hoster, on each hop there, and
// not to the host a redirect leads on to; its user agent goes everywhere, as a browser's would.
// The page browser and the transfer alike.
TEST(RowRequest, TheRowsHeadersStayBehindWhenARedirectLeavesItsHost) {
    HosterSites sites(2);
    const int port = sites.start();
    const std::string home = sites.site(0).baseUrl();
    const std::string away = sites.site(1).baseUrl();
    const auto via = [&](const std::string& to) {
        // Two hops on the row's host, then one to the other site.
        const std::string second = home + "/redirect?status=307&to=" + encodeQueryValue(to);
        return home + "/redirect?to=" + encodeQueryValue(second);
    };
    RequestOptions options;
    options.headers = {"Cookie: login=abc", "Authorization: Bearer t0ken", "X-Token: t1"};
    options.referer = "http://lists.example/mine";
    options.userAgent = "UA/1 (row)";

    const auto check = [&](const char* what) {
        const auto there = sites.site(0).requests();
        const auto elsewhere = sites.site(1).requests();
        ASSERT_EQ(there.size(), 2u) << what;
        ASSERT_EQ(elsewhere.size(), 1u) << what;
        for (const RequestRecord& r : there) {
            EXPECT_EQ(r.cookies.count("login"), 1u) << what;
            EXPECT_EQ(header(r, "Authorization"), "Bearer t0ken") << what;
            EXPECT_EQ(header(r, "X-Token"), "t1") << what;
            EXPECT_EQ(header(r, "User-Agent"), "UA/1 (row)") << what;
        }
        EXPECT_EQ(header(there.front(), "Referer"), "http://lists.example/mine") << what;
        const RequestRecord& last = elsewhere.front();
        EXPECT_EQ(last.cookies.count("login"), 0u) << what;
        EXPECT_EQ(header(last, "Authorization"), "(none)") << what;
        EXPECT_EQ(header(last, "X-Token"), "(none)") << what;
        EXPECT_EQ(header(last, "Referer").find("lists.example"), std::string::npos) << what;
        EXPECT_EQ(header(last, "User-Agent"), "UA/1 (row)") << what;
        EXPECT_EQ(last.path, "/file/a.bin") << what;
        sites.site(0).clearRequests();
        sites.site(1).clearRequests();
    };

    auto share = std::make_shared<CurlShare>();
    const std::string link = via(away + "/file/a.bin?size=3000");
    options.scope = link;
    {
        test::TempDir dir;
        test::Recorder recorder;
        CurlTransferOptions fast;
        fast.lowSpeedTime = 2;
        fast.connectTimeout = 5;
        CurlTransfer transfer(share, fast);
        const std::string target = (dir.path() / "a.bin").string();
        const TransferResult result =
            transfer.transferWith(options, link, {}, target, {}, recorder);
        EXPECT_EQ(result.outcome, TransferOutcome::Succeeded) << result.reason;
        EXPECT_EQ(std::filesystem::file_size(target), 3000u);
        check("transfer");
    }
    {
        test::QueuedEventLoop loop;
        HttpBrowser browser(loop, *share);
        std::vector<DocumentCompleteEvent> completes;
        BrowserEvents events;
        events.documentComplete = [&](const DocumentCompleteEvent& e) { completes.push_back(e); };
        browser.setEvents(std::move(events));
        browser.setRequestOptions(options);
        browser.Navigate(link);
        EXPECT_TRUE(loop.pumpUntil([&] { return !completes.empty(); }, 10s));
        ASSERT_FALSE(completes.empty());
        EXPECT_EQ(completes.front().url.rfind(away, 0), 0u) << completes.front().url;
        check("page");
    }
    (void)port;
}

} // namespace
} // namespace torvaline
