#include "hosters/Re2Pattern.h"

#include <re2/re2.h>

#include <algorithm>
#include <vector>

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

Result<std::shared_ptr<const Re2Pattern>> Re2Pattern::compile(const std::string& source) {
    auto impl = std::make_unique<Impl>(source, patternOptions());
    if (!impl->re.ok())
        return fail(FailureCause::Other, impl->re.error());
    return std::make_shared<const Re2Pattern>(std::move(impl));
}

long Re2Pattern::repetitionWidth(std::string_view source) {
    static constexpr long Cap = 1L << 40;
    // Per open group: what its finished atoms count, and its last atom, which a following
    // count multiplies: `weight` is what one copy of it is worth to a count, `counts` what it
    // adds as it stands (a character nothing, a group what is inside it).
    struct Group {
        long sum = 0;
        long weight = 0;
        long counts = 0;
        void atom(long w, long c) {
            sum = std::min(Cap, sum + counts);
            weight = w;
            counts = c;
        }
        long total() const { return std::min(Cap, sum + counts); }
    };
    std::vector<Group> groups(1);
    const auto readNumber = [&](std::size_t& i, long& value) {
        const std::size_t begin = i;
        value = 0;
        while (i < source.size() && source[i] >= '0' && source[i] <= '9')
            value = std::min(Cap, value * 10 + (source[i++] - '0'));
        return i > begin;
    };
    std::size_t i = 0;
    while (i < source.size()) {
        Group& g = groups.back();
        const char c = source[i];
        if (c == '\\') {
            if (i + 1 < source.size() && source[i + 1] == 'Q') {
                const std::size_t end = source.find("\\E", i + 2);
                i = end == std::string_view::npos ? source.size() : end + 2;
            } else {
                i += 2;
            }
            g.atom(1, 0);
        } else if (c == '[') {
            ++i;
            if (i < source.size() && source[i] == '^')
                ++i;
            if (i < source.size() && source[i] == ']')
                ++i;
            while (i < source.size() && source[i] != ']') {
                if (source[i] == '[' && i + 1 < source.size() && source[i + 1] == ':') {
                    const std::size_t end = source.find(":]", i + 2);
                    i = end == std::string_view::npos ? source.size() : end + 2;
                    continue;
                }
                i += source[i] == '\\' ? 2 : 1;
            }
            ++i;
            g.atom(1, 0);
        } else if (c == '(') {
            ++i;
            groups.emplace_back();
        } else if (c == ')') {
            ++i;
            if (groups.size() > 1) {
                const long inner = groups.back().total();
                groups.pop_back();
                groups.back().atom(std::max(1L, inner), inner);
            }
        } else if (c == '{') {
            std::size_t j = i + 1;
            long low = 0;
            long high = 0;
            bool counted = readNumber(j, low);
            high = low;
            if (counted && j < source.size() && source[j] == ',') {
                ++j;
                if (!readNumber(j, high))
                    high = low;
            }
            counted = counted && j < source.size() && source[j] == '}';
            if (counted) {
                g.counts = std::min(Cap, std::max(low, high) * std::max(1L, g.weight));
                g.weight = g.counts;
                i = j + 1;
            } else {
                ++i;
                g.atom(1, 0);
            }
        } else if (c == '|') {
            ++i;
            g.atom(0, 0);
        } else {
            ++i;
            // *, + and ? repeat without multiplying the automaton's states.
            if (c != '*' && c != '+' && c != '?')
                g.atom(1, 0);
        }
    }
    long total = 0;
    for (const Group& g : groups)
        total = std::min(Cap, total + g.total());
    return total;
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
