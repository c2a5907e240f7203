#pragma once
// What an engine call that can fail returns: its value, or the reason it
// failed, written to be shown to the user as it stands. Failures are data:
// nothing here throws, and a result nobody looks at is a compile warning.

#include <cassert>
#include <optional>
#include <string>
#include <utility>

namespace vessora {

// One item of a batch that failed or was refused, and why: the shape every
// batch (removal, backup, putting back) reports its failures in.
struct Failure {
    std::string path;
    std::string reason;
    friend bool operator==(const Failure&, const Failure&) = default;
};

// The reason a call failed; converts to any Result.
struct Reason {
    std::string text;
};

template <class T> class [[nodiscard]] Result {
public:
    Result(T value) : value_(std::move(value)) {}
    Result(Reason reason) : reason_(std::move(reason.text)) {}

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }

    // Only on success.
    const T& value() const& {
        assert(ok());
        return *value_;
    }
    T& value() & {
        assert(ok());
        return *value_;
    }
    T&& value() && {
        assert(ok());
        return std::move(*value_);
    }
    const T& operator*() const& { return value(); }
    T& operator*() & { return value(); }
    const T* operator->() const { return &value(); }
    T* operator->() { return &value(); }

    // Empty on success.
    const std::string& reason() const { return reason_; }

private:
    std::optional<T> value_;
    std::string reason_;
};

template <> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Reason reason) : failed_(true), reason_(std::move(reason.text)) {}

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const std::string& reason() const { return reason_; }

private:
    bool failed_ = false;
    std::string reason_;
};

} // namespace vessora
