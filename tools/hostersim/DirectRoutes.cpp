#include "DirectRoutes.h"

#include "FileRoutes.h"

#include <httplib.h>

#include <string>

namespace hostersim {

void addDirectRoutes(httplib::Server& server) {
    server.Get(R"(/attach/(.+))", [](const httplib::Request& req, httplib::Response& res) {
        std::size_t size = 0;
        try {
            size = req.has_param("size") ? std::stoul(req.get_param_value("size")) : 0;
        } catch (const std::exception&) {
            res.status = 400;
            return;
        }
        // Bounded: a test file, not a disk filler.
        size = std::min<std::size_t>(size, 64u << 20);
        std::string body(size, '\0');
        fillContent(0, body.data(), body.size());
        if (req.has_param("cd"))
            res.set_header("Content-Disposition", req.get_param_value("cd"));
        res.set_content(std::move(body), "application/octet-stream");
    });
    server.Get("/redirect", [](const httplib::Request& req, httplib::Response& res) {
        const std::string to = req.get_param_value("to");
        // Only to a path of this server: the emulator must not send a client anywhere else.
        if (to.empty() || to.front() != '/') {
            res.status = 400;
            return;
        }
        res.set_redirect(to, 302);
    });
}

} // namespace hostersim
