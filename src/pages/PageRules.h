#pragma once

#include "pages/HosterProfiles.h"
#include "pages/StepEngine.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace torvaline {

class Clock;
class Document;
class PageText;
class Timer;
struct CycleState;

// The hoster's messages recognised in the page text, and what each of them sets in motion:
// a bad link for the cycle, a retry wait on Timer2, or the countdown on Timer1. Runs on every
// real change of the page text, in the order of the row's hoster profile, while no earlier
// rule has acted. Without profiles of its own it knows the two compiled-in hosters.
class PageRules final {
public:
    struct Ports {
        PageText& page; // Memo2
        CycleState& state;
        Clock& clock;
        Timer& timer1; // countdown before a transfer
        Timer& timer2; // wait before the next attempt
    };
    struct Hooks {
        // The cycle's bad-link step; it may set PageHandled to end the chain.
        std::function<void()> DeleteURLError;
        // Presses the page's "Free user" element when no rule acted.
        std::function<void()> freeUserStep;
        // The "Host" cell of the current row, which picks the link extraction.
        std::function<std::string()> currentHost;
        // Closes the current row as failed, with why. When set, a wait or countdown whose
        // text is not a number fails the row instead of ending the chain with a
        // ConversionError.
        std::function<void(const std::string&)> failRow;
        // Opens an address as the row's next page (a step that follows a link).
        std::function<void(const std::string&)> navigate{};
        // The page shows an image captcha someone is there to read (CaptchaImage says where).
        std::function<void()> captcha{};
    };

    // The "Host" text of rows whose countdown page carries the download anchor.
    static constexpr std::string_view FourSharedHost = "4Shared";

    PageRules(Ports ports, Hooks hooks);

    // The profiles rows are handled by; they must outlive the rules. Null: the compiled ones.
    void setProfiles(const HosterProfiles* profiles);
    // The parsed page, for the profiles that read their link or file name from its forms and
    // anchors.
    void setDocument(std::function<std::shared_ptr<Document>()> document) {
        m_document = std::move(document);
    }
    // The profiles in use: the cycle asks them whether any hoster claims a link.
    const HosterProfiles& profiles() const { return *m_profiles; }
    // The profile of the current row, as the last run of the rules chose it.
    const HosterProfile& profile() const { return *m_profile; }
    // The message the last run of the rules found last; null when none was found.
    const ProfileMessage* lastFound() const { return m_lastFound; }
    // Why the last run of the rules failed the row (a step, a captcha, a message that
    // fails); empty when it did not.
    const std::string& lastFailure() const { return m_failure; }
    // What the profile's steps did on the last page: the step and how; empty name: no step.
    const StepEngine::Outcome& lastStep() const { return m_stepOutcome; }
    // The row starts over: its steps' count of returns too.
    void resetSteps() { m_steps.reset(); }
    // Chooses the current row's profile anew (from its Host cell and link).
    const HosterProfile& chooseProfile();

    // The change handler of the page text. A ConversionError ends the chain and propagates.
    void Memo2Change();

    void FindFileError();
    void FindError();
    void TryAgainAbout();
    void TryAgain();
    void FindSlots();
    void FindWait();
    void FindStill();
    void FindAbout();
    void FindReach();

    // Cut WaitNumber out of WaitText: in front of its last "m" (less one character) and in
    // front of its last ";". Without either, WaitNumber keeps its value.
    void GetTimeAbout();
    void GetTime();

private:
    void apply(const ProfileMessage& rule);
    // Ends the page's handling with the row failed.
    void fail(const std::string& why);
    void runSteps();
    // Keeps what the page says of the row's file as an archive part (the profile's
    // [password] and [checksum]).
    void readArchiveKeys(const HosterProfile& profile);
    void applyNamed(std::string_view name);
    // Runs one number rule's reading and arming; a failed conversion fails the row when the
    // cycle lets it.
    void readNumber(const ProfileMessage& rule, std::size_t p, const std::string& group);
    // Reads the direct link and arms Timer1 with the countdown in WaitNumber.
    void armCountdown();
    // 1-based position in the whole text of the marker's first occurrence in the search
    // region; 0 (and PageHandled cleared) when it is not there.
    std::size_t find(const Marker& marker, std::string& group);
    // Up to n characters from 1-based position from; fewer where the text ends.
    std::string cut(std::size_t from, std::size_t n) const;
    void waitMinutes(const std::string& number);
    void waitSeconds(std::int64_t seconds, const std::string& what);
    // Sets the time text, then WaitSpan from it; waits of a day or more fail the conversion.
    void armSpan(std::int32_t seconds, std::string& text);

    Ports m_p;
    Hooks m_hooks;
    HosterProfiles m_compiled;
    const HosterProfiles* m_profiles = &m_compiled;
    const HosterProfile* m_profile = nullptr;
    const ProfileMessage* m_lastFound = nullptr;
    std::function<std::shared_ptr<Document>()> m_document;
    StepEngine m_steps;
    StepEngine::Outcome m_stepOutcome;
    std::string m_failure;
};

} // namespace torvaline
