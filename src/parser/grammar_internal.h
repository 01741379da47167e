// Private to the parser: the grammar's flat match list, shared by the matcher
// and the tree builder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "model/stack.h"
#include "parser/expression.h"

namespace skern::grammar {

// Matches in pre-order: a match's children follow it, and its whole subtree
// ends just before index `subtree_end`. Failed attempts are cut off the end,
// so the list never holds anything but the matches of the successful parse.
// Positions are 32-bit, so that a long expression's list stays small; longer
// texts are refused as too large for memory.
struct FlatMatch {
  std::uint32_t start;
  std::uint32_t end;
  std::uint32_t subtree_end;
  GrammarRule rule;
};
static_assert(sizeof(FlatMatch) == 16);
inline constexpr std::size_t LONGEST_EXPRESSION = std::size_t{0xFFFFFFFF} - 1;

enum class Outcome { Matched, Failed, TooDeep, TooDeepForStack };

// A stack of plain values whose storage only grows, so that pushing and
// cutting back on the matcher's hot path never allocate or free.
template <class T>
class Stack {
 public:
  [[nodiscard]] std::size_t size() const { return size_; }
  [[nodiscard]] bool empty() const { return size_ == 0; }
  void clear() { size_ = 0; }
  void truncate(std::size_t size) { size_ = size; }
  void push(const T& item) {
    if (size_ == items_.size()) [[unlikely]] {
      grow();
    }
    items_[size_++] = item;
  }
  T& operator[](std::size_t index) { return items_[index]; }
  const T& operator[](std::size_t index) const { return items_[index]; }
  [[nodiscard]] const T* begin() const { return items_.data(); }
  [[nodiscard]] const T* end() const { return items_.data() + size_; }
  // Empties the stack, and lets go of its storage if it grew past `items`.
  void clear_keeping(std::size_t items) {
    size_ = 0;
    if (items_.size() > items) {
      std::vector<T>().swap(items_);
    }
  }

 private:
  [[gnu::noinline]] void grow() { items_.resize(items_.empty() ? 64 : items_.size() * 2); }
  std::vector<T> items_;
  std::size_t size_ = 0;
};

// A run of entries of the expected list: the set of rules they name and how
// many entries there are, counted up to 2. The tracking only ever asks
// whether exactly one entry was added since some earlier length, and the
// report only wants the set, so the list can be kept as runs: a rule tried
// again where it failed before adds again what it added the first time, and
// such repeats would otherwise make the list grow exponentially.
struct Expected {
  std::uint32_t rules;  // bit i for GrammarRule i
  std::uint32_t count;  // 1, or 2 for more than one
};

// A rule invocation that failed, kept so that invoking the same rule at the
// same position again costs nothing: the rule fails again, and what it did to
// the failure tracking is replayed.
struct FailedAttempt {
  std::size_t attempt;    // the attempt position once it had failed
  Expected contribution;  // what it added to the expected list there (count 0: nothing)
};

// What one run of the grammar leaves behind; reused across runs.
struct MatchState {
  Stack<FlatMatch> matches;
  Stack<Expected> expected;
  std::size_t attempt = 0;
  std::unordered_map<std::uint64_t, FailedAttempt> failures;  // by rule and position
  const StackGuard* stack = nullptr;                          // when set, nesting also stops before the stack runs out
  bool remember_failures = true;                              // off only to check that remembering changes no result
  // Leaves out the matches that only pass one literal or name through
  // (unary_expr without operators, call_expr without `with`, primary without
  // parentheses), and those of binary operators, which stand alone between
  // their operands: the tree builder reads the same either way, and a long
  // operator chain then keeps one match per term.
  bool collapse = false;
  // Keeps the expected list and the attempt position. A run that only needs
  // to know whether the text matches, and its matches, may do without: they
  // never change the outcome, and a failed text is run again to report it.
  bool track = true;

  // The rules expected at the attempt position, in rule order, each once.
  [[nodiscard]] std::vector<GrammarRule> expected_rules() const;
};

// What parsing keeps back on the stack: enough for building the tree of the
// deepest admitted text, which recurses beside the matcher's checks.
inline constexpr std::uintptr_t PARSER_STACK_RESERVE = std::uintptr_t{256} << 10;

// Runs the grammar from `expression` over the whole text.
Outcome run(std::string_view text, MatchState& state);

// The match at `index` of a run's flat list, with all of its subtree.
RuleMatch nest(const Stack<FlatMatch>& flat, std::size_t index);

// The six-line report for a failed run.
std::string render_report(std::string_view text, std::size_t attempt, const std::vector<GrammarRule>& expected);

// Length in bytes of the UTF-8 character that starts at `pos` (1 for a byte
// that does not start a valid sequence), and its code point.
std::size_t char_length(std::string_view text, std::size_t pos);
char32_t decode_char(std::string_view text, std::size_t pos, std::size_t length);

// The grammar's character classes, ASCII only.
[[nodiscard]] inline bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
[[nodiscard]] inline bool is_digit(char c) { return c >= '0' && c <= '9'; }
[[nodiscard]] inline bool is_identifier_continue(char c) { return is_letter(c) || is_digit(c) || c == '_'; }

// Decimal digits, a point and digits, with an optional leading "-", to the
// nearest double; none for any other text.
std::optional<double> convert_float(std::string_view text);

// The tree of an expression text read in one pass, for the common texts;
// none for any other (a rejected text among them), which the matcher and the
// builder then take. Where it gives a tree, it is the builder's tree.
std::optional<Expr> read_directly(std::string_view text, SymbolTable& symbols, ExprArena& nodes,
                                  const StackGuard* stack);

}  // namespace skern::grammar
