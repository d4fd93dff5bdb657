#pragma once

#include "pages/HosterProfile.h"
#include "platform/LinkProbe.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace torvaline::test {

// A link probe that answers from a script, on whatever worker calls it. While `held`, each
// fetch waits until the test lets it go (or 10 s pass), so the test sees how many run at once:
// in all and per host.
class ScriptedProbe final : public LinkProbe {
public:
    LinkAnswer fetch(const std::string& link, const std::atomic<bool>& abort) override {
        std::unique_lock lock(m_mutex);
        const std::string host = LinkHost(link);
        ++m_running;
        ++m_perHost[host];
        m_maxRunning = std::max(m_maxRunning, m_running);
        m_maxPerHost = std::max(m_maxPerHost, m_perHost[host]);
        m_fetched.push_back(link);
        m_changed.notify_all();
        const int ticket = m_nextTicket++;
        m_waiting.insert(ticket);
        m_changed.wait_for(lock, std::chrono::seconds(10),
                           [&] { return !held || m_go.contains(ticket) || abort.load(); });
        m_waiting.erase(ticket);
        m_go.erase(ticket);
        --m_running;
        --m_perHost[host];
        const auto it = m_answers.find(link);
        if (it != m_answers.end())
            return it->second;
        LinkAnswer refused;
        refused.url = link;
        refused.error = "Connection refused";
        return refused;
    }

    void answer(const std::string& link, LinkAnswer answer) {
        const std::lock_guard lock(m_mutex);
        answer.url = answer.url.empty() ? link : answer.url;
        m_answers[link] = std::move(answer);
    }
    void page(const std::string& link, const std::string& html, long status = 200) {
        LinkAnswer a;
        a.body = html;
        a.status = status;
        answer(link, a);
    }
    // Lets the `count` held fetches that came first go (not those that come later).
    void release(int count = 1) {
        const std::lock_guard lock(m_mutex);
        for (auto it = m_waiting.begin(); it != m_waiting.end() && count > 0; ++it)
            if (m_go.insert(*it).second)
                --count;
        m_changed.notify_all();
    }
    void releaseAll() {
        const std::lock_guard lock(m_mutex);
        held = false;
        m_changed.notify_all();
    }
    // Waits until `count` fetches are running at once.
    bool waitRunning(int count, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_running >= count; });
    }
    int running() const {
        const std::lock_guard lock(m_mutex);
        return m_running;
    }
    int maxRunning() const {
        const std::lock_guard lock(m_mutex);
        return m_maxRunning;
    }
    int maxPerHost() const {
        const std::lock_guard lock(m_mutex);
        return m_maxPerHost;
    }
    std::vector<std::string> fetched() const {
        const std::lock_guard lock(m_mutex);
        return m_fetched;
    }

    bool held = false; // set before the first fetch

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::string, LinkAnswer> m_answers;
    std::map<std::string, int> m_perHost;
    std::vector<std::string> m_fetched;
    int m_running = 0;
    int m_maxRunning = 0;
    int m_maxPerHost = 0;
    int m_nextTicket = 0;
    std::set<int> m_waiting;
    std::set<int> m_go;
};

} // namespace torvaline::test
