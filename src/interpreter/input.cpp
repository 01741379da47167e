// Converting an input line to a value of the variable's declared type.
#include <limits>
#include <string>

#include "interpreter/interpreter.h"
#include "model/decimal.h"

namespace skern {

namespace {

bool equals_ignoring_case(std::string_view text, std::string_view lower_word) {
  if (text.size() != lower_word.size()) {
    return false;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
    if (c != lower_word[i]) {
      return false;
    }
  }
  return true;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The length of the run of ASCII digits at `from`.
std::size_t digit_run(std::string_view text, std::size_t from) {
  std::size_t end = from;
  while (end < text.size() && is_digit(text[end])) {
    ++end;
  }
  return end - from;
}

// Whether `body` (no sign) is decimal text: digits with an optional point,
// digits on at least one side of it, then an optional exponent.
bool is_decimal_text(std::string_view body) {
  const std::size_t integral = digit_run(body, 0);
  std::size_t i = integral;
  std::size_t fraction = 0;
  if (i < body.size() && body[i] == '.') {
    fraction = digit_run(body, i + 1);
    i += 1 + fraction;
  }
  if (integral + fraction == 0) {
    return false;
  }
  if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
    ++i;
    if (i < body.size() && (body[i] == '+' || body[i] == '-')) {
      ++i;
    }
    const std::size_t exponent = digit_run(body, i);
    if (exponent == 0) {
      return false;
    }
    i += exponent;
  }
  return i == body.size();
}

// Decimal floating-point text: sign, digits with an optional point (digits
// on at least one side), optional exponent; or inf, infinity and nan in any
// letter case with an optional sign.
std::optional<double> parse_wine_text(std::string_view text) {
  std::string_view body = text;
  bool negative = false;
  if (!body.empty() && (body.front() == '+' || body.front() == '-')) {
    negative = body.front() == '-';
    body.remove_prefix(1);
  }
  if (equals_ignoring_case(body, "inf") || equals_ignoring_case(body, "infinity")) {
    return negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
  }
  if (equals_ignoring_case(body, "nan")) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    return negative ? -nan : nan;
  }
  if (!is_decimal_text(body)) {
    return std::nullopt;
  }
  const double value = decimal::parse(body);
  return negative ? -value : value;
}

}  // namespace

Result<Value> parse_input(std::string_view text, DataType type) {
  switch (type) {
    case DataType::Blade:
      if (const auto value = parse_blade_text(text)) {
        return Value::blade(*value);
      }
      return Error::runtime(msg::input_not_blade(text));
    case DataType::Wine:
      if (const auto value = parse_wine_text(text)) {
        return Value::wine(*value);
      }
      return Error::runtime(msg::input_not_wine(text));
    case DataType::Scroll:
      return Value::scroll(text);
    case DataType::Vow:
      if (text == "aye" || text == "true") {
        return Value::vow(true);
      }
      if (text == "nay" || text == "false") {
        return Value::vow(false);
      }
      return Error::runtime(msg::input_not_vow(text));
    case DataType::Sigil:
      if (const auto value = single_scalar_value(text)) {
        return Value::sigil(*value);
      }
      return Error::runtime(msg::input_not_sigil(text));
    case DataType::Void:
      break;
  }
  return Error::runtime(std::string(msg::VOID_INPUT));
}

}  // namespace skern
