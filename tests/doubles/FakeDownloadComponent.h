#pragma once

#include "transfer/DownloadComponent.h"

#include <string>
#include <vector>

namespace torvaline::test {

// A download component that transfers nothing: Start records the job and the test decides
// when the start and finish events come. Misuse is refused as the real one refuses it.
class FakeDownloadComponent final : public DownloadComponent {
public:
    struct Job {
        std::string url;
        std::string fileName;
        RequestOptions request;
    };

    void Start() override {
        if (busy || UrlToDownload.empty() || FileName.empty()) {
            ++refusedStarts;
            return;
        }
        busy = true;
        cancelRequested = false;
        pauseRequested = false;
        jobs.push_back({UrlToDownload, FileName, Request});
    }
    void Stop() override {
        if (busy)
            cancelRequested = true;
        else
            ++refusedStops;
    }

    void Pause() override {
        if (busy)
            pauseRequested = true;
        Stop();
    }

    void DiscardPartial(const PartialFile& partial) override { discarded.push_back(partial.path); }

    bool busy = false;
    bool cancelRequested = false;
    bool pauseRequested = false;
    std::vector<std::string> discarded;
    std::vector<Job> jobs;
    int refusedStarts = 0;
    int refusedStops = 0;
};

} // namespace torvaline::test
