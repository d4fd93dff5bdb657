#include "FileRoutes.h"

#include <httplib.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace hostersim {
namespace {

// A prime period: no buffer size a client uses divides it, so data delivered at the wrong
// offset never looks right, and the block counter folded in tells the periods apart.
constexpr std::size_t Period = 65521;

const std::array<std::uint8_t, Period>& table() {
    static const auto bytes = [] {
        std::array<std::uint8_t, Period> t{};
        std::uint32_t x = 2463534242u;
        for (auto& b : t) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            b = static_cast<std::uint8_t>(x >> 24);
        }
        return t;
    }();
    return bytes;
}

std::uint8_t periodKey(std::uint64_t offset) {
    return static_cast<std::uint8_t>((offset / Period) * 157u);
}

// Lets every waiting response of one server go when the server is about to stop.
struct Gate {
    std::mutex mutex;
    std::condition_variable cv;
    bool released = false;
    std::map<std::string, int> attempts; // requests per file name
    std::vector<FileRequestRecord> log;
    std::function<void(const std::string&)> served;

    void fileServed(const std::string& name) {
        std::function<void(const std::string&)> handler;
        {
            std::lock_guard lock(mutex);
            handler = served;
        }
        if (handler)
            handler(name);
    }

    // How many requests for `name` came before this one; logs this one.
    int attempt(const std::string& name, const httplib::Request& req) {
        std::lock_guard lock(mutex);
        log.push_back({name, req.get_header_value("Range"), req.get_header_value("If-Range")});
        return attempts[name]++;
    }

    // Sleeps until `until`; false when the server is letting go.
    bool sleepUntil(std::chrono::steady_clock::time_point until) {
        std::unique_lock lock(mutex);
        return !cv.wait_until(lock, until, [this] { return released; });
    }
};

std::mutex registryMutex;
std::map<const httplib::Server*, std::shared_ptr<Gate>>& registry() {
    static std::map<const httplib::Server*, std::shared_ptr<Gate>> gates;
    return gates;
}

std::optional<std::uint64_t> number(const httplib::Request& req, const char* name) {
    if (!req.has_param(name))
        return std::nullopt;
    const std::string text = req.get_param_value(name);
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty())
        throw std::invalid_argument(name);
    return value;
}

bool hasCookie(const httplib::Request& req, const std::string& name) {
    for (std::size_t i = 0; i < req.get_header_value_count("Cookie"); ++i) {
        const std::string header = req.get_header_value("Cookie", i);
        std::size_t pos = 0;
        while (pos < header.size()) {
            std::size_t end = header.find(';', pos);
            if (end == std::string::npos)
                end = header.size();
            std::string pair = header.substr(pos, end - pos);
            pair.erase(0, pair.find_first_not_of(' '));
            if (pair.substr(0, pair.find('=')) == name)
                return true;
            pos = end + 1;
        }
    }
    return false;
}

struct FileRequest {
    std::uint64_t size = 0;
    std::uint64_t rate = 0;
    std::optional<std::uint64_t> cut;
    std::optional<std::uint64_t> stall;
    // A length announced beyond what is served: the body trickles out (at `rate`) up to
    // `size` and then holds, as a hoster that lies about the size would.
    std::optional<std::uint64_t> announce;
    // Which version of the file is served; a changed file has other bytes and another ETag.
    int version = 0;
    // A trickle: `burst` bytes at a time, then a pause of `every` milliseconds.
    std::uint64_t burst = 0;
    std::uint64_t every = 0;
    // Sent in chunks without a length, as a stream whose end nobody knows: `size` bytes (a
    // huge size never ends for a client's purposes).
    bool unannounced = false;
    // "none": no ETag; "weak": a weak one; "fixed": the same ETag whatever the version (a
    // server that lies about it); anything else: a strong ETag of the version.
    std::string etag;
};

std::string etagOf(const FileRequest& file) {
    // Appended piece by piece: gcc 12 at -O3 misreads "literal" + temporary as an overlapping copy.
    std::string tag = file.etag == "weak" ? "W/\"" : "\"";
    tag += std::to_string(file.size);
    tag += "-v";
    tag += std::to_string(file.etag == "fixed" ? 0 : file.version);
    tag += '"';
    return tag;
}

// The same page in the shapes that dodge a look at the body's first bytes.
std::string disguisedPage(const std::string& kind, const char* page) {
    if (kind == "commented") {
        // Behind the byte order mark, where a template puts its banner.
        std::string text = page;
        const std::size_t bom = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
        text.insert(bom, "<!-- generated by the template engine; do not edit -->\n<!-- " +
                             std::string(1500, '=') + " -->\n");
        return text;
    }
    if (kind == "xhtml")
        return std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                           "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Strict//EN\" "
                           "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-strict.dtd\">\n"
                           "<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>Download "
                           "limit reached</title></head><body><p>Come back later.</p></body>"
                           "</html>\n");
    if (kind == "gzip") {
        const std::string plain = page;
        std::string out(compressBound(static_cast<uLong>(plain.size())) + 64, '\0');
        z_stream z{};
        deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.data()));
        z.avail_in = static_cast<uInt>(plain.size());
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = static_cast<uInt>(out.size());
        deflate(&z, Z_FINISH);
        out.resize(z.total_out);
        deflateEnd(&z);
        return out;
    }
    return page;
}

// The error page some hosters send with status 200 where the file should be. Its title has a
// tab and a control byte in it, as a careless template gives.
const char* const ErrorPage = "\xEF\xBB\xBF\r\n  <!DOCTYPE html>\n<html><head><title>\n  Download\t"
                              "limit\x01 reached </title></head>\n<body><p>Come back later.</p>"
                              "</body></html>\n";

void serveFile(const std::string& name, const FileRequest& file, const std::shared_ptr<Gate>& gate,
               httplib::Response& res) {
    constexpr std::size_t Chunk = 256 * 1024;
    struct State {
        std::vector<char> buffer;
        std::chrono::steady_clock::time_point begin = std::chrono::steady_clock::now();
        // Where the answer's body begins in the file: a range asked from the middle is paced
        // from there, not as if the bytes before it had been sent.
        std::optional<std::uint64_t> first;
    };
    auto state = std::make_shared<State>();
    const std::size_t chunk =
        file.rate ? std::clamp<std::size_t>(file.rate / 20, 1024, Chunk) : Chunk;
    state->buffer.resize(chunk);

    const auto provide = [name, file, gate, state, chunk](std::size_t offset, std::size_t length,
                                                          httplib::DataSink& sink) {
        if (file.unannounced && offset >= file.size && !file.stall) {
            sink.done();
            return true;
        }
        if ((file.stall && offset >= *file.stall) || offset >= file.size) {
            gate->sleepUntil(std::chrono::steady_clock::now() + std::chrono::seconds(120));
            return false;
        }
        if (file.cut && offset >= *file.cut)
            return false;
        std::uint64_t n = std::min<std::uint64_t>(length, chunk);
        n = std::min<std::uint64_t>(n, file.size - offset);
        if (file.stall)
            n = std::min<std::uint64_t>(n, *file.stall - offset);
        if (file.cut)
            n = std::min<std::uint64_t>(n, *file.cut - offset);
        if (file.burst)
            n = std::min<std::uint64_t>(n, file.burst);
        fillContent(offset, state->buffer.data(), n);
        if (file.version != 0)
            for (std::uint64_t i = 0; i < n; ++i)
                state->buffer[i] = static_cast<char>(state->buffer[i] ^ (0x5A + file.version));
        if (!sink.write(state->buffer.data(), n))
            return false;
        if (offset + n == file.size && !file.announce && !file.unannounced)
            gate->fileServed(name);
        if (file.every && !gate->sleepUntil(std::chrono::steady_clock::now() +
                                            std::chrono::milliseconds(file.every)))
            return false;
        if (file.rate) {
            if (!state->first)
                state->first = offset;
            const std::uint64_t sent = offset + n - *state->first;
            const auto due = state->begin + std::chrono::microseconds(sent * 1000000 / file.rate);
            if (!gate->sleepUntil(due))
                return false;
        }
        return true;
    };
    if (file.unannounced)
        res.set_chunked_content_provider(
            "application/octet-stream",
            [provide, chunk](std::size_t offset, httplib::DataSink& sink) {
                return provide(offset, chunk, sink);
            });
    else
        res.set_content_provider(file.announce.value_or(file.size), "application/octet-stream",
                                 provide);
}

} // namespace

std::uint8_t contentByte(std::uint64_t offset) {
    return table()[offset % Period] ^ periodKey(offset);
}

void fillContent(std::uint64_t offset, char* out, std::size_t n) {
    const auto& bytes = table();
    while (n > 0) {
        const std::size_t index = offset % Period;
        const std::size_t run = std::min(n, Period - index);
        const std::uint8_t key = periodKey(offset);
        std::memcpy(out, bytes.data() + index, run);
        if (key != 0)
            for (std::size_t i = 0; i < run; ++i)
                out[i] = static_cast<char>(static_cast<std::uint8_t>(out[i]) ^ key);
        out += run;
        offset += run;
        n -= run;
    }
}

void addFileRoutes(httplib::Server& server) {
    auto gate = std::make_shared<Gate>();
    {
        std::lock_guard lock(registryMutex);
        registry()[&server] = gate;
    }
    server.Get(R"(/file/([^/]+))", [gate](const httplib::Request& req, httplib::Response& res) {
        FileRequest file;
        std::optional<std::uint64_t> status;
        try {
            file.size = number(req, "size").value_or(0);
            file.rate = number(req, "rate").value_or(0);
            file.cut = number(req, "cut");
            file.stall = number(req, "stall");
            status = number(req, "status");
            file.announce = number(req, "announce");
            file.burst = number(req, "burst").value_or(0);
            file.every = number(req, "every").value_or(0);
        } catch (const std::invalid_argument& e) {
            res.status = 400;
            res.set_content(std::string("bad parameter ") + e.what() + "\n", "text/plain");
            return;
        }
        if (req.has_param("cookie") && !hasCookie(req, req.get_param_value("cookie"))) {
            res.status = 403;
            res.set_content("no session cookie\n", "text/plain");
            return;
        }
        if (status && *status != 200) {
            res.status = static_cast<int>(*status);
            if (req.has_param("retry"))
                res.set_header("Retry-After", req.get_param_value("retry"));
            res.set_content("status " + std::to_string(*status) + "\n", "text/plain");
            return;
        }
        if (req.has_param("page")) {
            // typed: announced as a web page; anything else: sent as a file, only its bytes
            // tell what it is.
            const std::string kind = req.get_param_value("page");
            const bool typed = kind == "typed";
            if (kind == "gzip")
                res.set_header("Content-Encoding", "gzip");
            res.set_content(disguisedPage(kind, ErrorPage), typed ? "text/html; charset=utf-8"
                                                            : kind == "xhtml"
                                                                ? "application/xhtml+xml"
                                                                : "application/octet-stream");
            return;
        }
        const std::string name = req.matches[1];
        const int attempt = gate->attempt(name, req);
        if (req.has_param("changes"))
            file.version = attempt;
        if (attempt == 0 && req.has_param("cutonce")) {
            try {
                file.cut = number(req, "cutonce");
            } catch (const std::invalid_argument&) {
            }
        }
        file.etag = req.get_param_value("etag");
        file.unannounced = req.get_param_value("length") == "none";
        if (file.etag != "none")
            res.set_header("ETag", etagOf(file));
        // The server library answers a Range itself; clearing the request's ranges is the
        // way to play a server that ignores them (the request is ours to change here).
        auto& ranges = const_cast<httplib::Request&>(req).ranges;
        // A request without If-Range gets its range whatever the version: that is what a
        // server does, and why a range without a validator can splice two files.
        const bool stale = req.has_header("If-Range") &&
                           req.get_header_value("If-Range") != etagOf(file) &&
                           req.get_param_value("ifrange") != "ignore";
        if (req.get_param_value("ranges") == "ignore" || stale)
            ranges.clear();
        if (file.size == 0 &&
            !file.announce) // a provider of no length would never be asked and never end
            res.set_content(std::string(), "application/octet-stream");
        else
            serveFile(name, file, gate, res);
    });
}

std::vector<FileRequestRecord> fileRequests(httplib::Server& server) {
    std::shared_ptr<Gate> gate;
    {
        std::lock_guard lock(registryMutex);
        auto it = registry().find(&server);
        if (it == registry().end())
            return {};
        gate = it->second;
    }
    std::lock_guard lock(gate->mutex);
    return gate->log;
}

void onFileServed(httplib::Server& server, std::function<void(const std::string& name)> handler) {
    std::shared_ptr<Gate> gate;
    {
        std::lock_guard lock(registryMutex);
        auto it = registry().find(&server);
        if (it == registry().end())
            return;
        gate = it->second;
    }
    std::lock_guard lock(gate->mutex);
    gate->served = std::move(handler);
}

void releaseFileRoutes(httplib::Server& server) {
    std::shared_ptr<Gate> gate;
    {
        std::lock_guard lock(registryMutex);
        auto it = registry().find(&server);
        if (it == registry().end())
            return;
        gate = it->second;
        registry().erase(it);
    }
    std::lock_guard lock(gate->mutex);
    gate->released = true;
    gate->cv.notify_all();
}

} // namespace hostersim
