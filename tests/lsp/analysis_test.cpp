// What the analysis makes of names: which declaration each use means through
// the blocks around it, and which warnings stand beside a parse error.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "lsp/analysis.h"

namespace skern::lsp {
namespace {

// The occurrence of `name` that begins at the `nth` (0-based) place where
// `marker` stands in the text, `name` being at the marker's start.
const Occurrence& at(const Analysis& analysis, std::string_view text, std::string_view marker, std::size_t nth = 0) {
  std::size_t offset = text.find(marker);
  for (std::size_t i = 0; i < nth && offset != std::string_view::npos; ++i) {
    offset = text.find(marker, offset + 1);
  }
  EXPECT_NE(offset, std::string_view::npos) << marker;
  const Occurrence* occurrence = analysis.occurrence_at(offset);
  EXPECT_NE(occurrence, nullptr) << marker;
  static const Occurrence none;
  return occurrence != nullptr ? *occurrence : none;
}

// The line of the declaration a use means, or 0 for none.
std::size_t declared_on(const Analysis& analysis, std::string_view text, const Occurrence& use) {
  if (use.binding == NO_INDEX) {
    return 0;
  }
  const std::size_t offset = analysis.occurrences[use.binding].name.offset;
  return 1 + static_cast<std::size_t>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(offset), '\n'));
}

TEST(Bindings, NestedBlocksShadowAndEndWithTheirBlock) {
  const std::string text =
      "on the iron throne:\n"       // 1
      "    x is a blade with 1\n"   // 2
      "    if aye:\n"               // 3
      "        speak x + 0\n"       // 4: the outer x, not yet shadowed
      "        x is a blade with x\n"  // 5: its expression still reads the outer x
      "        speak x + 1\n"       // 6: the inner x
      "    else:\n"                 // 7
      "        speak x + 2\n"       // 8: the else block sees only the outer x
      "    speak x + 3\n";          // 9: the inner x is gone
  const Analysis analysis = analyse(text);
  EXPECT_TRUE(analysis.diagnostics.empty());
  EXPECT_EQ(declared_on(analysis, text, at(analysis, text, "x + 0")), 2U);
  EXPECT_EQ(declared_on(analysis, text, at(analysis, text, "x\n        speak")), 2U);
  EXPECT_EQ(declared_on(analysis, text, at(analysis, text, "x + 1")), 5U);
  EXPECT_EQ(declared_on(analysis, text, at(analysis, text, "x + 2")), 2U);
  EXPECT_EQ(declared_on(analysis, text, at(analysis, text, "x + 3")), 2U);
}

TEST(Bindings, LoopBodiesParametersAndNamesFromCallers) {
  const std::string text =
      "we declare tally with n ->\n"        // 1
      "council says:\n"                     // 2
      "    speak total\n"                   // 3: before the declaration: the caller's
      "    total is a blade with n\n"       // 4
      "    while total < 10:\n"             // 5: the condition is outside the body
      "        step is a blade with total\n"  // 6
      "        total = step + n\n"          // 7: the function's total, the parameter n
      "    speak step\n"                    // 8: the body's step is gone
      "    n speaks for input\n"            // 9
      "on the iron throne:\n"               // 10
      "    total is a blade with 0\n"       // 11
      "    tally with 3\n";                 // 12
  const Analysis analysis = analyse(text);
  EXPECT_EQ(declared_on(analysis, text, at(analysis, text, "total\n    total")), 0U);
  EXPECT_EQ(declared_on(analysis, text, at(analysis, text, "total < 10")), 4U);
  EXPECT_EQ(declared_on(analysis, text, at(analysis, text, "total = step")), 4U);
  EXPECT_EQ(declared_on(analysis, text, at(analysis, text, "step + n")), 6U);
  EXPECT_EQ(declared_on(analysis, text, at(analysis, text, "n\n    speak step")), 1U);
  EXPECT_EQ(declared_on(analysis, text, at(analysis, text, "n\n    while")), 1U);
  EXPECT_EQ(declared_on(analysis, text, at(analysis, text, "step\n    n speaks")), 0U);
  EXPECT_EQ(declared_on(analysis, text, at(analysis, text, "n speaks")), 1U);
  // The parameter is an occurrence of its own, in the body's block.
  const Occurrence& parameter = at(analysis, text, "n ->");
  EXPECT_EQ(parameter.use, Use::Parameter);
  EXPECT_EQ(parameter.scope, at(analysis, text, "total is a").scope);
}

TEST(Bindings, CallsKnowWhereTheirArgumentsBegin) {
  const std::string text =
      "we declare add with a, b ->\ncouncil says:\n    return a + b\n"
      "on the iron throne:\n    speak add with  1 + 2,(add with 3, 4)\n";
  const Analysis analysis = analyse(text);
  const Occurrence& outer = at(analysis, text, "add with  1");
  ASSERT_EQ(outer.arguments, 2U);
  EXPECT_EQ(analysis.argument_starts[outer.first_argument], text.find("1 + 2"));
  EXPECT_EQ(analysis.argument_starts[outer.first_argument + 1], text.find("(add with 3"));
  const Occurrence& inner = at(analysis, text, "add with 3");
  ASSERT_EQ(inner.arguments, 2U);
  EXPECT_EQ(analysis.argument_starts[inner.first_argument + 1], text.find("4)"));
}

std::vector<std::string> messages(const Analysis& analysis) {
  std::vector<std::string> all;
  for (const Diagnostic& diagnostic : analysis.diagnostics) {
    all.push_back(diagnostic.message);
  }
  return all;
}

TEST(Warnings, StandBesideAParseErrorOnAnotherLine) {
  const std::string text =
      "on the iron throne:\n"
      "    speak nobody\n"
      "    speak 1 + missing +\n"  // the error; its own names get no warning
      "    speak (greet with 1)\n";
  const Analysis analysis = analyse(text);
  EXPECT_FALSE(analysis.parses);
  EXPECT_EQ(messages(analysis), (std::vector<std::string>{"runtime error: unknown banner `nobody`",
                                                          "expression parse error:  --> 1:14\n  |\n1 | 1 + missing +\n"
                                                          "  |              ^---\n  |\n  = expected unary_expr",
                                                          "runtime error: unknown council `greet`"}));
  EXPECT_EQ(analysis.diagnostics[2].problem, Problem::UnknownCouncil);
}

TEST(Warnings, NoneForWhatABrokenLineMayDeclare) {
  // A header without `with`: its function and parameters are unknown, yet
  // the calls and the names in its body are no fault of theirs. So too for
  // a declaration whose name does not read.
  const std::string text =
      "we declare add a, b ->\ncouncil says:\n    return a + b\n"
      "we declare twice with x ->\ncouncil says:\n    gold! is a blade with x\n"
      "on the iron throne:\n    speak add with 1, 2\n    speak gold\n    speak stranger\n";
  const Analysis analysis = analyse(text);
  EXPECT_EQ(messages(analysis), (std::vector<std::string>{
                                    "parse error on line 1: function declaration needs `with` before parameters",
                                    "runtime error: unknown banner `stranger`"}));
  // A later broken header is known to the outline too, though the parser
  // stops at the first error.
  const std::string later =
      "on the iron throne:\n    x is a blade with 1 +\n    speak (pair with 1, 2)\n"
      "we declare pair with a b ->\ncouncil says:\n    return a\n";
  EXPECT_EQ(analyse(later).diagnostics.size(), 1U);
}

}  // namespace
}  // namespace skern::lsp
