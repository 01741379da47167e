// The skern-fmt command: programs in, their canonical layout out, as a
// diff, or written back in place.
#include "fmt/cli.h"

#include <unistd.h>

#include <csignal>
#include <new>
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
  Done,           // formatted, or in canonical layout already
  Failed,         // not read, not parsed or not written: reported
  Changed,        // --check: it would change
  OutputFailed,   // standard output cannot be written: nothing more can be
};

Outcome format_one(Mode mode, const char* file) {
  const bool from_stdin = file == STDIN_ARGUMENT;
  Result<std::string> source = from_stdin ? read_source_fd(STDIN_FILENO) : read_source_file(file);
  if (!source.ok()) {
    report(source.error());
    return Outcome::Failed;
  }
  if (mode == Mode::Check) {
    const Result<std::vector<format::LineEdit>> edits = format::format_edits(*source);
    if (!edits.ok()) {
      report(edits.error());
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
  const Result<std::string> formatted = format::format_source(*source);
  if (!formatted.ok()) {
    report(formatted.error());
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

int run_command(int argc, const char* const* argv) {
  bool check = false;
  bool write = false;
  bool options_done = false;
  std::vector<const char*> files;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (options_done || argument.size() < 2 || argument.front() != '-') {
      files.push_back(argv[i]);
    } else if (argument == "--") {
      options_done = true;
    } else if (argument == "-h" || argument == "--help") {
      return write_text(USAGE_TEXT);
    } else if (argument == "-V" || argument == "--version") {
      return write_text(VERSION_TEXT);
    } else if (argument == "--check") {
      check = true;
    } else if (argument == "--write") {
      write = true;
    } else {
      return report(msg::unknown_option(argument), EXIT_USAGE);
    }
  }
  if (check && write) {
    return report(msg::CHECK_AND_WRITE, EXIT_USAGE);
  }
  if (files.empty()) {
    files.push_back(STDIN_ARGUMENT.data());
  }
  if (write) {
    for (const char* file : files) {
      if (file == STDIN_ARGUMENT) {
        return report(msg::WRITE_STDIN, EXIT_USAGE);
      }
    }
  }
  const Mode mode = check ? Mode::Check : write ? Mode::Write : Mode::Print;
  int status = 0;
  // Each program on its own: one that fails does not stop the others.
  for (const char* file : files) {
    switch (format_one(mode, file)) {
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
