#pragma once

#include "platform/TransferFacility.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace torvaline::test {

// A transfer facility that plays a fixed series of notifications. A Hold step blocks the
// worker until the test releases it, so the test can act between two notifications.
class ScriptedTransfer final : public TransferFacility {
public:
    struct Step {
        enum Kind { Start, Progress, Hold, Stop, Throw, Resumed } kind;
        std::uint64_t received = 0;
        std::uint64_t expected = 0;
        TransferResult result{TransferOutcome::Succeeded, ""};
    };
    static Step start() { return {Step::Start}; }
    static Step progress(std::uint64_t r, std::uint64_t e) { return {Step::Progress, r, e}; }
    static Step hold() { return {Step::Hold}; }
    static Step stop(TransferResult result = {TransferOutcome::Succeeded, ""}) {
        return {Step::Stop, 0, 0, std::move(result)};
    }
    static Step fail() { return {Step::Throw}; }
    static Step resumed(std::uint64_t offset) { return {Step::Resumed, offset}; }

    std::vector<Step> script;
    // What transfer() returns when the script runs out.
    TransferResult returned{TransferOutcome::Succeeded, ""};

    using TransferFacility::transfer;
    TransferResult transfer(const std::string& url, const std::string& targetPath,
                            const PartialFile& resume, TransferCallback& callback) override {
        {
            std::lock_guard lock(m_mutex);
            m_calls.push_back({url, targetPath});
            m_resumed.push_back(resume.path);
        }
        for (const Step& step : script) {
            switch (step.kind) {
            case Step::Start:
                callback.onStart();
                break;
            case Step::Progress: {
                const bool goOn = callback.onProgress(step.received, step.expected);
                record(goOn);
                if (!goOn) {
                    TransferResult cancelled{TransferOutcome::Cancelled, "cancelled"};
                    callback.onStop(cancelled);
                    return cancelled;
                }
                break;
            }
            case Step::Hold: {
                std::unique_lock lock(m_mutex);
                m_held = true;
                m_cv.notify_all();
                m_cv.wait(lock, [this] { return m_released; });
                m_released = false;
                m_held = false;
                break;
            }
            case Step::Stop:
                callback.onStop(step.result);
                return step.result;
            case Step::Throw:
                throw std::runtime_error("socket layer exploded");
            case Step::Resumed:
                callback.onResumed(step.received);
                break;
            }
        }
        return returned;
    }

    // Waits (bounded) until a worker sits in a Hold step.
    bool waitHeld() {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::seconds(10), [this] { return m_held; });
    }
    // Waits until a worker sits in a Hold step, then lets it go on.
    bool release() {
        std::unique_lock lock(m_mutex);
        if (!m_cv.wait_for(lock, std::chrono::seconds(10), [this] { return m_held; }))
            return false;
        m_released = true;
        m_cv.notify_all();
        return true;
    }

    std::vector<bool> answers() const {
        std::lock_guard lock(m_mutex);
        return m_answers;
    }
    std::vector<std::pair<std::string, std::string>> calls() const {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }
    // The partial file each call was asked to continue (empty: none).
    std::vector<std::string> resumed() const {
        std::lock_guard lock(m_mutex);
        return m_resumed;
    }
    void discardPartial(const PartialFile& partial) override {
        std::lock_guard lock(m_mutex);
        m_discarded.push_back(partial.path);
    }
    std::vector<std::string> discarded() const {
        std::lock_guard lock(m_mutex);
        return m_discarded;
    }

private:
    void record(bool answer) {
        std::lock_guard lock(m_mutex);
        m_answers.push_back(answer);
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_held = false;
    bool m_released = false;
    std::vector<bool> m_answers;
    std::vector<std::pair<std::string, std::string>> m_calls;
    std::vector<std::string> m_resumed;
    std::vector<std::string> m_discarded;
};

} // namespace torvaline::test
