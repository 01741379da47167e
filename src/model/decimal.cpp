// Decimal texts of doubles: the portable conversions by exact integer
// arithmetic, and the standard library's where it has them.
#include "model/decimal.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#if SKERN_HAVE_FLOAT_CHARCONV
#include <charconv>
#include <cstdlib>
#include <string>
#include <system_error>
#endif

#include "model/bits.h"

namespace skern::decimal {

namespace {

// ---------------------------------------------------------------------------
// Natural numbers of fixed capacity
// ---------------------------------------------------------------------------

// A natural number in 32-bit limbs, least significant first, of a capacity
// that the caller knows to be enough. Copies copy only the limbs in use.
template <std::size_t Capacity>
class Natural {
 public:
  Natural() = default;
  explicit Natural(std::uint64_t value) {
    while (value != 0) {
      limbs_[size_++] = static_cast<std::uint32_t>(value);
      value >>= 32U;
    }
  }
  Natural(const Natural& other) : size_(other.size_) {
    std::copy_n(other.limbs_.begin(), size_, limbs_.begin());
  }
  Natural& operator=(const Natural& other) {
    if (this != &other) {
      size_ = other.size_;
      std::copy_n(other.limbs_.begin(), size_, limbs_.begin());
    }
    return *this;
  }
  Natural(Natural&&) noexcept = default;
  Natural& operator=(Natural&&) noexcept = default;
  ~Natural() = default;

  [[nodiscard]] bool is_zero() const { return size_ == 0; }

  [[nodiscard]] std::size_t bit_length() const {
    if (size_ == 0) {
      return 0;
    }
    return (size_ - 1) * 32 + static_cast<std::size_t>(std::bit_width(limbs_[size_ - 1]));
  }

  [[nodiscard]] bool bit(std::size_t index) const {
    const std::size_t limb = index / 32;
    return limb < size_ && ((limbs_[limb] >> (index % 32)) & 1U) != 0;
  }

  // Whether any bit below `index` is set.
  [[nodiscard]] bool any_below(std::size_t index) const {
    const std::size_t whole = std::min(index / 32, size_);
    for (std::size_t i = 0; i < whole; ++i) {
      if (limbs_[i] != 0) {
        return true;
      }
    }
    if (whole < size_ && index % 32 != 0) {
      return (limbs_[whole] & ((std::uint32_t{1} << (index % 32)) - 1)) != 0;
    }
    return false;
  }

  // The bits from `index` up, as a number (the caller knows they fit).
  [[nodiscard]] std::uint64_t bits_from(std::size_t index) const {
    std::uint64_t result = 0;
    for (std::size_t i = 0; i < 64 && index + i < size_ * 32; ++i) {
      if (bit(index + i)) {
        result |= std::uint64_t{1} << i;
      }
    }
    return result;
  }

  void multiply(std::uint32_t factor) {
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < size_; ++i) {
      const std::uint64_t product = std::uint64_t{limbs_[i]} * factor + carry;
      limbs_[i] = static_cast<std::uint32_t>(product);
      carry = product >> 32U;
    }
    if (carry != 0) {
      limbs_[size_++] = static_cast<std::uint32_t>(carry);
    }
  }

  void add(std::uint32_t addend) {
    std::uint64_t carry = addend;
    for (std::size_t i = 0; i < size_ && carry != 0; ++i) {
      const std::uint64_t sum = std::uint64_t{limbs_[i]} + carry;
      limbs_[i] = static_cast<std::uint32_t>(sum);
      carry = sum >> 32U;
    }
    if (carry != 0) {
      limbs_[size_++] = static_cast<std::uint32_t>(carry);
    }
  }

  void multiply_by_power_of_ten(std::size_t exponent) {
    constexpr std::uint32_t billion = 1000000000;
    for (; exponent >= 9; exponent -= 9) {
      multiply(billion);
    }
    std::uint32_t rest = 1;
    for (; exponent > 0; --exponent) {
      rest *= 10;
    }
    multiply(rest);
  }

  void shift_left(std::size_t bits) {
    if (size_ == 0 || bits == 0) {
      return;
    }
    const std::size_t limbs = bits / 32;
    const auto within = static_cast<unsigned>(bits % 32);
    if (within != 0) {
      std::uint32_t carry = 0;
      for (std::size_t i = 0; i < size_; ++i) {
        const std::uint32_t limb = limbs_[i];
        limbs_[i] = (limb << within) | carry;
        carry = limb >> (32U - within);
      }
      if (carry != 0) {
        limbs_[size_++] = carry;
      }
    }
    if (limbs != 0) {
      std::copy_backward(limbs_.begin(), limbs_.begin() + static_cast<std::ptrdiff_t>(size_),
                         limbs_.begin() + static_cast<std::ptrdiff_t>(size_ + limbs));
      std::fill_n(limbs_.begin(), limbs, 0U);
      size_ += limbs;
    }
  }

  void shift_right_one() {
    for (std::size_t i = 0; i < size_; ++i) {
      const std::uint32_t next = i + 1 < size_ ? limbs_[i + 1] : 0U;
      limbs_[i] = (limbs_[i] >> 1U) | (next << 31U);
    }
    trim();
  }

  void add(const Natural& other) {
    std::uint64_t carry = 0;
    const std::size_t size = std::max(size_, other.size_);
    for (std::size_t i = 0; i < size; ++i) {
      const std::uint64_t sum = std::uint64_t{i < size_ ? limbs_[i] : 0U} + (i < other.size_ ? other.limbs_[i] : 0U) + carry;
      limbs_[i] = static_cast<std::uint32_t>(sum);
      carry = sum >> 32U;
    }
    size_ = size;
    if (carry != 0) {
      limbs_[size_++] = static_cast<std::uint32_t>(carry);
    }
  }

  // *this -= other; *this must be at least `other`.
  void subtract(const Natural& other) {
    std::uint64_t borrow = 0;
    for (std::size_t i = 0; i < size_; ++i) {
      const std::uint64_t difference = std::uint64_t{limbs_[i]} - (i < other.size_ ? other.limbs_[i] : 0U) - borrow;
      limbs_[i] = static_cast<std::uint32_t>(difference);
      borrow = (difference >> 32U) != 0 ? 1 : 0;
    }
    trim();
  }

  friend int compare(const Natural& left, const Natural& right) {
    if (left.size_ != right.size_) {
      return left.size_ < right.size_ ? -1 : 1;
    }
    for (std::size_t i = left.size_; i > 0; --i) {
      if (left.limbs_[i - 1] != right.limbs_[i - 1]) {
        return left.limbs_[i - 1] < right.limbs_[i - 1] ? -1 : 1;
      }
    }
    return 0;
  }

  // Whether *this + addend reaches `limit` (or passes it, when `or_equal`
  // is false).
  [[nodiscard]] bool sum_reaches(const Natural& addend, const Natural& limit, bool or_equal) const {
    Natural sum = *this;
    sum.add(addend);
    const int order = compare(sum, limit);
    return or_equal ? order >= 0 : order > 0;
  }

 private:
  void trim() {
    while (size_ > 0 && limbs_[size_ - 1] == 0) {
      --size_;
    }
  }

  std::array<std::uint32_t, Capacity> limbs_{};
  std::size_t size_ = 0;
};

constexpr int MANTISSA_BITS = 52;
constexpr std::uint64_t HIDDEN_BIT = std::uint64_t{1} << MANTISSA_BITS;
constexpr int MIN_EXPONENT = -1074;  // of the last mantissa bit of the smallest doubles

// ---------------------------------------------------------------------------
// Shortest digits
// ---------------------------------------------------------------------------

// Numbers of the shortest-digits search: the value and its neighbours'
// midpoints scaled by powers of two and ten, with room for 17 digits more.
using ShortNatural = Natural<40>;

// An integer below 2^53 is its own digits: any shorter text stands for
// another integer, at least 1 away, and only texts within half a unit read
// back to it.
Digits integer_digits(std::uint64_t integer) {
  Digits result;
  std::array<char, 20> reversed{};
  std::size_t length = 0;
  for (; integer != 0; integer /= 10) {
    reversed[length++] = static_cast<char>('0' + integer % 10);
  }
  result.exponent = static_cast<int>(length) - 1;
  std::size_t first = 0;
  while (reversed[first] == '0') {
    ++first;
  }
  for (std::size_t i = length; i > first; --i) {
    result.digits[static_cast<std::size_t>(result.count++)] = reversed[i - 1];
  }
  return result;
}

// The search for the shortest digits of value = r / s, with the distances
// to the midpoints between the value and its neighbours below (m_low / s)
// and above (m_high / s). Both midpoints count when the mantissa is even,
// as reading rounds ties to even. The value is scaled by ten to the -k.
struct ShortestSearch {
  ShortNatural r;
  ShortNatural s{1};
  ShortNatural m_high{1};
  ShortNatural m_low{1};
  bool ends_count = false;
  int k = 0;
};

ShortestSearch start_search(double value) {
  const auto bits = skern::bit_cast<std::uint64_t>(value);
  const auto biased = static_cast<int>(bits >> static_cast<unsigned>(MANTISSA_BITS));
  std::uint64_t mantissa = bits & (HIDDEN_BIT - 1);
  int exponent = MIN_EXPONENT;
  if (biased != 0) {
    mantissa |= HIDDEN_BIT;
    exponent = biased - 1075;
  }
  // The gap below is half as wide as the one above at a power of two, except
  // for the smallest normal double, whose neighbour below is as far away.
  const bool narrow_below = mantissa == HIDDEN_BIT && biased > 1;
  const std::size_t widen = narrow_below ? 2 : 1;
  ShortestSearch search;
  search.ends_count = mantissa % 2 == 0;
  search.r = ShortNatural(mantissa);
  if (exponent >= 0) {
    search.r.shift_left(static_cast<std::size_t>(exponent) + widen);
    search.s = ShortNatural(std::uint64_t{1} << widen);
    search.m_high.shift_left(static_cast<std::size_t>(exponent) + widen - 1);
    search.m_low.shift_left(static_cast<std::size_t>(exponent));
  } else {
    search.r.shift_left(widen);
    search.s.shift_left(static_cast<std::size_t>(-exponent) + widen);
    search.m_high = ShortNatural(std::uint64_t{1} << (widen - 1));
  }
  return search;
}

// Scales by ten to the k so that the upper midpoint lies below 1 (or at 1,
// when it does not count) but not below a tenth: then the first digit is
// the leading one. The logarithm guesses k; the loops settle it.
void scale_to_first_digit(ShortestSearch& search, double value) {
  search.k = static_cast<int>(std::ceil(std::log10(value) - 1e-10));
  if (search.k >= 0) {
    search.s.multiply_by_power_of_ten(static_cast<std::size_t>(search.k));
  } else {
    const auto power = static_cast<std::size_t>(-search.k);
    search.r.multiply_by_power_of_ten(power);
    search.m_high.multiply_by_power_of_ten(power);
    search.m_low.multiply_by_power_of_ten(power);
  }
  while (search.r.sum_reaches(search.m_high, search.s, search.ends_count)) {
    search.s.multiply(10);
    ++search.k;
  }
  while (true) {
    ShortNatural tenfold = search.r;
    tenfold.add(search.m_high);
    tenfold.multiply(10);
    const int order = compare(tenfold, search.s);
    if (search.ends_count ? order >= 0 : order > 0) {
      return;
    }
    search.r.multiply(10);
    search.m_high.multiply(10);
    search.m_low.multiply(10);
    --search.k;
  }
}

// Generates digits one at a time and stops at the first where the text cut
// there, or cut there and rounded up, lies between the midpoints and so
// reads back to the value.
Digits generate_digits(ShortestSearch& search) {
  // Each digit is below 10: taken as a sum of 8, 4, 2 and 1 times s.
  std::array<ShortNatural, 4> multiples{search.s, search.s, search.s, search.s};
  for (std::size_t i = 1; i < multiples.size(); ++i) {
    multiples[i] = multiples[i - 1];
    multiples[i].add(multiples[i - 1]);
  }
  Digits result;
  result.exponent = search.k - 1;
  ShortNatural& r = search.r;
  while (true) {
    r.multiply(10);
    search.m_high.multiply(10);
    search.m_low.multiply(10);
    int digit = 0;
    for (std::size_t i = multiples.size(); i > 0; --i) {
      if (compare(r, multiples[i - 1]) >= 0) {
        r.subtract(multiples[i - 1]);
        digit += 1 << (i - 1);
      }
    }
    const int low_order = compare(r, search.m_low);
    const bool low_fits = search.ends_count ? low_order <= 0 : low_order < 0;
    const bool high_fits = r.sum_reaches(search.m_high, search.s, search.ends_count);
    if (high_fits && (!low_fits || r.sum_reaches(r, search.s, digit % 2 == 1))) {
      // Rounded up: the only text that reads back, or the nearer of two (the
      // even one of two equally near).
      ++digit;
    }
    result.digits[static_cast<std::size_t>(result.count++)] = static_cast<char>('0' + digit);
    if (low_fits || high_fits) {
      return result;
    }
  }
}

Digits shortest_by_exact_arithmetic(double value) {
  if (value < 0x1p53 && value == std::floor(value)) {
    return integer_digits(static_cast<std::uint64_t>(value));
  }
  ShortestSearch search = start_search(value);
  scale_to_first_digit(search, value);
  return generate_digits(search);
}

// ---------------------------------------------------------------------------
// Reading decimal text
// ---------------------------------------------------------------------------

// Every midpoint between two neighbouring doubles has at most 767
// significant digits, so a text cut after more digits than that, with a 1
// standing for whatever nonzero digits were cut, rounds as the whole text.
constexpr std::size_t KEPT_DIGITS = 780;

// Numbers of reading: up to KEPT_DIGITS + 1 digits scaled by a power of two,
// against ten to the power of those digits plus 324, with 54 bits to spare.
using TextNatural = Natural<128>;

// A text's significant digits (no leading or trailing zero) as an integer D,
// and the power of ten P of its last digit: the value is D times ten to P.
struct Significand {
  std::array<std::uint8_t, KEPT_DIGITS + 1> digits{};
  std::size_t count = 0;
  std::int64_t power = 0;
};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The exponent after "e" or "E" at `text`'s start, if any; 0 otherwise.
std::int64_t read_exponent(std::string_view text) {
  if (text.empty() || (text.front() != 'e' && text.front() != 'E')) {
    return 0;
  }
  text.remove_prefix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  // Any exponent past this bound already means infinity or zero.
  constexpr std::int64_t bound = 1'000'000'000;
  std::int64_t exponent = 0;
  for (std::size_t i = 0; i < text.size() && is_digit(text[i]); ++i) {
    exponent = std::min(bound, exponent * 10 + (text[i] - '0'));
  }
  return negative ? -exponent : exponent;
}

Significand read_significand(std::string_view text) {
  Significand result;
  std::size_t i = 0;
  std::int64_t fraction_digits = 0;
  bool in_fraction = false;
  bool cut_nonzero = false;
  std::int64_t cut_digits = 0;
  std::size_t zeros_pending = 0;  // zeros after the last nonzero digit
  const auto keep = [&](std::uint8_t digit) {
    if (result.count < KEPT_DIGITS) {
      result.digits[result.count++] = digit;
    } else {
      ++cut_digits;
      cut_nonzero = cut_nonzero || digit != 0;
    }
  };
  for (; i < text.size() && (is_digit(text[i]) || text[i] == '.'); ++i) {
    if (text[i] == '.') {
      in_fraction = true;
      continue;
    }
    fraction_digits += in_fraction ? 1 : 0;
    const auto digit = static_cast<std::uint8_t>(text[i] - '0');
    if (digit == 0) {
      // Leading zeros never count; later ones only before a nonzero digit.
      zeros_pending += result.count == 0 ? 0 : 1;
      continue;
    }
    for (; zeros_pending > 0; --zeros_pending) {
      keep(0);
    }
    keep(digit);
  }
  // Trailing zeros and cut digits still count for the scale.
  result.power = static_cast<std::int64_t>(zeros_pending) + cut_digits - fraction_digits + read_exponent(text.substr(i));
  if (cut_nonzero) {
    result.digits[result.count++] = 1;
    --result.power;
  }
  return result;
}

// Ten to the powers that a double holds exactly.
constexpr std::array<double, 23> EXACT_POWERS = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                 1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// quotient times two to `exponent`, rounded up by one unit on `round_up`.
double assemble(std::uint64_t quotient, std::int64_t exponent, bool round_up) {
  if (round_up) {
    ++quotient;
    if (quotient == HIDDEN_BIT << 1U) {
      quotient = HIDDEN_BIT;
      ++exponent;
    }
  }
  if (exponent + MANTISSA_BITS > 1023) {
    return std::numeric_limits<double>::infinity();
  }
  return std::ldexp(static_cast<double>(quotient), static_cast<int>(exponent));
}

// An integer: its first 53 bits, rounded by the bits after them.
double round_integer(const TextNatural& number) {
  const std::size_t length = number.bit_length();
  if (length <= 53) {
    return static_cast<double>(number.bits_from(0));
  }
  const std::size_t shift = length - 53;
  const std::uint64_t quotient = number.bits_from(shift);
  const bool half = number.bit(shift - 1);
  const bool beyond_half = number.any_below(shift - 1);
  return assemble(quotient, static_cast<std::int64_t>(shift), half && (beyond_half || quotient % 2 == 1));
}

// number / divisor: chooses the exponent k of the result's last bit so that
// the quotient number * 2^-k / divisor has 53 bits (fewer for a subnormal
// result), divides one bit at a time and rounds by the remainder.
double round_quotient(const TextNatural& number, const TextNatural& divisor) {
  std::int64_t k = static_cast<std::int64_t>(number.bit_length()) - static_cast<std::int64_t>(divisor.bit_length()) - 53;
  const auto scaled = [&](std::int64_t exponent) {
    std::pair<TextNatural, TextNatural> pair{number, divisor};
    if (exponent < 0) {
      pair.first.shift_left(static_cast<std::size_t>(-exponent));
    } else {
      pair.second.shift_left(static_cast<std::size_t>(exponent));
    }
    return pair;
  };
  {
    // The quotient lies in [2^52, 2^54): one step up when it reaches 2^53.
    auto [dividend, by] = scaled(k);
    by.shift_left(53);
    if (compare(dividend, by) >= 0) {
      ++k;
    }
  }
  k = std::max<std::int64_t>(k, MIN_EXPONENT);
  auto [dividend, by] = scaled(k);
  std::uint64_t quotient = 0;
  TextNatural shifted = by;
  shifted.shift_left(53);
  for (int bit = 53; bit >= 0; --bit) {
    if (compare(dividend, shifted) >= 0) {
      dividend.subtract(shifted);
      quotient |= std::uint64_t{1} << static_cast<unsigned>(bit);
    }
    shifted.shift_right_one();
  }
  return assemble(quotient, k, dividend.sum_reaches(dividend, by, quotient % 2 == 1));
}

double parse_by_exact_arithmetic(std::string_view text) {
  const Significand significand = read_significand(text);
  if (significand.count == 0) {
    return 0.0;
  }
  const auto count = static_cast<std::int64_t>(significand.count);
  const std::int64_t power = significand.power;
  // The value lies in [10^(count + power - 1), 10^(count + power)).
  if (count + power > 310) {
    return std::numeric_limits<double>::infinity();
  }
  if (count + power < -324) {
    return 0.0;
  }
  // Both numbers exact as doubles: one correctly rounded operation.
  if (count <= 15 && power >= -22 && power <= 22) {
    std::uint64_t integer = 0;
    for (std::size_t i = 0; i < significand.count; ++i) {
      integer = integer * 10 + significand.digits[i];
    }
    const auto whole = static_cast<double>(integer);
    const double scale = EXACT_POWERS[static_cast<std::size_t>(power < 0 ? -power : power)];
    return power < 0 ? whole / scale : whole * scale;
  }
  TextNatural number;
  for (std::size_t i = 0; i < significand.count; ++i) {
    number.multiply(10);
    number.add(significand.digits[i]);
  }
  if (power >= 0) {
    number.multiply_by_power_of_ten(static_cast<std::size_t>(power));
    return round_integer(number);
  }
  TextNatural divisor(1);
  divisor.multiply_by_power_of_ten(static_cast<std::size_t>(-power));
  return round_quotient(number, divisor);
}

}  // namespace

// ---------------------------------------------------------------------------
// The entry points
// ---------------------------------------------------------------------------

namespace portable {

Digits shortest(double value) { return shortest_by_exact_arithmetic(value); }

double parse(std::string_view text) { return parse_by_exact_arithmetic(text); }

}  // namespace portable

#if SKERN_HAVE_FLOAT_CHARCONV
namespace native {

Digits shortest(double value) {
  // The shortest round-trip text in scientific form, "d.ddde+XX".
  std::array<char, 32> buffer{};
  const auto written =
      std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::scientific);
  const std::string_view text(buffer.data(), static_cast<std::size_t>(written.ptr - buffer.data()));
  const std::size_t e_pos = text.find('e');
  Digits result;
  for (std::size_t i = 0; i < e_pos; ++i) {
    if (text[i] != '.') {
      result.digits[static_cast<std::size_t>(result.count++)] = text[i];
    }
  }
  const std::size_t exponent_start = e_pos + (text[e_pos + 1] == '+' ? 2 : 1);
  std::from_chars(text.data() + exponent_start, text.data() + text.size(), result.exponent);
  return result;
}

double parse(std::string_view text) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error == std::errc::result_out_of_range) {
    // Beyond the range of a double: strtod rounds to infinity or zero (the
    // text is plain ASCII digits, so the locale does not matter).
    return std::strtod(std::string(text).c_str(), nullptr);
  }
  return value;
}

}  // namespace native

Digits shortest(double value) { return native::shortest(value); }
double parse(std::string_view text) { return native::parse(text); }
#else
Digits shortest(double value) { return portable::shortest(value); }
double parse(std::string_view text) { return portable::parse(text); }
#endif

}  // namespace skern::decimal
