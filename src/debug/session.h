// The debugging engine: a program run under control, with breakpoints,
// stepping forwards and backwards, and what a person looks at when it stops.
// Tools (the debug adapter, the playground) translate to and from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "driver/error.h"

namespace skern::debug {

// A breakpoint on a line, as a client sets it.
struct LineBreakpoint {
  std::uint32_t line = 0;
  std::string condition;      // an expression giving a vow; empty: always
  std::string hit_condition;  // "N", "== N", "> N", ">= N", "< N", "<= N" or "% N"; empty: every hit
  std::string log_message;    // not empty: write it, {expressions} filled in, instead of stopping
};

// A breakpoint on a council, taken when a call enters it.
struct FunctionBreakpoint {
  std::string name;
  std::string condition;
  std::string hit_condition;
};

// What became of a breakpoint that was set: where it really is (the first
// statement at or after the line asked for) or why it cannot be.
struct BreakpointState {
  std::uint32_t id = 0;
  bool verified = false;
  std::uint32_t line = 0;
  std::string message;
};

enum class StopReason : std::uint8_t { Entry, Breakpoint, FunctionBreakpoint, Step, Exception, Pause };

struct Stop {
  StopReason reason = StopReason::Entry;
  std::string description;
  std::vector<std::uint32_t> breakpoints;  // the ids of those that stopped it
};

// A frame as a person sees it.
struct FrameInfo {
  std::string name;  // the council's name, or "on the iron throne" for the main block
  std::uint32_t line = 0;
};

// A variable: its name, its type keyword (a parameter's is that of its
// value) and its value as `speak` writes it.
struct VariableInfo {
  std::string name;
  std::string type;
  std::string value;
  bool parameter = false;
};

// A name that a frame uses without declaring it, and what it reaches now.
struct BorrowedInfo {
  std::string name;
  std::optional<VariableInfo> variable;  // none: no variable of that name in reach
  std::size_t owner = 0;                 // the frame that holds it, from the innermost
  std::string owner_name;
};

// Where the run is after a command: stopped, still going (a forward command
// runs in stretches, so that its caller can look for a pause request in
// between), or ended.
enum class State : std::uint8_t { Stopped, Running, Exited };

class Session {
 public:
  // Parses the program; a program that does not parse gives the command's
  // error (its report is what `skern` would write).
  static Result<std::unique_ptr<Session>> open(std::string source, std::string input);
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  ~Session();

  // --- Breakpoints ----------------------------------------------------------
  // Each call replaces the breakpoints of its kind.
  std::vector<BreakpointState> set_breakpoints(const std::vector<LineBreakpoint>& breakpoints);
  std::vector<BreakpointState> set_function_breakpoints(const std::vector<FunctionBreakpoint>& breakpoints);
  // Whether a runtime error stops the run before it ends (it does at first).
  void set_stop_on_error(bool stop);

  // --- Commands ---------------------------------------------------------------
  // Starts the run: stopped at the first statement with `stop_on_entry`, else
  // running as after continue_.
  void start(bool stop_on_entry);
  // Forward commands set the run going; `advance` carries them out.
  void continue_();
  void step_in();
  void step_over();
  void step_out();
  // Stops a running command where it stands.
  void pause();
  // Backward commands finish at once: to the statement before, skipping the
  // statements of calls made in between; and to the last breakpoint before
  // (or the first statement, when there is none).
  void step_back();
  void reverse_continue();
  // Runs the current command on for about `budget` statements at most.
  State advance(std::uint64_t budget);

  // --- Where the run stands ---------------------------------------------------
  [[nodiscard]] State state() const;
  [[nodiscard]] const Stop& stop() const;
  [[nodiscard]] int exit_status() const;
  // Standard output as it stands at this moment of the run, and its length
  // in UTF-16 units (as a page's scripts count text).
  [[nodiscard]] const std::string& output() const;
  [[nodiscard]] std::size_t output_utf16() const;
  // What the command would write to standard error: the error's report and a
  // line feed, once the run has failed (at the error's stop too); else empty.
  [[nodiscard]] std::string report() const;
  // The error at an exception stop or after a failed end.
  [[nodiscard]] const Error* error() const;
  // Lines written by log points since the last call, each with the length
  // of standard output when it was written, so that the two can be merged
  // in the order they came.
  struct LogLine {
    std::size_t output_bytes = 0;
    std::string text;
  };
  std::vector<LogLine> take_logs();

  // Statements begun so far (the one stopped before included).
  [[nodiscard]] std::uint64_t steps() const;
  [[nodiscard]] std::size_t depth() const;
  [[nodiscard]] FrameInfo frame(std::size_t index) const;
  [[nodiscard]] std::vector<VariableInfo> variables(std::size_t frame) const;
  [[nodiscard]] std::vector<BorrowedInfo> borrowed(std::size_t frame) const;
  // An expression's value in a frame, as `speak` would write it, with its
  // type; nothing in the run changes (calls are refused for that reason).
  [[nodiscard]] Result<VariableInfo> evaluate(std::string_view expression, std::size_t frame) const;
  [[nodiscard]] std::uint32_t last_line() const;
  // Checkpoints kept to go back in time, and the memory they hold.
  [[nodiscard]] std::size_t checkpoint_count() const;
  [[nodiscard]] std::size_t checkpoint_bytes() const;

 private:
  struct Impl;
  explicit Session(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// The name the main block goes by in frames.
inline constexpr std::string_view MAIN_FRAME_NAME = "on the iron throne";

}  // namespace skern::debug
