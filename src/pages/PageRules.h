#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace torvaline {

class Clock;
class PageText;
class Timer;
struct CycleState;

// The hoster's messages recognised in the page text, and what each of them sets in motion:
// a bad link for the cycle, a retry wait on Timer2, or the countdown on Timer1. Runs on every
// real change of the page text, in a fixed order, while no earlier rule has acted.
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
    };

    // The "Host" text of rows whose countdown page carries the download anchor.
    static constexpr std::string_view FourSharedHost = "4Shared";

    // One hoster message: its marker, what is read behind it, and what it arms.
    struct Rule;

    PageRules(Ports ports, Hooks hooks);

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
    void apply(const Rule& rule);
    // Runs one number rule's reading and arming; a failed conversion fails the row when the
    // cycle lets it.
    void readNumber(const Rule& rule, std::size_t p);
    // Reads the direct link and arms Timer1 with the countdown in WaitNumber.
    void armCountdown();
    // 1-based position in the whole text of the marker's first occurrence in the search
    // region; 0 (and PageHandled cleared) when it is not there.
    std::size_t find(std::string_view marker);
    // Up to n characters from 1-based position from; fewer where the text ends.
    std::string cut(std::size_t from, std::size_t n) const;
    void waitMinutes(const std::string& number);
    // Sets the time text, then WaitSpan from it; waits of a day or more fail the conversion.
    void armSpan(std::int32_t seconds, std::string& text);

    Ports m_p;
    Hooks m_hooks;
};

} // namespace torvaline
