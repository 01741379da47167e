// A run of a program held in memory, as the playground page runs it: the
// command's output, report and exit status, without its files and streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "interpreter/console.h"
#include "interpreter/interpreter.h"

namespace skern::web {

// Where in the source an error lies: a 1-based line and a 1-based column in
// characters (Unicode scalar values), one past the line's last character
// when the error lies at its end; column 0 when only the line is known.
struct SourcePosition {
  std::uint64_t line = 0;
  std::uint64_t column = 0;
};

// What a run ended with: the exit status, the text for standard error
// (the error's report and a line feed; empty after a run without error) and
// where the error lies: for a parse error of either kind, as exactly as
// known; for a runtime error, the line of the statement it ended in.
struct Outcome {
  int status = 0;
  std::string report;
  std::optional<SourcePosition> position;
};

// The report of a run that ran out of memory, for where it cannot be built
// (the command and the page report it alike).
inline constexpr std::string_view OUT_OF_MEMORY_REPORT = "runtime error: out of memory\n";

// What `source` fails with before it can run: not UTF-8, or a parse error.
// Otherwise none, and the program (with the lines of its statements, when
// asked for) in `program`.
std::optional<Outcome> source_failure(std::string_view source, Program* program = nullptr,
                                      StatementLines* lines = nullptr);

// Parses and runs `source` (checked to be UTF-8 first, as the command checks
// a file) with `input` as standard input, writing its output to `output`;
// `heartbeat`, when given, beats now and then while the program runs.
Outcome run_in_memory(std::string_view source, std::string_view input, TextOutput& output,
                      Heartbeat* heartbeat = nullptr);

// The far side of a BufferOutput: the page.
class Channel {
 public:
  Channel() = default;
  Channel(const Channel&) = delete;
  Channel& operator=(const Channel&) = delete;
  virtual ~Channel() = default;
  // Takes the bytes waiting in the buffer (their count is in its header).
  virtual void flush() = 0;
  // A clock in milliseconds.
  virtual double now() = 0;
};

// Output collected in a buffer that the page owns and passes on in pieces:
// whenever the next line would not fit, and with a line written when
// `interval` milliseconds have gone by since the last piece, so that a long
// run shows its output as it goes. Lines written within the interval wait
// for the next write, the next heartbeat after the interval, or the end of
// the run. The buffer's first four bytes hold the count of bytes waiting
// after them, so that the page can take them at any time, even after the
// run was cut short.
class BufferOutput final : public TextOutput, public Heartbeat {
 public:
  static constexpr std::size_t HEADER = 4;

  BufferOutput(std::span<char> buffer, Channel& channel, double interval);
  Status write(std::string_view text) override;
  // Passes on whatever is waiting.
  void flush();
  // Passes on what is waiting once the interval has gone by, so that lines
  // written just before a long silent stretch are not held through it.
  void beat() override;

 private:
  [[nodiscard]] std::uint32_t waiting() const;
  void set_waiting(std::uint32_t count);

  std::span<char> buffer_;
  Channel& channel_;
  double interval_;
  double last_flush_;
};

}  // namespace skern::web
