// Entry point of skern-dap: the debug adapter of Skerran over standard input
// and output.
#include <unistd.h>

#include <csignal>
#include <string_view>

#include "dap/adapter.h"
#include "model/stack.h"

namespace {

constexpr std::string_view USAGE =
    "Skerran debug adapter\n"
    "\n"
    "Usage:\n"
    "  skern-dap\n"
    "\n"
    "Speaks the Debug Adapter Protocol over standard input and output;\n"
    "an editor starts it to debug .skr files.\n";

int print(std::string_view text) {
  return ::write(STDOUT_FILENO, text.data(), text.size()) == static_cast<ssize_t>(text.size()) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    const std::string_view argument = argv[1];
    if (argument == "-h" || argument == "--help") {
      return print(USAGE);
    }
    if (argument == "-V" || argument == "--version") {
      return print("skern-dap " SKERN_VERSION "\n");
    }
  }
  // A client that goes away must end the loop by a failed write, not a signal.
  (void)std::signal(SIGPIPE, SIG_IGN);
  // Programs are parsed as the interpreter parses them, on a stack of the same size.
  return skern::run_with_large_stack([] { return skern::dap::serve(STDIN_FILENO, STDOUT_FILENO); });
}
