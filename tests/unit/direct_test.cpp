// The one-pass expression reader against the grammar's matcher and the
// builder: every text it takes must get exactly the builder's tree, and it
// must take no text that the grammar rejects or the builder refuses.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "model/stack.h"
#include "parser/expression.h"
#include "parser/grammar_internal.h"

namespace skern {
namespace {

struct Outcomes {
  int taken = 0;
  int left = 0;
};

// Reads `text` both ways and checks that they agree wherever the reader takes it.
void compare(const std::string& text, ExpressionParser& parser, Outcomes& outcomes) {
  SymbolTable direct_symbols;
  ExprArena direct_nodes;
  const std::optional<Expr> direct = grammar::read_directly(text, direct_symbols, direct_nodes, nullptr);
  SymbolTable symbols;
  ExprArena nodes;
  const Result<Expr> built = parser.parse_by_grammar(text, symbols, nodes);
  if (!direct) {
    ++outcomes.left;
    return;
  }
  ++outcomes.taken;
  ASSERT_TRUE(built.ok()) << "taken, but the grammar or builder refuses: [" << text << "] "
                          << built.error().display();
  EXPECT_TRUE(same_expression(*direct, direct_symbols, *built, symbols)) << "[" << text << "]";
  // Names are interned in the order the builder interns them.
  ASSERT_EQ(direct_symbols.size(), symbols.size()) << "[" << text << "]";
  for (std::uint32_t id = 0; id < symbols.size(); ++id) {
    EXPECT_EQ(direct_symbols.name(Symbol{id}), symbols.name(Symbol{id})) << "[" << text << "]";
  }
}

TEST(DirectReader, TakesTheCommonFormsWithTheBuildersTrees) {
  const std::vector<std::string> texts = {
      "1",         "  x  ",           "a + b * c - d / e",  "(a + b) * (c - d)", "8 - 2 * 3",
      "-5",        "--x",             "- ! - x",            "!a == b",           "a != b",
      "a > b",     "a < -1",          "x == -3.25",         "1.0",               "0.5 + 12.25",
      "aye",       "nay",             "ayes",               "nay_x",             "with",
      "with with", "f with",          "f with 1, x + 2",    "f with g with 1, 2", "f with (g with 1), 2",
      "a + f with 1 + 2",             "(f) with 2",         "f with with",       "\"text\"",
      "\"a\\nb\"", "\"q\\q\"",        "\"tab\\t \\\" \\\\\"", "'x'",             "'\xC3\xA9'",
      "\"caf\xC3\xA9\"",              "\t1\t+\t2\t",        "9223372036854775807", "a_b1 + A9",
      "f with -1", "f with - - y",    "(((((1)))))",        "x+1",               "s + \"!\"",
      // Integers about the length up to which digits are added up as read.
      "0",         "999999999999999999", "1000000000000000000", "0000000000000000000000000042",
      "9223372036854775806 + 1"};
  ExpressionParser parser;
  Outcomes outcomes;
  for (const std::string& text : texts) {
    compare(text, parser, outcomes);
  }
  EXPECT_EQ(outcomes.left, 0) << "every text above is for the reader to take";
}

TEST(DirectReader, LeavesEveryRejectedOrRefusedTextToTheGrammar) {
  const std::vector<std::string> texts = {
      "",          "1 +",        "a >= b",      "(1",        "1 2",        "1.",         "f with )",   "''",
      ".5",        "_a",         "1a",          "a = b",     "a ! b",      "5 with 1",   "(1) with 2", "f with1",
      "\"ab\\\"",  "'ab'",       "'\\t'",       "'\\''",     "\"open",     "'",          "a\r",        "a\n+ 1",
      "f with ,1", "f with 1,",  "9223372036854775808",     "-9223372036854775808",    "x +\xC2\xA0y",
      "'e\xCC\x81'", "99999999999999999999", "18446744073709551616", "18446744073709551626"};
  ExpressionParser parser;
  Outcomes outcomes;
  for (const std::string& text : texts) {
    compare(text, parser, outcomes);
  }
  EXPECT_EQ(outcomes.taken, 0);
}

TEST(DirectReader, LeavesDeepNestingAndLongUnaryRunsToTheGrammar) {
  SymbolTable symbols;
  ExprArena nodes;
  EXPECT_FALSE(grammar::read_directly(std::string(100, '(') + "1" + std::string(100, ')'), symbols, nodes, nullptr));
  EXPECT_FALSE(grammar::read_directly(std::string(9, '-') + "1", symbols, nodes, nullptr));
  EXPECT_TRUE(grammar::read_directly(std::string(8, '-') + "1", symbols, nodes, nullptr));
  std::string long_sum = "1";
  for (int i = 0; i < 100000; ++i) {
    long_sum += " + x";
  }
  EXPECT_TRUE(grammar::read_directly(long_sum, symbols, nodes, nullptr));
}

// Random texts over pieces that reach every decision of the grammar: the two
// ways agree on each one, and both outcomes occur often.
TEST(DirectReader, AgreesWithTheGrammarOnRandomTexts) {
  const std::vector<std::string> pieces = {
      "(",   ")",   "a",    "f",    " with ", "with", "1",   "42",  "2.5", "1.",  " + ", "-",    "!",   "!=",
      "==",  ">",   "<",    "*",    "/",      ", ",   ",",   " ",   "\t",  "aye", "nay", "ayes", "\"s\"",
      "\"",  "\\",  "'c'",  "'",    "_",      "x_1",  "=",   ">=",  "\"a\\\"b\"", "'\\n'", "\xC3\xA9"};
  std::mt19937 random(20261209);
  ExpressionParser parser;
  Outcomes outcomes;
  for (int round = 0; round < 60000; ++round) {
    std::string text;
    const std::size_t length = 1 + random() % 16;
    for (std::size_t i = 0; i < length; ++i) {
      text += pieces[random() % pieces.size()];
    }
    compare(text, parser, outcomes);
    if (::testing::Test::HasFailure()) {
      return;
    }
  }
  EXPECT_GT(outcomes.taken, 2000);
  EXPECT_GT(outcomes.left, 2000);
}

// A text given up on late leaves no nodes behind: the arena holds only what
// the matcher and the builder made of it.
TEST(DirectReader, ATextGivenUpOnLeavesNoNodes) {
  std::string text = "x0";
  for (int i = 1; i < 1000; ++i) {
    text += " + x" + std::to_string(i);
  }
  text += " + '\\n'";  // a sigil escape, which the reader leaves to the matcher
  ExpressionParser parser;
  SymbolTable symbols;
  ExprArena nodes;
  ASSERT_TRUE(parser.parse(text, symbols, nodes).ok());
  SymbolTable grammar_symbols;
  ExprArena grammar_nodes;
  ASSERT_TRUE(parser.parse_by_grammar(text, grammar_symbols, grammar_nodes).ok());
  EXPECT_EQ(nodes.size(), grammar_nodes.size());
  EXPECT_EQ(nodes.size(), 2000U);
}

// Runs `body` once the stack is within `margin` bytes of what `guard` allows.
[[gnu::noinline]] void near_the_floor(const StackGuard& guard, std::uintptr_t margin,
                                      const std::function<void()>& body) {
  if (guard.near(margin)) {
    body();
    return;
  }
  std::array<volatile char, 256> pad{};
  pad[0] = 1;
  near_the_floor(guard, margin, body);
  pad[1] = pad[0];
}

// Close to the end of the stack, the matcher gives up on a deep text for want
// of stack before this reader would: there the reader leaves every text to it.
TEST(DirectReader, NearTheEndOfTheStackTheMatcherDecides) {
  ExpressionParser parser;
  const StackGuard guard(grammar::PARSER_STACK_RESERVE);
  const std::string text = std::string(60, '(') + "x" + std::string(60, ')');
  int refused = 0;
  // Finely close to the end, where the matcher's larger frames first tell.
  for (std::uintptr_t margin = 0; margin <= (std::uintptr_t{3} << 19);
       margin += margin < (std::uintptr_t{1} << 16) ? 512 : std::uintptr_t{1} << 14) {
    near_the_floor(guard, margin, [&] {
      SymbolTable symbols;
      ExprArena nodes;
      const Result<Expr> parsed = parser.parse(text, symbols, nodes);
      const Result<Expr> by_grammar = parser.parse_by_grammar(text, symbols, nodes);
      ASSERT_EQ(parsed.ok(), by_grammar.ok()) << "margin " << margin;
      if (!parsed.ok()) {
        ++refused;
        EXPECT_EQ(parsed.error().display(), by_grammar.error().display());
      }
    });
  }
  EXPECT_GT(refused, 0) << "the sweep should reach where the matcher gives up";
}

}  // namespace
}  // namespace skern
