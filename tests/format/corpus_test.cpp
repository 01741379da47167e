// Formatting keeps meaning, over whole corpora of programs: each program is
// formatted; the formatted text must parse to the same tree, format to
// itself, keep every comment's text, and run to the same bytes (standard
// output and the report). A program that does not parse must fail to
// format with the very same error. Then the formatted text is scattered
// with whitespace wherever the language allows it (indentation of another
// width, tabs, spaces around operators and keywords, blank lines, other line
// ends) and must format back to the same text.
//
// Usage: corpus_tests --corpus=DIR[:STDIN_DIR] ... [--half=0|1] [gtest flags]
//   every DIR/**/*.skr is a program; its standard input is NAME.stdin beside
//   it, or in STDIN_DIR when given. With --half, only the programs at even
//   (0) or odd (1) places in the sorted list.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "format/format.h"
#include "interpreter/console.h"
#include "interpreter/interpreter.h"
#include "parser/parser.h"

namespace skern::format {
namespace {

namespace fs = std::filesystem;

struct Corpus {
  fs::path programs;
  fs::path inputs;  // empty: beside the programs
};

struct Options {
  std::vector<Corpus> corpora;
  int half = -1;  // -1: every program
};

Options& options() {
  static Options given;
  return given;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The text of every comment, in order.
std::vector<std::string_view> comments_of(std::string_view text) {
  std::vector<std::string_view> found;
  while (!text.empty()) {
    const std::size_t end = std::min(text.find('\n'), text.size());
    const std::string_view line = text.substr(0, end);
    const std::string_view comment = trim_end(line.substr(clean_line(line).size()));
    if (!comment.empty()) {
      found.push_back(comment);
    }
    text.remove_prefix(std::min(end + 1, text.size()));
  }
  return found;
}

// What a run gives: its standard output and its report.
std::string run(const Program& program, const std::string& input) {
  StringInput in(input);
  StringOutput out;
  const Status status = run_program(program, in, out);
  return out.text() + "\n-- " + (status.ok() ? std::string("ok") : status.error().display());
}

// Whitespace the language allows the formatted text to hold, at random.
class Scatter {
 public:
  explicit Scatter(unsigned seed) : random_(seed) {
    constexpr std::array<std::size_t, 6> widths = {1, 2, 3, 4, 5, 8};
    unit_ = widths[pick(widths.size())];
  }

  std::string text(std::string_view canonical) {
    const bool crlf = pick(8) == 0;
    std::string out = blank_lines(pick(3));
    bool opener = false;
    while (!canonical.empty()) {
      const std::size_t end = canonical.find('\n');
      const std::string_view line = canonical.substr(0, end);
      canonical.remove_prefix(end + 1);
      if (line.empty()) {
        out += blank_lines(1 + pick(3));
        continue;
      }
      if (opener) {
        out += blank_lines(pick(2));
      }
      const std::size_t spaces = line.find_first_not_of(' ');
      out += indentation(spaces / 4 * unit_);
      out += this->line(line.substr(spaces), spaces / 4);
      out += any_space();
      out += '\n';
      opener = line.back() == ':' || line.substr(spaces).starts_with("we declare ");
    }
    out += blank_lines(pick(3));
    if (pick(8) == 0) {
      while (!out.empty() && (out.back() == '\n' || out.back() == ' ' || out.back() == '\t')) {
        out.pop_back();
      }
    }
    if (crlf) {
      std::string with_returns;
      for (const char c : out) {
        with_returns += c == '\n' ? "\r\n" : std::string(1, c);
      }
      return with_returns;
    }
    return out;
  }

 private:
  std::size_t pick(std::size_t count) { return std::uniform_int_distribution<std::size_t>(0, count - 1)(random_); }
  std::string any_space() {
    constexpr std::array<std::string_view, 5> spaces = {"", "", " ", "  ", "\t"};
    return std::string(spaces[pick(spaces.size())]);
  }
  std::string some_space() {
    constexpr std::array<std::string_view, 4> spaces = {" ", " ", "  ", "\t "};
    return std::string(spaces[pick(spaces.size())]);
  }
  std::string blank_lines(std::size_t count) {
    std::string lines;
    for (std::size_t i = 0; i < count; ++i) {
      lines += any_space() + "\n";
    }
    return lines;
  }
  // Columns as spaces, or as tabs of four where they divide evenly.
  std::string indentation(std::size_t columns) {
    if (columns % 4 == 0 && pick(2) == 0) {
      return std::string(columns / 4, '\t');
    }
    return std::string(columns, ' ');
  }

  std::string line(std::string_view text, std::size_t depth) {
    if (text.starts_with("//")) {
      return std::string(text);
    }
    std::string_view code = clean_line(text);
    const std::string_view comment = text.substr(code.size());
    code = trim_end(code);
    std::string scattered = depth == 0 ? top_level(code) : statement(code);
    if (statement_shape(scattered).form != statement_shape(code).form) {
      scattered = code;  // a line that more space would make another form
    }
    if (!comment.empty()) {
      scattered += some_space() + std::string(comment);
    }
    return scattered;
  }

  std::string top_level(std::string_view code) {
    FunctionHeader header;
    if (!code.starts_with("we declare ") || read_function_header(code, header)) {
      return std::string(code);
    }
    std::string out = "we declare " + std::string(header.name) + some_space() + "with";
    for (std::size_t i = 0; i < header.params.size(); ++i) {
      out += (i == 0 ? " " + any_space() : any_space() + "," + any_space()) + std::string(header.params[i]);
    }
    return out + any_space() + "->";
  }

  std::string statement(std::string_view code) {
    const StatementShape shape = statement_shape(code);
    const std::string e = expression(shape.expression);
    const std::string name(shape.name);
    switch (shape.form) {
      case StatementForm::If:
        return "if " + any_space() + e + any_space() + ":";
      case StatementForm::While:
        return "while " + any_space() + e + any_space() + ":";
      case StatementForm::RealmMarches:
        return "the realm marches " + any_space() + e + any_space() + " times:";
      case StatementForm::Input:
        return name + any_space() + " speaks for input";
      case StatementForm::Speak:
        return "speak " + any_space() + e;
      case StatementForm::Return:
        return "return " + any_space() + e;
      case StatementForm::Declare:
        return name + any_space() + " is a " + any_space() + std::string(shape.type) + any_space() + " with " +
               any_space() + e;
      case StatementForm::Assign:
        return name + any_space() + "=" + any_space() + e;
      case StatementForm::Expression:
        return e;
      case StatementForm::StrayElse:
        break;
    }
    return std::string(code);
  }

  static bool is_operator(char c) { return std::string_view("=!<>+-*/").find(c) != std::string_view::npos; }

  // The length of the literal at `at` (a quote), by the grammar's escapes.
  static std::size_t literal_length(std::string_view text, std::size_t at) {
    const char quote = text[at];
    const std::string_view escapes = quote == '"' ? "\"\\nrt'" : "'\\nrt";
    std::size_t i = at + 1;
    while (i < text.size() && text[i] != quote) {
      i += text[i] == '\\' && i + 1 < text.size() && escapes.find(text[i + 1]) != std::string_view::npos ? 2U : 1U;
    }
    return i + 1 - at;
  }

  // A canonical expression with its spaces changed: around binary operators
  // and after commas they may go or grow; elsewhere (around `with`) they may
  // only grow; space may come inside parentheses, before commas and after
  // unary operators.
  std::string expression(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char c = text[i];
      if (c == '"' || c == '\'') {
        const std::size_t length = literal_length(text, i);
        out.append(text.substr(i, length));
        i += length - 1;
      } else if (c == ' ') {
        const bool before_operator = i + 1 < text.size() && is_operator(text[i + 1]);
        const bool after_operator_or_comma = i > 0 && (is_operator(text[i - 1]) || text[i - 1] == ',');
        out += before_operator || after_operator_or_comma ? any_space() : some_space();
      } else if (c == ',' || c == ')') {
        out += any_space();
        out += c;
      } else if (c == '(') {
        out += c;
        out += any_space();
      } else {
        out += c;
        if (is_operator(c) && i + 1 < text.size() && text[i + 1] != ' ' && !is_operator(text[i + 1])) {
          out += any_space();  // after a unary operator
        }
      }
    }
    return out;
  }

  std::mt19937 random_;
  std::size_t unit_ = 4;
};

struct Tally {
  std::size_t programs = 0;
  std::size_t not_parsing = 0;
  std::size_t changed = 0;  // formatting changed their text
};

void check_program(const fs::path& path, const std::string& input, unsigned seed, Tally& tally) {
  const std::string source = read_file(path);
  ++tally.programs;
  const Result<Program> tree = parse_program(source);
  const Formatted<std::string> formatted = format_source(source);
  if (!tree.ok()) {
    ++tally.not_parsing;
    ASSERT_FALSE(formatted.ok()) << path;
    EXPECT_TRUE(!formatted.refused() && formatted.error() == tree.error()) << path;
    return;
  }
  ASSERT_TRUE(formatted.ok()) << path << ": " << formatted.report();
  tally.changed += *formatted != source ? 1U : 0U;
  const Result<Program> again = parse_program(*formatted);
  ASSERT_TRUE(again.ok()) << path << ": " << again.error().display();
  EXPECT_TRUE(same_program(*tree, *again)) << path;
  const Formatted<std::string> twice = format_source(*formatted);
  ASSERT_TRUE(twice.ok()) << path;
  EXPECT_EQ(*twice, *formatted) << path << ": formatting again changes the text";
  EXPECT_EQ(comments_of(*formatted), comments_of(source)) << path;
  EXPECT_EQ(run(*again, input), run(*tree, input)) << path;

  // The formatter checks that the scattered text's tree is kept; equal texts
  // then show that scattering kept the source's tree too.
  const std::string scattered = Scatter(seed).text(*formatted);
  const Formatted<std::string> gathered = format_source(scattered);
  ASSERT_TRUE(gathered.ok()) << path << ": " << gathered.report() << "\nscattered as\n" << scattered;
  EXPECT_EQ(*gathered, *formatted) << path << ": scattered as\n" << scattered;
}

TEST(Corpus, EveryProgramKeepsItsMeaning) {
  ASSERT_FALSE(options().corpora.empty()) << "no --corpus=DIR given";
  for (const Corpus& corpus : options().corpora) {
    std::vector<fs::path> programs;
    for (const auto& entry : fs::recursive_directory_iterator(corpus.programs)) {
      if (entry.is_regular_file() && entry.path().extension() == ".skr") {
        programs.push_back(entry.path());
      }
    }
    std::sort(programs.begin(), programs.end());
    Tally tally;
    for (std::size_t i = 0; i < programs.size(); ++i) {
      if (options().half >= 0 && i % 2 != static_cast<std::size_t>(options().half)) {
        continue;
      }
      const fs::path& program = programs[i];
      fs::path input = corpus.inputs.empty() ? program : corpus.inputs / program.filename();
      input.replace_extension(".stdin");
      check_program(program, fs::exists(input) ? read_file(input) : std::string(), static_cast<unsigned>(i + 1), tally);
    }
    std::cout << corpus.programs.string() << ": " << tally.programs << " programs, " << tally.not_parsing
              << " not parsing (same error), " << tally.changed << " changed by formatting\n";
    EXPECT_GT(tally.programs, tally.not_parsing) << corpus.programs << " holds no program that parses";
  }
}

}  // namespace
}  // namespace skern::format

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  constexpr std::string_view flag = "--corpus=";
  constexpr std::string_view half = "--half=";
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument.starts_with(half)) {
      skern::format::options().half = argument.substr(half.size()) == "1" ? 1 : 0;
    } else if (argument.starts_with(flag)) {
      const std::string_view value = argument.substr(flag.size());
      const std::size_t colon = value.find(':');
      skern::format::options().corpora.push_back(
          {std::filesystem::path(value.substr(0, colon)),
           colon == std::string_view::npos ? std::filesystem::path() : std::filesystem::path(value.substr(colon + 1))});
    }
  }
  return RUN_ALL_TESTS();
}
