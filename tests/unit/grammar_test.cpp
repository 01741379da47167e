// The expression grammar: which texts match, the shape and spans of the
// matches, and the failure reports.
#include <random>
#include <string>
#include <variant>

#include <gtest/gtest.h>

#include "parser/expression.h"
#include "parser/grammar_internal.h"

namespace skern {
namespace {

// A match tree as text: rule"span"{children}; the span is shown for leaves.
std::string shape(const RuleMatch& match, std::string_view text) {
  std::string out(rule_name(match.rule));
  if (match.children.empty()) {
    out += "\"" + std::string(text.substr(match.start, match.end - match.start)) + "\"";
    return out;
  }
  out += "{";
  for (std::size_t i = 0; i < match.children.size(); ++i) {
    out += (i == 0 ? "" : " ") + shape(match.children[i], text);
  }
  return out + "}";
}

// The shape of the expression's binary_expr (the EOI child is checked once below).
std::string matched(std::string_view text) {
  auto result = match_expression(text);
  if (const auto* report = std::get_if<std::string>(&result)) {
    return "failed:\n" + *report;
  }
  const RuleMatch& root = std::get<RuleMatch>(result);
  EXPECT_EQ(root.rule, GrammarRule::Expression);
  EXPECT_EQ(root.children.size(), 2U);
  EXPECT_EQ(root.children.back().rule, GrammarRule::Eoi);
  return shape(root.children.front(), text);
}

std::string report(std::string_view text) {
  auto result = match_expression(text);
  if (const auto* failure = std::get_if<std::string>(&result)) {
    return *failure;
  }
  return "<matched>";
}

// The first and last lines of a report: position and message.
std::pair<std::string, std::string> position_and_message(std::string_view text) {
  const std::string full = report(text);
  const std::size_t first = full.find('\n');
  const std::size_t last = full.rfind('\n');
  return {full.substr(0, first), full.substr(last + 1)};
}

TEST(GrammarAccepts, SumHasTwoOperandsAndAnOperator) {
  EXPECT_EQ(matched("1 + 2"),
            "binary_expr{unary_expr{call_expr{primary{integer\"1\"}}} binary_op\"+\" "
            "unary_expr{call_expr{primary{integer\"2\"}}}}");
}

TEST(GrammarAccepts, SpansOfNormalRulesKeepSkippedWhitespace) {
  auto result = match_expression("1 + 2");
  const RuleMatch& binary = std::get<RuleMatch>(result).children[0];
  const RuleMatch& first_operand = binary.children[0];
  EXPECT_EQ(first_operand.rule, GrammarRule::UnaryExpr);
  EXPECT_EQ(first_operand.start, 0U);
  EXPECT_EQ(first_operand.end, 2U);  // "1 "
  EXPECT_EQ(first_operand.children[0].end, 2U);  // call_expr "1 "
  const RuleMatch& integer = first_operand.children[0].children[0].children[0];
  EXPECT_EQ(integer.rule, GrammarRule::Integer);
  EXPECT_EQ(integer.end, 1U);  // "1"
  const RuleMatch& eoi = std::get<RuleMatch>(result).children[1];
  EXPECT_EQ(eoi.start, 5U);
  EXPECT_EQ(eoi.end, 5U);
}

TEST(GrammarAccepts, UnaryOperatorsComeBeforeTheOperand) {
  EXPECT_EQ(matched("-5"), "binary_expr{unary_expr{unary_op\"-\" call_expr{primary{integer\"5\"}}}}");
  EXPECT_EQ(matched("--5"),
            "binary_expr{unary_expr{unary_op\"-\" unary_op\"-\" call_expr{primary{integer\"5\"}}}}");
  EXPECT_EQ(matched("- - 5"), matched("--5"));
  EXPECT_EQ(matched("!a == b"),
            "binary_expr{unary_expr{unary_op\"!\" call_expr{primary{identifier\"a\"}}} binary_op\"==\" "
            "unary_expr{call_expr{primary{identifier\"b\"}}}}");
  EXPECT_EQ(matched("x == -3.25"),
            "binary_expr{unary_expr{call_expr{primary{identifier\"x\"}}} binary_op\"==\" "
            "unary_expr{unary_op\"-\" call_expr{primary{float\"3.25\"}}}}");
}

TEST(GrammarAccepts, Calls) {
  EXPECT_EQ(matched("f with 1, x"),
            "binary_expr{unary_expr{call_expr{primary{identifier\"f\"} with_kw\"with\" "
            "argument_list{binary_expr{unary_expr{call_expr{primary{integer\"1\"}}}} "
            "binary_expr{unary_expr{call_expr{primary{identifier\"x\"}}}}}}}}");
  EXPECT_EQ(matched("f with"), "binary_expr{unary_expr{call_expr{primary{identifier\"f\"} with_kw\"with\"}}}");
  EXPECT_EQ(matched("with with"),
            "binary_expr{unary_expr{call_expr{primary{identifier\"with\"} with_kw\"with\"}}}");
  EXPECT_EQ(matched("(f)"), "binary_expr{unary_expr{call_expr{primary{binary_expr{unary_expr{call_expr{"
                            "primary{identifier\"f\"}}}}}}}}");
}

TEST(GrammarAccepts, IdentifiersBooleansAndLiterals) {
  EXPECT_EQ(matched("a_b1"), "binary_expr{unary_expr{call_expr{primary{identifier\"a_b1\"}}}}");
  EXPECT_EQ(matched("ayes"), "binary_expr{unary_expr{call_expr{primary{identifier\"ayes\"}}}}");
  EXPECT_EQ(matched("nay_x"), "binary_expr{unary_expr{call_expr{primary{identifier\"nay_x\"}}}}");
  EXPECT_EQ(matched("with"), "binary_expr{unary_expr{call_expr{primary{identifier\"with\"}}}}");
  EXPECT_EQ(matched("aye"), "binary_expr{unary_expr{call_expr{primary{boolean\"aye\"}}}}");
  EXPECT_EQ(matched("nay"), "binary_expr{unary_expr{call_expr{primary{boolean\"nay\"}}}}");
  EXPECT_EQ(matched("'x'"), "binary_expr{unary_expr{call_expr{primary{character\"'x'\"}}}}");
  EXPECT_EQ(matched(R"('\'')"), "binary_expr{unary_expr{call_expr{primary{character\"'\\''\"}}}}");
  EXPECT_EQ(matched(R"("a\"b // c")"), "binary_expr{unary_expr{call_expr{primary{string\"\"a\\\"b // c\"\"}}}}");
  EXPECT_EQ(matched("\"\u00e9t\u00e9\""), "binary_expr{unary_expr{call_expr{primary{string\"\"\u00e9t\u00e9\"\"}}}}");
  EXPECT_EQ(matched("'\u00e9'"), "binary_expr{unary_expr{call_expr{primary{character\"'\u00e9'\"}}}}");
  EXPECT_EQ(matched("3.25"), "binary_expr{unary_expr{call_expr{primary{float\"3.25\"}}}}");
  EXPECT_EQ(matched(R"("a\qb")"), "binary_expr{unary_expr{call_expr{primary{string\"\"a\\qb\"\"}}}}");
}

TEST(GrammarAccepts, TabsAroundAndBetween) {
  EXPECT_EQ(matched("\t1\t+\t2\t"), matched("1 + 2"));
}

TEST(GrammarRejects, PositionsAndMessagesOfTheTable) {
  using Pair = std::pair<std::string, std::string>;
  EXPECT_EQ(position_and_message("1 +"), Pair(" --> 1:4", "  = expected unary_expr"));
  EXPECT_EQ(position_and_message("a >= b"), Pair(" --> 1:4", "  = expected unary_expr"));
  EXPECT_EQ(position_and_message("a <= b"), Pair(" --> 1:4", "  = expected unary_expr"));
  EXPECT_EQ(position_and_message("(1"), Pair(" --> 1:3", "  = expected binary_op or with_kw"));
  EXPECT_EQ(position_and_message("1 2"), Pair(" --> 1:3", "  = expected EOI, binary_op, or with_kw"));
  EXPECT_EQ(position_and_message("1."), Pair(" --> 1:2", "  = expected EOI, binary_op, or with_kw"));
  EXPECT_EQ(position_and_message("f with )"), Pair(" --> 1:8", "  = expected EOI, unary_expr, or binary_op"));
  EXPECT_EQ(position_and_message(""), Pair(" --> 1:1", "  = expected unary_expr"));
  EXPECT_EQ(position_and_message("''"), Pair(" --> 1:1", "  = expected unary_expr"));
  EXPECT_EQ(position_and_message(".5"), Pair(" --> 1:1", "  = expected unary_expr"));
  EXPECT_EQ(position_and_message("_a"), Pair(" --> 1:1", "  = expected unary_expr"));
  EXPECT_EQ(position_and_message("1a"), Pair(" --> 1:2", "  = expected EOI, binary_op, or with_kw"));
  EXPECT_EQ(position_and_message("x = 1"), Pair(" --> 1:3", "  = expected EOI, binary_op, or with_kw"));
}

TEST(GrammarRejects, LiteralsThatDoNotClose) {
  EXPECT_NE(report("\"ab\\\""), "<matched>");  // the backslash escapes the closing quote
  EXPECT_NE(report("'\\\"'"), "<matched>");    // backslash, then a double quote is no closing quote
  EXPECT_NE(report("'ab'"), "<matched>");
  EXPECT_NE(report("'e\xCC\x81'"), "<matched>");  // a letter and a combining mark are two characters
}

TEST(Report, WholeReportForAMissingOperand) {
  EXPECT_EQ(report("1 +"),
            " --> 1:4\n"
            "  |\n"
            "1 | 1 +\n"
            "  |    ^---\n"
            "  |\n"
            "  = expected unary_expr");
}

TEST(Report, ColumnsCountCharactersAndTheUnderlineKeepsTabs) {
  EXPECT_EQ(report("\t1 +"),
            " --> 1:5\n"
            "  |\n"
            "1 | \t1 +\n"
            "  | \t   ^---\n"
            "  |\n"
            "  = expected unary_expr");
  EXPECT_EQ(report("\"\u00e9\u00e9\" +"),
            " --> 1:7\n"
            "  |\n"
            "1 | \"\u00e9\u00e9\" +\n"
            "  |       ^---\n"
            "  |\n"
            "  = expected unary_expr");
}

TEST(Report, LineBreaksCountAndAreShownOnlyWhenTheFailureIsOnOne) {
  // A lone carriage return is an ordinary character of the line.
  EXPECT_EQ(report("1\r+"),
            " --> 1:2\n"
            "  |\n"
            "1 | 1\u240D+\n"
            "  |  ^---\n"
            "  |\n"
            "  = expected EOI, binary_op, or with_kw");
  EXPECT_EQ(report("1 +\n2 3"),
            " --> 1:4\n"
            "  |\n"
            "1 | 1 +\u240A\n"
            "  |    ^---\n"
            "  |\n"
            "  = expected unary_expr");
  EXPECT_EQ(report("1 +\r\n+"),
            " --> 1:4\n"
            "  |\n"
            "1 | 1 +\u240D\u240A\n"
            "  |    ^---\n"
            "  |\n"
            "  = expected unary_expr");
}

TEST(Report, GutterIsAsWideAsTheLineNumber) {
  // Only a string literal can hold line feeds, so the failure can land on line 10.
  const std::string text = "\"" + std::string(9, '\n') + "\" +";
  EXPECT_EQ(report(text),
            "  --> 10:4\n"
            "   |\n"
            "10 | \" +\n"
            "   |    ^---\n"
            "   |\n"
            "   = expected unary_expr");
}

TEST(Nesting, AThousandParenthesesParse) {
  const std::string text = std::string(1000, '(') + "1" + std::string(1000, ')');
  EXPECT_TRUE(std::holds_alternative<RuleMatch>(match_expression(text)));
}

TEST(Nesting, TooDeepIsAnOrderlyFailure) {
  const std::string text(100000, '(');
  EXPECT_EQ(report(text), "expression nests deeper than 2000 levels");
}

TEST(Nesting, LongUnaryRunsAndFlatChainsAreNotNesting) {
  EXPECT_TRUE(std::holds_alternative<RuleMatch>(match_expression(std::string(100000, '-') + "1")));
  std::string chain = "1";
  for (int i = 0; i < 100000; ++i) {
    chain += " + 1";
  }
  EXPECT_TRUE(std::holds_alternative<RuleMatch>(match_expression(chain)));
}

}  // namespace
}  // namespace skern

namespace skern {
namespace {

std::string report_of_run(std::string_view text, bool remember_failures) {
  grammar::MatchState state;
  state.remember_failures = remember_failures;
  const grammar::Outcome outcome = grammar::run(text, state);
  if (outcome == grammar::Outcome::Matched) {
    return "<matched " + std::to_string(state.matches.size()) + ">";
  }
  return grammar::render_report(text, state.attempt, state.expected_rules());
}

TEST(Backtracking, RetriedOperandsDoNotTakeExponentialTime) {
  // Each argument's operator chain gives back the operand that the enclosing
  // chain then tries again; without remembering failures, every level
  // doubled the work.
  std::string text;
  for (int i = 0; i < 60; ++i) {
    text += "(a with 1 + ";
  }
  EXPECT_EQ(report(text).substr(0, report(text).find('\n')), " --> 1:721");
  EXPECT_EQ(report(text).substr(report(text).rfind('\n') + 1), "  = expected unary_expr");
  std::string arguments;
  for (int i = 0; i < 60; ++i) {
    arguments += "f with 1, g with 2, ";
  }
  EXPECT_NE(report(arguments), "<matched>");
}

TEST(Backtracking, RememberingFailuresChangesNoReport) {
  // Random texts over the pieces that make the grammar backtrack, parsed with
  // and without remembered failures: the results must be identical.
  const std::vector<std::string> pieces = {"(", ")", "a", " with ", "1", " + ", ", ", "-", "!", "\"s\"", "'c'",
                                           "2.5", "aye", " ", "with", ">", "=="};
  std::mt19937 random(20261208);
  for (int round = 0; round < 4000; ++round) {
    std::string text;
    const std::size_t length = 1 + random() % 24;
    for (std::size_t i = 0; i < length; ++i) {
      text += pieces[random() % pieces.size()];
    }
    ASSERT_EQ(report_of_run(text, true), report_of_run(text, false)) << text;
  }
}

}  // namespace
}  // namespace skern
