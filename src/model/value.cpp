// Values: scroll buffers, display texts, the store rule and the operators.
#include "model/value.h"

#include "model/decimal.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <system_error>

namespace skern {

std::optional<DataType> data_type_from_keyword(std::string_view keyword) {
  for (std::size_t i = 0; i < DATA_TYPE_NAMES.size(); ++i) {
    if (DATA_TYPE_NAMES[i] == keyword) {
      return static_cast<DataType>(i);
    }
  }
  return std::nullopt;
}

// ---------------------------------------------------------------------------
// Scroll buffers
// ---------------------------------------------------------------------------
namespace detail {

ScrollRep* make_scroll_rep(std::string_view head, std::string_view tail, std::size_t capacity) {
  constexpr std::size_t max_bytes = std::numeric_limits<std::size_t>::max() / 2 - sizeof(ScrollRep);
  if (head.size() > max_bytes || tail.size() > max_bytes - head.size()) {
    throw std::bad_alloc();
  }
  const std::size_t size = head.size() + tail.size();
  if (capacity < size) {
    capacity = size;
  }
  if (capacity > max_bytes) {
    capacity = max_bytes;
  }
  void* memory = ::operator new(sizeof(ScrollRep) + capacity);
  auto* rep = std::construct_at(static_cast<ScrollRep*>(memory), ScrollRep{1, size, capacity});
  if (!head.empty()) {
    std::memcpy(rep->bytes(), head.data(), head.size());
  }
  if (!tail.empty()) {
    std::memcpy(rep->bytes() + head.size(), tail.data(), tail.size());
  }
  return rep;
}

void destroy(ScrollRep* rep) noexcept {
  rep->~ScrollRep();
  ::operator delete(static_cast<void*>(rep));
}

}  // namespace detail

Scroll::Scroll(std::string_view text) {
  if (!text.empty()) {
    rep_ = detail::make_scroll_rep(text, {}, text.size());
  }
}

void Value::append_text(std::string_view tail) {
  if (tail.empty()) {
    return;
  }
  detail::ScrollRep* rep = payload_.scroll;
  if (rep != nullptr && rep->refs == 1 && rep->capacity - rep->size >= tail.size()) {
    std::memcpy(rep->bytes() + rep->size, tail.data(), tail.size());
    rep->size += tail.size();
    return;
  }
  // Growing geometrically keeps repeated appends to one scroll linear overall.
  const std::string_view head = detail::view_of(rep);
  std::size_t capacity = head.size() + tail.size();
  if (rep != nullptr && rep->refs == 1) {
    capacity = std::max(capacity, head.size() * 2);
  }
  detail::ScrollRep* grown = detail::make_scroll_rep(head, tail, capacity);
  detail::release(rep);
  payload_.scroll = grown;
}

Value Value::scroll_with_room(std::string_view head, std::size_t capacity) {
  Value value(DataType::Scroll);
  value.payload_.scroll = detail::make_scroll_rep(head, {}, capacity);
  return value;
}

void Value::reserve_text(std::size_t size, Value& other) {
  detail::ScrollRep* rep = payload_.scroll;
  const bool shared = other.shares_text_with(*this);
  if (rep != nullptr && (rep->refs == 1 || (rep->refs == 2 && shared)) && rep->capacity >= size) {
    if (shared) {
      other.reset();
    }
    return;
  }
  const std::string_view text = detail::view_of(rep);
  // Growing geometrically keeps repeated appends to one scroll linear overall.
  const std::size_t capacity = std::max(size, text.size() * 2);
  detail::ScrollRep* grown = detail::make_scroll_rep(text, {}, capacity);
  detail::release(rep);
  payload_.scroll = grown;
}

// ---------------------------------------------------------------------------
// Display
// ---------------------------------------------------------------------------

void append_utf8(std::string& out, char32_t code_point) {
  if (code_point < 0x80) {
    out.push_back(static_cast<char>(code_point));
  } else if (code_point < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code_point >> 6)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else if (code_point < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (code_point >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (code_point >> 18)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
  }
}

namespace {

// The length of the UTF-8 sequence that `lead` starts (0 when it starts none)
// and the range its second byte must lie in.
struct SequenceShape {
  std::size_t length;
  unsigned char low;
  unsigned char high;
};

constexpr SequenceShape sequence_shape(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) {
    return {2, 0x80, 0xBF};
  }
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (lead == 0xE0) {
      return {3, 0xA0, 0xBF};  // no overlong forms
    }
    if (lead == 0xED) {
      return {3, 0x80, 0x9F};  // no surrogates
    }
    return {3, 0x80, 0xBF};
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    if (lead == 0xF0) {
      return {4, 0x90, 0xBF};
    }
    if (lead == 0xF4) {
      return {4, 0x80, 0x8F};  // nothing past U+10FFFF
    }
    return {4, 0x80, 0xBF};
  }
  return {0, 0x80, 0xBF};
}

}  // namespace

bool is_valid_utf8(std::string_view text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::size_t i = 0;
  while (i < size) {
    // Skip runs of ASCII eight bytes at a time.
    if (i + 8 <= size) {
      std::uint64_t chunk = 0;
      std::memcpy(&chunk, bytes + i, 8);
      if ((chunk & 0x8080808080808080ULL) == 0) {
        i += 8;
        continue;
      }
    }
    const unsigned char lead = bytes[i];
    if (lead < 0x80) {
      ++i;
      continue;
    }
    const SequenceShape shape = sequence_shape(lead);
    const std::size_t length = shape.length;
    if (length == 0 || i + length > size || bytes[i + 1] < shape.low || bytes[i + 1] > shape.high) {
      return false;
    }
    for (std::size_t k = 2; k < length; ++k) {
      if ((bytes[i + k] & 0xC0) != 0x80) {
        return false;
      }
    }
    i += length;
  }
  return true;
}

std::optional<char32_t> single_scalar_value(std::string_view text) {
  if (text.empty() || !is_valid_utf8(text)) {
    return std::nullopt;
  }
  const auto lead = static_cast<unsigned char>(text[0]);
  const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
  if (length != text.size()) {
    return std::nullopt;
  }
  if (length == 1) {
    return static_cast<char32_t>(lead);
  }
  char32_t cp = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    cp = (cp << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
  }
  return cp;
}

std::optional<std::int64_t> parse_blade_text(std::string_view text) {
  bool negative = false;
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) {
    return std::nullopt;
  }
  const std::uint64_t limit = negative ? static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1
                                       : static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  std::uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (magnitude > (limit - digit) / 10) {
      return std::nullopt;
    }
    magnitude = magnitude * 10 + digit;
  }
  return negative ? static_cast<std::int64_t>(0U - magnitude) : static_cast<std::int64_t>(magnitude);
}

void append_wine(std::string& out, double value) {
  if (std::isnan(value)) {
    out.append("NaN");
    return;
  }
  if (std::signbit(value)) {
    out.push_back('-');
    value = -value;
  }
  if (std::isinf(value)) {
    out.append("inf");
    return;
  }
  if (value == 0) {
    out.push_back('0');
    return;
  }
  // The shortest round-trip digits, placed positionally: fixed notation
  // would print the exact binary value of large numbers rather than the
  // shortest text.
  const decimal::Digits shortest = decimal::shortest(value);
  const std::string_view digits = shortest.view();
  const int exponent = shortest.exponent;
  const int count = shortest.count;
  if (exponent >= count - 1) {
    out.append(digits);
    out.append(static_cast<std::size_t>(exponent - (count - 1)), '0');
  } else if (exponent < 0) {
    out.append("0.");
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out.append(digits);
  } else {
    const std::size_t integral = static_cast<std::size_t>(exponent) + 1;  // 0 <= exponent here
    out.append(digits.substr(0, integral));
    out.push_back('.');
    out.append(digits.substr(integral));
  }
}

void append_display(std::string& out, const Value& value) {
  switch (value.type()) {
    case DataType::Blade: {
      std::array<char, 24> buffer{};
      const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value.as_blade());
      out.append(buffer.data(), result.ptr);
      return;
    }
    case DataType::Wine:
      append_wine(out, value.as_wine());
      return;
    case DataType::Scroll:
      out.append(value.as_text());
      return;
    case DataType::Vow:
      out.append(value.as_vow() ? "aye" : "nay");
      return;
    case DataType::Sigil:
      append_utf8(out, value.as_sigil());
      return;
    case DataType::Void:
      out.append("void");
      return;
  }
}

std::string display_value(const Value& value) {
  std::string out;
  append_display(out, value);
  return out;
}

// ---------------------------------------------------------------------------
// Store rule and operators
// ---------------------------------------------------------------------------

Result<Value> coerce_for_store(Value value, DataType declared) {
  if (value.type() == declared) {
    return value;
  }
  if (declared == DataType::Wine && value.is(DataType::Blade)) {
    return Value::wine(static_cast<double>(value.as_blade()));
  }
  return Error::runtime(msg::cannot_store(type_name(value), type_name(declared)));
}

namespace {

bool is_numeric(const Value& value) { return value.is(DataType::Blade) || value.is(DataType::Wine); }

double as_float(const Value& value) {
  return value.is(DataType::Blade) ? static_cast<double>(value.as_blade()) : value.as_wine();
}

Error binary_type_error(std::string_view op, const Value& left, const Value& right) {
  return Error::runtime(msg::cannot_apply_binary(op, type_name(left), type_name(right)));
}

}  // namespace

Result<Value> add_values(Value left, const Value& right) {
  if (left.is(DataType::Blade) && right.is(DataType::Blade)) {
    return Value::blade(wrapping_add(left.as_blade(), right.as_blade()));
  }
  if (is_numeric(left) && is_numeric(right)) {
    return Value::wine(as_float(left) + as_float(right));
  }
  if (left.is(DataType::Scroll) && right.is(DataType::Scroll)) {
    left.append_text(right.as_text());
    return left;
  }
  return binary_type_error("+", left, right);
}

Result<Value> subtract_values(const Value& left, const Value& right) {
  if (left.is(DataType::Blade) && right.is(DataType::Blade)) {
    return Value::blade(wrapping_sub(left.as_blade(), right.as_blade()));
  }
  if (is_numeric(left) && is_numeric(right)) {
    return Value::wine(as_float(left) - as_float(right));
  }
  return binary_type_error("-", left, right);
}

Result<Value> multiply_values(const Value& left, const Value& right) {
  if (left.is(DataType::Blade) && right.is(DataType::Blade)) {
    return Value::blade(wrapping_mul(left.as_blade(), right.as_blade()));
  }
  if (is_numeric(left) && is_numeric(right)) {
    return Value::wine(as_float(left) * as_float(right));
  }
  return binary_type_error("*", left, right);
}

Result<Value> divide_values(const Value& left, const Value& right) {
  if (!is_numeric(left) || !is_numeric(right)) {
    return binary_type_error("/", left, right);
  }
  const double divisor = as_float(right);
  if (divisor == 0.0) {
    return Error::runtime(std::string(msg::DIVIDE_BY_ZERO));
  }
  return Value::wine(as_float(left) / divisor);
}

Result<Value> greater_values(const Value& left, const Value& right) {
  if (!is_numeric(left) || !is_numeric(right)) {
    return binary_type_error(">", left, right);
  }
  return Value::vow(as_float(left) > as_float(right));
}

Result<Value> less_values(const Value& left, const Value& right) {
  if (!is_numeric(left) || !is_numeric(right)) {
    return binary_type_error("<", left, right);
  }
  return Value::vow(as_float(left) < as_float(right));
}

bool values_equal(const Value& left, const Value& right) {
  if (left.type() != right.type()) {
    return false;
  }
  switch (left.type()) {
    case DataType::Blade:
      return left.as_blade() == right.as_blade();
    case DataType::Wine:
      return left.as_wine() == right.as_wine();
    case DataType::Scroll:
      return left.as_text() == right.as_text();
    case DataType::Vow:
      return left.as_vow() == right.as_vow();
    case DataType::Sigil:
      return left.as_sigil() == right.as_sigil();
    case DataType::Void:
      return true;
  }
  return false;
}

Result<Value> negate_value(const Value& operand) {
  if (operand.is(DataType::Blade)) {
    return Value::blade(wrapping_neg(operand.as_blade()));
  }
  if (operand.is(DataType::Wine)) {
    return Value::wine(-operand.as_wine());
  }
  return Error::runtime(msg::cannot_apply_unary("-", type_name(operand)));
}

Result<Value> not_value(const Value& operand) {
  if (operand.is(DataType::Vow)) {
    return Value::vow(!operand.as_vow());
  }
  return Error::runtime(msg::cannot_apply_unary("!", type_name(operand)));
}

}  // namespace skern
