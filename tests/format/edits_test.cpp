// Formatting as line edits (whole text and ranges), the tree comparison
// behind the formatter's self-check, and the command's diffs. (Its rewrites
// of files are tested through the command, in check_fmt_cli.py.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fmt/diff.h"
#include "format/format.h"
#include "format/layout.h"
#include "parser/parser.h"

namespace skern::format {
namespace {

std::vector<std::string> lines_of(std::string_view text) {
  std::vector<std::string> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::size_t length = end == std::string_view::npos ? text.size() : end + 1;
    lines.emplace_back(text.substr(0, length));
    text.remove_prefix(length);
  }
  return lines;
}

// The source with the edits made, as an editor makes them.
std::string with_edits(std::string_view source, const std::vector<LineEdit>& edits) {
  const std::vector<std::string> lines = lines_of(source);
  std::string out;
  std::size_t next = 0;  // 0-based line not yet copied
  for (const LineEdit& edit : edits) {
    EXPECT_GE(edit.first_line, next + 1) << "edits overlap or are out of order";
    EXPECT_GE(edit.line_count, 1U);
    for (; next + 1 < edit.first_line; ++next) {
      out += lines[next];
    }
    out += edit.text;
    next += edit.line_count;
  }
  for (; next < lines.size(); ++next) {
    out += lines[next];
  }
  return out;
}

bool same_meaning(std::string_view a, std::string_view b) {
  const Result<Program> first = parse_program(a);
  const Result<Program> second = parse_program(b);
  return first.ok() && second.ok() && same_program(*first, *second);
}

const std::string MESSY =
    "// Sums.\n"                        // 1
    "we declare add with a ,b->\n"      // 2
    "council says:\n"                   // 3
    "  total is a blade with a+b\n"     // 4
    "  if total>10:\n"                  // 5
    "        return 10\n"               // 6
    "  return total  \n"                // 7
    "on the iron throne:\n"             // 8
    "\tspeak add with 1 ,2\n"           // 9
    "\n\n\n"                            // 10-12
    "    x is a blade with ( 3)\n"      // 13
    "    the realm marches x times:\n"  // 14
    "     speak x  // each\n"           // 15
    "    speak-x";                      // 16, no final line feed

TEST(Edits, NoneForTextInCanonicalLayout) {
  const Formatted<std::string> canonical = format_source(MESSY);
  ASSERT_TRUE(canonical.ok());
  const Formatted<std::vector<LineEdit>> edits = format_edits(*canonical);
  ASSERT_TRUE(edits.ok());
  EXPECT_TRUE(edits->empty());
}

TEST(Edits, MadeTheyGiveTheFormattedText) {
  for (const std::string& source : {MESSY, std::string("on the iron throne:\r\n  speak 1\r\n\r\n\r\n  speak 2\r\n"),
                                    std::string("\n\non the iron throne:\n speak 1\n\n")}) {
    const Formatted<std::vector<LineEdit>> edits = format_edits(source);
    ASSERT_TRUE(edits.ok());
    EXPECT_EQ(with_edits(source, *edits), *format_source(source));
  }
}

TEST(Edits, EachCoversARunOfChangedLinesOnly) {
  const Formatted<std::vector<LineEdit>> edits =
      format_edits("on the iron throne:\n  speak 1\n  speak 2\n\n\n  speak 3\n    \n");
  ASSERT_TRUE(edits.ok());
  ASSERT_EQ(edits->size(), 2U);
  // The first blank line stays (it is the source's own); the second goes.
  EXPECT_EQ((*edits)[0].first_line, 2U);
  EXPECT_EQ((*edits)[0].line_count, 2U);
  EXPECT_EQ((*edits)[0].text, "    speak 1\n    speak 2\n");
  EXPECT_EQ((*edits)[1].first_line, 5U);
  EXPECT_EQ((*edits)[1].line_count, 3U);
  EXPECT_EQ((*edits)[1].text, "    speak 3\n");
}

TEST(Edits, ABlankLinePutInGoesWithTheLineBelowIt) {
  const Formatted<std::vector<LineEdit>> edits =
      format_edits("on the iron throne:\n    speak 1\nwe declare f with ->\ncouncil says:\n    return 1\n");
  ASSERT_TRUE(edits.ok());
  ASSERT_EQ(edits->size(), 1U);
  EXPECT_EQ((*edits)[0].first_line, 3U);
  EXPECT_EQ((*edits)[0].line_count, 1U);
  EXPECT_EQ((*edits)[0].text, "\nwe declare f with ->\n");
}

TEST(Edits, FailWithTheParseError) {
  const Formatted<std::vector<LineEdit>> edits = format_edits("on the iron throne:\n");
  ASSERT_FALSE(edits.ok());
  EXPECT_EQ(edits.report(), "parse error on line 1: expected an indented block");
  EXPECT_FALSE(format_range("on the iron throne:\n", 1, 1).ok());
}

TEST(Range, OnlyTheLinesAskedForChangeWhereIndentationStays) {
  const std::string source =
      "on the iron throne:\n"
      "    x is a blade with 1+1\n"
      "    speak x*2\n"
      "    speak x  -  1\n";
  const Formatted<std::vector<LineEdit>> edits = format_range(source, 3, 3);
  ASSERT_TRUE(edits.ok());
  ASSERT_EQ(edits->size(), 1U);
  EXPECT_EQ((*edits)[0].first_line, 3U);
  EXPECT_EQ((*edits)[0].line_count, 1U);
  EXPECT_EQ((*edits)[0].text, "    speak x * 2\n");
}

TEST(Range, ALineWhoseIndentationChangesTakesItsWholeBlock) {
  const std::string source =
      "on the iron throne:\n"   // 1
      "  speak 1\n"             // 2
      "  if aye:\n"             // 3
      "   speak 2+2\n"          // 4
      "  speak 3\n"             // 5
      "we declare f with ->\n"  // 6
      "council says:\n"         // 7
      "  return 1\n";           // 8
  const Formatted<std::vector<LineEdit>> edits = format_range(source, 2, 2);
  ASSERT_TRUE(edits.ok());
  ASSERT_EQ(edits->size(), 1U);
  EXPECT_EQ((*edits)[0].first_line, 2U);
  EXPECT_EQ((*edits)[0].line_count, 4U);
  EXPECT_EQ((*edits)[0].text, "    speak 1\n    if aye:\n        speak 2 + 2\n    speak 3\n");
}

TEST(Range, AHeaderNoShallowerThanItsBlocksNewIndentationJoins) {
  const std::string source =
      "on the iron throne:\n"  // 1
      "        if aye:\n"      // 2
      "         speak 1\n"     // 3
      "        speak 2\n";     // 4
  const Formatted<std::vector<LineEdit>> edits = format_range(source, 3, 3);
  ASSERT_TRUE(edits.ok());
  ASSERT_EQ(edits->size(), 1U);
  EXPECT_EQ((*edits)[0].first_line, 2U);
  EXPECT_EQ((*edits)[0].line_count, 3U);
  EXPECT_EQ((*edits)[0].text, "    if aye:\n        speak 1\n    speak 2\n");
}

TEST(Range, EveryRangeOfAMessyProgramKeepsItsMeaning) {
  const std::size_t count = lines_of(MESSY).size();
  for (std::size_t first = 1; first <= count; ++first) {
    for (std::size_t last = first; last <= count; ++last) {
      const Formatted<std::vector<LineEdit>> edits = format_range(MESSY, first, last);
      ASSERT_TRUE(edits.ok()) << first << ".." << last << ": " << edits.report();
      const std::string changed = with_edits(MESSY, *edits);
      EXPECT_TRUE(same_meaning(changed, MESSY)) << first << ".." << last << ":\n" << changed;
      if (first == 1 && last == count) {
        EXPECT_EQ(changed, *format_source(MESSY));
      }
    }
  }
}

TEST(Range, IsClampedToTheText) {
  const std::string source = "on the iron throne:\n  speak 1\n";
  EXPECT_TRUE(format_range(source, 3, 9)->empty());
  EXPECT_TRUE(format_range(source, 2, 1)->empty());
  const Formatted<std::vector<LineEdit>> all = format_range(source, 0, 99);
  ASSERT_TRUE(all.ok());
  EXPECT_EQ(with_edits(source, *all), "on the iron throne:\n    speak 1\n");
}

TEST(SameProgram, TellsTreesApartByEveryPart) {
  const std::string base = "we declare f with a, b ->\ncouncil says:\n    return a - b\n\non the iron throne:\n";
  const std::string main = "    x is a blade with f with 1, 2\n    if x > 0:\n        speak \"a\"\n";
  EXPECT_TRUE(same_meaning(base + main, base + main));
  // Spacing, parentheses and comments are no part of the tree.
  EXPECT_TRUE(
      same_meaning(base + main, base + "  x is a blade with (f with 1,2) // c\n  if (x>0):\n     speak \"a\"\n"));
  for (const std::string& other : {
           base + "    x is a blade with f with 1, 3\n    if x > 0:\n        speak \"a\"\n",
           base + "    x is a wine with f with 1, 2\n    if x > 0:\n        speak \"a\"\n",
           base + "    y is a blade with f with 1, 2\n    if x > 0:\n        speak \"a\"\n",
           base + "    x is a blade with f with 1, 2\n    if x < 0:\n        speak \"a\"\n",
           base + "    x is a blade with f with 1, 2\n    if x > 0:\n        speak \"b\"\n",
           base + "    x is a blade with f with 1, 2\n    if x > 0:\n        speak 'a'\n",
           base + "    x is a blade with f with 1, 2\n    if x > 0:\n        speak \"a\"\n    else:\n        speak 1\n",
           base + "    x is a blade with f with 1, 2\n    while x > 0:\n        speak \"a\"\n",
           base + "    x is a blade with f with 1 - 2\n    if x > 0:\n        speak \"a\"\n",
           base + "    x is a blade with (f with 1), 2\n    if x > 0:\n        speak \"a\"\n",
           "we declare f with b, a ->\ncouncil says:\n    return a - b\n\non the iron throne:\n" + main,
           "we declare f with a, b ->\ncouncil says:\n    return a + b\n\non the iron throne:\n" + main,
           "we declare g with a, b ->\ncouncil says:\n    return a - b\n\non the iron throne:\n" + main,
           "on the iron throne:\n" + main,
       }) {
    EXPECT_FALSE(same_meaning(base + main, other)) << other;
  }
  // Literals compare by value: wines by their bits, so 1.0 and 1.00 are one.
  EXPECT_TRUE(same_meaning("on the iron throne:\n    speak 1.0\n", "on the iron throne:\n    speak 1.00\n"));
  EXPECT_FALSE(same_meaning("on the iron throne:\n    speak 1.0\n", "on the iron throne:\n    speak 1\n"));
  EXPECT_FALSE(same_meaning("on the iron throne:\n    speak -0.0\n", "on the iron throne:\n    speak 0.0\n"));
}

TEST(SelfCheck, RefusesATextOfAnotherMeaning) {
  const Result<Program> tree = parse_program("on the iron throne:\n    speak 1\n");
  ASSERT_TRUE(tree.ok());
  EXPECT_TRUE(detail::same_meaning("on the iron throne:\n  speak 1 // same\n", *tree));
  for (const std::string_view other : {"on the iron throne:\n    speak 2\n", "on the iron throne:\n"}) {
    EXPECT_FALSE(detail::same_meaning(other, *tree));
  }
  const Formatted<std::string> refused = Formatted<std::string>::refusal();
  EXPECT_TRUE(refused.refused());
  EXPECT_FALSE(refused.ok());
  EXPECT_EQ(refused.report(),
            "internal error: formatting would change what the program means, so nothing was formatted");
  const Formatted<std::string> broken = format_source("on the iron throne:\n");
  EXPECT_FALSE(broken.refused());
  EXPECT_EQ(broken.report(), "parse error on line 1: expected an indented block");
}

TEST(SameProgram, AnOperatorChainAsLongAsALineAllowsNeedsNoDeepStack) {
  std::string chain = "on the iron throne:\n    speak 1";
  for (int i = 0; i < 200000; ++i) {
    chain += " + 1";
  }
  chain += "\n";
  std::string other = chain;
  other[other.size() - 2] = '2';
  EXPECT_TRUE(same_meaning(chain, chain));
  EXPECT_FALSE(same_meaning(chain, other));
}

}  // namespace
}  // namespace skern::format

namespace skern::fmt {
namespace {

TEST(UnifiedDiff, ShowsEachChangeWithThreeLinesAround) {
  std::string source = "on the iron throne:\n";
  for (int i = 1; i <= 12; ++i) {
    source += "    speak " + std::to_string(i) + "\n";
  }
  source += "    speak 1+1\n";  // line 14
  source.replace(source.find("speak 2\n"), 7, "speak  2");
  const format::Formatted<std::vector<format::LineEdit>> edits = format::format_edits(source);
  ASSERT_TRUE(edits.ok());
  EXPECT_EQ(
      unified_diff("p.skr", source, *edits),
      "--- p.skr\n+++ p.skr\n"
      "@@ -1,6 +1,6 @@\n"
      " on the iron throne:\n     speak 1\n-    speak  2\n+    speak 2\n     speak 3\n     speak 4\n     speak 5\n"
      "@@ -11,4 +11,4 @@\n"
      "     speak 10\n     speak 11\n     speak 12\n-    speak 1+1\n+    speak 1 + 1\n");
  EXPECT_EQ(unified_diff("p.skr", "x\n", {}), "");
}

TEST(UnifiedDiff, NamesAMissingLineFeedAndShowsAddedLinesAsAdded) {
  const std::string source = "on the iron throne:\n    speak 1\nwe declare f with ->\ncouncil says:\n    return 1";
  const format::Formatted<std::vector<format::LineEdit>> edits = format::format_edits(source);
  ASSERT_TRUE(edits.ok());
  EXPECT_EQ(unified_diff("-", source, *edits),
            "--- -\n+++ -\n"
            "@@ -1,5 +1,6 @@\n"
            " on the iron throne:\n     speak 1\n+\n we declare f with ->\n council says:\n"
            "-    return 1\n\\ No newline at end of file\n+    return 1\n");
}

TEST(UnifiedDiff, ChangesCloseTogetherShareAHunk) {
  const std::string source = "on the iron throne:\n  speak 1\n    \n  speak 2\n";
  const format::Formatted<std::vector<format::LineEdit>> edits = format::format_edits(source);
  ASSERT_TRUE(edits.ok());
  EXPECT_EQ(unified_diff("p", source, *edits),
            "--- p\n+++ p\n@@ -1,4 +1,4 @@\n on the iron throne:\n-  speak 1\n-    \n-  speak 2\n+    speak 1\n+\n+    "
            "speak 2\n");
}

}  // namespace
}  // namespace skern::fmt
