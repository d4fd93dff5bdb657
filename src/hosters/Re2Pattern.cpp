#include "hosters/Re2Pattern.h"

#include <re2/re2.h>

namespace torvaline {

struct Re2Pattern::Impl {
    explicit Impl(const std::string& source, const RE2::Options& options)
        : re(source, options) {}
    RE2 re;
};

namespace {

RE2::Options patternOptions() {
    RE2::Options options;
    options.set_log_errors(false);
    // A pattern's program and its matching state together stay within this; a bigger one is
    // refused at load instead of growing with what a profile asks for.
    options.set_max_mem(8 << 20);
    return options;
}

} // namespace

Re2Pattern::Re2Pattern(std::unique_ptr<Impl> impl)
    : m_impl(std::move(impl)) {}

Re2Pattern::~Re2Pattern() = default;

std::shared_ptr<const Re2Pattern> Re2Pattern::compile(const std::string& source,
                                                      std::string& error) {
    auto impl = std::make_unique<Impl>(source, patternOptions());
    if (!impl->re.ok()) {
        error = impl->re.error();
        return nullptr;
    }
    return std::make_shared<const Re2Pattern>(std::move(impl));
}

int Re2Pattern::programSize() const {
    return m_impl->re.ProgramSize();
}

bool Re2Pattern::search(std::string_view text, std::size_t from, std::size_t& at,
                        std::string& group) const {
    if (from > text.size())
        return false;
    const bool grouped = m_impl->re.NumberOfCapturingGroups() > 0;
    re2::StringPiece pieces[2];
    const int n = grouped ? 2 : 1;
    if (!m_impl->re.Match(re2::StringPiece(text.data(), text.size()), from, text.size(),
                          RE2::UNANCHORED, pieces, n))
        return false;
    at = static_cast<std::size_t>(pieces[0].data() - text.data());
    const re2::StringPiece& g = pieces[grouped ? 1 : 0];
    group.assign(g.data() == nullptr ? "" : std::string(g.data(), g.size()));
    return true;
}

} // namespace torvaline
