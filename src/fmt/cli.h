// The skern-fmt command: its arguments, texts and exit statuses.
#pragma once

#include <string>
#include <string_view>

namespace skern::fmt {

inline constexpr std::string_view USAGE_TEXT =
    "Skerran formatter\n"
    "\n"
    "Usage:\n"
    "  skern-fmt [--check | --write] [<program.skr>...]\n"
    "\n"
    "Writes each program in canonical layout to standard output; with no\n"
    "program, or -, reads standard input.\n"
    "  --check  change nothing: show how each program would change, as a\n"
    "           unified diff, and exit with 1 if any would\n"
    "  --write  rewrite each program in place\n"
    "\n"
    "Examples:\n"
    "  skern-fmt examples/hello.skr\n"
    "  skern-fmt --write examples/*.skr\n"
    "  skern-fmt --check examples/*.skr\n";
inline constexpr std::string_view VERSION_TEXT = "skern-fmt 0.1.0\n";

// Exit statuses: 1 when a program does not parse, cannot be read or written,
// or (with --check) would change; 2 for arguments that make no command.
inline constexpr int EXIT_CHANGED_OR_FAILED = 1;
inline constexpr int EXIT_USAGE = 2;

// The name standard input goes by in a diff.
inline constexpr std::string_view STDIN_NAME = "<stdin>";

namespace msg {
inline std::string unknown_option(std::string_view option) {
  return "unknown option `" + std::string(option) + "` (see `skern-fmt --help`)";
}
inline constexpr std::string_view CHECK_AND_WRITE = "`--check` and `--write` cannot be used together";
inline constexpr std::string_view WRITE_STDIN = "`--write` rewrites files: standard input cannot be rewritten";
}  // namespace msg

// The whole command: argv[0] is the program's name.
int main_entry(int argc, const char* const* argv);

}  // namespace skern::fmt
