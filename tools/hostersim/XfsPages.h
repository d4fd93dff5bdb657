#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace httplib {
class Server;
}

namespace hostersim {

// The second site of the emulator: the commonest family of free hosters today. A link's page
// carries a form whose "Free Download" button posts op=download1; the answer is a page with a
// countdown in <span id="countdown">N</span> and a second form (op=download2) to post when it
// has run out, answered by a redirect to the file.
//
//   GET  /xfs/<scenario>/<code>/<name>.html?size=N&c=SECONDS&wait=MINUTES&k=VISITS
//   POST /xfs/<scenario>/<code>/<name>.html?...   op=download1, then op=download2
//
// <code> is any 12 lower-case letters and digits (xfsLink makes one from the name).
// Scenarios: ok; notfound ("File Not Found" on the first page); wait ("You have to wait N
// minutes" on the first k presses); limit ("You have reached the download-limit" likewise);
// nolink (the countdown page without the second form); badcount (a countdown that is not a
// number). Faults on every scenario: a second form posted before the countdown ran out is
// answered "Skipped countdown" and no file; one posted without the first's session cookie
// gets "Session expired". The file side takes the file options (rate, cut, stall, ...).
// Themes (theme=0..2): the countdown in <span id="countdown">, in <span class="seconds"> (and
// the second form answered by a page holding the direct link), or in a script variable;
// nocount=1 leaves the countdown out (the second form is posted at once), captcha=1 adds the
// family's digit captcha (a wrong code: "Wrong captcha"), captcha=2 an image captcha served at
// /xfs/captcha/<rand>.png (a wrong code: the page again with a new picture), waits=N says the
// wait in seconds.
// A site that asks a free user to wait after each file: after=N on a link puts the whole site
// (every link of it) on hold once that link's file has been handed out, until N seconds after
// its last byte went out; every "Free Download" pressed meanwhile (but in its last second) is
// answered "You have to wait S seconds till next download" with the seconds still to go.
// stored=1 ends in the stored file of the link's name (/stored/<name>, corrupt=once|always
// passed on; a client that looks at the answer before it fetches the file fetches it twice,
// so once spoils the look) and its first page gives that file's size; password=TEXT has the first
// page say "Password: <b>TEXT</b>", as the hosters of split archives do, and md5=1 "MD5:
// <b>...</b>" with the stored file's MD5 (md5=TEXT: TEXT as it stands, right or wrong).
class XfsSite final {
public:
    using Origin = std::function<std::string(const std::string& hostHeader)>;
    // Where the stored file of a name is; empty: there is none.
    using StoredPath = std::function<std::string(const std::string& name)>;
    XfsSite(httplib::Server& server, Origin origin, StoredPath stored = {});

    static std::string link(const std::string& base, const std::string& scenario,
                            const std::string& name, std::uint64_t size, int countdown,
                            const std::string& extraQuery = {});
    // How often the second form of this name was posted too early.
    int early(const std::string& name) const;
    // The code of the captcha shown last (captcha=1 digits, captcha=2 an image of them).
    std::string lastCaptcha() const;
    // The file side has sent the last byte of `name`: a hold its link asks for starts now.
    void fileServed(const std::string& name);

private:
    void addRoutes(httplib::Server& server);

    Origin m_origin;
    StoredPath m_stored;
    mutable std::mutex m_mutex;
    std::map<std::string, int> m_presses;
    // The countdown each session was given, by session token: when it ends, and its length.
    std::map<std::string, std::chrono::steady_clock::time_point> m_ready;
    std::map<std::string, int> m_early;
    // The digit captcha each session was shown, by session token.
    std::map<std::string, std::string> m_codes;
    std::string m_lastCode;
    std::uint64_t m_sessions = 0;
    // The site's hold after a file (after=N), and the holds still to start when their file's
    // last byte goes out, by name.
    std::chrono::steady_clock::time_point m_holdUntil{};
    std::map<std::string, int> m_holdAfter;
};

} // namespace hostersim
