// The skern command line, the source file, the standard streams and the run.
#include "driver/cli.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <new>

#include "interpreter/interpreter.h"
#include "model/value.h"
#include "parser/parser.h"

namespace skern {

Status run(std::string_view source, LineInput& input, TextOutput& output) {
  Result<Program> program = parse_program(source);
  if (!program.ok()) {
    return std::move(program).error();
  }
  return run_program(*program, input, output);
}

Status run_taking(std::string&& source, LineInput& input, TextOutput& output) {
  Result<Program> program = parse_program(source);
  std::string().swap(source);
  if (!program.ok()) {
    return std::move(program).error();
  }
  return run_program(*program, input, output);
}

// ---------------------------------------------------------------------------
// Files and streams
// ---------------------------------------------------------------------------

namespace {

// Writes all of `text`, retrying after interruptions and partial writes.
Status write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return Error::io(errno);
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return {};
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  [[nodiscard]] int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

Result<std::string> read_source_file(const char* path) {
  try {
    FileDescriptor file(::open(path, O_RDONLY | O_CLOEXEC));  // NOLINT(cppcoreguidelines-pro-type-vararg)
    if (file.get() < 0) {
      return Error::io(errno);
    }
    // A regular file is read into a buffer of its size (and one byte more, to
    // meet the end without growing); anything else grows as it comes.
    std::string text;
    struct stat info {};
    constexpr std::size_t chunk = std::size_t{1} << 16;
    if (::fstat(file.get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
      text.resize(static_cast<std::size_t>(info.st_size) + 1);
    }
    std::size_t filled = 0;
    while (true) {
      if (filled == text.size()) {
        text.resize(std::max(text.size() * 2, filled + chunk));
      }
      const ssize_t got = ::read(file.get(), text.data() + filled, text.size() - filled);
      if (got < 0) {
        if (errno == EINTR) {
          continue;
        }
        return Error::io(errno);
      }
      if (got == 0) {
        break;
      }
      filled += static_cast<std::size_t>(got);
    }
    text.resize(filled);
    if (!is_valid_utf8(text)) {
      return Error::io_text(std::string(msg::INVALID_UTF8));
    }
    return text;
  } catch (const std::bad_alloc&) {
    return Error::runtime(std::string(msg::OUT_OF_MEMORY));
  }
}

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
