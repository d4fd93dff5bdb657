#include "HosterSim.h"

#include "DirectRoutes.h"
#include "FileRoutes.h"
#include "GatePages.h"
#include "HosterPages.h"
#include "QueryText.h"
#include "RequestParams.h"
#include "XfsPages.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <stdexcept>

namespace hostersim {

namespace {

std::string queryOf(const httplib::Request& req) {
    const std::size_t q = req.target.find('?');
    return q == std::string::npos ? std::string() : req.target.substr(q + 1);
}

std::map<std::string, std::string> parseCookies(const std::string& header) {
    std::map<std::string, std::string> cookies;
    std::size_t pos = 0;
    while (pos < header.size()) {
        std::size_t end = header.find(';', pos);
        if (end == std::string::npos)
            end = header.size();
        std::string item = header.substr(pos, end - pos);
        pos = end + 1;
        const std::size_t first = item.find_first_not_of(' ');
        if (first == std::string::npos)
            continue;
        item = item.substr(first);
        const std::size_t eq = item.find('=');
        if (eq == std::string::npos)
            cookies[item] = "";
        else
            cookies[item.substr(0, eq)] = item.substr(eq + 1);
    }
    return cookies;
}

std::vector<std::pair<std::string, std::string>> bodyFields(const httplib::Request& req) {
    std::vector<std::pair<std::string, std::string>> fields;
    if (req.get_header_value("Content-Type").rfind("application/x-www-form-urlencoded", 0) == 0) {
        fields = formFields(req.body);
    }
    for (const auto& [name, part] : req.files)
        fields.emplace_back(name, part.filename.empty() ? part.content : part.filename);
    return fields;
}

// The address the client used to reach us, so that absolute links work for "localhost" too.
std::string origin(const httplib::Request& req, const std::string& address, int port) {
    std::string host = req.get_header_value("Host");
    const bool safe = !host.empty() && host.size() < 64 &&
                      host.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                             "0123456789.-:[]") == std::string::npos;
    if (!safe)
        host = address + ":" + std::to_string(port);
    return "http://" + host;
}

// File fault options of a page link that the download link passes on.
std::string fileOptions(const httplib::Request& req) {
    std::string extra;
    for (const char* key : {"rate", "status", "cut", "cutonce", "retry", "stall", "announce",
                            "page", "ranges", "ifrange", "changes", "length"}) {
        if (req.has_param(key))
            extra += std::string("&") + key + "=" + encodeQueryValue(req.get_param_value(key));
    }
    return extra;
}

bool isWaitScenario(const std::string& scenario) {
    return !pages::waitMessage(scenario, 1).empty();
}

bool isKnownScenario(const std::string& scenario) {
    return isWaitScenario(scenario) || scenario == "ok" || scenario == "notfound" ||
           scenario == "illegal" || scenario == "nolink";
}

} // namespace

HosterSim::HosterSim()
    : m_server(std::make_unique<httplib::Server>()) {
    // Short keep-alive so that stop() does not wait on idle client connections.
    m_server->set_keep_alive_timeout(1);
    // A hoster's web server keeps a connection for a hundred requests or more; cpp-httplib's
    // five would close it in the middle of a row.
    m_server->set_keep_alive_max_count(100);
    m_server->set_read_timeout(5);
    // Header and body go out as separate writes; without this every small answer waits for
    // the client's delayed acknowledgement (about 40 ms).
    m_server->set_tcp_nodelay(true);
    addPageRoutes();
    m_xfs = std::make_unique<XfsSite>(
        *m_server,
        [this](const std::string& host) {
            httplib::Request req;
            req.headers.emplace("Host", host);
            return origin(req, m_address, m_port);
        },
        [this](const std::string& name) {
            std::lock_guard lock(m_mutex);
            if (m_storedFolder.empty() || name.find('/') != std::string::npos || name == "." ||
                name == "..")
                return std::string();
            return m_storedFolder + "/" + name;
        });
    m_gate = std::make_unique<GateSite>(*m_server, [this](const std::string& host) {
        httplib::Request req;
        req.headers.emplace("Host", host);
        return origin(req, m_address, m_port);
    });
    addFileRoutes(*m_server);
    onFileServed(*m_server, [this](const std::string& name) { m_xfs->fileServed(name); });
    addDirectRoutes(*m_server);
    watchConnections();
    // Recorded before the answer goes out, so a client that has its answer finds it logged.
    m_server->set_post_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        RequestRecord record;
        record.method = req.method;
        record.path = req.path;
        record.query = queryOf(req);
        record.fields = bodyFields(req);
        record.cookies = parseCookies(req.get_header_value("Cookie"));
        record.headers.insert(req.headers.begin(), req.headers.end());
        record.status = res.status;
        std::lock_guard lock(m_mutex);
        m_requests.push_back(std::move(record));
    });
}

HosterSim::~HosterSim() {
    stop();
}

int HosterSim::start(int port, const std::string& address) {
    if (m_thread.joinable())
        return m_port;
    m_address = address;
    if (port == 0) {
        m_port = m_server->bind_to_any_port(address);
    } else {
        m_port = m_server->bind_to_port(address, port) ? port : -1;
    }
    if (m_port <= 0)
        throw std::runtime_error("hoster emulator: cannot listen on " + address + ":" +
                                 std::to_string(port));
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    // stop() is ignored until the server runs, so wait for that (briefly) before returning.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!m_server->is_running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return m_port;
}

void HosterSim::stop() {
    if (!m_thread.joinable())
        return;
    m_stopping = true;
    releaseFileRoutes(*m_server);
    m_server->stop();
    m_thread.join();
}

std::string HosterSim::baseUrl() const {
    return "http://" + m_address + ":" + std::to_string(m_port);
}

std::string HosterSim::rapidshareLink(const std::string& scenario, const std::string& name,
                                      std::uint64_t size, int countdown,
                                      const std::string& extraQuery) const {
    std::string link = baseUrl() + "/rapidshare/" + pages::pathEscape(scenario) + "/" +
                       pages::pathEscape(name) + "?size=" + std::to_string(size) +
                       "&c=" + std::to_string(countdown);
    if (!extraQuery.empty())
        link += "&" + extraQuery;
    return link;
}

std::string HosterSim::fourSharedLink(const std::string& name, std::uint64_t size,
                                      int countdown) const {
    return baseUrl() + "/4shared/" + pages::pathEscape(name) + "?size=" + std::to_string(size) +
           "&c=" + std::to_string(countdown);
}

std::string HosterSim::xfsLink(const std::string& scenario, const std::string& name,
                               std::uint64_t size, int countdown,
                               const std::string& extraQuery) const {
    return XfsSite::link(baseUrl(), scenario, name, size, countdown, extraQuery);
}

std::string HosterSim::gateLink(const std::string& scenario, const std::string& name,
                                std::uint64_t size, int countdown,
                                const std::string& extraQuery) const {
    return GateSite::link(baseUrl(), scenario, name, size, countdown, extraQuery);
}

std::vector<RequestRecord> HosterSim::requests() const {
    std::lock_guard lock(m_mutex);
    return m_requests;
}

void HosterSim::clearRequests() {
    std::lock_guard lock(m_mutex);
    m_requests.clear();
}

void HosterSim::watchConnections() {
    m_server->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
        {
            std::lock_guard lock(m_mutex);
            m_clientPorts.insert(req.remote_port);
        }
        // The server decides on compression from the request's Accept-Encoding after the
        // handler has run; the request is its own non-const object, so dropping the header
        // here is the one switch it has.
        if (!m_compression)
            const_cast<httplib::Request&>(req).headers.erase("Accept-Encoding");
        return httplib::Server::HandlerResponse::Unhandled;
    });
}

std::size_t HosterSim::connections() const {
    std::lock_guard lock(m_mutex);
    return m_clientPorts.size();
}

int HosterSim::presses(const std::string& scenario, const std::string& name) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_presses.find(scenario + "/" + name);
    return it == m_presses.end() ? 0 : it->second;
}

void HosterSim::serveFolder(std::string folder) {
    std::lock_guard lock(m_mutex);
    m_storedFolder = std::move(folder);
}

std::string HosterSim::storedLink(const std::string& name, const std::string& password,
                                  const std::string& extraQuery) const {
    std::string extra = "stored=1";
    if (!extraQuery.empty())
        extra += "&" + extraQuery;
    if (!password.empty())
        extra += "&password=" + pages::pathEscape(password);
    return rapidshareLink("ok", name, 1024, 1, extra);
}

std::string HosterSim::xfsStoredLink(const std::string& name, const std::string& password,
                                     const std::string& extraQuery) const {
    std::string extra = "stored=1";
    if (!extraQuery.empty())
        extra += "&" + extraQuery;
    if (!password.empty())
        extra += "&password=" + encodeQueryValue(password);
    return xfsLink("ok", name, 1024, 1, extra);
}

int HosterSim::pressOnce(const std::string& key) {
    std::lock_guard lock(m_mutex);
    return ++m_presses[key];
}

std::string HosterSim::directLink(const httplib::Request& req, const std::string& name,
                                  std::string fileTarget) {
    std::string token;
    {
        std::lock_guard lock(m_mutex);
        token = std::to_string(m_directLinks.size() + 1);
        m_directLinks[token] = std::move(fileTarget);
    }
    return origin(req, m_address, m_port) + "/dl/" + token + "/" + pages::pathEscape(name);
}

void HosterSim::addPageRoutes() {
    httplib::Server& s = *m_server;

    const auto direct = [this](const httplib::Request& req, httplib::Response& res) {
        std::string target;
        {
            std::lock_guard lock(m_mutex);
            const auto it = m_directLinks.find(req.matches[1]);
            if (it != m_directLinks.end())
                target = it->second;
        }
        if (target.empty()) {
            res.status = 404;
            res.set_content(pages::messagePage("Download", "Unknown file."), kHtml);
            return;
        }
        res.status = 302;
        res.set_header("Location", origin(req, m_address, m_port) + target);
    };
    s.Get(R"(/dl/(\d+)/([^/]+))", direct);
    s.Post(R"(/dl/(\d+)/([^/]+))", direct);

    s.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(pages::messagePage("Hoster emulator", "Paste a link to start."), kHtml);
    });

    s.Get(R"(/rapidshare/([^/]+)/([^/]+))",
          [](const httplib::Request& req, httplib::Response& res) {
              const std::string scenario = req.matches[1];
              const std::string name = req.matches[2];
              const std::uint64_t size = numberParam(req, "size", 1024, 1ull << 40);
              if (!isKnownScenario(scenario)) {
                  res.status = 404;
                  res.set_content(pages::messagePage(name, "Unknown scenario."), kHtml);
                  return;
              }
              std::string message;
              if (scenario == "notfound")
                  message = pages::kNotFound;
              else if (scenario == "illegal")
                  message = pages::kIllegal;
              // Relative on purpose: the browser must resolve it against the page's address.
              std::string action = pages::pathEscape(name);
              if (const std::string query = queryOf(req); !query.empty())
                  action += "?" + query;
              res.set_content(pages::firstPage(name, size, action, message), kHtml);
          });

    s.Post(R"(/rapidshare/([^/]+)/([^/]+))", [this](const httplib::Request& req,
                                                    httplib::Response& res) {
        const std::string scenario = req.matches[1];
        const std::string name = req.matches[2];
        const auto fields = bodyFields(req);
        auto has = [&](const char* key, const char* value) {
            return std::any_of(fields.begin(), fields.end(), [&](const auto& f) {
                return f.first == key && (value == nullptr || f.second == value);
            });
        };
        if (!isKnownScenario(scenario) || scenario == "notfound" || scenario == "illegal") {
            res.status = 404;
            res.set_content(pages::messagePage(name, "Unknown file."), kHtml);
            return;
        }
        if (has("premium", nullptr) || !has("free", "Free user")) {
            res.set_content(pages::messagePage(name, "Premium accounts are not emulated here."),
                            kHtml);
            return;
        }
        std::uint64_t session = 0;
        {
            std::lock_guard lock(m_mutex);
            session = ++m_sessions;
        }
        res.set_header("Set-Cookie", "sid=s" + std::to_string(session) + "; Path=/");

        const int press = pressOnce(scenario + "/" + name);
        const auto visits = static_cast<int>(numberParam(req, "k", 1, 1000));
        if (isWaitScenario(scenario) && press <= visits) {
            const auto minutes = static_cast<int>(numberParam(req, "wait", 1, 100000));
            res.set_content(pages::messagePage(name, pages::waitMessage(scenario, minutes)), kHtml);
            return;
        }
        const auto countdown = static_cast<int>(numberParam(req, "c", 3, 999));
        const std::uint64_t size = numberParam(req, "size", 1024, 1ull << 40);
        std::string fileUrl;
        if (scenario != "nolink" && req.has_param("stored"))
            fileUrl = directLink(req, name,
                                 "/stored/" + pages::pathEscape(name) + "?cookie=sid" +
                                     (req.has_param("corrupt")
                                          ? "&corrupt=" + req.get_param_value("corrupt")
                                          : std::string()));
        else if (scenario != "nolink")
            fileUrl =
                directLink(req, name,
                           "/file/" + pages::pathEscape(name) + "?size=" + std::to_string(size) +
                               "&cookie=sid" + fileOptions(req));
        std::string page = pages::countdownPage(name, countdown, fileUrl);
        if (req.has_param("password")) {
            const std::size_t end = page.rfind("</body>");
            page.insert(end == std::string::npos ? page.size() : end,
                        "<p>Password: " + pages::htmlEscape(req.get_param_value("password")) +
                            "</p>\n");
        }
        res.set_content(page, kHtml);
    });

    const auto stored = [this](const httplib::Request& req, httplib::Response& res) {
        const std::string name = req.matches[1];
        std::string folder;
        bool corrupt = req.get_param_value("corrupt") == "always";
        {
            std::lock_guard lock(m_mutex);
            folder = m_storedFolder;
            if (req.get_param_value("corrupt") == "once")
                corrupt = ++m_presses["stored/" + name] == 1;
        }
        if (req.get_param_value("cookie") == "sid" &&
            parseCookies(req.get_header_value("Cookie")).count("sid") == 0) {
            res.status = 403;
            res.set_content("no session", "text/plain");
            return;
        }
        auto file = std::make_shared<std::ifstream>();
        if (!folder.empty() && name.find('/') == std::string::npos && name != "." && name != "..")
            file->open(folder + "/" + name, std::ios::binary);
        if (!*file || !file->is_open()) {
            res.status = 404;
            res.set_content(pages::messagePage("Download", "Unknown file."), kHtml);
            return;
        }
        file->seekg(0, std::ios::end);
        const auto size = static_cast<std::size_t>(file->tellg());
        file->seekg(0);
        res.set_header("Content-Disposition", "attachment; filename=\"" + name + "\"");
        res.set_content_provider(
            size, "application/octet-stream",
            [file, corrupt, middle = size / 2](std::size_t offset, std::size_t length,
                                               httplib::DataSink& sink) {
                char buffer[65536];
                file->seekg(static_cast<std::streamoff>(offset));
                file->read(buffer, static_cast<std::streamsize>(std::min(length, sizeof buffer)));
                const auto got = static_cast<std::size_t>(file->gcount());
                // A byte gone wrong on the way, as checksum files catch.
                if (corrupt && middle >= offset && middle < offset + got)
                    buffer[middle - offset] ^= 0x5a;
                return got > 0 && sink.write(buffer, got);
            });
    };
    s.Get(R"(/stored/([^/]+))", stored);
    s.Post(R"(/stored/([^/]+))", stored);

    s.Get(R"(/4shared/([^/]+))", [this](const httplib::Request& req, httplib::Response& res) {
        const std::string name = req.matches[1];
        const auto countdown = static_cast<int>(numberParam(req, "c", 3, 999));
        const std::uint64_t size = numberParam(req, "size", 1024, 1ull << 40);
        const std::string fileUrl =
            directLink(req, name,
                       "/file/" + pages::pathEscape(name) + "?size=" + std::to_string(size) +
                           fileOptions(req));
        res.set_content(pages::fourSharedPage(name, countdown, fileUrl), kHtml);
    });

    s.Get("/redirect", [](const httplib::Request& req, httplib::Response& res) {
        const auto status = static_cast<int>(numberParam(req, "status", 302, 399));
        res.status = status >= 300 ? status : 302;
        res.set_header("Location", req.get_param_value("to"));
    });

    s.Get("/page/big", [](const httplib::Request& req, httplib::Response& res) {
        const std::uint64_t size = numberParam(req, "size", 1024, 256ull << 20);
        std::string page = "<html><body><p>";
        const std::string tail = "</p></body></html>";
        if (size > page.size() + tail.size())
            page.append(size - page.size() - tail.size(), 'x');
        res.set_content(page + tail, kHtml);
    });

    // The heaviest pages within the browser's size cap.
    s.Get("/page/nested", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(pages::nestedPage(numberParam(req, "depth", 100, 100000),
                                          numberParam(req, "size", 4096, 16u << 20)),
                        kHtml);
    });
    s.Get("/page/tableforms", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(pages::tableFormsPage(numberParam(req, "size", 4096, 16u << 20)), kHtml);
    });
    s.Get("/page/radios", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(pages::radiosPage(numberParam(req, "size", 4096, 16u << 20)), kHtml);
    });

    s.Get("/page/slow", [this](const httplib::Request& req, httplib::Response& res) {
        const auto ms = numberParam(req, "ms", 1000, 20000);
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < until && !m_stopping)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        res.set_content(pages::messagePage("slow", "Finally here."), kHtml);
    });
}

std::uint64_t numberParam(const httplib::Request& req, const char* key, std::uint64_t fallback,
                          std::uint64_t max) {
    if (!req.has_param(key))
        return fallback;
    try {
        const unsigned long long v = std::stoull(req.get_param_value(key));
        return std::min<std::uint64_t>(v, max);
    } catch (const std::exception&) {
        return fallback;
    }
}

} // namespace hostersim
