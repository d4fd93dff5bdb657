#pragma once

#include "pages/HosterProfile.h"
#include "platform/Result.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace torvaline {

class Document;
class PageText;
struct CycleState;

// The name of the browser captcha a page carries ("reCAPTCHA", "hCaptcha"), or empty. No
// program answers these; the row can only say so.
std::string_view BrowserCaptcha(std::string_view pageText);
// Whether the page asks for the code of a captcha image (an image whose address says captcha
// next to a code field).
bool ImageCaptcha(std::string_view pageText);
// Where the picture of an image captcha is, as the page writes it; empty when none.
std::string ImageCaptchaSource(std::string_view pageText);
// The digits of a captcha drawn as characters placed by padding, in the order they stand on
// the screen, never none; a PageUnreadable failure when the page has none or one nobody could
// mean.
Result<std::string> ReadDigitCaptcha(std::string_view pageText);

// A profile's steps on the pages of one row: which step a page is, what it does there, and
// the bound on a way that goes round in circles.
class StepEngine final {
public:
    // Returns to an earlier (or the same) step for one row beyond this fail the row.
    static constexpr int MaxReturns = 10;

    struct Outcome {
        enum class Kind {
            Pressed,   // a button was pressed or a form posted: the next page comes
            Follow,    // open `url` as the next page
            Countdown, // arm the countdown of `seconds`; FinalURL/... are set
            Failed,    // the row fails with `failure`
            Captcha,   // a person must read the picture at `url` (as the page wrote it)
        };
        Kind kind = Kind::Failed;
        std::int64_t seconds = 0;
        bool counted = false; // the step had a countdown
        std::string url;
        std::string failure;
        std::string step; // the step that acted
    };

    // Runs the profile's steps on the page. `document` may be null (nothing to press then).
    Outcome act(const HosterProfile& profile, const PageText& page, Document* document,
                CycleState& state);
    // The row starts over: its returns count from nothing.
    void reset();
    // A message acted (a wait, say): coming back to the first page after it is no loop.
    void messageActed() { m_returns = 0; }

private:
    bool recognised(const ProfileStep& step, const PageText& page, const Document* document) const;
    Outcome perform(const HosterProfile& profile, const ProfileStep& step, const PageText& page,
                    Document* document, CycleState& state);

    std::int32_t m_row = -1;
    std::string m_link;
    int m_last = -1;
    int m_returns = 0;
    std::string m_name; // the file's name as the row's pages last told it
};

} // namespace torvaline
