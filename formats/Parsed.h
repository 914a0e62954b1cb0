#pragma once
// What a reader of untrusted input gives: the value, or the reason the input was refused.
#include <optional>
#include <string>
#include <utility>

namespace orvex {

template <class T>
struct TParsed {
    std::optional<T> Value;
    std::string Error;

    explicit operator bool() const { return Value.has_value(); }
    static TParsed Refused(std::string reason) { return TParsed{std::nullopt, std::move(reason)}; }
};

}  // namespace orvex
