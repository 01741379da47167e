// Source lines, comments, indentation, trimming and identifiers.
#include <array>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver/cli.h"
#include "parser/parser.h"

namespace skern {
namespace {

struct Line {
  std::string text;
  std::uint64_t number;
  std::uint64_t indentation;
  friend bool operator==(const Line&, const Line&) = default;
  friend std::ostream& operator<<(std::ostream& out, const Line& line) {
    return out << "{\"" << line.text << "\", " << line.number << ", " << line.indentation << "}";
  }
};

std::vector<Line> lines_of(std::string_view source) {
  std::vector<Line> lines;
  for (const SourceLine& line : split_lines(source)) {
    lines.push_back(Line{std::string(line.text), line.line_number, line.indentation});
  }
  return lines;
}

TEST(SplitLines, DropsBlankAndCommentLinesButCountsThem) {
  EXPECT_EQ(lines_of("a\n\n   \n// note\nb\n"), (std::vector<Line>{{"a", 1, 0}, {"b", 5, 0}}));
  EXPECT_TRUE(lines_of("").empty());
  EXPECT_TRUE(lines_of("\n\n// only comments\n   // and more").empty());
}

TEST(SplitLines, CarriageReturnsBeforeLineFeedsGoWithThem) {
  EXPECT_EQ(lines_of("a\r\n  b\r\n"), lines_of("a\n  b\n"));
  EXPECT_EQ(lines_of("a\rb\n"), (std::vector<Line>{{"a\rb", 1, 0}}));
  EXPECT_EQ(lines_of("x\r\r\n"), (std::vector<Line>{{"x", 1, 0}}));
  EXPECT_EQ(lines_of("a\r"), (std::vector<Line>{{"a", 1, 0}}));
}

TEST(SplitLines, IndentationCountsSpacesOneAndTabsFour) {
  EXPECT_EQ(lines_of("\tx\n    y\n\t z\n"),
            (std::vector<Line>{{"x", 1, 4}, {"y", 2, 4}, {"z", 3, 5}}));
  // Runs of spaces of every length, with tabs among them.
  EXPECT_EQ(lines_of("   a\n     \t  b\n\t    c\n         d\n        \n    "),
            (std::vector<Line>{{"a", 1, 3}, {"b", 2, 11}, {"c", 3, 8}, {"d", 4, 9}}));
  // Other whitespace is not indentation and stays in the text.
  EXPECT_EQ(lines_of("\u00a0x"), (std::vector<Line>{{"\u00a0x", 1, 0}}));
  EXPECT_TRUE(lines_of("\u00a0\u3000\f\v").empty());
}

TEST(SplitLines, TrailingBlanksAndCommentsAreRemoved) {
  EXPECT_EQ(lines_of("on the iron throne:   // start\n"), (std::vector<Line>{{"on the iron throne:", 1, 0}}));
  EXPECT_EQ(lines_of("x \t\r \n"), (std::vector<Line>{{"x", 1, 0}}));
  // Lines with and without slashes, in every order: each comment goes with
  // its own line only.
  EXPECT_EQ(lines_of("a\nb / 2\nc\r\n// d\ne\n\nf // g\nh\n'//' i\nj/\n/k\n//"),
            (std::vector<Line>{{"a", 1, 0},
                               {"b / 2", 2, 0},
                               {"c", 3, 0},
                               {"e", 5, 0},
                               {"f", 7, 0},
                               {"h", 8, 0},
                               {"'//' i", 9, 0},
                               {"j/", 10, 0},
                               {"/k", 11, 0}}));
}

TEST(CleanLine, CommentsNeverStartInsideLiterals) {
  EXPECT_EQ(clean_line("speak \"a // b\" // c"), "speak \"a // b\" ");
  EXPECT_EQ(clean_line("speak '/' // c"), "speak '/' ");
  EXPECT_EQ(clean_line(R"(speak "a\" // still text")"), R"(speak "a\" // still text")");
  EXPECT_EQ(clean_line(R"(speak 'a\' // still text)"), R"(speak 'a\' // still text)");
  // A lone apostrophe opens character mode to the end of the line.
  EXPECT_EQ(clean_line("speak it's // here"), "speak it's // here");
  EXPECT_EQ(clean_line("speak \"it's\" // gone"), "speak \"it's\" ");
  EXPECT_EQ(clean_line("x / y // z"), "x / y ");
  EXPECT_EQ(clean_line("// all"), "");
  EXPECT_EQ(clean_line("a \\// b"), "a \\");
}

TEST(Trim, UsesTheUnicodeWhiteSpaceProperty) {
  EXPECT_EQ(trim(" \t x \n"), "x");
  EXPECT_EQ(trim("\u00a0\u2003x\u3000\u2029"), "x");
  EXPECT_EQ(trim("\u0085\u1680\u202f\u205f\u2028x\u200a\u2000\u000b\u000c\r"), "x");
  EXPECT_EQ(trim("\u200bx\u200b"), "\u200bx\u200b");  // zero-width space is not White_Space
  EXPECT_EQ(trim("\u180ex"), "\u180ex");              // nor is the Mongolian vowel separator
  EXPECT_EQ(trim("\ufeffx"), "\ufeffx");              // nor a byte-order mark
  EXPECT_EQ(trim_end("  x  "), "  x");
  EXPECT_EQ(trim("   "), "");
  // Blanks around other whitespace, and whitespace next to a visible end.
  EXPECT_EQ(trim(" \t\u00a0 x y \u3000\t "), "x y");
  EXPECT_EQ(trim("\t\u2003"), "");
  EXPECT_EQ(trim("x\u00a0"), "x");
  EXPECT_EQ(trim("\u00a0x"), "x");
  EXPECT_EQ(trim_end("x \u2028 \t"), "x");
  EXPECT_EQ(trim_end("\u00e9 "), "\u00e9");
}

std::string form_of(std::string_view text) {
  static constexpr std::array<const char*, 10> names = {"StrayElse", "If",     "While",   "RealmMarches", "Input",
                                                        "Speak",     "Return", "Declare", "Assign",       "Expression"};
  return names.at(static_cast<std::size_t>(statement_shape(text).form));
}

TEST(StatementShape, FormsAreTriedInOrderWhateverTheFirstByte) {
  EXPECT_EQ(form_of("else:"), "StrayElse");
  EXPECT_EQ(form_of("else: "), "Expression");
  EXPECT_EQ(form_of("else = 1"), "Assign");
  EXPECT_EQ(form_of("if x:"), "If");
  EXPECT_EQ(form_of("if:"), "Expression");
  EXPECT_EQ(form_of("iff = 1"), "Assign");
  EXPECT_EQ(form_of("while x:"), "While");
  EXPECT_EQ(form_of("while x"), "Expression");
  EXPECT_EQ(form_of("the realm marches 3 times:"), "RealmMarches");
  EXPECT_EQ(form_of("the realm marches 3 time:"), "Expression");
  EXPECT_EQ(form_of("the realm marches times:"), "Expression");
  EXPECT_EQ(form_of("speak speaks for input"), "Input");
  EXPECT_EQ(form_of("if x speaks for input"), "Input");
  EXPECT_EQ(form_of("speak x is a blade with 1"), "Speak");
  EXPECT_EQ(form_of("return x = 1"), "Return");
  EXPECT_EQ(form_of("returns = 1"), "Assign");
  EXPECT_EQ(form_of("x = y is a blade"), "Declare");
  EXPECT_EQ(form_of(" is a "), "Declare");
  EXPECT_EQ(form_of("x is a"), "Expression");
  EXPECT_EQ(form_of("x is a "), "Declare");
  EXPECT_EQ(form_of("xis a b"), "Expression");
  EXPECT_EQ(form_of("x is  a b"), "Expression");
  EXPECT_EQ(form_of("if iii isis is a b"), "Declare");
  EXPECT_EQ(statement_shape("this is is a blade with 1").name, "this is");
  EXPECT_EQ(form_of("x <= 1"), "Expression");
  EXPECT_EQ(form_of(""), "Expression");
}

TEST(StatementShape, PartsAreTrimmedViewsOfTheLine) {
  const StatementShape declare = statement_shape("x\u00a0 is a  blade  with  1 + 2 ");
  EXPECT_EQ(declare.name, "x");
  EXPECT_EQ(declare.type, "blade");
  EXPECT_EQ(declare.expression, "1 + 2");
  EXPECT_TRUE(declare.has_with);
  EXPECT_FALSE(statement_shape("x is a blade").has_with);
  const StatementShape assign = statement_shape("total\t=\u3000total == 1");
  EXPECT_EQ(assign.name, "total");
  EXPECT_EQ(assign.expression, "total == 1");
  EXPECT_EQ(statement_shape("if  (a) :").expression, "(a)");
  EXPECT_EQ(statement_shape("the realm marches  n  times:").expression, "n");
  EXPECT_EQ(statement_shape(" who speaks for input").name, "who");
}

TEST(Identifier, LettersDigitsUnderscoresAndNoReservedWords) {
  EXPECT_TRUE(is_valid_identifier("x"));
  EXPECT_TRUE(is_valid_identifier("count_2"));
  EXPECT_TRUE(is_valid_identifier("Speak"));
  EXPECT_TRUE(is_valid_identifier("aye_"));
  EXPECT_TRUE(is_valid_identifier("council"));
  EXPECT_FALSE(is_valid_identifier(""));
  EXPECT_FALSE(is_valid_identifier("_x"));
  EXPECT_FALSE(is_valid_identifier("2x"));
  EXPECT_FALSE(is_valid_identifier("a-b"));
  EXPECT_FALSE(is_valid_identifier("na\u00efve"));
  EXPECT_FALSE(is_valid_identifier("a b"));
  for (const char* word : {"if", "aye", "nay", "vow", "else", "with", "wine", "void", "while", "speak", "blade",
                           "sigil", "return", "scroll"}) {
    EXPECT_FALSE(is_valid_identifier(word)) << word;
  }
  // Near misses of the reserved words are names.
  for (const char* word : {"i", "iff", "ay", "vows", "els", "With", "wines", "speaks", "blades", "retur", "scrolls",
                           "sigil_", "whilst", "returns"}) {
    EXPECT_TRUE(is_valid_identifier(word)) << word;
  }
}

TEST(ParseBlock, SharesTheCursorAndStopsAtTheEnclosingIndentation) {
  const std::string source = "header:\n    a = 1\n    b = 2\nnext\n";
  const std::vector<SourceLine> lines = split_lines(source);
  SymbolTable symbols;
  ExprArena nodes;
  std::size_t cursor = 1;
  Result<Block> block = parse_block(lines, cursor, 0, symbols, nodes);
  ASSERT_TRUE(block.ok());
  EXPECT_EQ(block->size(), 2U);
  EXPECT_EQ(cursor, 3U);
}

TEST(ParseBlock, NestingIsBoundedByAnOrderlyError) {
  std::string source = "on the iron throne:\n";
  for (std::size_t depth = 0; depth < BLOCK_NESTING_LIMIT + 5; ++depth) {
    source += std::string(depth + 1, ' ') + "if aye:\n";
  }
  source += std::string(BLOCK_NESTING_LIMIT + 6, ' ') + "speak 1\n";
  // On the large stack the command uses, the fixed limit is what stops it.
  std::string display;
  run_with_large_stack([&] {
    Result<Program> program = parse_program(source);
    display = program.ok() ? "<parsed>" : program.error().display();
    return 0;
  });
  EXPECT_EQ(display, "parse error on line 2002: blocks nest deeper than 2000 levels");
}

TEST(ParseBlock, NestingStopsBeforeTheStackRunsOut) {
  // On this test's own, smaller stack the parser gives up before overflowing it.
  std::string source = "on the iron throne:\n";
  for (std::size_t depth = 0; depth < BLOCK_NESTING_LIMIT - 1; ++depth) {
    source += std::string(depth + 1, ' ') + "if aye:\n";
  }
  source += std::string(BLOCK_NESTING_LIMIT, ' ') + "speak 1\n";
  Result<Program> program = parse_program(source);
  EXPECT_TRUE(program.ok() || program.error().message() == "blocks nest too deeply for the available stack")
      << program.error().display();
}

TEST(DeclaresAfterMain, LooksAtTheStartsOfLinesAfterTheMainHeader) {
  EXPECT_FALSE(declares_after_main("we declare f with ->\ncouncil says:\n    return 1\non the iron throne:\n    speak 1\n"));
  EXPECT_TRUE(declares_after_main("on the iron throne:\n    speak 1\nwe declare f with ->\n"));
  EXPECT_TRUE(declares_after_main("// a program\r\non the iron throne:\r\n    speak 1\r\nwe declare f with ->\r\n"));
  // Indented, in a comment or in a text, it is no declaration at the top level.
  EXPECT_FALSE(declares_after_main("on the iron throne:\n    we declare x\n// we declare\n    speak \"\\nwe declare \"\n"));
  EXPECT_FALSE(declares_after_main("we declare f with ->\n"));
  EXPECT_FALSE(declares_after_main(""));
}

}  // namespace
}  // namespace skern
