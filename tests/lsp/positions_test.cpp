// Byte offsets to protocol positions and back, and where the analysis puts
// names and diagnostics in a text of tabs, multi-byte characters, comments
// and blank lines.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "lsp/analysis.h"

namespace skern::lsp {
namespace {

std::size_t offset_of(std::string_view text, std::string_view part, std::size_t from = 0) {
  const std::size_t at = text.find(part, from);
  EXPECT_NE(at, std::string_view::npos) << part;
  return at;
}

TEST(LineIndex, CountsUtf16UnitsAndUtf8Bytes) {
  // é is two bytes and one unit, 🐉 four bytes and two units, a tab one of each.
  const std::string text = "a\n\té🐉x\n";
  const LineIndex index(text);
  const std::size_t x = offset_of(text, "x");
  EXPECT_EQ(index.position(x, Encoding::Utf16), (Position{1, 4}));
  EXPECT_EQ(index.position(x, Encoding::Utf8), (Position{1, 7}));
  EXPECT_EQ(index.offset(Position{1, 4}, Encoding::Utf16), x);
  EXPECT_EQ(index.offset(Position{1, 7}, Encoding::Utf8), x);
  // Every character boundary of the line goes there and back.
  for (std::size_t at = 2; at <= x + 1; at += (at == 3 ? 2 : at == 5 ? 4 : 1)) {
    for (const Encoding encoding : {Encoding::Utf16, Encoding::Utf8}) {
      EXPECT_EQ(index.offset(index.position(at, encoding), encoding), at) << at;
    }
  }
}

TEST(LineIndex, PositionsInsideACharacterOrPastTheLineAreClamped) {
  const std::string text = "🐉b\nc";
  const LineIndex index(text);
  // The middle of the surrogate pair, and the middle of the UTF-8 bytes,
  // both stay at the dragon's first byte.
  EXPECT_EQ(index.offset(Position{0, 1}, Encoding::Utf16), 0U);
  EXPECT_EQ(index.offset(Position{0, 2}, Encoding::Utf8), 0U);
  // Past the end of a line: its end, before the line feed.
  EXPECT_EQ(index.offset(Position{0, 40}, Encoding::Utf16), offset_of(text, "\n"));
  // Past the last line: the end of the text.
  EXPECT_EQ(index.offset(Position{9, 0}, Encoding::Utf16), text.size());
  EXPECT_EQ(index.position(text.size() + 5, Encoding::Utf16), (Position{1, 1}));
}

TEST(LineIndex, LineBreaksAreWhatTheProtocolCounts) {
  // A line feed, a carriage return and line feed, and a lone carriage return
  // each end a line.
  const std::string text = "a\nb\r\nc\rd";
  const LineIndex index(text);
  EXPECT_EQ(index.line_count(), 4U);
  EXPECT_EQ(index.position(offset_of(text, "d"), Encoding::Utf16), (Position{3, 0}));
  EXPECT_EQ(index.line_text(1), "b");
  EXPECT_EQ(index.line_text(2), "c");
  // The carriage return before a line feed belongs to the break.
  EXPECT_EQ(index.position(offset_of(text, "\r"), Encoding::Utf16), (Position{1, 1}));
}

// The analysis gives byte spans; these go through the index as the server's
// replies do.
struct Located {
  Position start;
  Position end;
  friend bool operator==(const Located&, const Located&) = default;
};
void PrintTo(const Located& located, std::ostream* out) {
  *out << located.start.line << ':' << located.start.character << '-' << located.end.line << ':'
       << located.end.character;
}

Located locate(const LineIndex& index, Span span, Encoding encoding = Encoding::Utf16) {
  return {index.position(span.start, encoding), index.position(span.end, encoding)};
}

TEST(Analysis, ExpressionErrorMarksTheCaretsCharacterAfterTabsAndWideCharacters) {
  const std::string text =
      "// greeting\n"
      "\n"
      "on the iron throne:\n"
      "\t// the name\n"
      "\tspeak \"é🐉\" + (1 >= 2)\n";
  const Analysis analysis = analyse(text);
  ASSERT_EQ(analysis.diagnostics.size(), 1U);
  const LineIndex index(text);
  EXPECT_EQ(locate(index, analysis.diagnostics[0].span), (Located{{4, 19}, {4, 20}}));
  EXPECT_EQ(locate(index, analysis.diagnostics[0].span, Encoding::Utf8), (Located{{4, 22}, {4, 23}}));
  EXPECT_EQ(analysis.diagnostics[0].severity, 1);
}

TEST(Analysis, LineErrorMarksTheLineWithoutItsIndentation) {
  const std::string text = "on the iron throne:\n\n// note\n\t  speak 1\n\t  x is a number with 2\r\n";
  const Analysis analysis = analyse(text);
  ASSERT_EQ(analysis.diagnostics.size(), 1U);
  EXPECT_EQ(analysis.diagnostics[0].message, "parse error on line 5: unknown data type `number`");
  EXPECT_EQ(locate(LineIndex(text), analysis.diagnostics[0].span), (Located{{4, 3}, {4, 23}}));
}

TEST(Analysis, NamesAfterMultiByteTextStandWhereTheyAre) {
  const std::string text =
      "we declare greet with name ->\n"
      "council says:\n"
      "\treturn \"Hail, 🐉 \" + name\n"
      "on the iron throne:\n"
      "    speak \"é\" + (greet with \"Arya\") + nobody\n";
  const Analysis analysis = analyse(text);
  const LineIndex index(text);
  ASSERT_EQ(analysis.diagnostics.size(), 1U);
  EXPECT_EQ(analysis.diagnostics[0].message, "runtime error: unknown banner `nobody`");
  EXPECT_EQ(locate(index, analysis.diagnostics[0].span), (Located{{4, 38}, {4, 44}}));
  // The parameter read after the dragon, and the call after the é.
  bool found_read = false;
  bool found_call = false;
  for (const Occurrence& occurrence : analysis.occurrences) {
    if (occurrence.use == Use::Read && occurrence.name.text == "name") {
      EXPECT_EQ(locate(index, occurrence.name.span()), (Located{{2, 22}, {2, 26}}));
      EXPECT_EQ(occurrence.owner, 0U);
      found_read = true;
    }
    if (occurrence.use == Use::Call) {
      EXPECT_EQ(locate(index, occurrence.name.span()), (Located{{4, 17}, {4, 22}}));
      EXPECT_EQ(occurrence.arguments, 1U);
      EXPECT_EQ(occurrence.owner, MAIN_BLOCK);
      found_call = true;
    }
  }
  EXPECT_TRUE(found_read);
  EXPECT_TRUE(found_call);
}

TEST(Analysis, OutlineSurvivesAParseError) {
  // The broken header names no function; the rest is still known.
  const std::string text =
      "we declare add with a, b ->\ncouncil says:\n    return a + b\n"
      "we declare broken a ->\ncouncil says:\n    return 1\n"
      "on the iron throne:\n    speak add with 1, 2 +\n";
  const Analysis analysis = analyse(text);
  ASSERT_EQ(analysis.functions.size(), 1U);
  EXPECT_EQ(analysis.functions[0].name.text, "add");
  EXPECT_TRUE(analysis.main.has_value());
  ASSERT_EQ(analysis.diagnostics.size(), 1U);
  EXPECT_EQ(analysis.diagnostics[0].message, "parse error on line 4: function declaration needs `with` before parameters");
  EXPECT_EQ(analysis.owner_at(offset_of(text, "speak")), MAIN_BLOCK);
  EXPECT_EQ(analysis.owner_at(offset_of(text, "a + b")), 0U);
}

}  // namespace
}  // namespace skern::lsp
