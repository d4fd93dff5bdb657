#include "GatePages.h"

#include "HosterPages.h"
#include "QueryText.h"
#include "RequestParams.h"

#include <httplib.h>

#include <algorithm>

namespace hostersim {

namespace {

std::string page(const std::string& name, const std::string& body) {
    return "<!DOCTYPE html>\n<html><head><title>" + pages::htmlEscape(name) +
           " | Gate</title></head>\n<body>\n<h1>" + pages::htmlEscape(name) + "</h1>\n" + body +
           "<p><a href=\"/help\">Help</a> <a href=\"/gate-premium\">Go premium</a></p>\n"
           "</body></html>\n";
}

std::string query(const httplib::Request& req) {
    const std::size_t q = req.target.find('?');
    return q == std::string::npos ? std::string() : req.target.substr(q);
}

} // namespace

GateSite::GateSite(httplib::Server& s, Origin origin)
    : m_origin(std::move(origin)) {
    s.Get(R"(/gate/([a-z]+)/([^/]+))", [](const httplib::Request& req, httplib::Response& res) {
        const std::string scenario = req.matches[1];
        const std::string name = req.matches[2];
        if (scenario == "dead") {
            res.set_content(page(name, "<p class=\"gone\">This link is dead.</p>\n"), kHtml);
            return;
        }
        const std::string action = "/gate/" + scenario + "/" + pages::pathEscape(name) + query(req);
        res.set_content(
            page(name, "<p>Size: " + std::to_string(numberParam(req, "size", 1024, 1ull << 40)) +
                           " bytes</p>\n<form id=\"gate\" method=\"post\" action=\"" +
                           pages::htmlEscape(action) +
                           "\">\n<input type=\"hidden\" name=\"step\" value=\"1\">\n"
                           "<button type=\"submit\" id=\"slow\" name=\"speed\" value=\"slow\">"
                           "Slow download</button>\n"
                           "<button type=\"submit\" id=\"fast\" name=\"speed\" value=\"fast\">"
                           "Fast download</button>\n</form>\n"),
            kHtml);
    });
    s.Post(R"(/gate/([a-z]+)/([^/]+))", [this](const httplib::Request& req,
                                               httplib::Response& res) {
        const std::string scenario = req.matches[1];
        const std::string name = req.matches[2];
        const auto fields = formFields(req.body);
        const bool slow = std::any_of(fields.begin(), fields.end(), [](const auto& f) {
            return f.first == "speed" && f.second == "slow";
        });
        if (!slow) {
            res.set_content(page(name, "<p>Fast downloads need an account.</p>\n"), kHtml);
            return;
        }
        std::string token;
        int press = 0;
        {
            std::lock_guard lock(m_mutex);
            press = ++m_presses[scenario + "/" + name];
            token = std::to_string(m_files.size() + 1);
            m_files[token] = "/file/" + pages::pathEscape(name) +
                             "?size=" + std::to_string(numberParam(req, "size", 1024, 1ull << 40));
        }
        if (scenario == "later" && press == 1) {
            res.set_content(page(name, "<p>Too many downloads. Come back in " +
                                           std::to_string(numberParam(req, "wait", 1, 1000)) +
                                           " min.</p>\n"),
                            kHtml);
            return;
        }
        res.set_content(page(name, "<p>Your link is ready in <b>" +
                                       std::to_string(numberParam(req, "c", 3, 999)) +
                                       "</b> seconds.</p>\n<p><a class=\"dl\" href=\"/gate-dl/" +
                                       token + "/" + pages::pathEscape(name) +
                                       "\">Download now</a></p>\n"),
                        kHtml);
    });
    s.Get(R"(/gate-dl/(\d+)/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
        std::string target;
        {
            std::lock_guard lock(m_mutex);
            const auto it = m_files.find(req.matches[1]);
            if (it != m_files.end())
                target = it->second;
        }
        if (target.empty()) {
            res.status = 404;
            res.set_content(page("Gone", "<p>No such file.</p>\n"), kHtml);
            return;
        }
        res.status = 302;
        res.set_header("Location", m_origin(req.get_header_value("Host")) + target);
    });
}

std::string GateSite::link(const std::string& base, const std::string& scenario,
                           const std::string& name, std::uint64_t size, int countdown,
                           const std::string& extraQuery) {
    std::string link = base + "/gate/" + scenario + "/" + pages::pathEscape(name) +
                       "?size=" + std::to_string(size) + "&c=" + std::to_string(countdown);
    if (!extraQuery.empty())
        link += "&" + extraQuery;
    return link;
}

} // namespace hostersim
