#include "hosters/BuiltinHosters.h"

#include "hosters/ProfileLoader.h"

#include <stdexcept>

namespace torvaline {

namespace {

// The hoster the program was made for: its nine messages, in their order, with the cuts their
// numbers were always read with, and the download form's address cut out of the page text.
constexpr std::string_view kRapidShare = R"toml(
name = "RapidShare"
contains = ["rapidshare"]

[[message]]
name = "FindFileError"
text = "This file is suspected to contain illegal"
reaction = "missing"

[[message]]
name = "FindError"
text = "The file could not be found. Please check the download link."
reaction = "missing"

[[message]]
name = "TryAgainAbout"
text = "Or try again in about"
reaction = "wait"
skip = 1
length = 18
cut = "before_m"

[[message]]
name = "TryAgain"
text = "try again in"
reaction = "wait"
skip = 1
length = 9
cut = "before_m"

[[message]]
name = "FindSlots"
text = "Unfortunately right now our servers are over"
reaction = "fixed_wait"
minutes = 2

[[message]]
# One character only: a wait of 15 minutes reads as 1.
name = "FindWait"
text = "Unfortunately you will have to wait"
reaction = "wait"
skip = 1
length = 1

[[message]]
name = "FindStill"
text = "var c="
reaction = "countdown"
length = 4
cut = "before_semicolon"

[[message]]
name = "FindAbout"
text = "again in about"
reaction = "wait"
skip = 1
length = 11
cut = "before_m"

[[message]]
name = "FindReach"
text = "You have reached the download limit for free-users"
reaction = "limit"
minutes = 1

[button]
value = "Free user"

[link]
from = "cut"
marker = 'action="http'
start = 'action="'
end = '" method'
piece = 162

# The first page names the size; the link check shows it before the row's turn.
[size]
pattern = '(?i)File size:\s*(\d[\d.,]*\s*(?:bytes|[KMGT]i?B))'

[[test]]
url = "http://rapidshare.example/files/1/demo.zip"
html = '<html><body><p>The file could not be found. Please check the download link.</p></body></html>'
reaction = "missing"

[[test]]
url = "http://rapidshare.example/files/1/demo.zip"
html = '<html><body><p>Or try again in about 12 minutes.</p></body></html>'
reaction = "wait"
wait = 720

[[test]]
url = "http://rapidshare.example/files/1/demo.zip"
html = '<html><body><p>Unfortunately right now our servers are overloaded.</p></body></html>'
reaction = "wait"
wait = 120

[[test]]
url = "http://rapidshare.example/files/1/demo.zip"
html = '<html><body><p>You have reached the download limit for free-users.</p></body></html>'
reaction = "limit"
wait = 60

[[test]]
url = "http://rapidshare.example/files/1/demo.zip"
html = '<html><body><p>File size: 1536 KB</p><form method="post" action="demo.zip"><input type="submit" name="free" value="Free user"></form></body></html>'
reaction = "button"
size = "1536 KB"
bytes = 1572864

[[test]]
url = "http://rapidshare.example/files/1/demo.zip"
html = '<html><body><script>var c=45;</script><form name="dlf" action="http://rs1.rapidshare.example/files/1/demo.zip" method="post"><input type="submit" value="Download"></form></body></html>'
reaction = "countdown"
wait = 45
link = "http://rs1.rapidshare.example/files/1/demo.zip"
name = "demo.zip"
)toml";

// The second hoster: the same messages, and the download anchor's address.
constexpr std::string_view kFourShared = R"toml(
name = "4Shared"
contains = ["4shared"]

[[message]]
name = "FindFileError"
text = "This file is suspected to contain illegal"
reaction = "missing"

[[message]]
name = "FindError"
text = "The file could not be found. Please check the download link."
reaction = "missing"

[[message]]
name = "TryAgainAbout"
text = "Or try again in about"
reaction = "wait"
skip = 1
length = 18
cut = "before_m"

[[message]]
name = "TryAgain"
text = "try again in"
reaction = "wait"
skip = 1
length = 9
cut = "before_m"

[[message]]
name = "FindSlots"
text = "Unfortunately right now our servers are over"
reaction = "fixed_wait"
minutes = 2

[[message]]
name = "FindWait"
text = "Unfortunately you will have to wait"
reaction = "wait"
skip = 1
length = 1

[[message]]
name = "FindStill"
text = "var c="
reaction = "countdown"
length = 4
cut = "before_semicolon"

[[message]]
name = "FindAbout"
text = "again in about"
reaction = "wait"
skip = 1
length = 11
cut = "before_m"

[[message]]
name = "FindReach"
text = "You have reached the download limit for free-users"
reaction = "limit"
minutes = 1

[button]
value = "Free user"

[link]
# The cut runs up to "onclick"; trim drops the quote and blanks it keeps in front of it.
from = "cut"
marker = 'A href="http'
start = 'A href="'
end = "onclick"
piece = 162
trim = true

[[test]]
url = "http://www.4shared.example/file/1/song.mp3.html"
html = '<html><body><script>var c=20;</script><a href="http://dc1.4shared.example/get/1/song.mp3" onclick="go()">Download</a></body></html>'
reaction = "countdown"
wait = 20
link = "http://dc1.4shared.example/get/1/song.mp3"
name = "song.mp3"
)toml";

// The commonest family of free hosters today: a "Free Download" button posting op=download1,
// then a countdown in <span id="countdown"> and a second form (op=download2) whose answer
// redirects to the file.
constexpr std::string_view kFreeDownload = R"toml(
name = "XFileSharing"
# Links of these hosters end in a file code of 12 letters and digits, then maybe the name's
# page (name.html).
url = '^https?://[^/?#]+/(?:[^?#]*/)?[0-9a-z]{12}(?:/[^/?#]+\.html?)?(?:[?#].*)?$'

[[message]]
text = "File Not Found"
reaction = "missing"

[[message]]
text = "You have reached the download-limit"
reaction = "limit"
minutes = 60

[[message]]
pattern = '(?i)file (?:was|has been) (?:removed|deleted)'
reaction = "missing"

[[message]]
# The wait in whatever units it comes: "3 seconds", "7 minutes, 12 seconds", "1 hour, 5 minutes"
# (read whole, not as its first number of minutes)...
pattern = 'You have to wait (\d[^<]*?) (?:till|until|before) (?:the )?next download'
reaction = "wait"

[[message]]
# ...or in minutes, as the family has always written it.
pattern = 'You have to wait (\d+) minute'
reaction = "wait"

[[message]]
text = "This file is available for Premium Users only"
reaction = "fail"
reason = "the file is for the hoster's premium users only"

[[message]]
pattern = 'You can download files up to (\d+ ?[KMGT]?b) only'
reaction = "fail"
reason = "the hoster lets free users download files up to $1 only"

[[message]]
pattern = '(?i)(?:all )?(?:download )?servers are (?:busy|overloaded|full)|no free download slots'
reaction = "fixed_wait"
minutes = 5

[file_name]
control = "fname"

[size]
pattern = '(?i)<span class="size">([^<]+)</span>'

# What the pages of split archives tell of a part: "Password: <b>xyz</b>" (in bold or not,
# never a password field's label) and "MD5: <b>...</b>" (or SHA-1).
[password]
pattern = '(?i)\bpassword\s*:\s*(?:&nbsp;\s*)*(?:</?(?:b|strong|span|code|font|i|em|tt|td)\b[^>]*>\s*)*([^<>\s][^<>\r\n]*)'

[checksum]
pattern = '(?i)\b(?:md5|sha-?1)(?:\s*(?:hash|checksum|sum))?\s*:\s*(?:&nbsp;\s*)*(?:</?(?:b|strong|span|code|font|i|em|tt|td)\b[^>]*>\s*)*([0-9a-f]+)\b'

# The first page: the free download button.
[[step]]
name = "free"
press = { value = "Free Download" }

# The countdown page: wait out the countdown (a span whose id or class says so, or a script
# variable), then post the second form; its answer is the file, a redirect to it, or a page
# with the direct link.
[[step]]
name = "countdown"
countdown = '(?is)(?:<span[^>]*\b(?:id|class)="[^"]*(?:countdown|seconds|timer)[^"]*"[^>]*>|\bvar\s+(?:countdown|seconds|timer|wait)\s*=\s*)\s*(\d+(?:\s*(?:seconds?|secs?|minutes?|mins?))?)'
post = { name = "op", value = "download2" }
digit_captcha = "code"

# The same form without a countdown: posted at once.
[[step]]
name = "second form"
post = { name = "op", value = "download2" }
digit_captcha = "code"

# The answer that holds the direct link as an anchor.
[[step]]
name = "link page"
match = '(?i)direct download link|click here to download|download link is ready'
link = { from = "anchor", pattern = '(?i)^https?://[^/]+/(?:d|dl|file|files|download)/[^#]+' }

[[test]]
url = "http://files.example/abcdef012345/demo.bin.html"
html = '<html><body><h2>File Not Found</h2></body></html>'
reaction = "missing"

[[test]]
url = "http://files.example/abcdef012345/demo.bin.html"
html = '<html><body><div class="err">You have to wait 7 minutes, 12 seconds till next download</div></body></html>'
reaction = "wait"
wait = 432

[[test]]
url = "http://files.example/abcdef012345/demo.bin.html"
html = '<html><body><div class="err">You have reached the download-limit: 1024 Mb for last 1 days</div></body></html>'
reaction = "limit"
wait = 3600

[[test]]
url = "http://files.example/abcdef012345/demo.bin.html"
html = '<html><body><form method="POST" action=""><input type="hidden" name="op" value="download1"><input type="hidden" name="id" value="abcdef012345"><input type="submit" name="method_free" value="Free Download"></form></body></html>'
reaction = "button"

[[test]]
url = "http://files.example/abcdef012345/demo.bin.html"
html = '<html><body><p>Wait <span id="countdown">30</span> seconds</p><form name="F1" method="POST" action=""><input type="hidden" name="op" value="download2"><input type="hidden" name="id" value="abcdef012345"><input type="hidden" name="fname" value="demo.bin"><input type="submit" id="btn_download" value="Create Download Link"></form></body></html>'
reaction = "countdown"
wait = 30
link = "http://files.example/abcdef012345/demo.bin.html"
name = "demo.bin"

[[test]]
url = "http://files.example/abcdef012345/demo.bin.html"
html = '<html><body><h2>The file was removed by its owner</h2></body></html>'
reaction = "missing"

[[test]]
url = "http://files.example/abcdef012345/demo.bin.html"
html = '<html><body><p>This file has been deleted.</p></body></html>'
reaction = "missing"

[[test]]
url = "http://files.example/abcdef012345/demo.bin.html"
html = '<html><body><div class="err">You have to wait 3 seconds till next download</div></body></html>'
reaction = "wait"
wait = 3

[[test]]
url = "http://files.example/abcdef012345/demo.bin.html"
html = '<html><body><div class="err">You have to wait 1 hour, 5 minutes, 10 seconds till next download</div></body></html>'
reaction = "wait"
wait = 3910

[[test]]
url = "http://files.example/abcdef012345/demo.bin.html"
html = '<html><body><p>This file is available for Premium Users only.</p></body></html>'
reaction = "failed"
reason = "premium users only"

[[test]]
url = "http://files.example/abcdef012345/demo.bin.html"
html = '<html><body><p>You can download files up to 400 Mb only. Upgrade your account.</p></body></html>'
reaction = "failed"
reason = "up to 400 Mb only"

[[test]]
url = "http://files.example/abcdef012345/demo.bin.html"
html = '<html><body><p>All download servers are busy. Try again later.</p></body></html>'
reaction = "wait"
wait = 300

[[test]]
url = "http://files.example/abcdef012345/demo.bin.html"
html = '<html><body><p>Please wait <span class="seconds">12</span> seconds</p><form method="POST" action=""><input type="hidden" name="op" value="download2"><input type="hidden" name="fname" value="demo.bin"><input type="submit" value="Create Download Link"></form></body></html>'
reaction = "countdown"
wait = 12
step = "countdown"
name = "demo.bin"

[[test]]
url = "http://files.example/abcdef012345/demo.bin.html"
html = '<html><body><script>var countdown = 45;</script><form method="POST" action=""><input type="hidden" name="op" value="download2"><input type="hidden" name="fname" value="demo.bin"><input type="submit" value="Create Download Link"></form></body></html>'
reaction = "countdown"
wait = 45
step = "countdown"

[[test]]
url = "http://files.example/abcdef012345/demo.bin.html"
html = '<html><body><form method="POST" action=""><input type="hidden" name="op" value="download2"><input type="hidden" name="fname" value="demo.bin"><input type="submit" value="Create Download Link"></form></body></html>'
reaction = "button"
step = "second form"

[[test]]
url = "http://files.example/abcdef012345/demo.bin.html"
html = '<html><body><form method="POST" action=""><input type="hidden" name="op" value="download2"><input type="hidden" name="fname" value="demo.bin"><div><span style="position:absolute;padding-left:42px">7</span><span style="position:absolute;padding-left:6px">3</span><span style="position:absolute;padding-left:24px">1</span></div><input type="text" name="code"><input type="submit" value="Create Download Link"></form></body></html>'
reaction = "button"
step = "second form"

[[test]]
url = "http://files.example/abcdef012345/demo.bin.html"
html = '<html><body><p>Your download link is ready.</p><a href="http://s3.files.example/d/q8w7e6r5t4y3/demo.bin">Click here to download</a></body></html>'
reaction = "link"
link = "http://s3.files.example/d/q8w7e6r5t4y3/demo.bin"
name = "demo.bin"
step = "link page"

[[test]]
url = "http://files.example/abcdef012345/demo.bin.html"
html = '<html><body><p>Size: <span class="size">1.2 GB</span></p><form method="POST" action=""><input type="submit" name="method_free" value="Free Download"></form></body></html>'
reaction = "button"
size = "1.2 GB"
bytes = 1288490189

[[test]]
url = "http://files.example/abcdef012345/demo.part1.rar.html"
html = '<html><body><h2>Download File demo.part1.rar</h2><p>Password: <b>demo&amp;secret</b></p><p>MD5: <b>0123456789ABCDEF0123456789abcdef</b></p><form method="POST" action=""><input type="submit" name="method_free" value="Free Download"></form></body></html>'
reaction = "button"
password = "demo&secret"
checksum = "0123456789abcdef0123456789abcdef"

[[test]]
url = "http://files.example/abcdef012345/demo.bin.html"
html = '<html><body><div class="g-recaptcha" data-sitekey="x"></div><form method="POST" action=""><input type="hidden" name="op" value="download2"><input type="hidden" name="fname" value="demo.bin"><input type="submit" value="Go"></form></body></html>'
reaction = "failed"
reason = "needs a browser captcha (reCAPTCHA)"

[[test]]
url = "http://files.example/abcdef012345/demo.bin.html"
html = '<html><body><div class="h-captcha" data-sitekey="x"></div><form method="POST" action=""><input type="hidden" name="op" value="download2"><input type="hidden" name="fname" value="demo.bin"><input type="submit" value="Go"></form></body></html>'
reaction = "failed"
reason = "needs a browser captcha (hCaptcha)"

[[test]]
url = "http://files.example/abcdef012345/demo.bin.html"
html = '<html><body><form method="POST" action=""><input type="hidden" name="op" value="download2"><input type="hidden" name="fname" value="demo.bin"><img src="/captchas/4f2a.jpg"><input type="text" name="code"><input type="submit" value="Go"></form></body></html>'
reaction = "failed"
reason = "needs a captcha"
)toml";

} // namespace

const std::vector<BuiltinHosterText>& BuiltinHosterTexts() {
    static const std::vector<BuiltinHosterText> texts{
        {"built-in 4shared.toml", kFourShared},
        {"built-in rapidshare.toml", kRapidShare},
        {"built-in xfilesharing.toml", kFreeDownload},
    };
    return texts;
}

std::vector<HosterProfile> BuiltinHosters() {
    std::vector<HosterProfile> profiles;
    for (const BuiltinHosterText& t : BuiltinHosterTexts()) {
        Result<HosterProfile> p = ParseProfile(t.toml, std::string(t.file), {});
        // Shipped with the program and checked by its tests: a failure is a build fault.
        if (!p)
            throw std::logic_error("built-in hoster profile: " + p.reason());
        p->origin = "built-in";
        profiles.push_back(std::move(*p));
    }
    return profiles;
}

} // namespace torvaline
