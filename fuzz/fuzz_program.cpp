// Any bytes, invalid UTF-8 included, through the line splitter and the
// program parser. The command checks a file for UTF-8 before parsing it, but
// the parser must not depend on that for its memory safety.
//
// Checked besides "no crash":
//  - every line record is a non-blank view into the source, without leading
//    blanks or trailing blanks and carriage returns, with increasing line
//    numbers inside the text;
//  - a failure is a Parse error naming a line of the text, or an
//    ExpressionParse error naming none;
//  - a success has a non-empty main block.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_common.h"
#include "model/value.h"
#include "parser/parser.h"

namespace skern::fuzz {
namespace {

void check_lines(std::string_view source) {
  const std::vector<SourceLine> lines = split_lines(source);
  std::uint64_t physical_lines = 1;
  for (const char c : source) {
    physical_lines += c == '\n' ? 1 : 0;
  }
  std::uint64_t previous = 0;
  const char* const begin = source.data();
  const char* const end = source.data() + source.size();
  for (const SourceLine& line : lines) {
    const auto where = [&] { return "line " + std::to_string(line.line_number) + ": `" + std::string(line.text) + "`"; };
    check(!line.text.empty(), "empty line record", where);
    check(line.text.data() >= begin && line.text.data() + line.text.size() <= end, "line text is not in the source",
          where);
    check(line.line_number > previous, "line numbers do not increase", where);
    check(line.line_number <= physical_lines, "line number past the end of the text", where);
    previous = line.line_number;
    const char first = line.text.front();
    const char last = line.text.back();
    check(first != ' ' && first != '\t', "line text keeps its indentation", where);
    check(last != ' ' && last != '\t' && last != '\r', "line text keeps trailing blanks", where);
    check(line.text.find('\n') == std::string_view::npos, "line text holds a line feed", where);
    // The indentation was cut off right before the text: a run of blanks
    // counted 1 per space and 4 per tab.
    std::uint64_t width = 0;
    const char* p = line.text.data();
    while (p > begin && (p[-1] == ' ' || p[-1] == '\t')) {
      --p;
      width += *p == '\t' ? 4 : 1;
    }
    check(p == begin || p[-1] == '\n', "line text does not start after its indentation", where);
    check(width == line.indentation, "indentation width", [&] { return where() + " measured " + std::to_string(width); });
  }
}

void fuzz_one(std::string_view source) {
  check_lines(source);

  std::uint64_t physical_lines = 1;
  for (const char c : source) {
    physical_lines += c == '\n' ? 1 : 0;
  }
  Result<Program> program = parse_program(source);
  if (program.ok()) {
    check(!program->main.empty(), "parsed program has an empty main block");
    for (const FunctionDecl& function : program->functions) {
      check(!function.body.empty(), "parsed function has an empty body", program->symbols.name(function.name));
    }
    return;
  }
  const Error& error = program.error();
  switch (error.kind()) {
    case Error::Kind::Parse:
      check(error.line() >= 1 && error.line() <= physical_lines, "parse error names a line outside the text",
            error.display());
      check(!error.message().empty(), "parse error without a message");
      break;
    case Error::Kind::ExpressionParse:
      check(error.line() == 0, "expression error names a line", error.display());
      check(!error.message().empty(), "expression error without a message");
      break;
    default:
      fail("parse_program failed with a runtime or I/O error", error.display());
  }
}

}  // namespace
}  // namespace skern::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view source(reinterpret_cast<const char*>(data), size);
  auto body = [source] { skern::fuzz::fuzz_one(source); };
  skern::fuzz::LargeStack::run(body);
  return 0;
}
