#pragma once

#include "platform/FailureCause.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

namespace torvaline {

// Why something could not be done: the cause, for code that acts on it (an RPC error code, a
// retry), and the reason, the text the user reads, worded by the place that saw it.
struct Failure {
    FailureCause cause = FailureCause::Other;
    std::string reason;
};

inline Failure fail(FailureCause cause, std::string reason) {
    return Failure{cause, std::move(reason)};
}

// Reading the value of a failed result (or the failure of a successful one) is a fault of the
// caller, never of the input: it throws rather than hand out something that is not there.
class BadResultAccess final : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

// A T, or the Failure that kept it from being made. A function returns a Failure (or
// fail(cause, reason)) where it has no value; the caller tests ok() before it reads value().
template <class T> class [[nodiscard]] Result {
    static_assert(!std::is_same_v<std::remove_cv_t<T>, Failure>, "a Failure is not a value");

public:
    Result(const T& value)
        : m_state(std::in_place_index<0>, value) {}
    Result(T&& value)
        : m_state(std::in_place_index<0>, std::move(value)) {}
    template <class U>
    requires(std::is_constructible_v<T, U&&> && !std::is_same_v<std::remove_cvref_t<U>, Result> &&
             !std::is_same_v<std::remove_cvref_t<U>, Failure> &&
             !std::is_same_v<std::remove_cvref_t<U>, T>) Result(U&& value)
        : m_state(std::in_place_index<0>, std::forward<U>(value)) {}
    Result(Failure failure)
        : m_state(std::in_place_index<1>, std::move(failure)) {}

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & {
        check();
        return *std::get_if<0>(&m_state);
    }
    const T& value() const& {
        check();
        return *std::get_if<0>(&m_state);
    }
    T&& value() && {
        check();
        return std::move(*std::get_if<0>(&m_state));
    }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const Failure& failure() const {
        if (ok())
            throw BadResultAccess("the result holds a value, not a failure");
        return *std::get_if<1>(&m_state);
    }
    // Empty when the result holds a value.
    const std::string& reason() const {
        static const std::string none;
        return ok() ? none : std::get_if<1>(&m_state)->reason;
    }
    // Other when the result holds a value; ask ok() first.
    FailureCause cause() const {
        return ok() ? FailureCause::Other : std::get_if<1>(&m_state)->cause;
    }

private:
    void check() const {
        if (!ok())
            throw BadResultAccess("no value: " + std::get_if<1>(&m_state)->reason);
    }

    std::variant<T, Failure> m_state;
};

// Done, or the Failure that kept it from being done. A default result is a success.
template <> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Failure failure)
        : m_failure(std::move(failure)) {}

    bool ok() const { return !m_failure; }
    explicit operator bool() const { return ok(); }
    // Nothing to read; throws on a failure, as value() does for a value.
    void value() const {
        if (m_failure)
            throw BadResultAccess("not done: " + m_failure->reason);
    }

    const Failure& failure() const {
        if (!m_failure)
            throw BadResultAccess("the result is a success, not a failure");
        return *m_failure;
    }
    const std::string& reason() const {
        static const std::string none;
        return m_failure ? m_failure->reason : none;
    }
    FailureCause cause() const { return m_failure ? m_failure->cause : FailureCause::Other; }

private:
    std::optional<Failure> m_failure;
};

} // namespace torvaline
