// The skern command line, the source file, the standard streams and the run.
#include "driver/cli.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <new>

#include "driver/files.h"
#include "interpreter/interpreter.h"
#include "parser/parser.h"

namespace skern {

namespace {

// Parses and runs `source`; with `owned`, the source text, which is let go
// of once parsing is done. The main block is compiled as it is read, so that
// its tree is never held whole, unless a function follows it: then the
// program is parsed into a tree, which is run.
Status parse_and_run(std::string_view source, std::string* owned, LineInput& input, TextOutput& output) {
  if (!declares_after_main(source)) {
    Program program;
    StreamedRun streamed(program, input, output);
    Status parsed = parse_program(source, program, streamed);
    if (!parsed.ok() || streamed.compiled()) {
      if (owned != nullptr) {
        std::string().swap(*owned);
      }
      return parsed.ok() ? streamed.run() : std::move(parsed).error();
    }
  }
  Result<Program> program = parse_program(source);
  if (owned != nullptr) {
    std::string().swap(*owned);
  }
  if (!program.ok()) {
    return std::move(program).error();
  }
  return run_program(*program, input, output);
}

}  // namespace

Status run(std::string_view source, LineInput& input, TextOutput& output) {
  return parse_and_run(source, nullptr, input, output);
}

Status run_taking(std::string&& source, LineInput& input, TextOutput& output) {
  return parse_and_run(source, &source, input, output);
}

// ---------------------------------------------------------------------------
// Files and streams
// ---------------------------------------------------------------------------

Status FdInput::read_line(std::string& line) {
  // Bytes before `scanned` are known to hold no line feed, so a long line
  // is searched once, not again after every read.
  std::size_t scanned = start_;
  while (true) {
    const std::size_t end = buffer_.find('\n', scanned);
    if (end != std::string::npos) {
      line.assign(buffer_, start_, end + 1 - start_);
      start_ = end + 1;
      return {};
    }
    scanned = buffer_.size();
    if (at_end_) {
      line.assign(buffer_, start_);
      start_ = buffer_.size();
      return {};
    }
    if (start_ > 0) {
      buffer_.erase(0, start_);
      scanned -= start_;
      start_ = 0;
    }
    constexpr std::size_t chunk = std::size_t{1} << 16;
    const std::size_t filled = buffer_.size();
    buffer_.resize(filled + chunk);
    const ssize_t got = ::read(fd_, buffer_.data() + filled, chunk);
    buffer_.resize(filled + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      return Error::io(errno);
    }
    if (got == 0) {
      at_end_ = true;
    }
  }
}

Status FdOutput::write(std::string_view text) { return write_all(fd_, text); }

// ---------------------------------------------------------------------------
// The command
// ---------------------------------------------------------------------------

namespace {

int report(const Error& error) {
  std::string text = error.display();
  text.push_back('\n');
  (void)write_all(STDERR_FILENO, text);
  return 1;
}

int write_text(std::string_view text) {
  Status written = write_all(STDOUT_FILENO, text);
  return written.ok() ? 0 : report(written.error());
}

int run_command(int argc, const char* const* argv);

}  // namespace

int main_entry(int argc, const char* const* argv) {
  // A reader that goes away must give an I/O error, not end the process.
  (void)std::signal(SIGPIPE, SIG_IGN);
  try {
    return run_command(argc, argv);
  } catch (const std::bad_alloc&) {
    // Memory ran out even for making or showing an error: report it with
    // no allocation at all.
    constexpr std::string_view report = "runtime error: out of memory\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, report.data(), report.size());
    return 1;
  }
}

namespace {

int run_command(int argc, const char* const* argv) {
  if (argc < 2) {
    return write_text(USAGE_TEXT);
  }
  const std::string_view argument = argv[1];
  if (argument == "-h" || argument == "--help") {
    return write_text(USAGE_TEXT);
  }
  if (argument == "-V" || argument == "--version") {
    return write_text(VERSION_TEXT);
  }
  Result<std::string> source = read_source_file(argv[1]);
  if (!source.ok()) {
    return report(source.error());
  }
  FdInput input(STDIN_FILENO);
  FdOutput output(STDOUT_FILENO);
  Status status = run_taking(std::move(*source), input, output);
  return status.ok() ? 0 : report(status.error());
}

}  // namespace
}  // namespace skern
