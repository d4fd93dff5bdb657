#pragma once

#include "pages/HosterProfile.h"

#include <memory>
#include <string>

namespace torvaline {

// A profile's regular expression in RE2: matching time stays linear in the page's length
// whatever the pattern, and its memory is bounded, so no page and no profile can hang a row.
class Re2Pattern final : public TextPattern {
public:
    // Null, with the reason in `error`, when the pattern does not compile.
    static std::shared_ptr<const Re2Pattern> compile(const std::string& source, std::string& error);
    ~Re2Pattern() override;

    bool search(std::string_view text, std::size_t from, std::size_t& at,
                std::string& group) const override;

    struct Impl;
    explicit Re2Pattern(std::unique_ptr<Impl> impl);

private:
    std::unique_ptr<Impl> m_impl;
};

} // namespace torvaline
