#pragma once

#include "adapters/curl/CurlShare.h"
#include "adapters/curl/CurlTransfer.h"
#include "adapters/curl/HttpBrowser.h"
#include "cycle/TorvalineCore.h"
#include "doubles/FakeClock.h"
#include "doubles/ManualTimer.h"
#include "doubles/QueuedEventLoop.h"
#include "doubles/RecordingShutdown.h"
#include "list/AppTitle.h"
#include "list/DownloadFolder.h"
#include "list/DownloadList.h"
#include "list/StatusBar.h"
#include "transfer/TDownloadFile.h"

#include <HosterSim.h>
#include <httplib.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>

namespace torvaline::test {

// The whole program minus its window: the real browser, the real transfers and the emulator
// over sockets on 127.0.0.1, wired by the same core object as the main window. Only the clock
// and the timers are doubles, so a wait of minutes passes in as many ticks.
class CycleRig {
public:
    CycleRig() {
        sim.start();
        std::random_device seed;
        dir = std::filesystem::temp_directory_path() /
              ("torvaline-cycle-" + std::to_string(seed()) + std::to_string(seed()));
        std::filesystem::create_directories(dir);
        folder.setText(dir.string());
    }
    ~CycleRig() {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }

    int addRow(const std::string& host, const std::string& url) {
        const int row = list.rowCount();
        list.setRowCount(row + 1);
        list.setCell(row, DownloadList::Host, host);
        list.setCell(row, DownloadList::URL, url);
        list.setCell(row, DownloadList::Status, "Waiting...");
        return row;
    }
    void deleteRow(int row) {
        for (int r = row; r + 1 < list.rowCount(); ++r)
            list.setRow(r, list.row(r + 1));
        list.setRowCount(list.rowCount() - 1);
    }

    // One second of the clock; every enabled timer ticks once.
    void second() {
        clock.advanceSeconds(1);
        ++ticks;
        for (ManualTimer* t : {&timer1, &timer2, &elpsTimer, &estTimer, &noticeTimer})
            t->tick();
    }

    // Runs events, network and timers until done() holds or the cycle comes to rest (nothing
    // queued, nothing in flight, no timer armed). Returns done().
    bool run(const std::function<bool()>& done,
             std::chrono::seconds limit = std::chrono::seconds(60)) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            if (loop.pumpFor(std::chrono::milliseconds(0)))
                continue;
            // Both stay busy until their last hand-off has run here, so with neither busy and
            // nothing queued no event can be on its way.
            if (browser.busy() || component.busy()) {
                loop.pumpFor(std::chrono::milliseconds(2));
                continue;
            }
            if (timer1.enabled() || timer2.enabled() || noticeTimer.enabled()) {
                second();
                continue;
            }
            return done();
        }
        return true;
    }
    bool listDone() {
        // The last row the cycle closed may be a set-aside row anywhere in the list.
        return component.Tag == 1 && !component.busy() && core.state().SetAside.empty() &&
               !core.state().OnSetAside;
    }

    hostersim::HosterSim sim;
    std::filesystem::path dir;
    std::shared_ptr<CurlShare> share = std::make_shared<CurlShare>();
    QueuedEventLoop loop;
    FakeClock clock;
    ManualTimer timer1, timer2, elpsTimer, estTimer, stbarTimer, noticeTimer;
    DownloadList list;
    StatusBar bar;
    AppTitle title;
    DownloadFolder folder{"", '/'};
    HttpBrowser browser{loop, *share};
    std::shared_ptr<CurlTransfer> facility = std::make_shared<CurlTransfer>(share);
    TDownloadFile component{loop, facility};
    RecordingShutdownService shutdownService;
    RecordingShutdownNotice notice;
    TorvalineCore core{{list, bar, title, folder, browser, loop, clock, timer1, timer2, elpsTimer,
                        estTimer, stbarTimer, noticeTimer, component, shutdownService, notice}};
    int ticks = 0;
};

} // namespace torvaline::test
