#pragma once

#include "pages/HosterProfile.h"
#include "platform/Result.h"

#include <memory>
#include <string>
#include <string_view>

namespace torvaline {

// A profile's regular expression in RE2: matching time stays linear in the page's length
// whatever the pattern, and its memory is bounded, so no page and no profile can hang a row.
class Re2Pattern final : public TextPattern {
public:
    // RE2 matches in time linear in the page with a cached automaton; a counted repetition of
    // a broad class (a.{30}d) multiplies the automaton's states until the cache gives up, and
    // RE2 then goes on step by step: measured on an 8 MiB page, a.{12}d takes 0.06 s, a.{16}d
    // a second, a.{100}d five and a.{999}d forty. So the counts of a pattern's repetitions
    // (nested ones multiplied) are bounded, and so are those of one profile together.
    static constexpr long MaxRepetitionWidth = 12;
    static constexpr long MaxProfileRepetitionWidth = 40;
    // The compiled program's steps, a bound on memory rather than on time.
    static constexpr int MaxProgramSize = 2000;
    static constexpr int MaxProfileProgramSize = 8000;

    // The sum of the counts of the pattern's counted repetitions: {n} and {n,} count n, {n,m}
    // counts m, a counted group counts its own width times its count.
    static long repetitionWidth(std::string_view source);

    // A failure, with RE2's reason, when the pattern does not compile.
    static Result<std::shared_ptr<const Re2Pattern>> compile(const std::string& source);
    ~Re2Pattern() override;

    // The steps of its compiled program (RE2's ProgramSize).
    int programSize() const;

    bool search(std::string_view text, std::size_t from, std::size_t& at,
                std::string& group) const override;

    struct Impl;
    explicit Re2Pattern(std::unique_ptr<Impl> impl);

private:
    std::unique_ptr<Impl> m_impl;
};

} // namespace torvaline
