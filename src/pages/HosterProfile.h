#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace torvaline {

// A compiled regular expression of a hoster profile. The core only asks for the first match;
// whoever loads profiles supplies an engine that stays linear on any page.
class TextPattern {
public:
    virtual ~TextPattern() = default;
    // The first match that starts at or after `from`. On a match, `at` is its 0-based offset
    // and `group` the text of its first capture group (the whole match when it has none).
    virtual bool search(std::string_view text, std::size_t from, std::size_t& at,
                        std::string& group) const = 0;
    // Whether the pattern matches anywhere in `text`.
    bool matches(std::string_view text) const {
        std::size_t at = 0;
        std::string group;
        return search(text, 0, at, group);
    }
};
using PatternPtr = std::shared_ptr<const TextPattern>;

// Exact text or a pattern: what a profile looks for.
struct Marker {
    std::string text;   // exact, case-sensitive; used when there is no pattern
    PatternPtr pattern; // regular expression
    std::string source; // the pattern's text, for messages and comparisons
    bool empty() const { return text.empty() && !pattern; }
    bool operator==(const Marker& o) const { return text == o.text && source == o.source; }
};

// One message of the hoster and what it sets in motion.
struct ProfileMessage {
    enum class Reaction {
        Missing,     // the file is missing or blocked: the cycle's bad-link step
        WaitMinutes, // wait the minutes the page names, then open the link again
        FixedWait,   // wait `minutes`, which the page does not spell out
        Countdown,   // count down the seconds the page names, then fetch the direct link
        Limit,       // the download limit: wait `minutes`
        Fail,        // the row fails with `reason` (its "$1": the capture group); the list goes on
    };
    // How the number is cut from the text behind an exact marker (a pattern's first capture
    // group is the number as it stands).
    enum class Cut {
        AsRead,     // the characters read, as they stand
        BeforeM,    // in front of the last "m" of what was read, less one character
        BeforeSemi, // in front of the last ";" of what was read
    };
    std::string name;
    Marker marker;
    Reaction reaction = Reaction::Missing;
    std::size_t skip = 0;   // characters skipped behind an exact marker
    std::size_t length = 0; // characters read behind it
    Cut cut = Cut::AsRead;
    int minutes = 0;    // FixedWait, Limit
    std::string reason; // Fail
    bool operator==(const ProfileMessage&) const = default;
};

// A form control or a form, found in the parsed page.
struct ControlQuery {
    enum class By { Value, Name, Id, FormAction };
    By by = By::Value;
    std::string text;  // the value, name or id; unused for FormAction
    std::string value; // with Name: the control's value must equal this too (empty: any)
    Marker formAction; // FormAction: the pattern the form's address must match
    bool empty() const { return text.empty() && formAction.empty(); }
    bool operator==(const ControlQuery&) const = default;
};

// Where the direct link of a countdown page comes from.
struct LinkSource {
    enum class From {
        Cut,        // the page text between two marks behind a marker (the classic cut)
        FormAction, // the address of the form that `control` finds
        Anchor,     // the first anchor whose href matches `pattern`
        Pattern,    // the first capture group of `pattern` in the page text
        PostForm,   // posting the form that `control` finds; its answer redirects to the file
    };
    From from = From::Cut;
    // Cut: the piece of `piece` characters from `marker` on, then the text between the first
    // `startMark` and the first `endMark` of that piece; `trimTail` drops the blanks and the
    // quote an anchor cut keeps in front of its end mark.
    std::string marker;
    std::string startMark;
    std::string endMark;
    std::size_t piece = 162;
    bool trimTail = false;
    ControlQuery control;
    Marker pattern;
    bool operator==(const LinkSource&) const = default;
};

// Where the file name (or the size, the archive's password, its checksum) comes from; empty:
// the name is the link's last part, and the rest is not read.
struct ValueSource {
    Marker pattern;      // the first capture group in the page text
    std::string control; // the value of the form control of this name
    bool empty() const { return pattern.empty() && control.empty(); }
    bool operator==(const ValueSource&) const = default;
};

// One page of a hoster's way to the file: how it is recognised, and what to do there.
struct ProfileStep {
    enum class Action {
        Press,  // press `control` (a button); the browser goes on to the answer
        Post,   // submit the form `control` finds, with the page's hidden fields
        Follow, // open the address `link` finds, as the next page
        Link,   // `link` is the direct link (or its form's answer is the file): transfer it
    };
    std::string name;
    // All of these must be on the page (its text) for the step to be the page's.
    std::vector<Marker> match;
    // A step with a countdown is the page's only while it is there; it is waited out first.
    // Its capture group is the seconds, or a duration as the site writes it.
    Marker countdown;
    Action action = Action::Press;
    ControlQuery control; // Press, Post; also must be on the page
    LinkSource link;      // Follow, Link
    // The name of the form field the page's digit captcha (digits drawn by position) goes in.
    std::string digitCaptcha;
    bool operator==(const ProfileStep&) const = default;
};

// A canned page of a profile and what it must yield.
struct ProfileTestPage {
    std::string file; // where it came from, for the report
    std::string html;
    std::string url;      // the address the page is read as coming from
    std::string reaction; // "missing", "wait", "countdown", "limit", "button", "none"
    int wait = -1;        // seconds; -1: not checked
    std::string link;     // empty: not checked
    std::string name;     // empty: not checked
    std::string size;     // empty: not checked
    long long bytes = -1; // the size read as bytes; -1: not checked
    std::string password; // the archive's password the page tells; empty: not checked
    std::string checksum; // its MD5 or SHA-1, lower-case hexadecimal; empty: not checked
    std::string step;     // the step that acted; empty: not checked
    std::string reason;   // "failed": a text the failure must contain
    bool operator==(const ProfileTestPage&) const = default;
};

// Everything Torvaline knows of one hoster: which links are its, its messages in order, its
// free-download button and where the direct link comes from.
struct HosterProfile {
    std::string name;   // shown in the Host column
    std::string origin; // the file it was read from, or "built-in"
    // A link is this hoster's when its host is one of `hosts` (or below one), when it contains
    // one of `contains`, or when it matches `url`.
    std::vector<std::string> hosts;
    std::vector<std::string> contains;
    Marker url;
    std::vector<ProfileMessage> messages;
    ControlQuery button;
    LinkSource link;
    ValueSource fileName;
    ValueSource size;
    // What the pages say of the file as an archive part: the password to extract it with,
    // and its MD5 (32 hexadecimal digits) or SHA-1 (40) to check it against.
    ValueSource password;
    ValueSource checksum;
    // The way to the file page by page; empty: the button and the link above, as always.
    std::vector<ProfileStep> steps;
    std::vector<ProfileTestPage> tests;
    // How many of its rows may be worked on at once (a free user's limit is mostly one).
    int maxParallel = 1;

    bool handles(std::string_view link) const;
    bool operator==(const HosterProfile&) const = default;
};

// The host of an absolute address, lower case; empty when it has none.
std::string LinkHost(std::string_view link);

// A whole IPv4 address (four numbers of 0 to 255) or a bracketed IPv6 one, as LinkHost gives
// them. An address is a host of its own: "0.0.1" is no parent of "127.0.0.1".
bool IsIpAddress(std::string_view host);
// A dot-separated name of two labels or more (letters, digits, '-' and '_' inside a label, a
// top label that is not a number), lower case.
bool IsHostName(std::string_view host);
// `host` is `entry` or a name below it (dl.files.example of files.example); an address is only
// ever itself.
bool HostIsOrIsBelow(std::string_view host, std::string_view entry);

// The profiles of the hoster the program was made for and of the second one, as compiled in:
// its messages, their order and the cuts of their numbers and links.
HosterProfile RapidShareProfile();
HosterProfile FourSharedProfile();

} // namespace torvaline
