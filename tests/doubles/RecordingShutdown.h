#pragma once

#include "platform/ShutdownNotice.h"
#include "platform/ShutdownService.h"

#include <functional>
#include <utility>
#include <vector>

namespace torvaline::test {

// Stands in for the operating system: records every request, switches nothing off.
class RecordingShutdownService final : public ShutdownService {
public:
    void enableShutdownPrivilege() override { ++privilegeSteps; }
    void requestExit(ExitRequest request, bool force) override {
        requests.emplace_back(request, force);
    }

    int privilegeSteps = 0;
    std::vector<std::pair<ExitRequest, bool>> requests;
};

class RecordingShutdownNotice final : public ShutdownNotice {
public:
    void show(int secondsLeft, std::function<void()> onCancel) override {
        shown.push_back(secondsLeft);
        visible = true;
        m_onCancel = std::move(onCancel);
    }
    void close() override {
        visible = false;
        ++closes;
    }
    void cancel() {
        if (visible && m_onCancel)
            m_onCancel();
    }

    std::vector<int> shown;
    bool visible = false;
    int closes = 0;

private:
    std::function<void()> m_onCancel;
};

} // namespace torvaline::test
