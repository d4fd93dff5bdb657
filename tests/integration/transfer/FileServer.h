#pragma once

#include "FileRoutes.h"
#include "doubles/TempDir.h"

#include <httplib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <thread>

namespace torvaline::test {

// The emulator's file routes on an ephemeral 127.0.0.1 port, plus /go?to=URL redirects.
class FileServer final {
public:
    FileServer() {
        hostersim::addFileRoutes(m_server);
        m_server.Get("/go", [](const httplib::Request& req, httplib::Response& res) {
            res.set_redirect(req.get_param_value("to"));
        });
        m_server.set_keep_alive_timeout(1);
        m_port = m_server.bind_to_any_port("127.0.0.1");
        if (m_port <= 0)
            throw std::runtime_error("no port for the file server");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running())
            std::this_thread::yield();
    }
    ~FileServer() {
        hostersim::releaseFileRoutes(m_server);
        m_server.stop();
        m_thread.join();
    }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(m_port) + path;
    }
    int port() const { return m_port; }
    httplib::Server& server() { return m_server; }

private:
    httplib::Server m_server;
    std::thread m_thread;
    int m_port = 0;
};

// A fresh directory under the system's temp folder, removed with everything in it.

} // namespace torvaline::test
