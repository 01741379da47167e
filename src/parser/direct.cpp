// Reading an expression straight into its tree, in one pass over the text.
//
// The grammar's matcher records every rule it matches, and the builder then
// walks those records: two passes and a list as long as the text. Almost
// every expression in a program is accepted, so this reader takes the
// common ones directly, following the grammar rule for rule. It gives up,
// with nothing, on any text it does not take whole (a rejected text, an
// escape in a sigil, an integer out of range, a deep nesting ...), and the
// caller then runs the matcher and the builder, which give the tree or the
// exact report. Each decision here is the one that the grammar's ordered
// choices and greedy repetitions make, so a text taken here gets the tree
// that the builder would build from the grammar's matches.
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "model/value.h"
#include "parser/grammar_internal.h"

namespace skern::grammar {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }
// What a unary_expr can begin with.
bool starts_operand(char c) {
  return c == '-' || c == '!' || c == '(' || c == '"' || c == '\'' || is_letter(c) || is_digit(c);
}

// Nesting deeper than this is left to the matcher, which knows the limits.
constexpr std::size_t DEPTH_LIMIT = 64;
// The stack that the matcher may need for a text taken here, beyond what
// this reader needs: closer to the end of the stack than this, the matcher
// might give up on the text for want of stack, so this reader leaves it to
// the matcher.
constexpr std::uintptr_t MATCHER_ROOM = std::uintptr_t{1} << 20;
// Longer runs of unary operators too.
constexpr std::size_t UNARY_LIMIT = 8;
// Every integer of this many digits or fewer is a blade.
constexpr std::size_t SURE_DIGITS = 18;

class DirectReader {
 public:
  DirectReader(std::string_view text, SymbolTable& symbols, ExprArena& nodes, const StackGuard* stack)
      : text_(text), symbols_(symbols), nodes_(nodes), stack_(stack) {}

  // expression = SOI binary_expr EOI
  std::optional<Expr> expression() {
    skip_blanks();
    Expr out(IntegerLiteral{0});
    if (!binary_expr(out)) {
      return std::nullopt;
    }
    skip_blanks();
    if (pos_ != text_.size()) {
      return std::nullopt;
    }
    return out;
  }

 private:
  [[nodiscard]] char peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
  [[nodiscard]] char peek_at(std::size_t offset) const {
    return pos_ + offset < text_.size() ? text_[pos_ + offset] : '\0';
  }
  // Run between every two tokens, so kept to a pointer walk over the bytes.
  void skip_blanks() {
    const char* const data = text_.data();
    const std::size_t size = text_.size();
    std::size_t pos = pos_;
    while (pos < size && is_blank(data[pos])) {
      ++pos;
    }
    pos_ = pos;
  }

  // binary_expr = unary_expr (binary_op unary_expr)*, grouped from the left
  bool binary_expr(Expr& out) {
    if (++depth_ > DEPTH_LIMIT || (stack_ != nullptr && stack_->exhausted())) {
      return false;
    }
    if (!unary_expr(out)) {
      return false;
    }
    while (true) {
      const std::size_t before = pos_;
      skip_blanks();
      const std::optional<BinaryOp> op = binary_op();
      if (!op) {
        // The repetition gives back the blanks it skipped.
        pos_ = before;
        break;
      }
      skip_blanks();
      Expr right(IntegerLiteral{0});
      if (!unary_expr(right)) {
        return false;
      }
      const ExprPtr operands = nodes_.add_pair(std::move(out), std::move(right));
      out = Expr(Binary{operands, *op});
    }
    --depth_;
    return true;
  }

  // binary_op = "==" | "!=" | ">" | "<" | "+" | "-" | "*" | "/"
  std::optional<BinaryOp> binary_op() {
    const char c = peek();
    const auto take = [this](std::size_t length, BinaryOp op) {
      pos_ += length;
      return op;
    };
    switch (c) {
      case '=':
        return peek_at(1) == '=' ? std::optional(take(2, BinaryOp::Equal)) : std::nullopt;
      case '!':
        return peek_at(1) == '=' ? std::optional(take(2, BinaryOp::NotEqual)) : std::nullopt;
      case '>':
        return take(1, BinaryOp::Greater);
      case '<':
        return take(1, BinaryOp::Less);
      case '+':
        return take(1, BinaryOp::Add);
      case '-':
        return take(1, BinaryOp::Subtract);
      case '*':
        return take(1, BinaryOp::Multiply);
      case '/':
        return take(1, BinaryOp::Divide);
      default:
        return std::nullopt;
    }
  }

  // unary_expr = unary_op* call_expr; the operator next to the operand is innermost
  bool unary_expr(Expr& out) {
    std::array<UnaryOp, UNARY_LIMIT> ops{};
    std::size_t count = 0;
    while (peek() == '-' || peek() == '!') {
      if (count == UNARY_LIMIT) {
        return false;
      }
      ops[count++] = peek() == '-' ? UnaryOp::Negate : UnaryOp::Not;
      ++pos_;
      skip_blanks();
    }
    if (!call_expr(out)) {
      return false;
    }
    for (std::size_t i = count; i > 0; --i) {
      const ExprPtr operand = nodes_.add(std::move(out));
      out = Expr(Unary{operand, ops[i - 1]});
    }
    return true;
  }

  // call_expr = primary (with_kw argument_list?)?
  bool call_expr(Expr& out) {
    if (!primary(out)) {
      return false;
    }
    const std::size_t before = pos_;
    skip_blanks();
    if (!with_kw()) {
      pos_ = before;
      return true;
    }
    const auto* callee = out.get_if<Identifier>();
    if (callee == nullptr) {
      return false;  // the builder's error to report
    }
    const Symbol name = callee->name;
    const std::size_t after_with = pos_;
    skip_blanks();
    std::vector<Expr> arguments;
    if (starts_operand(peek())) {
      if (!argument_list(arguments)) {
        return false;
      }
    } else {
      pos_ = after_with;
    }
    if (arguments.size() >= Call::LONG_CALL) {
      return false;  // the builder's long form
    }
    const ExprList list = nodes_.add_run(arguments);
    out = Expr(Call{list.begin(), static_cast<std::uint32_t>(list.size()), name});
    return true;
  }

  // with_kw = "with" !identifier_continue
  bool with_kw() {
    if (peek() == 'w' && text_.substr(pos_, 4) == "with" && !is_identifier_continue(peek_at(4))) {
      pos_ += 4;
      return true;
    }
    return false;
  }

  // argument_list = binary_expr ("," binary_expr)*
  bool argument_list(std::vector<Expr>& arguments) {
    while (true) {
      Expr argument(IntegerLiteral{0});
      if (!binary_expr(argument)) {
        return false;
      }
      arguments.push_back(std::move(argument));
      const std::size_t before = pos_;
      skip_blanks();
      if (peek() != ',') {
        pos_ = before;
        return true;
      }
      ++pos_;
      skip_blanks();
    }
  }

  // primary = float | integer | string | boolean | character | identifier | "(" binary_expr ")"
  bool primary(Expr& out) {
    const char c = peek();
    if (is_digit(c)) {
      return number(out);
    }
    if (c == '"') {
      return string(out);
    }
    if (is_letter(c)) {
      return word(out);
    }
    if (c == '\'') {
      return character(out);
    }
    if (c == '(') {
      ++pos_;
      skip_blanks();
      if (!binary_expr(out)) {
        return false;
      }
      skip_blanks();
      if (peek() != ')') {
        return false;
      }
      ++pos_;
      return true;
    }
    return false;
  }

  // float = digit+ "." digit+, tried before integer = digit+ (no sign reaches
  // here: unary_expr takes every leading "-")
  bool number(Expr& out) {
    const std::size_t start = pos_;
    // Added up as they are read; only a run too long for that to be sure
    // not to overflow is converted again below.
    std::uint64_t magnitude = 0;
    while (is_digit(peek())) {
      magnitude = magnitude * 10 + static_cast<std::uint64_t>(peek() - '0');
      ++pos_;
    }
    if (peek() == '.' && is_digit(peek_at(1))) {
      ++pos_;
      while (is_digit(peek())) {
        ++pos_;
      }
      const std::optional<double> value = convert_float(text_.substr(start, pos_ - start));
      if (!value) {
        return false;
      }
      out = Expr(FloatLiteral{*value});
      return true;
    }
    if (pos_ - start <= SURE_DIGITS) {
      out = Expr(IntegerLiteral{static_cast<std::int64_t>(magnitude)});
      return true;
    }
    const std::optional<std::int64_t> value = parse_blade_text(text_.substr(start, pos_ - start));
    if (!value) {
      return false;  // out of range: the builder's error to report
    }
    out = Expr(IntegerLiteral{*value});
    return true;
  }

  // boolean = ("aye" | "nay") !identifier_continue, tried before
  // identifier = letter identifier_continue*
  bool word(Expr& out) {
    const std::size_t start = pos_;
    while (is_identifier_continue(peek())) {
      ++pos_;
    }
    const std::string_view text = text_.substr(start, pos_ - start);
    if (text == "aye" || text == "nay") {
      out = Expr(BoolLiteral{text == "aye"});
    } else {
      out = Expr(Identifier{symbols_.intern(text)});
    }
    return true;
  }

  // string = "\"" (string escape | !"\"" ANY)* "\""
  bool string(Expr& out) {
    const std::size_t start = pos_++;
    while (true) {
      // Past the end peek_at gives '\0', which no escape has.
      if (peek() == '\\' && std::string_view(R"("\nrt')").find(peek_at(1)) != std::string_view::npos) {
        pos_ += 2;
        continue;
      }
      if (pos_ >= text_.size()) {
        return false;
      }
      if (peek() == '"') {
        break;
      }
      pos_ += char_length(text_, pos_);
    }
    ++pos_;
    Result<std::string> text = unescape_literal(text_.substr(start, pos_ - start), '"');
    if (!text.ok()) {
      return false;
    }
    out = Expr(StringLiteral{Scroll(*text)});
    return true;
  }

  // character = "'" (character escape | !"'" ANY) "'": only the one
  // character without an escape is taken here
  bool character(Expr& out) {
    const char c = peek_at(1);
    if (pos_ + 1 >= text_.size() || c == '\\' || c == '\'') {
      return false;
    }
    const std::size_t length = char_length(text_, pos_ + 1);
    if (peek_at(1 + length) != '\'') {
      return false;
    }
    out = Expr(CharLiteral{decode_char(text_, pos_ + 1, length)});
    pos_ += length + 2;
    return true;
  }

  std::string_view text_;
  SymbolTable& symbols_;
  ExprArena& nodes_;
  const StackGuard* stack_;
  std::size_t pos_ = 0;
  std::size_t depth_ = 0;
};

}  // namespace

std::optional<Expr> read_directly(std::string_view text, SymbolTable& symbols, ExprArena& nodes,
                                  const StackGuard* stack) {
  if (text.size() > LONGEST_EXPRESSION || (stack != nullptr && stack->near(MATCHER_ROOM))) {
    return std::nullopt;
  }
  // A text given up on leaves no nodes behind: the matcher builds them anew.
  const ExprArena::Mark mark = nodes.mark();
  std::optional<Expr> read = DirectReader(text, symbols, nodes, stack).expression();
  if (!read) {
    nodes.rewind(mark);
  }
  return read;
}

}  // namespace skern::grammar
