// The expression grammar: a backtracking recursive-descent PEG matcher with
// one function per rule, its failure tracking, and the failure report.
#include <algorithm>
#include <new>
#include <variant>

#include "parser/grammar_internal.h"

namespace skern::grammar {

std::size_t char_length(std::string_view text, std::size_t pos) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  std::size_t length = 0;
  if (lead < 0x80) {
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
  } else {
    return 1;
  }
  if (pos + length > text.size()) {
    return 1;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(text[pos + i]) & 0xC0) != 0x80) {
      return 1;
    }
  }
  return length;
}

char32_t decode_char(std::string_view text, std::size_t pos, std::size_t length) {
  const auto byte = [&](std::size_t i) { return static_cast<char32_t>(static_cast<unsigned char>(text[pos + i])); };
  switch (length) {
    case 2:
      return ((byte(0) & 0x1F) << 6) | (byte(1) & 0x3F);
    case 3:
      return ((byte(0) & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
    case 4:
      return ((byte(0) & 0x07) << 18) | ((byte(1) & 0x3F) << 12) | ((byte(2) & 0x3F) << 6) | (byte(3) & 0x3F);
    default:
      return byte(0) < 0x80 ? byte(0) : U'\uFFFD';
  }
}

namespace {

class Matcher {
 public:
  Matcher(std::string_view text, MatchState& state) : text_(text), state_(state) {}

  Outcome run() {
    if (text_.size() > LONGEST_EXPRESSION) {
      throw std::bad_alloc();
    }
    state_.matches.clear();
    state_.expected.clear();
    state_.attempt = 0;
    state_.failures.clear();
    const bool matched = expression();
    if (too_deep_) {
      return out_of_stack_ ? Outcome::TooDeepForStack : Outcome::TooDeep;
    }
    return matched ? Outcome::Matched : Outcome::Failed;
  }

 private:
  // --- Rule invocation: recording and failure tracking ---------------------

  // Runs one normal or atomic rule. Outside atomic rules each invocation
  // records its match and takes part in failure tracking; inside them rules
  // only consume.
  template <GrammarRule Rule, bool Atomic, bool (Matcher::*Body)()>
  bool invoke() {
    if (too_deep_) {
      return false;
    }
    const std::size_t start = pos_;
    if (atomic_depth_ > 0) {
      const bool matched = (this->*Body)();
      if (!matched) {
        pos_ = start;
      }
      return matched;
    }
    // Rules with rules inside them can be tried again at a position where they
    // failed before (an argument's operator chain gives back an operand that
    // the enclosing chain then tries), and without this, nested texts of that
    // shape would take exponential time.
    constexpr bool remembered =
        !Atomic && Rule != GrammarRule::Eoi && Rule != GrammarRule::BinaryOp && Rule != GrammarRule::UnaryOp;
    const std::uint64_t key = (static_cast<std::uint64_t>(start) << 5) | static_cast<std::uint64_t>(Rule);
    if constexpr (remembered) {
      if (!state_.failures.empty()) {
        if (const auto found = state_.failures.find(key); found != state_.failures.end()) {
          replay(found->second);
          return false;
        }
      }
    }
    const std::size_t attempt_before = state_.attempt;
    auto& matches = state_.matches;
    const auto& expected = state_.expected;
    const std::size_t count_before = expected.size();
    const std::size_t entry_count = state_.attempt == start ? expected.size() : 0;
    const std::size_t slot = matches.size();
    matches.push(FlatMatch{static_cast<std::uint32_t>(start), static_cast<std::uint32_t>(start), 0, Rule});
    if constexpr (Atomic) {
      ++atomic_depth_;
    }
    const bool matched = (this->*Body)();
    if constexpr (Atomic) {
      --atomic_depth_;
    }
    if (matched) {
      if (!state_.collapse || !collapse<Rule>(slot)) {
        matches[slot].end = static_cast<std::uint32_t>(pos_);
        matches[slot].subtree_end = static_cast<std::uint32_t>(matches.size());
      }
      return true;
    }
    matches.truncate(slot);
    pos_ = start;
    if (too_deep_) {
      return false;
    }
    note_failure(Rule, start, entry_count);
    if constexpr (remembered) {
      if (state_.remember_failures) {
        remember(key, attempt_before, count_before);
      }
    }
    return false;
  }

  // Leaves out the match of `Rule` at `slot` where the builder needs none:
  // an operator, or a rule that only passes one literal or name through.
  template <GrammarRule Rule>
  bool collapse(std::size_t slot) {
    auto& matches = state_.matches;
    if constexpr (Rule == GrammarRule::BinaryOp) {
      matches.truncate(slot);
      return true;
    } else if constexpr (Rule == GrammarRule::UnaryExpr || Rule == GrammarRule::CallExpr ||
                         Rule == GrammarRule::Primary) {
      if (matches.size() == slot + 2 && passes_through(matches[slot + 1].rule)) {
        matches[slot] = matches[slot + 1];
        matches[slot].subtree_end = static_cast<std::uint32_t>(slot + 1);
        matches.truncate(slot + 1);
        return true;
      }
    }
    return false;
  }

  // A literal or a name: a match of its own with nothing inside.
  static bool passes_through(GrammarRule rule) {
    switch (rule) {
      case GrammarRule::Float:
      case GrammarRule::Integer:
      case GrammarRule::String:
      case GrammarRule::Boolean:
      case GrammarRule::Character:
      case GrammarRule::Identifier:
        return true;
      default:
        return false;
    }
  }

  // Failure tracking for a rule that failed at `start`, where the expected
  // list held `entry_count` entries at the attempt position before it ran.
  // Exactly one deeper rule recorded here stands for this one; otherwise
  // this rule replaces what its inside recorded at its own position.
  void note_failure(GrammarRule rule, std::size_t start, std::size_t entry_count) {
    if (!state_.track) {
      return;
    }
    auto& expected = state_.expected;
    const bool one_deeper =
        state_.attempt == start && expected.size() == entry_count + 1 && expected[expected.size() - 1].count == 1;
    if (one_deeper) {
      return;
    }
    if (start == state_.attempt) {
      expected.truncate(entry_count);
    } else if (start > state_.attempt) {
      expected.clear();
      state_.attempt = start;
    }
    if (start == state_.attempt) {
      expected.push(Expected{1U << static_cast<unsigned>(rule), 1});
    }
  }

  // Notes what a failed invocation contributed: the entries it left on the
  // expected list at the final attempt position (all of them when it moved
  // that position forward).
  void remember(std::uint64_t key, std::size_t attempt_before, std::size_t count_before) {
    const std::size_t first = state_.attempt == attempt_before ? count_before : 0;
    Expected contribution{0, 0};
    for (std::size_t i = first; i < state_.expected.size(); ++i) {
      contribution.rules |= state_.expected[i].rules;
      contribution.count = std::min<std::uint32_t>(2, contribution.count + state_.expected[i].count);
    }
    state_.failures.emplace(key, FailedAttempt{state_.attempt, contribution});
  }

  // Running the rule again would record its failures at positions no further
  // than before; only those at the current attempt position count, and they
  // add what they added the first time.
  void replay(const FailedAttempt& failure) {
    if (state_.track && failure.attempt == state_.attempt && failure.contribution.count > 0) {
      state_.expected.push(failure.contribution);
    }
  }

  // What a failed invocation of `Rule` here does to the tracking when nothing
  // inside it was recorded. A rule whose first character cannot match is
  // settled this way without running its body: literal and atomic rules
  // record nothing inside themselves, so the effect is the same.
  template <GrammarRule Rule>
  bool fails_here() {
    if (too_deep_ || atomic_depth_ > 0 || !state_.track) {
      return false;
    }
    if (pos_ > state_.attempt) {
      state_.expected.clear();
      state_.attempt = pos_;
    }
    if (pos_ == state_.attempt) {
      state_.expected.push(Expected{1U << static_cast<unsigned>(Rule), 1});
    }
    return false;
  }
  [[nodiscard]] bool next_is(char c) const { return !at_end() && peek() == c; }
  [[nodiscard]] bool next_is_digit_or_minus() const { return !at_end() && (is_digit(peek()) || peek() == '-'); }
  [[nodiscard]] bool next_is_letter() const { return !at_end() && is_letter(peek()); }

  // --- Terminals -------------------------------------------------------------

  [[nodiscard]] bool at_end() const { return pos_ >= text_.size(); }
  [[nodiscard]] char peek() const { return text_[pos_]; }

  bool literal(char c) {
    if (!at_end() && peek() == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) == word) {
      pos_ += word.size();
      return true;
    }
    return false;
  }
  bool any() {
    if (at_end()) {
      return false;
    }
    pos_ += char_length(text_, pos_);
    return true;
  }
  bool letter() {
    if (!at_end() && is_letter(peek())) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool digit() {
    if (!at_end() && is_digit(peek())) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool digits() {
    if (!digit()) {
      return false;
    }
    while (digit()) {
    }
    return true;
  }

  // WHITESPACE = " " | "\t"    (silent, atomic; the implicit skip of normal rules)
  void skip_whitespace() {
    while (!at_end() && (peek() == ' ' || peek() == '\t')) {
      ++pos_;
    }
  }

  // identifier_continue = letter | digit | "_"    (silent)
  [[nodiscard]] bool identifier_continue_ahead() const {
    return !at_end() && is_identifier_continue(peek());
  }

  // --- Rules, in the order of the rule table ----------------------------------

  // EOI = the end of the text
  bool eoi() {
    return at_end() ? invoke<GrammarRule::Eoi, false, &Matcher::eoi_body>() : fails_here<GrammarRule::Eoi>();
  }
  bool eoi_body() { return at_end(); }

  // expression = SOI binary_expr EOI
  bool expression() { return invoke<GrammarRule::Expression, false, &Matcher::expression_body>(); }
  bool expression_body() {
    if (pos_ != 0) {
      return false;
    }
    skip_whitespace();
    if (!binary_expr()) {
      return false;
    }
    skip_whitespace();
    return eoi();
  }

  // binary_expr = unary_expr (binary_op unary_expr)*
  bool binary_expr() { return invoke<GrammarRule::BinaryExpr, false, &Matcher::binary_expr_body>(); }
  bool binary_expr_body() {
    if (++nesting_ > EXPRESSION_NESTING_LIMIT) {
      too_deep_ = true;
    } else if (state_.stack != nullptr && state_.stack->exhausted()) {
      too_deep_ = true;
      out_of_stack_ = true;
    }
    const bool matched = !too_deep_ && unary_expr() && (repeat<&Matcher::operator_and_operand>(), true);
    --nesting_;
    return matched;
  }
  // cppcheck-suppress unusedPrivateFunction ; binary_expr_body passes it to repeat
  bool operator_and_operand() {
    const std::size_t start = pos_;
    const std::size_t mark = state_.matches.size();
    if (!binary_op()) {
      return false;
    }
    skip_whitespace();
    if (!unary_expr()) {
      state_.matches.truncate(mark);
      pos_ = start;
      return false;
    }
    return true;
  }

  // unary_expr = unary_op* call_expr
  bool unary_expr() { return invoke<GrammarRule::UnaryExpr, false, &Matcher::unary_expr_body>(); }
  bool unary_expr_body() {
    if (unary_op()) {
      repeat_again<&Matcher::unary_op>();
    }
    skip_whitespace();
    return call_expr();
  }

  // call_expr = primary (with_kw argument_list?)?
  bool call_expr() { return invoke<GrammarRule::CallExpr, false, &Matcher::call_expr_body>(); }
  bool call_expr_body() {
    if (!primary()) {
      return false;
    }
    skip_whitespace();
    if (with_kw()) {
      skip_whitespace();
      argument_list();
    }
    return true;
  }

  // argument_list = binary_expr ("," binary_expr)*
  bool argument_list() { return invoke<GrammarRule::ArgumentList, false, &Matcher::argument_list_body>(); }
  bool argument_list_body() {
    if (!binary_expr()) {
      return false;
    }
    repeat<&Matcher::comma_and_argument>();
    return true;
  }
  bool comma_and_argument() {
    const std::size_t start = pos_;
    if (!literal(',')) {
      return false;
    }
    skip_whitespace();
    if (!binary_expr()) {
      pos_ = start;
      return false;
    }
    return true;
  }

  // primary = float | integer | string | boolean | character | identifier | "(" binary_expr ")"
  bool primary() { return invoke<GrammarRule::Primary, false, &Matcher::primary_body>(); }
  bool primary_body() {
    if (float_literal() || integer() || string() || boolean() || character() || identifier()) {
      return true;
    }
    const std::size_t start = pos_;
    const std::size_t mark = state_.matches.size();
    if (!literal('(')) {
      return false;
    }
    skip_whitespace();
    if (binary_expr()) {
      skip_whitespace();
      if (literal(')')) {
        return true;
      }
    }
    state_.matches.truncate(mark);
    pos_ = start;
    return false;
  }

  // binary_op = "==" | "!=" | ">" | "<" | "+" | "-" | "*" | "/"
  bool binary_op() {
    return !at_end() && std::string_view("=!><+-*/").find(peek()) != std::string_view::npos
               ? invoke<GrammarRule::BinaryOp, false, &Matcher::binary_op_body>()
               : fails_here<GrammarRule::BinaryOp>();
  }
  bool binary_op_body() {
    return literal("==") || literal("!=") || literal('>') || literal('<') || literal('+') || literal('-') ||
           literal('*') || literal('/');
  }

  // unary_op = "-" | "!"
  bool unary_op() {
    return next_is('-') || next_is('!') ? invoke<GrammarRule::UnaryOp, false, &Matcher::unary_op_body>()
                                        : fails_here<GrammarRule::UnaryOp>();
  }
  bool unary_op_body() { return literal('-') || literal('!'); }

  // with_kw = "with" !identifier_continue    (atomic)
  bool with_kw() {
    return next_is('w') ? invoke<GrammarRule::WithKw, true, &Matcher::with_kw_body>()
                        : fails_here<GrammarRule::WithKw>();
  }
  bool with_kw_body() { return literal("with") && !identifier_continue_ahead(); }

  // boolean = ("aye" | "nay") !identifier_continue    (atomic)
  bool boolean() {
    return next_is('a') || next_is('n') ? invoke<GrammarRule::Boolean, true, &Matcher::boolean_body>()
                                        : fails_here<GrammarRule::Boolean>();
  }
  bool boolean_body() { return (literal("aye") || literal("nay")) && !identifier_continue_ahead(); }

  // identifier = letter identifier_continue*    (atomic)
  bool identifier() {
    return next_is_letter() ? invoke<GrammarRule::Identifier, true, &Matcher::identifier_body>()
                            : fails_here<GrammarRule::Identifier>();
  }
  bool identifier_body() {
    if (!letter()) {
      return false;
    }
    while (identifier_continue_ahead()) {
      ++pos_;
    }
    return true;
  }

  // float = "-"? digit+ "." digit+    (atomic)
  bool float_literal() {
    return next_is_digit_or_minus() ? invoke<GrammarRule::Float, true, &Matcher::float_body>()
                                    : fails_here<GrammarRule::Float>();
  }
  bool float_body() {
    literal('-');
    return digits() && literal('.') && digits();
  }

  // integer = "-"? digit+    (atomic)
  bool integer() {
    return next_is_digit_or_minus() ? invoke<GrammarRule::Integer, true, &Matcher::integer_body>()
                                    : fails_here<GrammarRule::Integer>();
  }
  bool integer_body() {
    literal('-');
    return digits();
  }

  // string = "\"" (string escape | !"\"" ANY)* "\""    (atomic)
  bool string() {
    return next_is('"') ? invoke<GrammarRule::String, true, &Matcher::string_body>()
                        : fails_here<GrammarRule::String>();
  }
  bool string_body() {
    if (!literal('"')) {
      return false;
    }
    while (true) {
      if (escape(R"("\nrt')")) {
        continue;
      }
      if (at_end() || peek() == '"') {
        break;
      }
      any();
    }
    return literal('"');
  }

  // character = "'" (character escape | !"'" ANY) "'"    (atomic)
  bool character() {
    return next_is('\'') ? invoke<GrammarRule::Character, true, &Matcher::character_body>()
                         : fails_here<GrammarRule::Character>();
  }
  bool character_body() {
    if (!literal('\'')) {
      return false;
    }
    if (!escape(R"('\nrt)")) {
      if (at_end() || peek() == '\'') {
        return false;
      }
      any();
    }
    return literal('\'');
  }

  // A backslash and one of `followers`.
  bool escape(std::string_view followers) {
    if (pos_ + 1 < text_.size() && text_[pos_] == '\\' && followers.find(text_[pos_ + 1]) != std::string_view::npos) {
      pos_ += 2;
      return true;
    }
    return false;
  }

  // --- Repetition ------------------------------------------------------------

  // Further repetitions of `Element` after a first one: each skips whitespace
  // first and gives it back when the repetition fails.
  template <bool (Matcher::*Element)()>
  void repeat_again() {
    while (true) {
      const std::size_t before = pos_;
      skip_whitespace();
      if (!(this->*Element)()) {
        pos_ = before;
        return;
      }
    }
  }

  // `Element*` after an earlier element of the same sequence: the separating
  // whitespace stays consumed even when no repetition follows.
  template <bool (Matcher::*Element)()>
  void repeat() {
    skip_whitespace();
    if ((this->*Element)()) {
      repeat_again<Element>();
    }
  }

  std::string_view text_;
  MatchState& state_;
  std::size_t pos_ = 0;
  std::size_t atomic_depth_ = 0;
  std::size_t nesting_ = 0;
  bool too_deep_ = false;
  bool out_of_stack_ = false;
};

}  // namespace

Outcome run(std::string_view text, MatchState& state) { return Matcher(text, state).run(); }

// ---------------------------------------------------------------------------
// The failure report
// ---------------------------------------------------------------------------

std::vector<GrammarRule> MatchState::expected_rules() const {
  std::uint32_t rules = 0;
  for (const Expected& entries : expected) {
    rules |= entries.rules;
  }
  std::vector<GrammarRule> names;
  for (std::size_t rule = 0; rule < GRAMMAR_RULE_NAMES.size(); ++rule) {
    if ((rules & (1U << rule)) != 0) {
      names.push_back(static_cast<GrammarRule>(rule));
    }
  }
  return names;
}

namespace {

// Where the failure is: its 1-based line and column, counted in characters,
// and the offset at which its line starts.
struct ReportPosition {
  std::size_t line = 1;
  std::size_t column = 1;
  std::size_t line_start = 0;
};

ReportPosition locate(std::string_view text, std::size_t attempt) {
  ReportPosition at;
  for (std::size_t i = 0; i < attempt;) {
    const char c = text[i];
    if (c == '\n') {
      ++at.line;
      at.column = 1;
      at.line_start = i + 1;
      ++i;
    } else if (c == '\r' && i + 1 < attempt && text[i + 1] == '\n') {
      ++at.line;
      at.column = 1;
      at.line_start = i + 2;
      i += 2;
    } else {
      ++at.column;
      i += char_length(text, i);
    }
  }
  return at;
}

// The line that holds the failure, without its line break, which is shown as
// a symbol only when the failure is at it.
std::string shown_line(std::string_view text, std::size_t attempt, std::size_t line_start) {
  std::size_t line_end = text.find('\n', line_start);
  line_end = line_end == std::string_view::npos ? text.size() : line_end + 1;
  const std::string_view raw_line = text.substr(line_start, line_end - line_start);
  const bool at_line_break = attempt < text.size() && (text[attempt] == '\r' || text[attempt] == '\n');
  std::string shown;
  shown.reserve(raw_line.size());
  for (const char c : raw_line) {
    if (c == '\r' || c == '\n') {
      if (at_line_break) {
        shown.append(c == '\r' ? "\u240D" : "\u240A");
      }
    } else {
      shown.push_back(c);
    }
  }
  return shown;
}

// One blank (or the tab, so the caret lines up) for each of the first
// `column - 1` characters of the shown line; a shown line that lost line
// breaks may hold fewer.
std::string underline_to(std::string_view shown, std::size_t column) {
  std::string underline;
  std::size_t pos = 0;
  for (std::size_t i = 1; i < column && pos < shown.size(); ++i) {
    underline.push_back(shown[pos] == '\t' ? '\t' : ' ');
    pos += char_length(shown, pos);
  }
  underline.append("^---");
  return underline;
}

std::string expected_message(const std::vector<GrammarRule>& expected) {
  if (expected.empty()) {
    return "unknown parsing error";
  }
  std::string message = "expected ";
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (i > 0) {
      message.append(expected.size() == 2 ? " or " : (i + 1 == expected.size() ? ", or " : ", "));
    }
    message.append(rule_name(expected[i]));
  }
  return message;
}

}  // namespace

std::string render_report(std::string_view text, std::size_t attempt, const std::vector<GrammarRule>& expected) {
  const ReportPosition at = locate(text, attempt);
  const std::string shown = shown_line(text, attempt, at.line_start);
  const std::string underline = underline_to(shown, at.column);
  const std::string message = expected_message(expected);

  const std::string line_text = std::to_string(at.line);
  const std::string gutter(line_text.size(), ' ');
  std::string report;
  report.append(gutter).append("--> ").append(line_text).append(":").append(std::to_string(at.column)).append("\n");
  report.append(gutter).append(" |\n");
  report.append(line_text).append(" | ").append(shown).append("\n");
  report.append(gutter).append(" | ").append(underline).append("\n");
  report.append(gutter).append(" |\n");
  report.append(gutter).append(" = ").append(message);
  return report;
}

}  // namespace skern::grammar

namespace skern {

namespace grammar {

RuleMatch nest(const Stack<FlatMatch>& flat, std::size_t index) {
  const FlatMatch& match = flat[index];
  RuleMatch nested{match.rule, match.start, match.end, {}};
  nested.children.reserve(match.subtree_end - index - 1);
  for (std::size_t child = index + 1; child < match.subtree_end; child = flat[child].subtree_end) {
    nested.children.push_back(nest(flat, child));
  }
  return nested;
}

}  // namespace grammar

std::variant<RuleMatch, std::string> match_expression(std::string_view text) {
  grammar::MatchState state;
  const StackGuard stack(grammar::PARSER_STACK_RESERVE);
  state.stack = &stack;
  switch (grammar::run(text, state)) {
    case grammar::Outcome::Matched:
      return grammar::nest(state.matches, 0);
    case grammar::Outcome::TooDeep:
      return msg::expression_nested_too_deeply(EXPRESSION_NESTING_LIMIT);
    case grammar::Outcome::TooDeepForStack:
      return std::string(msg::EXPRESSION_TOO_DEEP_FOR_STACK);
    case grammar::Outcome::Failed:
      break;
  }
  return grammar::render_report(text, state.attempt, state.expected_rules());
}

}  // namespace skern
