// The skern-fmt command: programs in, their canonical layout out, as a
// diff, or written back in place.
#include "fmt/cli.h"

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <new>
#include <optional>
#include <vector>

#include "driver/files.h"
#include "fmt/diff.h"
#include "fmt/rewrite.h"
#include "format/format.h"

namespace skern::fmt {

namespace {

enum class Mode : std::uint8_t { Print, Check, Write };

constexpr std::string_view STDIN_ARGUMENT = "-";

// Reports go to standard error, one line feed after each, as skern's do.
int report(std::string_view text, int status) {
  std::string line(text);
  line.push_back('\n');
  (void)write_all(STDERR_FILENO, line);
  return status;
}

int report(const Error& error) { return report(error.display(), EXIT_CHANGED_OR_FAILED); }

int write_text(std::string_view text) {
  const Status written = write_all(STDOUT_FILENO, text);
  return written.ok() ? 0 : report(written.error());
}

// What became of one program.
enum class Outcome : std::uint8_t {
  Done,          // formatted, or in canonical layout already
  Failed,        // not read, not parsed or not written: reported
  Changed,       // --check: it would change
  OutputFailed,  // standard output cannot be written: nothing more can be
};

Outcome format_one(Mode mode, const char* file) {
  const bool from_stdin = file == STDIN_ARGUMENT;
  Result<std::string> source = from_stdin ? read_source_fd(STDIN_FILENO) : read_source_file(file);
  if (!source.ok()) {
    report(source.error());
    return Outcome::Failed;
  }
  if (mode == Mode::Check) {
    const format::Formatted<std::vector<format::LineEdit>> edits = format::format_edits(*source);
    if (!edits.ok()) {
      report(edits.report(), EXIT_CHANGED_OR_FAILED);
      return Outcome::Failed;
    }
    if (edits->empty()) {
      return Outcome::Done;
    }
    const std::string diff = unified_diff(from_stdin ? STDIN_NAME : std::string_view(file), *source, *edits);
    const Status written = write_all(STDOUT_FILENO, diff);
    if (!written.ok()) {
      report(written.error());
      return Outcome::OutputFailed;
    }
    return Outcome::Changed;
  }
  const format::Formatted<std::string> formatted = format::format_source(*source);
  if (!formatted.ok()) {
    report(formatted.report(), EXIT_CHANGED_OR_FAILED);
    return Outcome::Failed;
  }
  if (mode == Mode::Write) {
    if (*formatted == *source) {
      return Outcome::Done;  // untouched: its time and its inode stay
    }
    const Status replaced = replace_file(file, *formatted);
    if (!replaced.ok()) {
      report(replaced.error());
      return Outcome::Failed;
    }
    return Outcome::Done;
  }
  const Status written = write_all(STDOUT_FILENO, *formatted);
  if (!written.ok()) {
    report(written.error());
    return Outcome::OutputFailed;
  }
  return Outcome::Done;
}

// What the arguments ask for: the programs and the mode, or an exit status
// at once (usage, version, a mistake).
struct Command {
  Mode mode = Mode::Print;
  std::vector<const char*> files;
  std::optional<int> status;
};

Command read_arguments(int argc, const char* const* argv) {
  Command command;
  bool check = false;
  bool write = false;
  bool options_done = false;
  for (int i = 1; i < argc && !command.status; ++i) {
    const std::string_view argument = argv[i];
    if (options_done || argument.size() < 2 || argument.front() != '-') {
      command.files.push_back(argv[i]);
    } else if (argument == "--") {
      options_done = true;
    } else if (argument == "-h" || argument == "--help") {
      command.status = write_text(USAGE_TEXT);
    } else if (argument == "-V" || argument == "--version") {
      command.status = write_text(VERSION_TEXT);
    } else if (argument == "--check" || argument == "--write") {
      (argument == "--check" ? check : write) = true;
    } else {
      command.status = report(msg::unknown_option(argument), EXIT_USAGE);
    }
  }
  if (command.status) {
    return command;
  }
  if (command.files.empty()) {
    command.files.push_back(STDIN_ARGUMENT.data());
  }
  const bool rewrites_stdin =
      std::any_of(command.files.begin(), command.files.end(), [](const char* file) { return file == STDIN_ARGUMENT; });
  if (check && write) {
    command.status = report(msg::CHECK_AND_WRITE, EXIT_USAGE);
  } else if (write && rewrites_stdin) {
    command.status = report(msg::WRITE_STDIN, EXIT_USAGE);
  }
  command.mode = check ? Mode::Check : write ? Mode::Write : Mode::Print;
  return command;
}

int run_command(int argc, const char* const* argv) {
  const Command command = read_arguments(argc, argv);
  if (command.status) {
    return *command.status;
  }
  int status = 0;
  // Each program on its own: one that fails does not stop the others.
  for (const char* file : command.files) {
    switch (format_one(command.mode, file)) {
      case Outcome::Done:
        break;
      case Outcome::Failed:
      case Outcome::Changed:
        status = EXIT_CHANGED_OR_FAILED;
        break;
      case Outcome::OutputFailed:
        return EXIT_CHANGED_OR_FAILED;
    }
  }
  return status;
}

}  // namespace

int main_entry(int argc, const char* const* argv) {
  // A reader that goes away must give an I/O error, not end the process.
  (void)std::signal(SIGPIPE, SIG_IGN);
  try {
    return run_command(argc, argv);
  } catch (const std::bad_alloc&) {
    constexpr std::string_view text = "runtime error: out of memory\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
    return EXIT_CHANGED_OR_FAILED;
  }
}

}  // namespace skern::fmt
