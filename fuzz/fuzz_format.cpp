// Any bytes through the formatter. Checked besides "no crash":
//  - a source that does not parse fails to format with the parser's very
//    error; one that parses formats without the formatter's self-check ever
//    refusing (an internal error is a finding);
//  - the formatted text is a fixed point: formatting it again changes nothing;
//  - the whole-text edits, made, give the formatted text;
//  - edits of a range of lines (two numbers taken from the input) are made
//    without the self-check refusing either.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "format/format.h"
#include "fuzz_common.h"
#include "parser/parser.h"

namespace skern::fuzz {
namespace {

std::string with_edits(std::string_view source, const std::vector<format::LineEdit>& edits) {
  std::vector<std::string_view> lines;
  for (std::string_view rest = source; !rest.empty();) {
    const std::size_t end = rest.find('\n');
    const std::size_t length = end == std::string_view::npos ? rest.size() : end + 1;
    lines.push_back(rest.substr(0, length));
    rest.remove_prefix(length);
  }
  std::string out;
  std::size_t next = 0;
  for (const format::LineEdit& edit : edits) {
    check(edit.first_line >= next + 1 && edit.line_count >= 1 && edit.first_line - 1 + edit.line_count <= lines.size(),
          "edits overlap, are out of order or leave the text");
    for (; next + 1 < edit.first_line; ++next) {
      out.append(lines[next]);
    }
    out.append(edit.text);
    next += edit.line_count;
  }
  for (; next < lines.size(); ++next) {
    out.append(lines[next]);
  }
  return out;
}

void fuzz_one(std::string_view source, std::uint64_t first, std::uint64_t last) {
  const format::Formatted<std::string> formatted = format::format_source(source);
  const Result<Program> program = parse_program(source);
  if (!program.ok()) {
    check(!formatted.ok() && !formatted.refused() && formatted.error() == program.error(),
          "a source that does not parse formats, or fails otherwise",
          [&] { return formatted.ok() ? *formatted : formatted.report(); });
    return;
  }
  check(formatted.ok(), "formatting a program that parses fails", [&] { return formatted.report(); });
  const format::Formatted<std::string> again = format::format_source(*formatted);
  check(again.ok() && *again == *formatted, "formatting the formatted text changes it", [&] { return *formatted; });
  const format::Formatted<std::vector<format::LineEdit>> edits = format::format_edits(source);
  check(edits.ok() && with_edits(source, *edits) == *formatted, "the edits do not give the formatted text");
  const format::Formatted<std::vector<format::LineEdit>> range = format::format_range(source, first, last);
  check(range.ok(), "formatting a range fails", [&] { return range.report(); });
}

}  // namespace
}  // namespace skern::fuzz

// The first two bytes choose the range of lines; the rest is the source.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) {
    return 0;
  }
  const std::uint64_t first = data[0] % 32;
  const std::uint64_t last = first + data[1] % 32;
  const std::string_view source(reinterpret_cast<const char*>(data + 2), size - 2);
  auto body = [source, first, last] { skern::fuzz::fuzz_one(source, first, last); };
  skern::fuzz::LargeStack::run(body);
  return 0;
}
