// Decimal texts of doubles, both ways: the shortest digits that read back to
// the same double, and the double nearest to a decimal text.
//
// Where the standard library converts floating-point numbers (std::to_chars
// and std::from_chars for double), that is what runs. Toolchains without
// them (the WebAssembly one among them) get the portable conversions, which
// are written here from exact integer arithmetic. The portable ones are
// compiled on every toolchain, so that tests can compare both.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace skern::decimal {

// The shortest digits of a positive finite double: d1 d2 ... dn, no leading
// or trailing zero, standing for d1.d2...dn times ten to `exponent`. Among
// the shortest texts that read back to the value, the one nearest to it;
// of two equally near, the one ending in an even digit.
struct Digits {
  std::array<char, 17> digits{};
  int count = 0;
  int exponent = 0;

  [[nodiscard]] std::string_view view() const { return {digits.data(), static_cast<std::size_t>(count)}; }
  friend bool operator==(const Digits&, const Digits&) = default;
};

// `value` must be positive and finite.
[[nodiscard]] Digits shortest(double value);

// The double nearest to `text` (ties to even), which must be decimal text
// without a sign: digits with an optional point, digits on at least one side
// of it, then an optional exponent ("e" or "E", an optional sign, digits).
// Magnitudes beyond the largest double give infinity, those below half the
// smallest give zero; no digit string is too long.
[[nodiscard]] double parse(std::string_view text);

namespace portable {
[[nodiscard]] Digits shortest(double value);
[[nodiscard]] double parse(std::string_view text);
}  // namespace portable

#if SKERN_HAVE_FLOAT_CHARCONV
namespace native {
[[nodiscard]] Digits shortest(double value);
[[nodiscard]] double parse(std::string_view text);
}  // namespace native
#endif

}  // namespace skern::decimal
