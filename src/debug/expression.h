// Private to the debugging engine: expressions typed by a person (conditions,
// log messages, watches, hovers), evaluated in a frame of a stopped run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "driver/error.h"
#include "interpreter/debugging.h"
#include "model/tree.h"

namespace skern::debug {

// An expression parsed once, to be evaluated at many stops. Names are
// found at evaluation by their text, as the program knows them.
class Expression {
 public:
  static Result<Expression> parse(std::string_view text);
  // Reads variables as the frame sees them, and changes nothing: a call is
  // refused, since running one could.
  [[nodiscard]] Result<Value> evaluate(const ControlledRun& run, const Program& program, std::size_t frame) const;
  [[nodiscard]] const std::string& text() const { return text_; }

 private:
  Expression() = default;
  [[nodiscard]] Result<Value> value(const Expr& expr, const ControlledRun& run, const Program& program,
                                    std::size_t frame, std::size_t depth) const;
  std::string text_;
  SymbolTable symbols_;
  ExprArena nodes_;
  std::optional<Expr> tree_;
};

// "N", "== N", "> N", ">= N", "< N", "<= N" or "% N": which hits stop.
class HitCondition {
 public:
  static std::optional<HitCondition> parse(std::string_view text);
  [[nodiscard]] bool holds(std::uint64_t hits) const;

 private:
  enum class Test : std::uint8_t { Always, Equal, Greater, AtLeast, Less, AtMost, Multiple };
  Test test_ = Test::Always;
  std::uint64_t count_ = 0;
};

// A log message: its text with {expressions} filled in at each hit.
class LogMessage {
 public:
  static Result<LogMessage> parse(std::string_view text);
  [[nodiscard]] std::string render(const ControlledRun& run, const Program& program) const;

 private:
  struct Piece {
    std::string text;
    std::optional<Expression> expression;
  };
  std::vector<Piece> pieces_;
};

}  // namespace skern::debug
