#pragma once
// The version both tools print for --version; raised with each release.

namespace orvex {

constexpr const char* OrvexVersion = "1.0.0";

}  // namespace orvex
