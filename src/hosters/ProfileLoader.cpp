#include "hosters/ProfileLoader.h"

#include "hosters/BuiltinHosters.h"
#include "hosters/Re2Pattern.h"

#include <toml++/toml.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <set>

namespace torvaline {

namespace fs = std::filesystem;

namespace {

// A refusal of the file, with where in it.
struct ProfileError {
    std::string where;
    std::string reason;
};

std::string at(const std::string& file, const toml::source_region& region) {
    return file + ":" + std::to_string(region.begin.line) + ":" +
           std::to_string(region.begin.column);
}

// Links of sites no profile is about, as varied as links come: a profile that claims more
// than a few of them has a pattern or a word that matches nearly any link, and would take
// the rows of the hosters it is not about. One sample alone would let '^https?://[^u]' by.
constexpr const char* kUnrelatedLinks[] = {
    "http://unrelated.invalid/",
    "https://another.example.org/some/file.zip?x=1",
    "http://x.test/a",
    "https://www.wikipedia.invalid/wiki/Main_Page",
    "http://192.0.2.17/index.html",
    "https://[2001:db8::1]:8443/d/abc",
    "http://user@mail.test:8080/inbox#top",
    "https://cdn-7.images.example/p/2024/01/photo.jpg",
    "http://0.test/",
    "https://ZZ.EXAMPLE/UPPER/CASE",
    "http://localhost.invalid:9000/api/v1/items?id=42&sort=desc",
    "https://q.example.net/",
    "http://music.example.com/album/track-01.mp3",
    "https://9gag.invalid/gag/a1b2c3",
    "http://_service.example/x",
    "https://very.long.sub.domain.name.example/path/to/the/file.tar.gz",
};
// A profile may claim this many of them by accident (a word of 'contains' in a path).
constexpr int kUnrelatedClaimsAllowed = 2;

class Reader {
public:
    Reader(std::string file, std::string dir)
        : m_file(std::move(file))
        , m_dir(std::move(dir)) {}

    HosterProfile read(const toml::table& root) {
        checkKeys(root,
                  {"name", "hosts", "contains", "url", "message", "button", "link", "file_name",
                   "size", "password", "checksum", "test", "step", "max_parallel"});
        HosterProfile p;
        p.origin = m_file;
        p.maxParallel = static_cast<int>(integer(root, "max_parallel", 1, 8, 1));
        p.name = requiredString(root, "name");
        if (p.name.empty() || p.name.size() > 64 ||
            p.name.find_first_of("\t\r\n") != std::string::npos)
            fail(root["name"].node(), "the name must be one line of 1 to 64 characters");
        p.hosts = strings(root, "hosts");
        for (std::string& h : p.hosts) {
            std::transform(h.begin(), h.end(), h.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            if (!IsHostName(h) && !IsIpAddress(h))
                fail(root["hosts"].node(), "'" + h +
                                               "' is neither a host name of two labels or more "
                                               "such as files.example nor a whole IP address");
        }
        p.contains = strings(root, "contains");
        for (const std::string& word : p.contains) {
            if (word.size() < 3)
                fail(root["contains"].node(), "a word of 'contains' needs 3 characters or more");
        }
        if (root.contains("url"))
            p.url = pattern(root, "url");
        if (p.hosts.empty() && p.contains.empty() && p.url.empty())
            fail(&root, "the profile names no links: give 'hosts', 'contains' or 'url'");
        int claimed = 0;
        std::string example;
        for (const char* link : kUnrelatedLinks) {
            if (p.handles(link) && claimed++ == 0)
                example = link;
        }
        if (claimed <= kUnrelatedClaimsAllowed)
            return readRest(root, std::move(p));
        fail(root.contains("url") ? root["url"].node() : &root,
             "the profile claims every link (it matches " + std::to_string(claimed) + " of " +
                 std::to_string(std::size(kUnrelatedLinks)) + " unrelated links, such as " +
                 example + "); name the hoster's links only");
    }

private:
    [[noreturn]] void fail(const toml::node* node, const std::string& reason) const {
        throw ProfileError{node ? at(m_file, node->source()) : m_file, reason};
    }

    void checkKeys(const toml::table& t, std::initializer_list<std::string_view> known) const {
        for (const auto& [key, value] : t) {
            if (std::find(known.begin(), known.end(), key.str()) == known.end())
                fail(&value, "unknown key '" + std::string(key.str()) + "'");
        }
    }

    std::string requiredString(const toml::table& t, std::string_view key) const {
        if (!t.contains(key))
            fail(&t, "'" + std::string(key) + "' is missing");
        return string(t, key);
    }

    std::string string(const toml::table& t, std::string_view key) const {
        const toml::node* n = t.get(key);
        if (!n)
            return {};
        if (!n->is_string())
            fail(n, "'" + std::string(key) + "' must be a text");
        return std::string(n->as_string()->get());
    }

    long long integer(const toml::table& t, std::string_view key, long long min, long long max,
                      long long fallback) const {
        const toml::node* n = t.get(key);
        if (!n)
            return fallback;
        if (!n->is_integer())
            fail(n, "'" + std::string(key) + "' must be a whole number");
        const long long v = n->as_integer()->get();
        if (v < min || v > max)
            fail(n, "'" + std::string(key) + "' must lie between " + std::to_string(min) + " and " +
                        std::to_string(max));
        return v;
    }

    std::vector<std::string> strings(const toml::table& t, std::string_view key) const {
        std::vector<std::string> out;
        const toml::node* n = t.get(key);
        if (!n)
            return out;
        const toml::array* a = n->as_array();
        if (!a || a->size() > 100)
            fail(n, "'" + std::string(key) + "' must be a list of at most 100 texts");
        for (const toml::node& item : *a) {
            if (!item.is_string())
                fail(&item, "'" + std::string(key) + "' must hold texts only");
            out.emplace_back(item.as_string()->get());
        }
        return out;
    }

    Marker pattern(const toml::table& t, std::string_view key) const {
        Marker m;
        m.source = string(t, key);
        const toml::node* n = t.get(key);
        if (m.source.empty())
            fail(n, "the pattern '" + std::string(key) + "' is empty");
        if (m.source.size() > MaxPatternLength)
            fail(n, "the pattern '" + std::string(key) + "' is longer than " +
                        std::to_string(MaxPatternLength) + " characters");
        const auto compiled = Re2Pattern::compile(m.source);
        if (!compiled)
            fail(n,
                 "the pattern '" + std::string(key) + "' does not compile: " + compiled.reason());
        const long width = Re2Pattern::repetitionWidth(m.source);
        if (width > Re2Pattern::MaxRepetitionWidth)
            fail(n, "the pattern '" + std::string(key) +
                        "' is too costly: its counted "
                        "repetitions add up to " +
                        std::to_string(width) + ", more than " +
                        std::to_string(Re2Pattern::MaxRepetitionWidth) +
                        ", and a large page would take it minutes (use + or * instead of large "
                        "counts, or fewer alternatives that repeat)");
        m_width += width;
        if (m_width > Re2Pattern::MaxProfileRepetitionWidth)
            fail(n, "the profile's patterns are too costly together: their counted repetitions "
                    "add up to more than " +
                        std::to_string(Re2Pattern::MaxProfileRepetitionWidth) +
                        " (use + or * instead of counts where a pattern does not need them)");
        const int steps = (*compiled)->programSize();
        if (steps > Re2Pattern::MaxProgramSize)
            fail(n, "the pattern '" + std::string(key) + "' is too costly: it compiles to " +
                        std::to_string(steps) + " steps, more than " +
                        std::to_string(Re2Pattern::MaxProgramSize) +
                        ", too large to keep in memory (use fewer or smaller repetitions and "
                        "alternatives)");
        m_steps += steps;
        if (m_steps > Re2Pattern::MaxProfileProgramSize)
            fail(n, "the profile's patterns are too costly together: more than " +
                        std::to_string(Re2Pattern::MaxProfileProgramSize) +
                        " compiled steps (use exact texts where a pattern is not needed)");
        m.pattern = *compiled;
        return m;
    }

    const toml::table& table(const toml::node* n, std::string_view what) const {
        if (!n || !n->is_table())
            fail(n, "'" + std::string(what) + "' must be a table");
        return *n->as_table();
    }

    // text = "exact" or pattern = 'regular expression', one of the two.
    Marker marker(const toml::table& t) const {
        const bool text = t.contains("text");
        const bool re = t.contains("pattern");
        if (text == re)
            fail(&t, "give either 'text' (exact) or 'pattern' (a regular expression)");
        if (re)
            return pattern(t, "pattern");
        Marker m;
        m.text = string(t, "text");
        if (m.text.empty())
            fail(t.get("text"), "the text is empty");
        return m;
    }

    ProfileMessage message(const toml::table& t) const {
        checkKeys(t, {"text", "pattern", "reaction", "minutes", "skip", "length", "cut", "name",
                      "reason"});
        using R = ProfileMessage::Reaction;
        using C = ProfileMessage::Cut;
        ProfileMessage m;
        m.name = string(t, "name");
        m.marker = marker(t);
        static const std::map<std::string, R> reactions{
            {"missing", R::Missing},     {"wait", R::WaitMinutes}, {"fixed_wait", R::FixedWait},
            {"countdown", R::Countdown}, {"limit", R::Limit},      {"fail", R::Fail}};
        const std::string reaction = requiredString(t, "reaction");
        const auto r = reactions.find(reaction);
        if (r == reactions.end())
            fail(t.get("reaction"), "unknown reaction '" + reaction +
                                        "' (missing, wait, fixed_wait, countdown, limit or fail)");
        m.reaction = r->second;
        if (m.reaction == R::Fail) {
            m.reason = requiredString(t, "reason");
            if (m.reason.empty() || m.reason.size() > 200)
                fail(t.get("reason"), "'reason' must be a text of 1 to 200 characters");
        }
        if (m.reaction == R::FixedWait || m.reaction == R::Limit) {
            m.minutes =
                static_cast<int>(integer(t, "minutes", 0, 1439, m.reaction == R::Limit ? 60 : -1));
            if (m.minutes < 0)
                fail(&t, "a fixed wait needs 'minutes'");
        }
        const bool reads = m.reaction == R::WaitMinutes || m.reaction == R::Countdown;
        if (reads && m.marker.pattern) {
            // The number is the pattern's first capture group.
            if (m.marker.source.find('(') == std::string::npos)
                fail(t.get("pattern"),
                     "a wait or a countdown needs a capture group around its number");
        }
        if (reads && !m.marker.pattern) {
            m.skip = static_cast<std::size_t>(integer(t, "skip", 0, 1000, 0));
            m.length = static_cast<std::size_t>(integer(t, "length", 1, 1000, 0));
            if (m.length == 0)
                fail(&t, "an exact text that is followed by a number needs 'length' (how many "
                         "characters the number is read from); or use a pattern");
            static const std::map<std::string, C> cuts{{"as_read", C::AsRead},
                                                       {"before_m", C::BeforeM},
                                                       {"before_semicolon", C::BeforeSemi}};
            const std::string cut = t.contains("cut") ? string(t, "cut") : "as_read";
            const auto c = cuts.find(cut);
            if (c == cuts.end())
                fail(t.get("cut"),
                     "unknown cut '" + cut + "' (as_read, before_m, before_semicolon)");
            m.cut = c->second;
        }
        return m;
    }

    ControlQuery control(const toml::table& t, std::string_view what) const {
        checkKeys(t, {"value", "name", "id", "action"});
        ControlQuery q;
        using By = ControlQuery::By;
        if (t.contains("name")) {
            q.by = By::Name;
            q.text = string(t, "name");
            q.value = string(t, "value");
        } else if (t.contains("id")) {
            q.by = By::Id;
            q.text = string(t, "id");
        } else if (t.contains("action")) {
            q.by = By::FormAction;
            q.formAction = pattern(t, "action");
        } else if (t.contains("value")) {
            q.by = By::Value;
            q.text = string(t, "value");
        }
        if (q.empty())
            fail(&t, "'" + std::string(what) + "' needs 'value', 'name', 'id' or 'action'");
        return q;
    }

    LinkSource link(const toml::table& t) const {
        checkKeys(t, {"from", "marker", "start", "end", "piece", "trim", "form", "pattern"});
        using F = LinkSource::From;
        static const std::map<std::string, F> froms{{"cut", F::Cut},
                                                    {"form_action", F::FormAction},
                                                    {"anchor", F::Anchor},
                                                    {"pattern", F::Pattern},
                                                    {"post_form", F::PostForm}};
        const std::string from = requiredString(t, "from");
        const auto f = froms.find(from);
        if (f == froms.end())
            fail(t.get("from"), "unknown link source '" + from +
                                    "' (cut, form_action, anchor, pattern or post_form)");
        LinkSource l;
        l.from = f->second;
        switch (l.from) {
        case F::Cut:
            l.marker = requiredString(t, "marker");
            l.startMark = requiredString(t, "start");
            l.endMark = requiredString(t, "end");
            if (l.marker.empty() || l.startMark.empty() || l.endMark.empty())
                fail(&t, "'marker', 'start' and 'end' must not be empty");
            l.piece = static_cast<std::size_t>(integer(t, "piece", 1, 100000, 162));
            if (const toml::node* trim = t.get("trim")) {
                if (!trim->is_boolean())
                    fail(trim, "'trim' must be true or false");
                l.trimTail = trim->as_boolean()->get();
            }
            break;
        case F::Anchor:
        case F::Pattern:
            l.pattern = pattern(t, "pattern");
            break;
        case F::FormAction:
        case F::PostForm:
            l.control = control(table(t.get("form"), "link.form"), "link.form");
            break;
        }
        return l;
    }

    ValueSource value(const toml::table& t, std::string_view what) const {
        checkKeys(t, {"pattern", "control"});
        ValueSource v;
        if (t.contains("pattern"))
            v.pattern = pattern(t, "pattern");
        v.control = string(t, "control");
        if (v.empty())
            fail(&t, "'" + std::string(what) + "' needs 'pattern' or 'control'");
        return v;
    }

    ProfileTestPage testPage(const toml::table& t) const {
        checkKeys(t, {"page", "html", "url", "reaction", "wait", "link", "name", "size", "bytes",
                      "password", "checksum", "step", "reason"});
        ProfileTestPage page;
        if (t.contains("html")) {
            page.html = string(t, "html");
            page.file = "(inline)";
        } else {
            page.file = requiredString(t, "page");
            const fs::path name(page.file);
            if (m_dir.empty() || page.file.empty() || name.has_parent_path() || page.file == "." ||
                page.file == "..")
                fail(t.get("page"), "a test page is a file name beside the profile");
            const fs::path path = fs::path(m_dir) / name;
            std::error_code ec;
            if (!fs::is_regular_file(fs::symlink_status(path, ec)) ||
                fs::file_size(path, ec) > MaxTestPageBytes)
                fail(t.get("page"),
                     "the test page '" + page.file + "' is not a regular file of at most 8 MiB");
            std::ifstream in(path, std::ios::binary);
            page.html.assign(std::istreambuf_iterator<char>(in), {});
        }
        page.url = t.contains("url") ? string(t, "url") : "http://hoster.invalid/page";
        page.reaction = requiredString(t, "reaction");
        static const std::set<std::string> reactions{
            "missing", "wait", "countdown", "limit", "button", "none", "link", "follow", "failed"};
        if (!reactions.contains(page.reaction))
            fail(t.get("reaction"), "unknown reaction '" + page.reaction +
                                        "' (missing, wait, countdown, limit, button, none, link, "
                                        "follow or failed)");
        page.bytes = integer(t, "bytes", 0, std::numeric_limits<long long>::max(), -1);
        page.step = string(t, "step");
        page.reason = string(t, "reason");
        page.wait = static_cast<int>(integer(t, "wait", 0, 86400, -1));
        page.link = string(t, "link");
        page.name = string(t, "name");
        page.size = string(t, "size");
        page.password = string(t, "password");
        page.checksum = string(t, "checksum");
        return page;
    }

    HosterProfile readRest(const toml::table& root, HosterProfile p) {
        if (const toml::node* n = root.get("message")) {
            const toml::array* a = n->as_array();
            if (!a || a->size() > MaxMessages)
                fail(n, "'message' must be a list of at most " + std::to_string(MaxMessages) +
                            " tables ([[message]])");
            for (const toml::node& m : *a)
                p.messages.push_back(message(table(&m, "message")));
        }
        readSteps(root, p);
        if (root.contains("button"))
            p.button = control(table(root.get("button"), "button"), "button");
        else if (p.steps.empty())
            fail(&root, "'button' is missing: how is the free download button found?");
        if (root.contains("link"))
            p.link = link(table(root.get("link"), "link"));
        else if (p.steps.empty())
            fail(&root, "'link' is missing: where does the direct link come from?");
        if (root.contains("file_name"))
            p.fileName = value(table(root.get("file_name"), "file_name"), "file_name");
        if (root.contains("size"))
            p.size = value(table(root.get("size"), "size"), "size");
        if (root.contains("password"))
            p.password = value(table(root.get("password"), "password"), "password");
        if (root.contains("checksum"))
            p.checksum = value(table(root.get("checksum"), "checksum"), "checksum");
        const bool posted = std::any_of(p.steps.begin(), p.steps.end(), [](const ProfileStep& st) {
            return st.action == ProfileStep::Action::Link &&
                   st.link.from == LinkSource::From::PostForm;
        });
        if ((posted || (root.contains("link") && p.link.from == LinkSource::From::PostForm)) &&
            p.fileName.empty())
            fail(root.get("link"), "a posted form's link needs 'file_name': the answer only "
                                   "redirects, so the page must tell the name");
        if (const toml::node* n = root.get("test")) {
            const toml::array* a = n->as_array();
            if (!a || a->size() > MaxTestPages)
                fail(n, "'test' must be a list of at most " + std::to_string(MaxTestPages) +
                            " tables ([[test]])");
            for (const toml::node& t : *a)
                p.tests.push_back(testPage(table(&t, "test")));
        }
        return p;
    }

    // [[step]]: name, match (patterns that must all be on the page), countdown (a pattern whose
    // group is the wait), one of press / post (a control) or follow / link (a link source),
    // digit_captcha (the field the page's digit captcha goes in).
    ProfileStep step(const toml::table& t) const {
        checkKeys(
            t, {"name", "match", "countdown", "press", "post", "follow", "link", "digit_captcha"});
        ProfileStep st;
        st.name = requiredString(t, "name");
        if (st.name.empty() || st.name.size() > 64)
            fail(t.get("name"), "a step's name must be 1 to 64 characters");
        if (const toml::node* m = t.get("match")) {
            if (m->is_string()) {
                st.match.push_back(pattern(t, "match"));
            } else {
                const toml::array* a = m->as_array();
                if (!a || a->empty() || a->size() > 10)
                    fail(m, "'match' must be a pattern or a list of 1 to 10 patterns");
                for (std::size_t i = 0; i < a->size(); ++i) {
                    toml::table one;
                    const toml::node* item = a->get(i);
                    if (!item->is_string())
                        fail(item, "'match' must hold patterns (texts) only");
                    one.insert("match", *item->as_string());
                    Marker mk = pattern(one, "match");
                    st.match.push_back(std::move(mk));
                }
            }
        }
        if (t.contains("countdown")) {
            st.countdown = pattern(t, "countdown");
            if (st.countdown.source.find('(') == std::string::npos)
                fail(t.get("countdown"), "a countdown needs a capture group around its wait");
        }
        using A = ProfileStep::Action;
        int actions = 0;
        if (t.contains("press")) {
            st.action = A::Press;
            st.control = control(table(t.get("press"), "press"), "press");
            ++actions;
        }
        if (t.contains("post")) {
            st.action = A::Post;
            st.control = control(table(t.get("post"), "post"), "post");
            ++actions;
        }
        for (const auto& [key, action] :
             {std::pair{"follow", A::Follow}, std::pair{"link", A::Link}}) {
            if (!t.contains(key))
                continue;
            st.action = action;
            st.link = link(table(t.get(key), key));
            if (action == A::Follow && st.link.from == LinkSource::From::PostForm)
                fail(t.get(key), "a step follows an address; to post a form, use 'post'");
            ++actions;
        }
        if (actions != 1)
            fail(&t, "step '" + st.name +
                         "' needs one way forward: 'press', 'post', 'follow' or 'link'");
        if (st.match.empty() && st.countdown.empty() && st.control.empty())
            fail(&t, "step '" + st.name +
                         "' is recognised by nothing: give 'match', 'countdown' or a form");
        st.digitCaptcha = string(t, "digit_captcha");
        return st;
    }

    void readSteps(const toml::table& root, HosterProfile& p) const {
        const toml::node* n = root.get("step");
        if (!n)
            return;
        const toml::array* a = n->as_array();
        if (!a || a->empty() || a->size() > MaxSteps)
            fail(n, "'step' must be a list of 1 to " + std::to_string(MaxSteps) +
                        " tables ([[step]])");
        for (const toml::node& item : *a) {
            ProfileStep st = step(table(&item, "step"));
            for (const ProfileStep& other : p.steps) {
                if (other.name == st.name)
                    fail(&item, "two steps are named '" + st.name + "'");
            }
            p.steps.push_back(std::move(st));
        }
    }

    std::string m_file;
    std::string m_dir;
    // Every pattern of the profile may meet the same page: their costs add up.
    mutable int m_steps = 0;
    mutable long m_width = 0;
};

bool looksBinary(std::string_view text) {
    return text.find('\0') != std::string_view::npos;
}

} // namespace

Result<HosterProfile> ParseProfile(std::string_view text, const std::string& file,
                                   const std::string& dir) {
    if (text.size() > MaxProfileBytes)
        return fail(FailureCause::Other, file + ": the file is larger than " +
                                             std::to_string(MaxProfileBytes / 1024) +
                                             " KiB; a hoster profile is a few lines");
    if (looksBinary(text))
        return fail(FailureCause::Other, file + ": the file is not text (it holds NUL bytes)");
    try {
        const toml::table root = toml::parse(text, file);
        return Reader(file, dir).read(root);
    } catch (const toml::parse_error& e) {
        return fail(FailureCause::Other,
                    at(file, e.source()) + ": " + std::string(e.description()));
    } catch (const ProfileError& e) {
        return fail(FailureCause::Other, e.where + ": " + e.reason);
    } catch (const std::exception& e) {
        return fail(FailureCause::Other, file + ": " + e.what());
    }
}

std::string UserHostersDir() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config && config[0] == '/') {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/')
            return {};
        base = std::string(home) + "/.config";
    }
    return base + "/torvaline/hosters";
}

namespace {

// A profile decides which pages the program opens and what it fetches from them: one that
// someone else could have written or changed is not the user's, however it reads (the rule
// ssh keeps for keys). The user and root may own it; nobody else may write to it.
std::string notTheUsers(const std::string& path, bool folder) {
#ifdef _WIN32
    static_cast<void>(path);
    static_cast<void>(folder);
    return {};
#else
    struct stat st {};
    if ((folder ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0)
        return {};
    const char* what = folder ? "the folder" : "the file";
    if (st.st_uid != ::geteuid() && st.st_uid != 0)
        return std::string(what) + " is owned by another user (uid " + std::to_string(st.st_uid) +
               ")";
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        return std::string(what) + " may be written by others (mode " + mode +
               "; chmod go-w makes it yours alone)";
    }
    return {};
#endif
}

// A second profile for a name or a host already taken: which profile took it, or empty.
std::string clash(const std::vector<HosterProfile>& taken, const HosterProfile& p) {
    for (const HosterProfile& other : taken) {
        if (other.name == p.name)
            return "the name '" + p.name + "' is already the profile of " + other.origin;
        for (const std::string& h : p.hosts) {
            if (std::find(other.hosts.begin(), other.hosts.end(), h) != other.hosts.end())
                return "the host " + h + " is already handled by '" + other.name + "' (" +
                       other.origin + ")";
        }
    }
    return {};
}

} // namespace

HosterLoad LoadHosters(const std::vector<std::string>& dirs, bool withBuiltins) {
    HosterLoad load;
    std::size_t files = 0;
    for (const std::string& dir : dirs) {
        std::error_code ec;
        if (!fs::is_directory(dir, ec))
            continue;
        if (const std::string why = notTheUsers(dir, true); !why.empty()) {
            load.problems.push_back(dir + ": refused: " + why + "; none of its profiles is read");
            continue;
        }
        std::vector<fs::path> paths;
        for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
            if (it->path().extension() == ".toml")
                paths.push_back(it->path());
        }
        std::sort(paths.begin(), paths.end());
        for (const fs::path& path : paths) {
            if (++files > MaxProfileFiles) {
                load.problems.push_back(dir + ": more than " + std::to_string(MaxProfileFiles) +
                                        " profiles; the rest are not read");
                break;
            }
            const std::string file = path.string();
            std::error_code sec;
            const auto status = fs::symlink_status(path, sec);
            // A pipe or a device would block the start; a link may point anywhere.
            if (!fs::is_regular_file(status)) {
                load.problems.push_back(file + ": not a regular file");
                continue;
            }
            if (const std::string why = notTheUsers(file, false); !why.empty()) {
                load.problems.push_back(file + ": refused: " + why);
                continue;
            }
            if (fs::file_size(path, sec) > MaxProfileBytes) {
                load.problems.push_back(file + ": the file is larger than " +
                                        std::to_string(MaxProfileBytes / 1024) +
                                        " KiB; a hoster profile is a few lines");
                continue;
            }
            std::ifstream in(path, std::ios::binary);
            const std::string text((std::istreambuf_iterator<char>(in)), {});
            Result<HosterProfile> p = ParseProfile(text, file, dir);
            if (!p) {
                load.problems.push_back(p.reason());
                continue;
            }
            if (const std::string why = clash(load.profiles, *p); !why.empty()) {
                load.problems.push_back(file + ": refused: " + why);
                continue;
            }
            load.profiles.push_back(std::move(*p));
        }
    }
    if (!withBuiltins)
        return load;
    const std::size_t users = load.profiles.size();
    for (HosterProfile& builtin : BuiltinHosters()) {
        for (std::size_t i = 0; i < users; ++i) {
            const HosterProfile& user = load.profiles[i];
            if (user.name == builtin.name || !clash({builtin}, user).empty())
                load.notices.push_back(user.origin + ": takes the place of the built-in '" +
                                       builtin.name + "' for its links");
        }
        load.profiles.push_back(std::move(builtin));
    }
    return load;
}

} // namespace torvaline
