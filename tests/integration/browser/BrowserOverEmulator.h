#pragma once

#include "adapters/curl/CurlShare.h"
#include "adapters/curl/HttpBrowser.h"
#include "doubles/QueuedEventLoop.h"

#include <HosterSim.h>
#include <httplib.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace torvaline::test {

using namespace std::chrono_literals;

// A real browser over the hoster emulator on its own port, with its events logged and a pumped
// event loop standing in for the GUI thread.
class BrowserOverEmulator : public testing::Test {
protected:
    void SetUp() override {
        sim.server().Get("/loop", [](const httplib::Request&, httplib::Response& res) {
            res.status = 302;
            res.set_header("Location", "/loop");
        });
        sim.start();
        makeBrowser(HttpBrowser::Options{});
    }

    void makeBrowser(HttpBrowser::Options options, CurlShare* jar = nullptr) {
        browser.reset();
        options.connectTimeout = 5s;
        options.totalTimeout = 20s;
        browser = std::make_unique<HttpBrowser>(loop, jar ? *jar : share, options);
        BrowserEvents events;
        events.beforeNavigate = [this](const std::string& url) { log.push_back("before " + url); };
        events.documentComplete = [this](const DocumentCompleteEvent& e) {
            log.push_back("complete " + e.url);
            completes.push_back(e);
        };
        events.downloadComplete = [this] {
            log.push_back("download");
            ++downloads;
        };
        browser->setEvents(std::move(events));
    }

    bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done() && std::chrono::steady_clock::now() < deadline)
            loop.pumpFor(20ms);
        return done();
    }

    // Navigates and waits for the page; returns its completion event.
    DocumentCompleteEvent load(const std::string& url) {
        const std::size_t before = completes.size();
        browser->Navigate(url);
        EXPECT_TRUE(pumpUntil([&] { return completes.size() > before; })) << url;
        return completes.empty() ? DocumentCompleteEvent{} : completes.back();
    }

    std::string body() { return browser->document()->bodyInnerHTML(); }

    // Clicks every form element whose value is `value`, as the free-user automation does.
    bool clickValue(const std::string& value) {
        auto doc = browser->document();
        bool clicked = false;
        for (int f = 0; f < doc->formCount(); ++f) {
            for (int e = 0; e < doc->formElementCount(f); ++e) {
                if (doc->elementValue(f, e) == value) {
                    doc->click(f, e);
                    clicked = true;
                }
            }
        }
        return clicked;
    }

    std::vector<hostersim::RequestRecord> requestsTo(const std::string& path) {
        std::vector<hostersim::RequestRecord> out;
        for (auto& r : sim.requests()) {
            if (r.path == path)
                out.push_back(r);
        }
        return out;
    }

    hostersim::HosterSim sim;
    CurlShare share;
    test::QueuedEventLoop loop;
    std::unique_ptr<HttpBrowser> browser;
    std::vector<std::string> log;
    std::vector<DocumentCompleteEvent> completes;
    int downloads = 0;
};

} // namespace torvaline::test
