// A program and its standard input, parsed and run.
//
// The fuzz data is the program, a NUL byte, then the input stream; without a
// NUL it is all program and the input is empty. Programs that are not valid
// UTF-8 are skipped, as the command rejects them before parsing.
//
// Every run ends: the step budget bounds statements and loop rounds, the
// scroll cap keeps texts (and so libFuzzer's malloc limit) small, and the
// call depth is capped low (see kLimits). Output is checked, not kept.
//
// Checked besides "no crash":
//  - each output write is valid UTF-8 ending in a line feed (a scroll may
//    hold line feeds of its own, so only the last byte is certain) and no
//    longer than the scroll cap allows;
//  - a run fails only with a runtime error, or with an I/O error when the
//    input stream is not valid UTF-8.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_common.h"
#include "interpreter/console.h"
#include "interpreter/interpreter.h"
#include "model/value.h"
#include "parser/parser.h"

namespace skern::fuzz {
namespace {

// The run happens on a large stack (LargeStack), as in the command, so the
// nesting limits of the parser hold. The limits below keep each run short and
// small rather than safe: the step budget makes every program end within a
// fraction of a second, and is large enough to run loop bodies thousands of
// times (the `while` limit of 100000 rounds lies beyond it and is left to the
// unit tests). 2000 nested calls reach every path of the call code at a few
// MiB of stack. Scrolls are capped at 64 KiB because recursion can keep one
// distinct scroll alive per call level: 2000 levels of those stay far below
// libFuzzer's memory limit, where 1 MiB scrolls would not.
constexpr Limits kLimits{.call_depth = 2000, .step_budget = 100000, .scroll_bytes = 64 * 1024};

class CheckingOutput final : public TextOutput {
 public:
  Status write(std::string_view text) override {
    check(!text.empty() && text.back() == '\n', "output write is not a line ending in a line feed", text);
    check(is_valid_utf8(text), "output is not valid UTF-8", text);
    // The longest line is a capped scroll; the longest number (a wine written
    // out positionally) has a few hundred digits.
    check(text.size() <= kLimits.scroll_bytes + 1 || text.size() <= 400, "output line longer than the scroll cap",
          text.substr(0, 200));
    return {};
  }
};

void fuzz_one(std::string_view data) {
  const std::size_t nul = data.find('\0');
  const std::string_view source = data.substr(0, nul);
  const std::string_view input_text = nul == std::string_view::npos ? std::string_view() : data.substr(nul + 1);
  Result<Program> program = parse_program(source);
  if (!program.ok()) {
    return;
  }
  StringInput input{std::string(input_text)};
  CheckingOutput output;
  Status status = run_program(*program, input, output, kLimits);
  if (status.ok()) {
    return;
  }
  const Error& error = status.error();
  switch (error.kind()) {
    case Error::Kind::Runtime:
      check(!error.message().empty(), "runtime error without a message");
      break;
    case Error::Kind::Io:
      check(!is_valid_utf8(input_text), "I/O error although the input is valid UTF-8", error.display());
      break;
    default:
      fail("run failed with a parse error", error.display());
  }
}

}  // namespace
}  // namespace skern::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!skern::is_valid_utf8(text.substr(0, text.find('\0')))) {
    return -1;
  }
  auto body = [text] { skern::fuzz::fuzz_one(text); };
  skern::fuzz::LargeStack::run(body);
  return 0;
}
