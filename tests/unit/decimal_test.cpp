// The portable decimal conversions against the standard library's, over
// millions of doubles and texts: random bit patterns, the ends of every
// binade, subnormals, integers near 2^53, exact midpoints between
// neighbouring doubles, and the numbers of the golden programs.
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/bits.h"
#include "model/decimal.h"

namespace skern::decimal {
namespace {

#if SKERN_HAVE_FLOAT_CHARCONV

// How many values each random sweep draws: `base`, or base times
// SKERN_DECIMAL_SCALE for a longer run.
std::size_t draws(std::size_t base) {
  const char* scale = std::getenv("SKERN_DECIMAL_SCALE");
  return scale == nullptr ? base : base * std::strtoull(scale, nullptr, 10);
}

std::uint64_t bits_of(double value) { return skern::bit_cast<std::uint64_t>(value); }
double from_bits(std::uint64_t bits) { return skern::bit_cast<double>(bits); }

std::string describe(double value) {
  std::array<char, 64> text{};
  std::snprintf(text.data(), text.size(), "%.17g [%016llx]", value, static_cast<unsigned long long>(bits_of(value)));
  return text.data();
}

std::string abbreviate(const std::string& text) {
  return text.size() <= 90 ? text : text.substr(0, 50) + "..." + text.substr(text.size() - 30);
}

// The shortest digits in scientific form, a text both parsers read.
std::string scientific(const Digits& digits) {
  std::string text(digits.view().substr(0, 1));
  if (digits.count > 1) {
    text += '.';
    text += digits.view().substr(1);
  }
  return text + "e" + std::to_string(digits.exponent);
}

// Compares both paths on many values and counts disagreements, reporting
// only the first few, so that a broken path shows examples rather than a
// million lines.
class Comparison {
 public:
  Comparison() = default;
  Comparison(const Comparison&) = delete;
  Comparison& operator=(const Comparison&) = delete;
  ~Comparison() {
    EXPECT_EQ(failures_, 0U) << failures_ << " disagreement(s) in " << checked_ << " comparisons";
    EXPECT_GT(checked_, 0U);
  }

  // Both paths give the same shortest digits, and both read them back.
  void shortest(double value) {
    ++checked_;
    const Digits mine = portable::shortest(value);
    const Digits theirs = native::shortest(value);
    if (!(mine == theirs)) {
      std::ostringstream out;
      out << "shortest of " << describe(value) << ": portable " << mine.view() << "e" << mine.exponent << ", native "
          << theirs.view() << "e" << theirs.exponent;
      report(out.str());
      return;
    }
    parse(scientific(mine), value);
  }

  // Both paths read `text` as the same double, and as `expected` if given.
  void parse(const std::string& text, std::optional<double> expected = std::nullopt) {
    ++checked_;
    const double mine = portable::parse(text);
    const double theirs = native::parse(text);
    std::ostringstream out;
    if (bits_of(mine) != bits_of(theirs)) {
      out << "parse of \"" << abbreviate(text) << "\": portable " << describe(mine) << ", native " << describe(theirs);
    } else if (expected && bits_of(mine) != bits_of(*expected)) {
      out << "parse of \"" << abbreviate(text) << "\": both " << describe(mine) << ", expected " << describe(*expected);
    } else {
      return;
    }
    report(out.str());
  }

  [[nodiscard]] std::size_t checked() const { return checked_; }

 private:
  void report(const std::string& what) {
    if (++failures_ <= 20) {
      ADD_FAILURE() << what;
    }
  }

  std::size_t checked_ = 0;
  std::size_t failures_ = 0;
};

// --- Exact decimal texts of binary fractions ------------------------------

// A natural number in base 10^9, least significant first.
using Decimal = std::vector<std::uint64_t>;
constexpr std::uint64_t BILLION = 1000000000;

void multiply(Decimal& number, std::uint64_t factor) {
  std::uint64_t carry = 0;
  for (std::uint64_t& limb : number) {
    const std::uint64_t product = limb * factor + carry;
    limb = product % BILLION;
    carry = product / BILLION;
  }
  for (; carry != 0; carry /= BILLION) {
    number.push_back(carry % BILLION);
  }
}

std::string digits_of(const Decimal& number) {
  std::string text = std::to_string(number.back());
  for (std::size_t i = number.size() - 1; i > 0; --i) {
    std::string limb = std::to_string(number[i - 1]);
    text += std::string(9 - limb.size(), '0') + limb;
  }
  return text;
}

// The exact value of odd * 2^power as digits D and an exponent X: D * 10^X.
struct Exact {
  std::string digits;
  int exponent = 0;
  [[nodiscard]] std::string text() const { return digits + "e" + std::to_string(exponent); }
  // The value moved by one unit of a digit appended after the last one.
  [[nodiscard]] Exact nudged_up() const { return {digits + "1", exponent - 1}; }
  [[nodiscard]] Exact nudged_down() const {
    std::string lowered = digits;
    std::size_t i = lowered.size();
    while (lowered[i - 1] == '0') {
      lowered[--i] = '9';
    }
    --lowered[i - 1];
    return {lowered + "9", exponent - 1};
  }
};

Exact exact(std::uint64_t odd, int power) {
  Decimal number{odd % BILLION, odd / BILLION};
  if (number.back() == 0) {
    number.pop_back();
  }
  if (power >= 0) {
    for (int left = power; left > 0; left -= 29) {
      multiply(number, std::uint64_t{1} << std::min(left, 29));
    }
    return {digits_of(number), 0};
  }
  // odd / 2^n = odd * 5^n / 10^n
  for (int left = -power; left > 0; left -= 12) {
    std::uint64_t factor = 1;
    for (int i = 0; i < std::min(left, 12); ++i) {
      factor *= 5;
    }
    multiply(number, factor);
  }
  return {digits_of(number), power};
}

// The midpoint between `value` (non-negative, finite) and the next double up.
Exact midpoint_above(double value) {
  const std::uint64_t bits = bits_of(value);
  const auto biased = static_cast<int>(bits >> 52U);
  std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52U) - 1);
  int exponent = -1074;
  if (biased != 0) {
    mantissa |= std::uint64_t{1} << 52U;
    exponent = biased - 1075;
  }
  return exact(2 * mantissa + 1, exponent - 1);
}

double next_up(double value) { return std::nextafter(value, std::numeric_limits<double>::infinity()); }

// A midpoint reads as the neighbour with the even mantissa; a hair above it
// as the upper neighbour, a hair below as the lower; and so do the same
// texts with a thousand digits more, which the portable path has to cut.
void check_midpoint(Comparison& compare, double value) {
  const double upper = next_up(value);
  const Exact middle = midpoint_above(value);
  compare.parse(middle.text(), bits_of(value) % 2 == 0 ? value : upper);
  compare.parse(middle.nudged_up().text(), upper);
  compare.parse(middle.nudged_down().text(), value);
  const std::string zeros(1000, '0');
  compare.parse(middle.digits + zeros + "e" + std::to_string(middle.exponent - 1000),
                bits_of(value) % 2 == 0 ? value : upper);
  compare.parse(middle.digits + zeros + "1e" + std::to_string(middle.exponent - 1001), upper);
  const Exact below = middle.nudged_down();
  compare.parse(below.digits + std::string(1000, '9') + "e" + std::to_string(below.exponent - 1000), value);
}

// Positive finite doubles from random bit patterns.
double random_double(std::mt19937_64& random) {
  while (true) {
    const double value = from_bits(random() & ~(std::uint64_t{1} << 63U));
    if (std::isfinite(value) && value != 0) {
      return value;
    }
  }
}

// --- Shortest digits ------------------------------------------------------

TEST(DecimalShortest, AgreesOnRandomBitPatterns) {
  Comparison compare;
  std::mt19937_64 random(20250101);
  const std::size_t count = draws(1'000'000);
  for (std::size_t i = 0; i < count; ++i) {
    compare.shortest(random_double(random));
  }
}

TEST(DecimalShortest, AgreesAtTheEndsOfEveryBinade) {
  Comparison compare;
  constexpr std::uint64_t mantissas = std::uint64_t{1} << 52U;
  for (std::uint64_t biased = 0; biased < 2047; ++biased) {
    for (const std::uint64_t mantissa : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{2}, std::uint64_t{3},
                                         mantissas / 2, mantissas - 3, mantissas - 2, mantissas - 1}) {
      const double value = from_bits(biased << 52U | mantissa);
      if (value != 0) {
        compare.shortest(value);
      }
    }
  }
  compare.shortest(std::numeric_limits<double>::max());
  compare.shortest(std::numeric_limits<double>::min());
  compare.shortest(std::numeric_limits<double>::denorm_min());
}

TEST(DecimalShortest, AgreesOnSubnormals) {
  Comparison compare;
  for (std::uint64_t mantissa = 1; mantissa <= 20000; ++mantissa) {
    compare.shortest(from_bits(mantissa));
    compare.shortest(from_bits((std::uint64_t{1} << 52U) - mantissa));
  }
  std::mt19937_64 random(7);
  const std::size_t count = draws(200'000);
  for (std::size_t i = 0; i < count; ++i) {
    compare.shortest(from_bits(random() % (std::uint64_t{1} << 52U) + 1));
  }
}

TEST(DecimalShortest, AgreesOnIntegersNearPowersOfTwoAndTen) {
  Comparison compare;
  for (int bits = 50; bits <= 70; ++bits) {
    const double power = std::ldexp(1.0, bits);
    double below = power;
    double above = power;
    for (int i = 0; i < 3000; ++i) {
      compare.shortest(below);
      compare.shortest(above);
      below = std::nextafter(below, 0.0);
      above = next_up(above);
    }
  }
  for (int exponent = -323; exponent <= 308; ++exponent) {
    const double power = std::pow(10.0, exponent);
    double below = power;
    double above = power;
    for (int i = 0; i < 20 && below > 0; ++i) {
      compare.shortest(below);
      compare.shortest(above);
      below = std::nextafter(below, 0.0);
      above = next_up(above);
    }
  }
  // Integers of up to 17 digits, and decimal fractions of few digits.
  std::mt19937_64 random(11);
  const std::size_t count = draws(200'000);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint64_t digits = random() % 100'000'000'000'000'000ULL + 1;
    compare.shortest(static_cast<double>(digits));
    compare.shortest(static_cast<double>(random() % 100000 + 1) / std::pow(10.0, static_cast<double>(random() % 30)));
  }
}

// --- Reading texts --------------------------------------------------------

TEST(DecimalParse, AgreesOnLongTextsOfRandomDoubles) {
  Comparison compare;
  std::mt19937_64 random(3);
  const std::size_t count = draws(500'000);
  std::array<char, 64> text{};
  for (std::size_t i = 0; i < count; ++i) {
    const double value = random_double(random);
    std::snprintf(text.data(), text.size(), "%.17e", value);
    compare.parse(text.data(), value);
    std::snprintf(text.data(), text.size(), "%.25e", value);
    compare.parse(text.data(), value);
  }
}

TEST(DecimalParse, ReadsMidpointsBetweenNeighboursToEven) {
  Comparison compare;
  std::mt19937_64 random(5);
  const std::size_t count = draws(20'000);
  for (std::size_t i = 0; i < count; ++i) {
    check_midpoint(compare, random_double(random));
  }
  // The ends of the range: zero and the smallest subnormal, the largest
  // subnormal and the smallest normal, the largest double and infinity.
  for (const double value : {0.0, std::numeric_limits<double>::denorm_min(),
                             std::nextafter(std::numeric_limits<double>::min(), 0.0), std::numeric_limits<double>::min(),
                             std::nextafter(std::numeric_limits<double>::max(), 0.0)}) {
    check_midpoint(compare, value);
  }
  const Exact beyond_max = midpoint_above(std::numeric_limits<double>::max());
  compare.parse(beyond_max.text(), std::numeric_limits<double>::infinity());
  compare.parse(beyond_max.nudged_down().text(), std::numeric_limits<double>::max());
  // Integers near 2^53, where doubles step from 1 to 2.
  for (std::uint64_t n = (std::uint64_t{1} << 53U) - 2000; n < (std::uint64_t{1} << 53U) + 2000; ++n) {
    compare.parse(std::to_string(n), static_cast<double>(n));
    compare.parse(std::to_string(n) + ".5");
    compare.parse(std::to_string(n) + ".4999999999999999999999999");
  }
}

TEST(DecimalParse, AgreesOnRandomDigitStringsAndExponents) {
  Comparison compare;
  std::mt19937_64 random(9);
  const std::size_t count = draws(300'000);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t length = random() % 4 == 0 ? random() % 900 + 1 : random() % 25 + 1;
    std::string digits;
    for (std::size_t d = 0; d < length; ++d) {
      digits += static_cast<char>('0' + random() % 10);
    }
    const std::size_t point = random() % (length + 1);
    std::string text = digits.substr(0, point) + "." + digits.substr(point);
    if (text == ".") {
      text = "0";
    }
    const auto exponent = static_cast<int>(random() % 700) - 350;
    compare.parse(text + "e" + std::to_string(exponent));
    compare.parse(text);
  }
}

TEST(DecimalParse, AgreesOnEveryShapeOfText) {
  Comparison compare;
  const double inf = std::numeric_limits<double>::infinity();
  compare.parse("0", 0.0);
  compare.parse("000.000e-99999", 0.0);
  compare.parse("0e999999999999999999999999", 0.0);
  compare.parse(".5", 0.5);
  compare.parse("5.", 5.0);
  compare.parse("5.e3", 5000.0);
  compare.parse("1E+0005", 1e5);
  compare.parse("0001.2500", 1.25);
  compare.parse("0.1", 0.1);
  compare.parse("0.30000000000000004", 0.1 + 0.2);
  compare.parse("123.456", 123.456);
  compare.parse("9007199254740993", 9007199254740992.0);
  compare.parse("1e308", 1e308);
  compare.parse("1e309", inf);
  compare.parse("1e99999999999999999999", inf);
  compare.parse("1e-99999999999999999999", 0.0);
  compare.parse("2.4703282292062328e-324", 5e-324);
  compare.parse("2.4703282292062327e-324", 0.0);
  compare.parse("4.9406564584124654e-324", 5e-324);
  compare.parse("1.7976931348623158e308", 1.7976931348623157e308);
  compare.parse("1.7976931348623159e308", inf);
  compare.parse("0." + std::string(400, '0') + "1e400", 0.1);
  compare.parse("1" + std::string(400, '0') + "e-400", 1.0);
  compare.parse(std::string(5000, '9'), inf);
  compare.parse("0." + std::string(5000, '0') + "1", 0.0);
  compare.parse("1." + std::string(5000, '0') + "1", 1.0);
}

// --- The numbers of the golden programs -----------------------------------

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The numbers in a text: digits, then optionally a point and digits, then
// optionally an exponent.
std::vector<std::string> numbers_in(const std::string& text) {
  std::vector<std::string> found;
  std::size_t i = 0;
  const auto digits_from = [&](std::size_t at) {
    while (at < text.size() && is_digit(text[at])) {
      ++at;
    }
    return at;
  };
  while (i < text.size()) {
    if (!is_digit(text[i])) {
      ++i;
      continue;
    }
    std::size_t end = digits_from(i);
    if (end < text.size() && text[end] == '.') {
      end = digits_from(end + 1);
    }
    if (end < text.size() && (text[end] == 'e' || text[end] == 'E')) {
      std::size_t exponent = end + 1;
      if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) {
        ++exponent;
      }
      if (exponent < text.size() && is_digit(text[exponent])) {
        end = digits_from(exponent);
      }
    }
    found.push_back(text.substr(i, end - i));
    i = end;
  }
  return found;
}

TEST(DecimalGolden, AgreesOnTheNumbersOfTheGoldenPrograms) {
  Comparison compare;
  const std::filesystem::path root = SKERN_SOURCE_DIR;
  for (const char* folder : {"tests/programs", "examples", "tests/examples"}) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root / folder)) {
      const std::string extension = entry.path().extension().string();
      if (extension != ".skr" && extension != ".stdin" && extension != ".stdout") {
        continue;
      }
      std::ifstream in(entry.path(), std::ios::binary);
      const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      for (const std::string& literal : numbers_in(text)) {
        compare.parse(literal);
        const double value = native::parse(literal);
        if (std::isfinite(value) && value != 0) {
          compare.shortest(value);
        }
      }
    }
  }
  EXPECT_GT(compare.checked(), 1000U);
}

#else

TEST(Decimal, PortablePathOnly) {
  GTEST_SKIP() << "this standard library has no floating-point to_chars/from_chars to compare with";
}

#endif

// Whichever path the build uses: the texts every caller depends on.
TEST(Decimal, ChosenPathGivesKnownTexts) {
  EXPECT_EQ(shortest(0.1).view(), "1");
  EXPECT_EQ(shortest(0.1).exponent, -1);
  EXPECT_EQ(shortest(0.1 + 0.2).view(), "30000000000000004");
  EXPECT_EQ(shortest(1e23).view(), "1");
  EXPECT_EQ(shortest(1e23).exponent, 23);
  EXPECT_EQ(shortest(5e-324).view(), "5");
  EXPECT_EQ(shortest(5e-324).exponent, -324);
  EXPECT_EQ(shortest(123.456).view(), "123456");
  EXPECT_EQ(shortest(123.456).exponent, 2);
  EXPECT_EQ(parse("0.1"), 0.1);
  EXPECT_EQ(parse("1e400"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(parse("1e-400"), 0.0);
  EXPECT_EQ(portable::shortest(2.5).view(), "25");
  EXPECT_EQ(portable::parse("2.5"), 2.5);
}

}  // namespace
}  // namespace skern::decimal
