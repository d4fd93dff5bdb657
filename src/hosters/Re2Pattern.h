#pragma once

#include "pages/HosterProfile.h"

#include <memory>
#include <string>

namespace torvaline {

// A profile's regular expression in RE2: matching time stays linear in the page's length
// whatever the pattern, and its memory is bounded, so no page and no profile can hang a row.
class Re2Pattern final : public TextPattern {
public:
    // The most steps a compiled pattern may have. When a page drives RE2's automaton past its
    // memory, RE2 goes on step by step, and then a page costs its length times the program's
    // steps: a pattern such as a.{999}c (7000 steps) would take a minute on an 8 MiB page. The
    // bounds leave room for what real hosters need (the family profile's countdown pattern is
    // 171 steps, all its patterns together about 750) and refuse the costly ones.
    static constexpr int MaxProgramSize = 250;
    // The most steps of all of one profile's patterns together, each of which may meet a page.
    static constexpr int MaxProfileProgramSize = 1500;

    // Null, with the reason in `error`, when the pattern does not compile.
    static std::shared_ptr<const Re2Pattern> compile(const std::string& source, std::string& error);
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
