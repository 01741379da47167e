// The one error type of every stage, the result type that carries it, and the
// catalogue of every message the interpreter can report.
//
// This header includes nothing else of the project, so the model, the parser
// and the interpreter can use it without depending on the command line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <utility>
#include <variant>

namespace skern {

class [[nodiscard]] Error {
 public:
  enum class Kind : std::uint8_t { Parse, ExpressionParse, Runtime, Io };

  static Error parse(std::uint64_t line, std::string message) {
    return Error(Kind::Parse, std::move(message), line, 0);
  }
  static Error expression(std::string message) { return Error(Kind::ExpressionParse, std::move(message), 0, 0); }
  static Error runtime(std::string message) { return Error(Kind::Runtime, std::move(message), 0, 0); }
  // A failed system call: the platform's description and its error number.
  static Error io(int os_code) { return Error(Kind::Io, std::system_category().message(os_code), 0, os_code); }
  // An I/O failure with no error number of the system's own.
  static Error io_text(std::string description) { return Error(Kind::Io, std::move(description), 0, 0); }

  [[nodiscard]] Kind kind() const { return kind_; }
  // For Io, the system's description without the error number.
  [[nodiscard]] const std::string& message() const { return message_; }
  // Only Parse errors carry a line; 0 for the others.
  [[nodiscard]] std::uint64_t line() const { return line_; }
  // The system's error number of an Io error, 0 where there is none.
  [[nodiscard]] int os_code() const { return os_code_; }

  [[nodiscard]] std::string display() const {
    switch (kind_) {
      case Kind::Parse:
        return "parse error on line " + std::to_string(line_) + ": " + message_;
      case Kind::ExpressionParse:
        return "expression parse error: " + message_;
      case Kind::Runtime:
        return "runtime error: " + message_;
      case Kind::Io:
        if (os_code_ != 0) {
          return "I/O error: " + message_ + " (os error " + std::to_string(os_code_) + ")";
        }
        return "I/O error: " + message_;
    }
    return message_;
  }

  friend bool operator==(const Error&, const Error&) = default;

 private:
  Error(Kind kind, std::string message, std::uint64_t line, int os_code)
      : message_(std::move(message)), line_(line), os_code_(os_code), kind_(kind) {}

  std::string message_;
  std::uint64_t line_;
  int os_code_;
  Kind kind_;
};

// The value of an operation that can fail. C++20 has no std::expected.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}      // NOLINT(google-explicit-constructor)
  Result(Error error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT(google-explicit-constructor)

  [[nodiscard]] bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }

  [[nodiscard]] T& value() & { return *std::get_if<0>(&state_); }
  [[nodiscard]] const T& value() const& { return *std::get_if<0>(&state_); }
  [[nodiscard]] T&& value() && { return std::move(*std::get_if<0>(&state_)); }
  T& operator*() & { return value(); }
  const T& operator*() const& { return value(); }
  T&& operator*() && { return std::move(value()); }
  T* operator->() { return &value(); }
  const T* operator->() const { return &value(); }

  [[nodiscard]] Error& error() & { return *std::get_if<1>(&state_); }
  [[nodiscard]] const Error& error() const& { return *std::get_if<1>(&state_); }
  [[nodiscard]] Error&& error() && { return std::move(*std::get_if<1>(&state_)); }

 private:
  std::variant<T, Error> state_;
};

// Success without a value, or an Error.
class [[nodiscard]] Status {
 public:
  Status() = default;
  Status(Error error) : error_(std::move(error)), failed_(true) {}  // NOLINT(google-explicit-constructor)

  [[nodiscard]] bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  [[nodiscard]] Error& error() & { return error_; }
  [[nodiscard]] const Error& error() const& { return error_; }
  [[nodiscard]] Error&& error() && { return std::move(error_); }

 private:
  Error error_ = Error::runtime({});
  bool failed_ = false;
};

// Hands the error of a failed Result or Status back to the caller.
// NOLINTNEXTLINE(cppcoreguidelines-macro-usage): only a macro can return from the function that uses it.
#define SKERN_TRY(expr)                            \
  do {                                             \
    auto&& skern_try_result_ = (expr);             \
    if (!skern_try_result_.ok()) {                 \
      return std::move(skern_try_result_).error(); \
    }                                              \
  } while (false)

// ---------------------------------------------------------------------------
// The message catalogue. Every text the interpreter reports is made here, so
// each stage uses the very same words.
// ---------------------------------------------------------------------------
namespace msg {

inline std::string quoted(std::string_view before, std::string_view name, std::string_view after) {
  std::string text;
  text.reserve(before.size() + name.size() + after.size() + 2);
  text.append(before).append("`").append(name).append("`").append(after);
  return text;
}

// Program structure and blocks (kind Parse).
inline constexpr std::string_view TOP_LEVEL_INDENTATION = "unexpected indentation at top level";
inline constexpr std::string_view EXPECTED_TOP_LEVEL_FORM = "expected `we declare ...` or `on the iron throne:`";
inline constexpr std::string_view MAIN_BLOCK_REPEATED = "`on the iron throne` can only appear once";
inline constexpr std::string_view MAIN_BLOCK_MISSING = "program needs `on the iron throne:`";
inline constexpr std::string_view DECLARATION_NEEDS_ARROW = "function declaration must end with `->`";
inline constexpr std::string_view DECLARATION_NEEDS_WITH = "function declaration needs `with` before parameters";
inline std::string invalid_function_name(std::string_view name) { return quoted("invalid function name ", name, ""); }
inline std::string invalid_parameter(std::string_view name) { return quoted("invalid parameter ", name, ""); }
inline constexpr std::string_view DECLARATION_NEEDS_COUNCIL = "function declaration needs `council says:`";
inline constexpr std::string_view COUNCIL_NOT_ALIGNED =
    "expected `council says:` aligned with the function declaration";
inline std::string council_already_declared(std::string_view name) {
  return quoted("council ", name, " is already declared");
}
inline constexpr std::string_view EXPECTED_INDENTED_BLOCK = "expected an indented block";
inline constexpr std::string_view UNEXPECTED_EXTRA_INDENTATION = "unexpected extra indentation";
inline constexpr std::string_view EMPTY_BLOCK = "block cannot be empty";
inline constexpr std::string_view STRAY_ELSE = "`else:` must follow an `if` block";
inline std::string invalid_input_target(std::string_view target) { return quoted("invalid input target ", target, ""); }
inline std::string invalid_declaration_name(std::string_view name) {
  return quoted("invalid declaration name ", name, "");
}
inline constexpr std::string_view DECLARATION_NEEDS_EXPRESSION = "declaration needs `with expression`";
inline std::string unknown_data_type(std::string_view text) { return quoted("unknown data type ", text, ""); }
inline std::string invalid_assignment_target(std::string_view target) {
  return quoted("invalid assignment target ", target, "");
}
inline constexpr std::string_view BLOCKS_TOO_DEEP_FOR_STACK = "blocks nest too deeply for the available stack";
inline std::string blocks_nested_too_deeply(std::uint64_t limit) {
  return "blocks nest deeper than " + std::to_string(limit) + " levels";
}

// Expressions (kind ExpressionParse).
inline constexpr std::string_view WITH_NEEDS_IDENTIFIER = "`with` can only call an identifier";
inline std::string invalid_integer(std::string_view text) { return quoted("invalid integer ", text, ""); }
inline std::string invalid_float(std::string_view text) { return quoted("invalid float ", text, ""); }
inline std::string unknown_operator(std::string_view text) { return quoted("unknown operator ", text, ""); }
inline std::string unknown_unary(std::string_view text) { return quoted("unknown unary ", text, ""); }
inline std::string invalid_quoted_literal(std::string_view text) { return quoted("invalid quoted literal ", text, ""); }
inline constexpr std::string_view ESCAPE_ENDS_LITERAL = "escape sequence cannot end a literal";
inline std::string sigil_literal_length(std::string_view literal) {
  return quoted("sigil literal ", literal, " must contain exactly one character");
}
inline std::string unexpected_expression_token(std::string_view rule) {
  return "unexpected expression token " + std::string(rule);
}
inline constexpr std::string_view EXPRESSION_TOO_DEEP_FOR_STACK = "expression nests too deeply for the available stack";
inline std::string expression_nested_too_deeply(std::uint64_t limit) {
  return "expression nests deeper than " + std::to_string(limit) + " levels";
}

// Running (kind Runtime).
inline std::string cannot_apply_binary(std::string_view op, std::string_view left, std::string_view right) {
  std::string text = quoted("cannot apply ", op, " to ");
  text.append(left).append(" and ").append(right);
  return text;
}
inline constexpr std::string_view DIVIDE_BY_ZERO = "cannot divide by zero";
inline std::string cannot_apply_unary(std::string_view op, std::string_view operand) {
  return quoted("cannot apply ", op, " to ").append(operand);
}
inline std::string cannot_store(std::string_view value_type, std::string_view declared_type) {
  std::string text = "cannot store ";
  text.append(value_type).append(" in ").append(declared_type);
  return text;
}
inline std::string already_declared(std::string_view name) {
  return quoted("", name, " is already declared in this scope");
}
inline std::string unknown_banner(std::string_view name) { return quoted("unknown banner ", name, ""); }
inline std::string unknown_council(std::string_view name) { return quoted("unknown council ", name, ""); }
inline std::string wrong_argument_count(std::string_view name, std::size_t expected, std::size_t received) {
  return quoted("", name, " expects ") + std::to_string(expected) + " argument(s), received " +
         std::to_string(received);
}
inline std::string condition_not_vow(std::string_view type) {
  return "condition must evaluate to vow, found " + std::string(type);
}
inline std::string marches_needs_blade(std::string_view type) {
  return "`the realm marches` needs a blade value, found " + std::string(type);
}
inline constexpr std::string_view MARCHES_NEGATIVE = "`the realm marches` needs a non-negative blade value";
inline std::string while_limit(std::uint64_t limit) {
  return "`while` exceeded " + std::to_string(limit) + " iterations";
}
inline std::string input_needs_concrete_type(std::string_view name) {
  return quoted("", name, " must be declared with a concrete type before input");
}
inline std::string input_not_blade(std::string_view text) { return quoted("input ", text, " is not a blade"); }
inline std::string input_not_wine(std::string_view text) { return quoted("input ", text, " is not wine"); }
inline std::string input_not_vow(std::string_view text) { return quoted("input ", text, " is not a vow"); }
inline std::string input_not_sigil(std::string_view text) { return quoted("input ", text, " is not a sigil"); }
inline constexpr std::string_view VOID_INPUT = "void cannot receive input";
inline std::string call_depth_exceeded(std::uint64_t limit) {
  return "calls nest deeper than " + std::to_string(limit) + " levels";
}
inline constexpr std::string_view OUT_OF_MEMORY = "out of memory";
inline std::string step_budget_exhausted(std::uint64_t limit) {
  return "program ran longer than its budget of " + std::to_string(limit) + " steps";
}

// Reading the source file and the input stream (kind Io, no error number).
inline constexpr std::string_view INVALID_UTF8 = "stream did not contain valid UTF-8";

}  // namespace msg
}  // namespace skern
