// The canonical layout, one group of tests for each of its rules, each with
// the exact text it gives. Every formatted text is formatted again, which
// must change nothing.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "format/format.h"
#include "parser/parser.h"

namespace skern::format {
namespace {

// The formatted text, checked to be a fixed point.
std::string formatted(std::string_view source) {
  Formatted<std::string> text = format_source(source);
  if (!text.ok()) {
    ADD_FAILURE() << "format failed: " << text.report() << "\nsource:\n" << source;
    return {};
  }
  const Formatted<std::string> again = format_source(*text);
  EXPECT_TRUE(again.ok() && *again == *text) << "not a fixed point:\n" << *text;
  return *text;
}

// One statement in the main block, formatted.
std::string statement(std::string_view line) {
  const std::string text = formatted("on the iron throne:\n    " + std::string(line) + "\n");
  const std::string_view header = "on the iron throne:\n    ";
  if (text.substr(0, header.size()) != header) {
    ADD_FAILURE() << text;
    return text;
  }
  return text.substr(header.size(), text.size() - header.size() - 1);
}

TEST(Indentation, FourSpacesPerLevelWhateverTheSourceUsed) {
  EXPECT_EQ(formatted("on the iron throne:\n"
                      "  if aye:\n"
                      "          while nay:\n"
                      "           speak 1\n"
                      "  speak 2\n"),
            "on the iron throne:\n"
            "    if aye:\n"
            "        while nay:\n"
            "            speak 1\n"
            "    speak 2\n");
}

TEST(Indentation, TabsCountFourColumnsAndBecomeSpaces) {
  // A tab and four spaces are one block; a tab and a space is deeper.
  EXPECT_EQ(formatted("on the iron throne:\n"
                      "\tif aye:\n"
                      "\t speak 1\n"
                      "    speak 2\n"),
            "on the iron throne:\n"
            "    if aye:\n"
            "        speak 1\n"
            "    speak 2\n");
}

TEST(Indentation, FunctionsAndElseStandWithTheirHeaders) {
  EXPECT_EQ(formatted("we declare f with x ->\n"
                      "council says:\n"
                      " if x:\n"
                      "   return 1\n"
                      " else:\n"
                      "    return 2\n"
                      "on the iron throne:\n"
                      "\t\tspeak f with aye\n"),
            "we declare f with x ->\n"
            "council says:\n"
            "    if x:\n"
            "        return 1\n"
            "    else:\n"
            "        return 2\n"
            "\n"
            "on the iron throne:\n"
            "    speak f with aye\n");
}

TEST(Operators, OneSpaceAroundBinaryOperatorsNoneAfterUnaryOnes) {
  EXPECT_EQ(statement("x=1+2*( y )"), "x = 1 + 2 * (y)");
  EXPECT_EQ(statement("speak a==b!=c"), "speak a == b != c");
  EXPECT_EQ(statement("speak a\t<\t\tb  >c"), "speak a < b > c");
  EXPECT_EQ(statement("speak 8-2/1"), "speak 8 - 2 / 1");
  EXPECT_EQ(statement("speak - 5"), "speak -5");
  EXPECT_EQ(statement("speak - - x"), "speak --x");
  EXPECT_EQ(statement("speak ! ! aye"), "speak !!aye");
  EXPECT_EQ(statement("speak a--b"), "speak a - -b");
  EXPECT_EQ(statement("speak a - ! b"), "speak a - !b");
  EXPECT_EQ(statement("speak -( 1+2 )"), "speak -(1 + 2)");
}

TEST(Operators, ParenthesesStayAsWrittenWithNothingInsideTheirEdges) {
  EXPECT_EQ(statement("speak ((1))"), "speak ((1))");
  EXPECT_EQ(statement("speak ( a + ( b ) )"), "speak (a + (b))");
  EXPECT_EQ(statement("speak (f) with 1"), "speak (f) with 1");
}

TEST(Calls, OneSpaceAroundWithAndAfterEachComma) {
  EXPECT_EQ(statement("add with 1 ,2"), "add with 1, 2");
  EXPECT_EQ(statement("speak f with(1),2"), "speak f with (1), 2");
  EXPECT_EQ(statement("speak f\twith"), "speak f with");
  EXPECT_EQ(statement("speak f with g with 1,2"), "speak f with g with 1, 2");
  EXPECT_EQ(statement("speak f with (g with 1) , 2"), "speak f with (g with 1), 2");
  EXPECT_EQ(statement("speak a+f with 1"), "speak a + f with 1");
  // Words that are names where no keyword matches stay names.
  EXPECT_EQ(statement("with   with"), "with with");
  EXPECT_EQ(statement("speak ayes +nay_x"), "speak ayes + nay_x");
}

TEST(Literals, StayExactlyAsWritten) {
  EXPECT_EQ(statement("speak \"a  +  b\"+'x'"), "speak \"a  +  b\" + 'x'");
  EXPECT_EQ(statement("speak \"tab\there\\n\\q\"  +  '\\''"), "speak \"tab\there\\n\\q\" + '\\''");
  EXPECT_EQ(statement("speak \"\t\""), "speak \"\t\"");
  EXPECT_EQ(statement("speak 007+1.50"), "speak 007 + 1.50");
  EXPECT_EQ(statement("speak \"caf\u00e9 \U0001F600\""), "speak \"caf\u00e9 \U0001F600\"");
  EXPECT_EQ(statement("speak \"// not a comment\"  // a comment"), "speak \"// not a comment\" // a comment");
  EXPECT_EQ(statement("speak '\"'  +  \"'\""), "speak '\"' + \"'\"");
}

TEST(Statements, KeywordLinesTakeSingleSpaces) {
  EXPECT_EQ(statement("x  is a  blade  with  1"), "x is a blade with 1");
  EXPECT_EQ(statement("x is a scroll with f with 1"), "x is a scroll with f with 1");
  EXPECT_EQ(statement("x   =-1"), "x = -1");
  EXPECT_EQ(statement("x= a==b"), "x = a == b");
  EXPECT_EQ(statement("x  speaks for input"), "x speaks for input");
  EXPECT_EQ(statement("speak    1"), "speak 1");
  EXPECT_EQ(statement("return\t"), "return");  // no form: an expression, a name
  EXPECT_EQ(formatted("we declare f with ->\ncouncil says:\n  return  x+1\non the iron throne:\n  speak f with\n"),
            "we declare f with ->\ncouncil says:\n    return x + 1\n\non the iron throne:\n    speak f with\n");
  EXPECT_EQ(formatted("on the iron throne:\n"
                      " if   x>1 :\n  speak 1\n"
                      " while  x :\n  speak 1\n"
                      " the realm marches  n+1  times:\n  speak 1\n"),
            "on the iron throne:\n"
            "    if x > 1:\n        speak 1\n"
            "    while x:\n        speak 1\n"
            "    the realm marches n + 1 times:\n        speak 1\n");
}

TEST(Statements, FunctionHeadersTakeSingleSpacesAndCommaSpace) {
  const std::string tail = "council says:\n    return 1\n\non the iron throne:\n    speak 1\n";
  EXPECT_EQ(formatted("we declare add with a ,b->\n" + tail), "we declare add with a, b ->\n" + tail);
  EXPECT_EQ(formatted("we declare  add  with   a,b  ->\n" + tail), "we declare add with a, b ->\n" + tail);
  EXPECT_EQ(formatted("we declare greet with->\n" + tail), "we declare greet with ->\n" + tail);
  EXPECT_EQ(formatted("we declare greet with  ->\n" + tail), "we declare greet with ->\n" + tail);
}

TEST(Statements, LinesTheParserWouldReadOtherwiseStayAsWritten) {
  // `speak` and `return` are names to the expression grammar: these lines are
  // expressions, which a single space after the name would make statements.
  EXPECT_EQ(statement("speak\t- 1"), "speak\t- 1");
  EXPECT_EQ(statement("speak-1"), "speak-1");
  EXPECT_EQ(statement("return-1"), "return-1");
  EXPECT_EQ(statement("speak\twith 1 ,2"), "speak\twith 1 ,2");
  // With the space already there, they are statements and are formatted.
  EXPECT_EQ(statement("speak  -  1"), "speak -1");
}

TEST(Whitespace, NoTrailingWhitespaceAndOtherSpacesAroundPartsGo) {
  EXPECT_EQ(formatted("on the iron throne:   \n    speak 1 \t \n"), "on the iron throne:\n    speak 1\n");
  // No-break spaces around a declaration's name are trimmed by the parser.
  EXPECT_EQ(statement("\u00a0x is a blade with 1\u00a0"), "x is a blade with 1");
}

TEST(Whitespace, LineFeedsOnlyAndOneAtTheEnd) {
  EXPECT_EQ(formatted("on the iron throne:\r\n    speak 1\r\n"), "on the iron throne:\n    speak 1\n");
  EXPECT_EQ(formatted("on the iron throne:\n    speak 1"), "on the iron throne:\n    speak 1\n");
  EXPECT_EQ(formatted("on the iron throne:\n    speak 1\n\n\n  \n"), "on the iron throne:\n    speak 1\n");
  EXPECT_EQ(formatted("\n\n\non the iron throne:\n    speak 1\n"), "on the iron throne:\n    speak 1\n");
  // A carriage return inside a literal is the literal's.
  EXPECT_EQ(statement("speak \"a\rb\""), "speak \"a\rb\"");
}

TEST(BlankLines, AtMostOneInARow) {
  EXPECT_EQ(formatted("on the iron throne:\n    speak 1\n\n\n\n    speak 2\n \t\n\n    speak 3\n"),
            "on the iron throne:\n    speak 1\n\n    speak 2\n\n    speak 3\n");
}

TEST(BlankLines, NoneRightAfterALineThatOpensABlock) {
  EXPECT_EQ(formatted("we declare f with ->\n\ncouncil says:\n\n    return 1\n"
                      "on the iron throne:\n\n    if aye:\n\n        speak 1\n\n    else:\n\n        speak 2\n"),
            "we declare f with ->\ncouncil says:\n    return 1\n\n"
            "on the iron throne:\n    if aye:\n        speak 1\n\n    else:\n        speak 2\n");
}

TEST(BlankLines, ExactlyOneBetweenTopLevelDeclarations) {
  EXPECT_EQ(formatted("we declare f with ->\ncouncil says:\n    return 1\n"
                      "we declare g with ->\ncouncil says:\n    return 2\n\n\n\n"
                      "on the iron throne:\n    speak f with\n"),
            "we declare f with ->\ncouncil says:\n    return 1\n\n"
            "we declare g with ->\ncouncil says:\n    return 2\n\n"
            "on the iron throne:\n    speak f with\n");
}

TEST(BlankLines, TheSeparatingBlankLineGoesAboveTheCommentsOfADeclaration) {
  EXPECT_EQ(formatted("on the iron throne:\n    speak f with\n"
                      "// Gives one.\n// Always.\n"
                      "we declare f with ->\ncouncil says:\n    return 1\n"),
            "on the iron throne:\n    speak f with\n\n"
            "// Gives one.\n// Always.\n"
            "we declare f with ->\ncouncil says:\n    return 1\n");
  // A comment parted from the declaration by a blank line is not attached.
  EXPECT_EQ(formatted("// The program.\n\n\n// Gives one.\nwe declare f with ->\ncouncil says:\n    return 1\n"
                      "on the iron throne:\n    speak f with\n"),
            "// The program.\n\n// Gives one.\nwe declare f with ->\ncouncil says:\n    return 1\n\n"
            "on the iron throne:\n    speak f with\n");
}

TEST(Comments, KeepTheirTextAndTakeTheirBlocksIndentation) {
  EXPECT_EQ(formatted("// top\non the iron throne:\n  // in main\n  if aye:\n\t// in the if\n\tspeak 1\n"),
            "// top\non the iron throne:\n    // in main\n    if aye:\n        // in the if\n        speak 1\n");
  EXPECT_EQ(formatted("on the iron throne:\n    speak 1\n//  odd   spacing  kept \t\n"),
            "on the iron throne:\n    speak 1\n//  odd   spacing  kept\n");
}

TEST(Comments, TrailingCommentsFollowTheirLineAfterOneSpace) {
  EXPECT_EQ(formatted("on the iron throne:      // main\n    speak 1+1\t// two   \n"),
            "on the iron throne: // main\n    speak 1 + 1 // two\n");
  // An apostrophe inside a string does not hide the comment after it.
  EXPECT_EQ(statement("speak \"it's\"   // it's"), "speak \"it's\" // it's");
}

TEST(Comments, BetweenBlocksTheyStayWithTheBlockTheirIndentationReaches) {
  const std::string source =
      "on the iron throne:\n"
      "  if aye:\n"
      "      speak 1\n"
      "      // end of the if\n"
      "  // before the else\n"
      "  else:\n"
      "      speak 2\n"
      "// at the top level\n"
      "        // deeper than any block: the deepest open one\n";
  EXPECT_EQ(formatted(source),
            "on the iron throne:\n"
            "    if aye:\n"
            "        speak 1\n"
            "        // end of the if\n"
            "    // before the else\n"
            "    else:\n"
            "        speak 2\n"
            "// at the top level\n"
            "        // deeper than any block: the deepest open one\n");
  // Less indented than the line below: it goes with that line.
  EXPECT_EQ(formatted("on the iron throne:\n    if aye:\n        speak 1\n// x\n    speak 2\n"),
            "on the iron throne:\n    if aye:\n        speak 1\n    // x\n    speak 2\n");
  // Right after a header, the block's indentation or the header's.
  EXPECT_EQ(formatted("on the iron throne:\n  if aye:\n  // the if's\n     // the block's\n     speak 1\n"),
            "on the iron throne:\n    if aye:\n    // the if's\n        // the block's\n        speak 1\n");
}

TEST(Errors, AreTheParsersOwnReports) {
  for (const std::string_view source : {
           std::string_view("on the iron throne:\n    if x:\n    speak 1\n"),
           std::string_view("on the iron throne:\n    speak 1 +\n"),
           std::string_view(""),
           std::string_view("\xEF\xBB\xBFon the iron throne:\n    speak 1\n"),
           std::string_view("on the iron throne:\n    speak 9223372036854775808\n"),
       }) {
    const Formatted<std::string> text = format_source(source);
    const Result<Program> parsed = parse_program(source);
    ASSERT_FALSE(text.ok());
    ASSERT_FALSE(parsed.ok());
    EXPECT_TRUE(!text.refused() && text.error() == parsed.error()) << text.report();
  }
  EXPECT_EQ(format_source("on the iron throne:\n    if x:\n    speak 1\n").report(),
            "parse error on line 3: expected an indented block");
}

TEST(TheIssuesExample, MessyProgramBecomesCanonical) {
  const std::string messy =
      "we declare add with a ,b->\n"
      "council says:\n"
      "\treturn a+b   \n"
      "\n\n\n"
      "on the iron throne:\n"
      "  y is a blade with 3\n"
      "  x is a blade with 0\n"
      "  x=1+2*( y )\n"
      "  if x > 1:\n"
      "          speak add with 1 ,2   \n"
      "  speak x\n";
  EXPECT_EQ(formatted(messy),
            "we declare add with a, b ->\n"
            "council says:\n"
            "    return a + b\n"
            "\n"
            "on the iron throne:\n"
            "    y is a blade with 3\n"
            "    x is a blade with 0\n"
            "    x = 1 + 2 * (y)\n"
            "    if x > 1:\n"
            "        speak add with 1, 2\n"
            "    speak x\n");
}

}  // namespace
}  // namespace skern::format
