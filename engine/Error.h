// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace corvane {

// A failure that crosses a module border: a domain ("XMP", "DiskSpace", "Validation", "POSIX", "XML"),
// a numeric code within that domain, and the message that reaches the user unchanged.
struct Error {
    std::string domain;
    int code = 0;
    std::string message;

    friend bool operator==(const Error&, const Error&) = default;
};

// Either a value or the Error that prevented it. Ask ok() first: value() on an error, or error() on a
// value, is a programming fault (std::bad_variant_access is thrown).
template <typename T>
class Expected {
public:
    Expected(T value) : state_(std::move(value)) {}
    Expected(Error error) : state_(std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }

    const T& value() const& { return std::get<0>(state_); }
    T& value() & { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    const Error& error() const { return std::get<1>(state_); }

private:
    std::variant<T, Error> state_;
};

// The outcome of an operation that returns nothing on success; error() is an empty Error while ok().
template <>
class Expected<void> {
public:
    Expected() = default;
    Expected(Error error) : error_(std::move(error)), failed_(true) {}

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return error_; }

private:
    Error error_;
    bool failed_ = false;
};

using Status = Expected<void>;

}  // namespace corvane
