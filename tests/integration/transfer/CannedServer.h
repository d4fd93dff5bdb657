#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>

namespace torvaline::test {

// Answers every request on an ephemeral 127.0.0.1 port with the same bytes, then closes the
// connection: for answers no well-behaved server library would send (two Content-Length
// headers, a length that is no number).
class CannedServer final {
public:
    explicit CannedServer(std::string answer)
        : m_answer(std::move(answer)) {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::listen(m_fd, 8) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            throw std::runtime_error("no port for the canned server");
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~CannedServer() {
        m_stop.store(true);
        m_thread.join();
        ::close(m_fd);
    }
    CannedServer(const CannedServer&) = delete;
    CannedServer& operator=(const CannedServer&) = delete;

    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(m_port) + path;
    }

private:
    void serve() {
        while (!m_stop.load()) {
            pollfd listening{m_fd, POLLIN, 0};
            if (::poll(&listening, 1, 50) <= 0)
                continue;
            const int client = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            // The request's head, read until its blank line (or a second at most).
            std::string request;
            for (int waits = 0; waits < 20 && request.find("\r\n\r\n") == std::string::npos;) {
                pollfd in{client, POLLIN, 0};
                if (::poll(&in, 1, 50) <= 0) {
                    ++waits;
                    continue;
                }
                char buffer[4096];
                const ssize_t n = ::read(client, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                request.append(buffer, static_cast<std::size_t>(n));
            }
            for (std::size_t sent = 0; sent < m_answer.size();) {
                const ssize_t n =
                    ::send(client, m_answer.data() + sent, m_answer.size() - sent, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += static_cast<std::size_t>(n);
            }
            ::shutdown(client, SHUT_WR);
            ::close(client);
        }
    }

    std::string m_answer;
    int m_fd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace torvaline::test
