#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace httplib {
class Server;
struct Request;
} // namespace httplib

namespace hostersim {

class GateSite;
class XfsSite;

// One request the emulator answered, as the tests want to see it.
struct RequestRecord {
    std::string method;
    std::string path;                                        // decoded
    std::string query;                                       // as sent, without "?"
    std::vector<std::pair<std::string, std::string>> fields; // POST body fields, in order
    std::map<std::string, std::string> cookies;
    // Every request header, names as sent.
    std::multimap<std::string, std::string> headers;
    int status = 0;
};

// The hoster emulator: the first page of a link with its "Free user" button, the page each
// scenario answers the button with, the countdown page with the download form, the second
// hoster's page shape, and (through addFileRoutes) the files themselves.
//
//   GET  /rapidshare/<scenario>/<name>?size=N&c=SECONDS&wait=MINUTES&k=VISITS
//   POST /rapidshare/<scenario>/<name>?...   the "Free user" button (sets the cookie "sid")
//   GET  /4shared/<name>?size=N&c=SECONDS
//   GET  /file/<name>?size=N[&cookie=sid]     the file (addFileRoutes)
//   GET  /redirect?to=URL[&status=302]        any redirect
//   GET  /page/big?size=N                     an HTML page of N bytes
//   GET  /page/slow?ms=N                      a page that takes N ms to come
//   GET  /page/nested?depth=N&size=S          S bytes of DIVs nested N deep, over and over
//   GET  /page/tableforms?size=S              a FORM in a table owning S bytes of inputs
//   GET  /page/radios?size=S                  a form of S bytes of radios of one group
//   GET  /                                    a start page
//   GET  /stored/<name>[?cookie=sid][&corrupt=once|always]  the file <name> of the folder set
//                                             by serveFolder, a byte of it changed on the way
//
// A rapidshare link with `stored=1` ends in the stored file of its name instead of made-up
// content, and one with `password=TEXT` says "Password: TEXT" on its countdown page, as the
// hosters of split archives do.
//
// Scenarios: ok, tryagainabout, tryagain, slots, wait, about, reach (each wait page is shown on
// the first k presses of the button, default 1, then the countdown page), notfound and illegal
// (on the first page), nolink (a countdown without the download form).
class HosterSim final {
public:
    HosterSim();
    ~HosterSim();
    HosterSim(const HosterSim&) = delete;
    HosterSim& operator=(const HosterSim&) = delete;

    // Listens on 127.0.0.1 (or another loopback address of this site's own); port 0 picks a
    // free one. Returns the port; throws when it cannot.
    int start(int port = 0, const std::string& address = "127.0.0.1");
    void stop();
    int port() const { return m_port; }
    std::string baseUrl() const;

    // The address of a link of the first hoster, e.g. rapidshareLink("ok", "a.bin", 1000, 3).
    std::string rapidshareLink(const std::string& scenario, const std::string& name,
                               std::uint64_t size, int countdown,
                               const std::string& extraQuery = {}) const;
    std::string fourSharedLink(const std::string& name, std::uint64_t size, int countdown) const;
    // A link of the Free Download family (XfsPages.h), e.g. xfsLink("ok", "a.bin", 1000, 3).
    std::string xfsLink(const std::string& scenario, const std::string& name, std::uint64_t size,
                        int countdown, const std::string& extraQuery = {}) const;
    XfsSite& xfs() { return *m_xfs; }
    // A link of the "Slow download" shape (GatePages.h).
    std::string gateLink(const std::string& scenario, const std::string& name, std::uint64_t size,
                         int countdown, const std::string& extraQuery = {}) const;

    std::vector<RequestRecord> requests() const;
    void clearRequests();
    // How often the "Free user" button of this link was pressed.
    int presses(const std::string& scenario, const std::string& name) const;

    // Client connections the requests so far came over, told apart by the client's port
    // (every client is on 127.0.0.1).
    std::size_t connections() const;
    // Off: every answer goes out uncompressed whatever the client accepts. cpp-httplib
    // compresses each text answer with brotli for a client that offers it, which costs the
    // emulator more than the client costs itself; a benchmark of the client turns it off.
    void setCompression(bool on) { m_compression = on; }

    // The folder whose plain files /stored/ serves (real archives, made by the caller).
    void serveFolder(std::string folder);
    // A link of the first hoster to a stored file, its page saying the password when given.
    // corrupt=once changes a byte of the file's first download, corrupt=always of every one.
    std::string storedLink(const std::string& name, const std::string& password = {},
                           const std::string& extraQuery = {}) const;
    // The same file as a link of the Free Download family (XfsPages.h): its first page says
    // "Password: <b>...</b>" when a password is given (md5=1 in extraQuery: its MD5 too).
    std::string xfsStoredLink(const std::string& name, const std::string& password = {},
                              const std::string& extraQuery = {}) const;

    // For tests that need a route of their own; add it before start().
    httplib::Server& server() { return *m_server; }

private:
    void addPageRoutes();
    void watchConnections();
    int pressOnce(const std::string& key);
    // A direct link as hosters write it: a plain path ending in the file's name, with no
    // query, so the name cut from it is the real one. It answers with a redirect to the
    // file side, which carries the size, the faults and the cookie check.
    std::string directLink(const httplib::Request& req, const std::string& name,
                           std::string fileTarget);

    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
    std::string m_address = "127.0.0.1";
    mutable std::mutex m_mutex;
    std::vector<RequestRecord> m_requests;
    std::map<std::string, int> m_presses;
    std::uint64_t m_sessions = 0;
    std::map<std::string, std::string> m_directLinks;
    // Lets slow handlers end at once: the server joins its handlers before it stops running.
    std::atomic<bool> m_stopping{false};
    std::atomic<bool> m_compression{true};
    std::set<int> m_clientPorts; // under m_mutex
    std::string m_storedFolder;  // under m_mutex
    std::unique_ptr<XfsSite> m_xfs;
    std::unique_ptr<GateSite> m_gate;
};

} // namespace hostersim
