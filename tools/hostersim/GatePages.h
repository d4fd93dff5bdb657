#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace httplib {
class Server;
}

namespace hostersim {

// A third page shape, for profiles written by users: a "Slow download" button found by its
// id, then "Your link is ready in <b>N</b> seconds" and an anchor to the file.
//
//   GET  /gate/<scenario>/<name>?size=N&c=SECONDS&wait=MINUTES
//   POST /gate/<scenario>/<name>?...   the button; answers with the countdown page
//   GET  /gate-dl/<token>/<name>        redirects to the file
//
// Scenarios: ok; dead ("This link is dead." on the first page); later ("Too many downloads.
// Come back in N min." on the first press).
class GateSite final {
public:
    using Origin = std::function<std::string(const std::string& hostHeader)>;
    GateSite(httplib::Server& server, Origin origin);

    static std::string link(const std::string& base, const std::string& scenario,
                            const std::string& name, std::uint64_t size, int countdown,
                            const std::string& extraQuery = {});

private:
    Origin m_origin;
    std::mutex m_mutex;
    std::map<std::string, int> m_presses;
    std::map<std::string, std::string> m_files; // token -> file target
};

} // namespace hostersim
