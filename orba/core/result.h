#pragma once

#include <string>
#include <utility>
#include <variant>

namespace orba {

// The one message a failed construction step reports: plain English, one line.
struct Error {
    std::string message;
};

inline Error fail(std::string message) { return Error{std::move(message)}; }

// Either the value or one owned message. Construction-time operations (JSON,
// graph text, expressions, compilation, table checks) return this; nothing
// partial survives a failure.
template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(v_); }
    const T& value() const& { return std::get<0>(v_); }
    T&& value() && { return std::get<0>(std::move(v_)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    const std::string& error() const { return std::get<1>(v_).message; }
    // Hands the error on to a caller returning a Result of another type.
    Error take_error() && { return std::get<1>(std::move(v_)); }

private:
    std::variant<T, Error> v_;
};

}  // namespace orba
