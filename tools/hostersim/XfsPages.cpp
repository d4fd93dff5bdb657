#include "XfsPages.h"

#include <openssl/evp.h>
#include <zlib.h>

#include "HosterPages.h"
#include "QueryText.h"
#include "RequestParams.h"

#include <httplib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>

namespace hostersim {

namespace {

std::string field(const std::vector<std::pair<std::string, std::string>>& fields, const char* key) {
    for (const auto& [name, value] : fields) {
        if (name == key)
            return value;
    }
    return {};
}

std::string cookie(const httplib::Request& req, const std::string& key) {
    const std::string header = req.get_header_value("Cookie");
    const std::string wanted = key + "=";
    std::size_t pos = 0;
    while (pos < header.size()) {
        std::size_t end = header.find(';', pos);
        if (end == std::string::npos)
            end = header.size();
        std::string item = header.substr(pos, end - pos);
        item.erase(0, item.find_first_not_of(' '));
        if (item.rfind(wanted, 0) == 0)
            return item.substr(wanted.size());
        pos = end + 1;
    }
    return {};
}

std::string page(const std::string& title, const std::string& body) {
    return "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n<title>" +
           pages::htmlEscape(title) + "</title>\n</head>\n<body>\n<div class=\"content\">\n" +
           body + "</div>\n<div class=\"foot\">File sharing emulator</div>\n</body>\n</html>\n";
}

std::string hidden(const char* name, const std::string& value) {
    return "<input type=\"hidden\" name=\"" + std::string(name) + "\" value=\"" +
           pages::htmlEscape(value) + "\">\n";
}

std::string firstPage(const std::string& code, const std::string& name, std::uint64_t size,
                      const std::string& about = {}) {
    return page("Download " + name,
                "<h2>Download File " + pages::htmlEscape(name) +
                    "</h2>\n<p>Size: <span "
                    "class=\"size\">" +
                    std::to_string(size) + " bytes</span></p>\n" + about +
                    "<form method=\"POST\" action=\"\">\n" + hidden("op", "download1") +
                    hidden("usr_login", "") + hidden("id", code) + hidden("fname", name) +
                    hidden("referer", "") +
                    "<input type=\"submit\" name=\"method_free\" value=\"Free Download\">\n"
                    "<input type=\"submit\" name=\"method_premium\" value=\"Premium Download\">\n"
                    "</form>\n");
}

// The family's digit captcha: each digit a span placed by its left padding, written in another
// order than it is read.
std::string digitCaptcha(const std::string& digits) {
    std::string html = "<div style=\"width:80px;height:26px;font:bold 13px Arial;background:#ccc;"
                       "text-align:left;direction:ltr;\">";
    for (std::size_t k = 0; k < digits.size(); ++k) {
        const std::size_t i = (k * 3 + 1) % digits.size(); // a fixed shuffle
        html += "<span style=\"position:absolute;padding-left:" + std::to_string(6 + 18 * i) +
                "px;padding-top:5px;\">&#" + std::to_string(static_cast<int>(digits[i])) +
                ";</span>";
    }
    return html + "</div><input type=\"text\" name=\"code\" class=\"captcha_code\">\n";
}

// An image captcha: the digits drawn into a small grey PNG, the kind of picture a user reads.
std::string captchaPng(const std::string& digits) {
    static const char* const font[10] = {"111101101101111", "010110010010111", "111001111100111",
                                         "111001111001111", "101101111001001", "111100111001111",
                                         "111100111101111", "111001001001001", "111101111101111",
                                         "111101111001111"};
    constexpr int Scale = 6, Pad = 8;
    const int width = Pad * 2 + static_cast<int>(digits.size()) * 4 * Scale;
    const int height = Pad * 2 + 5 * Scale;
    std::string raw;
    for (int y = 0; y < height; ++y) {
        raw += '\0'; // no filter
        for (int x = 0; x < width; ++x) {
            char grey = static_cast<char>(0xd0 + ((x * 7 + y * 3) % 16));
            const int gx = x - Pad, gy = y - Pad;
            if (gx >= 0 && gy >= 0 && gy < 5 * Scale &&
                gx / Scale / 4 < static_cast<int>(digits.size())) {
                const int digit = digits[static_cast<std::size_t>(gx / Scale / 4)] - '0';
                const int col = (gx / Scale) % 4;
                const int row = gy / Scale;
                if (col < 3 && digit >= 0 && digit <= 9 && font[digit][row * 3 + col] == '1')
                    grey = 0x20;
            }
            raw += grey;
        }
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::string packed(packedSize, '\0');
    compress(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
             reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size()));
    packed.resize(packedSize);
    const auto be32 = [](std::uint32_t v) {
        return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                           static_cast<char>(v >> 8), static_cast<char>(v)};
    };
    const auto chunk = [&](const std::string& type, const std::string& data) {
        std::string body = type + data;
        const auto crc = static_cast<std::uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size())));
        return be32(static_cast<std::uint32_t>(data.size())) + body + be32(crc);
    };
    const std::string header = be32(static_cast<std::uint32_t>(width)) +
                               be32(static_cast<std::uint32_t>(height)) +
                               std::string{8, 0, 0, 0, 0}; // 8-bit grey
    return std::string("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IDAT", packed) +
           chunk("IEND", {});
}

std::string imageCaptcha(const std::string& rand) {
    return "<p>Enter the code shown:</p><img src=\"/xfs/captcha/" + rand +
           ".png\" alt=\"captcha\">\n<input type=\"text\" name=\"code\" class=\"captcha_code\">\n";
}

// Themes of the family: where the countdown stands differs (0: <span id="countdown">, 1: <span
// class="seconds">, 2: a script variable); `seconds` empty: no countdown at all.
std::string countdownPage(const std::string& code, const std::string& name, const std::string& rand,
                          const std::string& seconds, bool withForm, int theme,
                          const std::string& captcha, bool image = false,
                          const std::string& notice = {}) {
    std::string body = notice + "<h2>" + pages::htmlEscape(name) + "</h2>\n";
    if (!seconds.empty() && theme == 1)
        body += "<div class=\"wait\">Please wait <span class=\"seconds\">" + seconds +
                "</span> seconds</div>\n";
    else if (!seconds.empty() && theme == 2)
        body += "<script>var countdown = " + seconds + "; tick();</script>\n";
    else if (!seconds.empty())
        body += "<div class=\"wait\">Wait <span id=\"countdown\">" + seconds +
                "</span> seconds</div>\n"
                "<script>var cd = document.getElementById('countdown');</script>\n";
    if (withForm)
        body += "<form name=\"F1\" method=\"POST\" action=\"\">\n" + hidden("op", "download2") +
                hidden("id", code) + hidden("rand", rand) + hidden("fname", name) +
                hidden("referer", "") + hidden("method_free", "Free Download") +
                (captcha.empty() ? std::string()
                 : image         ? imageCaptcha(rand)
                                 : digitCaptcha(captcha)) +
                "<input type=\"submit\" id=\"btn_download\" value=\"Create Download Link\">\n"
                "</form>\n";
    return page(name, body);
}

std::string fileOptions(const httplib::Request& req) {
    std::string extra;
    for (const char* key : {"rate", "status", "cut", "cutonce", "retry", "stall", "announce",
                            "page", "ranges", "ifrange", "changes"}) {
        if (req.has_param(key))
            extra += std::string("&") + key + "=" + encodeQueryValue(req.get_param_value(key));
    }
    return extra;
}

bool known(const std::string& scenario) {
    for (const char* s : {"ok", "notfound", "wait", "limit", "nolink", "badcount"}) {
        if (scenario == s)
            return true;
    }
    return false;
}

// The MD5 of a file in lower-case hexadecimal; empty when it cannot be read.
std::string md5Of(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!in || !md || EVP_DigestInit_ex(md.get(), EVP_md5(), nullptr) != 1)
        return {};
    char block[65536];
    while (in.read(block, sizeof block) || in.gcount() > 0)
        EVP_DigestUpdate(md.get(), block, static_cast<std::size_t>(in.gcount()));
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(md.get(), out, &length);
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += digits[out[i] >> 4];
        hex += digits[out[i] & 0xF];
    }
    return hex;
}

// A file code of 12 letters and digits for a name, always the same one.
std::string codeFor(const std::string& name) {
    std::uint64_t h = 1469598103934665603ull;
    for (const char c : name)
        h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string code;
    for (int i = 0; i < 12; ++i, h /= 36)
        code += digits[h % 36];
    return code;
}

} // namespace

XfsSite::XfsSite(httplib::Server& server, Origin origin, StoredPath stored)
    : m_origin(std::move(origin))
    , m_stored(std::move(stored)) {
    addRoutes(server);
}

std::string XfsSite::link(const std::string& base, const std::string& scenario,
                          const std::string& name, std::uint64_t size, int countdown,
                          const std::string& extraQuery) {
    std::string link = base + "/xfs/" + pages::pathEscape(scenario) + "/" + codeFor(name) + "/" +
                       pages::pathEscape(name) + ".html?size=" + std::to_string(size) +
                       "&c=" + std::to_string(countdown);
    if (!extraQuery.empty())
        link += "&" + extraQuery;
    return link;
}

int XfsSite::early(const std::string& name) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_early.find(name);
    return it == m_early.end() ? 0 : it->second;
}

std::string XfsSite::lastCaptcha() const {
    std::lock_guard lock(m_mutex);
    return m_lastCode;
}

void XfsSite::fileServed(const std::string& name) {
    std::lock_guard lock(m_mutex);
    const auto it = m_holdAfter.find(name);
    if (it == m_holdAfter.end())
        return;
    m_holdUntil =
        std::max(m_holdUntil, std::chrono::steady_clock::now() + std::chrono::seconds(it->second));
    m_holdAfter.erase(it);
}

void XfsSite::addRoutes(httplib::Server& s) {
    // What a person would read off the last picture, for the tests that play that person.
    s.Get("/xfs/lastcaptcha", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(lastCaptcha(), "text/plain");
    });
    // The picture of a session's code; img=text answers a page instead, img=huge 8 MiB.
    s.Get(R"(/xfs/captcha/(r[0-9]+)\.png)",
          [this](const httplib::Request& req, httplib::Response& res) {
              std::string digits;
              {
                  std::lock_guard lock(m_mutex);
                  if (const auto c = m_codes.find(req.matches[1]); c != m_codes.end())
                      digits = c->second;
              }
              const std::string kind = req.has_param("img") ? req.get_param_value("img") : "";
              if (digits.empty()) {
                  res.status = 404;
                  return;
              }
              if (kind == "text")
                  res.set_content("<html>not a picture</html>", kHtml);
              else if (kind == "huge")
                  res.set_content(std::string(8u << 20, 'x'), "image/png");
              else
                  res.set_content(captchaPng(digits), "image/png");
          });
    const char* route = R"(/xfs/([^/]+)/([0-9a-z]{12})/([^/]+)\.html)";
    s.Get(route, [this](const httplib::Request& req, httplib::Response& res) {
        const std::string scenario = req.matches[1];
        const std::string code = req.matches[2];
        const std::string name = req.matches[3];
        if (!known(scenario)) {
            res.status = 404;
            res.set_content(page("Error", "<p>Unknown scenario.</p>\n"), kHtml);
            return;
        }
        if (scenario == "notfound") {
            res.set_content(page("File Not Found",
                                 "<h2>File Not Found</h2>\n<p>The file you were looking for "
                                 "could not be found, sorry for any inconvenience.</p>\n"),
                            kHtml);
            return;
        }
        std::uint64_t size = numberParam(req, "size", 1024, 1ull << 40);
        const std::string stored = req.has_param("stored") && m_stored ? m_stored(name) : "";
        std::error_code error;
        if (const auto bytes = std::filesystem::file_size(stored, error); !stored.empty() && !error)
            size = bytes;
        // What the hosters of split archives tell of the file: its password and its MD5.
        std::string about;
        if (req.has_param("password"))
            about += "<p>Password: <b>" + pages::htmlEscape(req.get_param_value("password")) +
                     "</b></p>\n";
        if (req.has_param("md5")) {
            const std::string md5 =
                req.get_param_value("md5") == "1" ? md5Of(stored) : req.get_param_value("md5");
            about += "<p>MD5: <b>" + pages::htmlEscape(md5) + "</b></p>\n";
        }
        res.set_content(firstPage(code, name, size, about), kHtml);
    });

    s.Post(route, [this](const httplib::Request& req, httplib::Response& res) {
        const std::string scenario = req.matches[1];
        const std::string code = req.matches[2];
        const std::string name = req.matches[3];
        const auto fields = formFields(req.body);
        const std::string op = field(fields, "op");
        if (!known(scenario) || scenario == "notfound" || field(fields, "id") != code) {
            res.status = 404;
            res.set_content(page("File Not Found", "<h2>File Not Found</h2>\n"), kHtml);
            return;
        }
        const auto countdown = static_cast<int>(numberParam(req, "c", 3, 999));
        if (op == "download1") {
            if (field(fields, "method_free").empty()) {
                res.set_content(page(name, "<p>Premium accounts are not emulated here.</p>\n"),
                                kHtml);
                return;
            }
            int press = 0;
            std::string rand;
            const auto theme = static_cast<int>(numberParam(req, "theme", 0, 2));
            const bool counted = numberParam(req, "nocount", 0, 1) == 0;
            std::string captcha;
            std::int64_t held = 0;
            {
                std::lock_guard lock(m_mutex);
                // In time when a client's wait ends within the last second of the hold, as
                // for the countdown below.
                const auto now = std::chrono::steady_clock::now();
                if (now + std::chrono::seconds(1) < m_holdUntil)
                    held = std::chrono::ceil<std::chrono::seconds>(m_holdUntil - now).count();
            }
            if (held > 0) {
                const std::string message =
                    "You have to wait " + std::to_string(held) + " seconds till next download";
                res.set_content(page(name, "<div class=\"err\">" + message + "</div>\n" +
                                               firstPage(code, name, 0)),
                                kHtml);
                return;
            }
            {
                std::lock_guard lock(m_mutex);
                press = ++m_presses[scenario + "/" + name];
                rand = "r" + std::to_string(++m_sessions);
                m_ready[rand] = std::chrono::steady_clock::now() +
                                std::chrono::seconds(counted ? countdown : 0);
                if (numberParam(req, "captcha", 0, 2) >= 1) {
                    captcha = std::to_string(1000 + (m_sessions * 7919) % 9000);
                    m_codes[rand] = captcha;
                    m_lastCode = captcha;
                }
            }
            const auto visits = static_cast<int>(numberParam(req, "k", 1, 1000));
            if ((scenario == "wait" || scenario == "limit") && press <= visits) {
                const std::uint64_t waits = numberParam(req, "waits", 0, 100000);
                const std::string spelled =
                    waits == 0 ? std::to_string(numberParam(req, "wait", 1, 100000)) +
                                     " minutes, 0 seconds"
                               : std::to_string(waits) + " seconds";
                const std::string message =
                    scenario == "wait"
                        ? "You have to wait " + spelled + " till next download"
                        : std::string("You have reached the download-limit: 1024 Mb for last 1 "
                                      "days");
                res.set_content(page(name, "<div class=\"err\">" + message + "</div>\n" +
                                               firstPage(code, name, 0)),
                                kHtml);
                return;
            }
            res.set_header("Set-Cookie", "xfss=" + rand + "; Path=/");
            const std::string seconds = scenario == "badcount" ? "soon" : std::to_string(countdown);
            res.set_content(countdownPage(code, name, rand, counted ? seconds : std::string(),
                                          scenario != "nolink", theme, captcha,
                                          numberParam(req, "captcha", 0, 2) == 2),
                            kHtml);
            return;
        }
        if (op == "download2") {
            const std::string rand = field(fields, "rand");
            bool expired = cookie(req, "xfss") != rand;
            bool early = false;
            bool wrongCode = false;
            {
                std::lock_guard lock(m_mutex);
                if (const auto c = m_codes.find(rand); c != m_codes.end())
                    wrongCode = field(fields, "code") != c->second;
                const auto it = m_ready.find(rand);
                expired = expired || it == m_ready.end();
                // Whole seconds, as such hosters count: a client's countdown that shows
                // 00:00:00 half a second early is in time.
                if (!expired &&
                    std::chrono::steady_clock::now() + std::chrono::seconds(1) < it->second) {
                    early = true;
                    ++m_early[name];
                }
            }
            if (expired) {
                // The title is what a transfer that got this page instead of the file reports.
                res.set_content(
                    page("Session expired", "<div class=\"err\">Session expired</div>\n"), kHtml);
                return;
            }
            if (early) {
                res.set_content(
                    page("Skipped countdown", "<div class=\"err\">Skipped countdown</div>\n"),
                    kHtml);
                return;
            }
            if (wrongCode && numberParam(req, "captcha", 0, 2) == 2) {
                // An image captcha answered wrong is asked again, with a new picture.
                std::string again;
                std::string fresh;
                {
                    std::lock_guard lock(m_mutex);
                    again = "r" + std::to_string(++m_sessions);
                    fresh = std::to_string(1000 + (m_sessions * 7919) % 9000);
                    m_codes[again] = fresh;
                    m_lastCode = fresh;
                    m_ready[again] = std::chrono::steady_clock::now();
                }
                res.set_header("Set-Cookie", "xfss=" + again + "; Path=/");
                res.set_content(countdownPage(code, name, again, {}, true, 0, fresh, true,
                                              "<div class=\"err\">Wrong captcha</div>\n"),
                                kHtml);
                return;
            }
            if (wrongCode) {
                res.set_content(page(name, "<div class=\"err\">Wrong captcha</div>\n"), kHtml);
                return;
            }
            if (const auto after = static_cast<int>(numberParam(req, "after", 0, 86400));
                after > 0) {
                std::lock_guard lock(m_mutex);
                m_holdUntil = std::max(m_holdUntil, std::chrono::steady_clock::now() +
                                                        std::chrono::seconds(after));
                m_holdAfter[name] = after;
            }
            const std::string file =
                req.has_param("stored")
                    ? m_origin(req.get_header_value("Host")) + "/stored/" +
                          pages::pathEscape(name) +
                          (req.has_param("corrupt")
                               ? "?corrupt=" + encodeQueryValue(req.get_param_value("corrupt"))
                               : std::string())
                    : m_origin(req.get_header_value("Host")) + "/file/" + pages::pathEscape(name) +
                          "?size=" + std::to_string(numberParam(req, "size", 1024, 1ull << 40)) +
                          fileOptions(req);
            // Theme 1 answers with a page that holds the direct link.
            if (numberParam(req, "theme", 0, 2) == 1) {
                res.set_content(page(name, "<p>Your download link is ready.</p>\n<a href=\"" +
                                               pages::htmlEscape(file) +
                                               "\">Click here to download</a>\n"),
                                kHtml);
                return;
            }
            res.status = 302;
            res.set_header("Location", file);
            return;
        }
        res.status = 400;
        res.set_content(page(name, "<p>No such operation.</p>\n"), kHtml);
    });
}

} // namespace hostersim
