// The skern command: arguments, usage and version texts, loading the source
// file, running it, and the error report and exit status.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "driver/error.h"
#include "driver/files.h"  // read_source_file
#include "interpreter/console.h"
#include "model/stack.h"  // run_with_large_stack

namespace skern {

inline constexpr std::string_view USAGE_TEXT =
    "Skerran interpreter\n"
    "\n"
    "Usage:\n"
    "  skern <program.skr>\n"
    "\n"
    "Examples:\n"
    "  skern examples/hello.skr\n"
    "  skern examples/functions.skr\n";
inline constexpr std::string_view VERSION_TEXT = "skern 0.1.0\n";

// Parses the whole source text, then runs its main block.
Status run(std::string_view source, LineInput& input, TextOutput& output);
// The same, letting go of the source text once it is parsed: the program
// tree holds copies of whatever it needs of it.
Status run_taking(std::string&& source, LineInput& input, TextOutput& output);

// Standard input and output over their file descriptors: each output line is
// one write, so it is passed on at its line feed.
class FdInput final : public LineInput {
 public:
  explicit FdInput(int fd) : fd_(fd) {}
  Status read_line(std::string& line) override;

 private:
  int fd_;
  std::string buffer_;
  std::size_t start_ = 0;
  bool at_end_ = false;
};

class FdOutput final : public TextOutput {
 public:
  explicit FdOutput(int fd) : fd_(fd) {}
  Status write(std::string_view text) override;

 private:
  int fd_;
};

// The whole command: `args` are the arguments after the program name.
int main_entry(int argc, const char* const* argv);

}  // namespace skern
