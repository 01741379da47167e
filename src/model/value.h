// Data types, runtime values, their display texts, the store rule and the
// operator tables.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "driver/error.h"
#include "model/bits.h"

namespace skern {

enum class DataType : std::uint8_t { Blade, Wine, Scroll, Vow, Sigil, Void };

inline constexpr std::size_t DATA_TYPE_COUNT = 6;
inline constexpr std::array<std::string_view, DATA_TYPE_COUNT> DATA_TYPE_NAMES = {"blade", "wine",  "scroll",
                                                                                  "vow",   "sigil", "void"};
static_assert(static_cast<std::size_t>(DataType::Void) + 1 == DATA_TYPE_NAMES.size());

[[nodiscard]] constexpr std::string_view type_name(DataType type) {
  return DATA_TYPE_NAMES[static_cast<std::size_t>(type)];
}

// The DataType whose keyword is exactly `keyword`, if any.
[[nodiscard]] std::optional<DataType> data_type_from_keyword(std::string_view keyword);

namespace detail {
// Header of a scroll's heap buffer; the bytes follow it.
struct ScrollRep {
  std::size_t refs;
  std::size_t size;
  std::size_t capacity;
  [[nodiscard]] char* bytes() { return reinterpret_cast<char*>(this + 1); }
  [[nodiscard]] const char* bytes() const { return reinterpret_cast<const char*>(this + 1); }
};

// A buffer holding `head` followed by `tail`, with room for `capacity` bytes.
// Throws std::bad_alloc when memory runs out.
ScrollRep* make_scroll_rep(std::string_view head, std::string_view tail, std::size_t capacity);

inline void retain(ScrollRep* rep) noexcept {
  if (rep != nullptr) {
    ++rep->refs;
  }
}
// Frees a buffer whose last holder let go.
void destroy(ScrollRep* rep) noexcept;
inline void release(ScrollRep* rep) noexcept {
  if (rep != nullptr && --rep->refs == 0) {
    destroy(rep);
  }
}

inline std::string_view view_of(const ScrollRep* rep) noexcept {
  return rep == nullptr ? std::string_view() : std::string_view(rep->bytes(), rep->size);
}
}  // namespace detail

// Immutable shared text. No operation changes a buffer that another holder can
// see, so sharing one is indistinguishable from copying it. Allocation failure
// throws std::bad_alloc, which each module's entry point turns into an Error.
// NOLINTNEXTLINE(cppcoreguidelines-special-member-functions): the by-value assignment serves copies and moves alike.
class Scroll {
 public:
  Scroll() = default;
  explicit Scroll(std::string_view text);
  Scroll(const Scroll& other) noexcept : rep_(other.rep_) { detail::retain(rep_); }
  Scroll(Scroll&& other) noexcept : rep_(std::exchange(other.rep_, nullptr)) {}
  Scroll& operator=(Scroll other) noexcept {
    std::swap(rep_, other.rep_);
    return *this;
  }
  ~Scroll() { detail::release(rep_); }

  [[nodiscard]] std::string_view view() const { return detail::view_of(rep_); }

 private:
  friend class Value;
  detail::ScrollRep* rep_ = nullptr;
};

// A runtime value: one payload per data type, in 16 bytes. Scroll payloads
// share their buffer, counted by reference.
class Value {
 public:
  Value() noexcept = default;  // void
  static Value blade(std::int64_t v) noexcept {
    Value value(DataType::Blade);
    value.payload_.blade = v;
    return value;
  }
  static Value wine(double v) noexcept {
    Value value(DataType::Wine);
    value.payload_.wine = v;
    return value;
  }
  static Value scroll(Scroll text) noexcept {
    Value value(DataType::Scroll);
    value.payload_.scroll = std::exchange(text.rep_, nullptr);
    return value;
  }
  static Value scroll(std::string_view text) { return scroll(Scroll(text)); }
  // A scroll holding `head`, with room to grow in place to `capacity` bytes.
  static Value scroll_with_room(std::string_view head, std::size_t capacity);
  static Value vow(bool v) noexcept {
    Value value(DataType::Vow);
    value.payload_.word = v ? 1 : 0;
    return value;
  }
  static Value sigil(char32_t v) noexcept {
    Value value(DataType::Sigil);
    value.payload_.word = v;
    return value;
  }

  Value(const Value& other) noexcept : payload_(other.payload_), type_(other.type_) {
    if (type_ == DataType::Scroll) {
      detail::retain(payload_.scroll);
    }
  }
  Value(Value&& other) noexcept : payload_(other.payload_), type_(std::exchange(other.type_, DataType::Void)) {}
  // Retaining before releasing makes self-assignment safe without a test.
  Value& operator=(const Value& other) noexcept {  // NOLINT(cert-oop54-cpp)
    if (other.type_ == DataType::Scroll) {
      detail::retain(other.payload_.scroll);
    }
    release();
    payload_ = other.payload_;
    type_ = other.type_;
    return *this;
  }
  Value& operator=(Value&& other) noexcept {
    if (this != &other) {
      release();
      payload_ = other.payload_;
      type_ = std::exchange(other.type_, DataType::Void);
    }
    return *this;
  }
  ~Value() { release(); }
  // Makes this value void, letting go of any text.
  void reset() noexcept {
    release();
    type_ = DataType::Void;
  }
  // Make this value a blade, a wine or a vow.
  void set_blade(std::int64_t v) noexcept {
    release();
    type_ = DataType::Blade;
    payload_.blade = v;
  }
  void set_wine(double v) noexcept {
    release();
    type_ = DataType::Wine;
    payload_.wine = v;
  }
  // The same for a value that holds a blade or a wine, with no text to let go of.
  void set_blade_over_number(std::int64_t v) noexcept {
    type_ = DataType::Blade;
    payload_.blade = v;
  }
  void set_wine_over_number(double v) noexcept {
    type_ = DataType::Wine;
    payload_.wine = v;
  }
  // Move assignment over a value that holds no text, which has nothing to let go of.
  void move_over_plain(Value&& other) noexcept {
    payload_ = other.payload_;
    type_ = std::exchange(other.type_, DataType::Void);
  }
  void set_vow(bool v) noexcept {
    release();
    type_ = DataType::Vow;
    payload_.word = v ? 1 : 0;
  }
  void swap(Value& other) noexcept {
    std::swap(payload_, other.payload_);
    std::swap(type_, other.type_);
  }

  [[nodiscard]] DataType type() const { return type_; }
  [[nodiscard]] bool is(DataType type) const { return type_ == type; }
  // The type as a number: Blade is 0 and Wine 1, so that the tags of two
  // values or'ed together tell with one comparison whether both are blades
  // (0) or both are numbers (at most 1).
  [[nodiscard]] std::uint8_t tag() const { return static_cast<std::uint8_t>(type_); }
  // The payload's bits: equal for equal blades, vows, sigils and voids.
  [[nodiscard]] std::uint64_t bits() const { return skern::bit_cast<std::uint64_t>(payload_); }
  [[nodiscard]] std::int64_t as_blade() const { return payload_.blade; }
  [[nodiscard]] double as_wine() const { return payload_.wine; }
  // A blade or a wine as a float.
  [[nodiscard]] double as_number() const {
    return type_ == DataType::Blade ? static_cast<double>(payload_.blade) : payload_.wine;
  }
  [[nodiscard]] std::string_view as_text() const { return detail::view_of(payload_.scroll); }
  [[nodiscard]] bool as_vow() const { return payload_.word != 0; }
  [[nodiscard]] char32_t as_sigil() const { return static_cast<char32_t>(payload_.word); }

  // Whether this scroll and `other` hold the very same buffer.
  [[nodiscard]] bool shares_text_with(const Value& other) const {
    return type_ == DataType::Scroll && other.type_ == DataType::Scroll && payload_.scroll != nullptr &&
           payload_.scroll == other.payload_.scroll;
  }
  // Appends `tail` to this scroll: in place when this value is the buffer's
  // only holder, into a new buffer otherwise.
  void append_text(std::string_view tail);
  // Makes this scroll the only holder of a buffer with room for `size`
  // bytes, so that appending up to that size happens in place. When `other`
  // shares the buffer and is all that keeps it from being the only holder,
  // `other` lets go of it instead of the text being copied; that happens
  // only once nothing can fail, so a failed allocation leaves both as they were.
  void reserve_text(std::size_t size, Value& other);

 private:
  explicit Value(DataType type) noexcept : type_(type) {}
  void release() noexcept {
    if (type_ == DataType::Scroll) {
      detail::release(payload_.scroll);
    }
  }

  // Every member fills all eight bytes, so that bits() is defined for every kind.
  union Payload {
    std::int64_t blade;
    double wine;
    detail::ScrollRep* scroll;
    std::uint64_t word;  // a vow (0 or 1), a sigil's code point, 0 for void
  };
  Payload payload_{0};
  DataType type_ = DataType::Void;
};
static_assert(sizeof(Value) == 16);
static_assert(static_cast<int>(DataType::Blade) == 0 && static_cast<int>(DataType::Wine) == 1);

[[nodiscard]] inline std::string_view type_name(const Value& value) { return type_name(value.type()); }

// The output text of a value.
[[nodiscard]] std::string display_value(const Value& value);
// Appends the output text of a value to `out`, without allocating a new string.
void append_display(std::string& out, const Value& value);
// The shortest text that reads back to `value`, written without an exponent.
void append_wine(std::string& out, double value);
// Appends the UTF-8 encoding of a Unicode scalar value.
void append_utf8(std::string& out, char32_t code_point);
// Whether `text` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
[[nodiscard]] bool is_valid_utf8(std::string_view text);
// The only Unicode scalar value of `text`, when it holds exactly one.
[[nodiscard]] std::optional<char32_t> single_scalar_value(std::string_view text);

// A signed 64-bit decimal: an optional "+" or "-", then ASCII digits only, in range.
[[nodiscard]] std::optional<std::int64_t> parse_blade_text(std::string_view text);

// The value that a variable of `declared` receives when `value` is stored in it.
Result<Value> coerce_for_store(Value value, DataType declared);

// The operators. Each checks its operands' kinds when it runs.
Result<Value> add_values(Value left, const Value& right);  // takes `left` so a sole scroll can grow in place
Result<Value> subtract_values(const Value& left, const Value& right);
Result<Value> multiply_values(const Value& left, const Value& right);
Result<Value> divide_values(const Value& left, const Value& right);
Result<Value> greater_values(const Value& left, const Value& right);
Result<Value> less_values(const Value& left, const Value& right);
[[nodiscard]] bool values_equal(const Value& left, const Value& right);
[[nodiscard]] inline Value equal_values(const Value& left, const Value& right) {
  return Value::vow(values_equal(left, right));
}
[[nodiscard]] inline Value not_equal_values(const Value& left, const Value& right) {
  return Value::vow(!values_equal(left, right));
}
Result<Value> negate_value(const Value& operand);
Result<Value> not_value(const Value& operand);

// Wrapping 64-bit arithmetic, done in unsigned so that overflow is defined.
[[nodiscard]] constexpr std::int64_t wrapping_add(std::int64_t a, std::int64_t b) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b));
}
[[nodiscard]] constexpr std::int64_t wrapping_sub(std::int64_t a, std::int64_t b) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) - static_cast<std::uint64_t>(b));
}
[[nodiscard]] constexpr std::int64_t wrapping_mul(std::int64_t a, std::int64_t b) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) * static_cast<std::uint64_t>(b));
}
[[nodiscard]] constexpr std::int64_t wrapping_neg(std::int64_t a) {
  return static_cast<std::int64_t>(0U - static_cast<std::uint64_t>(a));
}

}  // namespace skern
