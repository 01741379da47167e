// Running a program under a debugger's control: pausing before statements,
// the frames of calls in progress with their variables, what a name reaches
// under dynamic scoping, and checkpoints to go back to. The command's own
// runs never compile any of this in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "driver/error.h"
#include "interpreter/console.h"
#include "interpreter/interpreter.h"
#include "model/tree.h"
#include "model/value.h"

namespace skern {

namespace code {
class Machine;
}

struct VariableView {
  Symbol name;
  std::optional<DataType> declared_type;  // none for a parameter
  Value value;
};

// The variable that a name reaches from a frame, and the frame that holds it
// (counted from the innermost, 0).
struct ReachedView {
  VariableView variable;
  std::size_t owner = 0;
};

struct FrameView {
  const FunctionDecl* function = nullptr;  // none for the main block
  // The line it stands at: the statement it paused or failed in, or for a
  // caller the statement whose call it waits for. 0 where no line is known.
  std::uint32_t line = 0;
};

// What a checkpoint holds; private to the interpreter.
struct CheckpointState;

// A run under control. It runs in stretches: each `run` goes on until a stop
// that the controller set, the end of the program or its first error, and
// between stretches the frames and variables can be looked at. Runs are
// deterministic, so a checkpoint taken at a pause and restored later gives
// back that moment exactly (the console's position is the controller's to
// keep beside it).
class ControlledRun {
 public:
  // `lines` must hold the lines of `program`, as the parser recorded them.
  ControlledRun(const Program& program, const StatementLines& lines, LineInput& input, TextOutput& output,
                Limits limits = {});
  ControlledRun(const ControlledRun&) = delete;
  ControlledRun& operator=(const ControlledRun&) = delete;
  ~ControlledRun();

  enum class Event : std::uint8_t { Paused, Finished, Failed };

  // A stretch pauses before the statement that is the `step`th begun (0:
  // none), or that stands on a line whose byte in `lines` is not zero (a
  // byte for every line up to the program's last), or that runs in fewer
  // than `depth_below` frames (0: none).
  struct Stops {
    std::uint64_t step = 0;
    const std::vector<std::uint8_t>* lines = nullptr;
    std::size_t depth_below = 0;
  };
  // Starts the run, or goes on from the pause. Not after the run has ended.
  Event run(const Stops& stops);
  [[nodiscard]] bool ended() const { return ended_; }

  // --- At a pause, or where the run failed ----------------------------------
  // Statements begun so far; at a pause, the one paused before included.
  [[nodiscard]] std::uint64_t steps() const;
  // The frames: the main block's and one per call in progress. 0 once the
  // run has finished, or failed where no place is known (out of memory).
  [[nodiscard]] std::size_t depth() const;
  [[nodiscard]] FrameView frame(std::size_t index) const;
  // A frame's own variables as its statement sees them: parameters first,
  // then in the order declared; one hidden by a later one of the same name
  // is left out.
  [[nodiscard]] std::vector<VariableView> variables(std::size_t frame) const;
  // The names that a frame's code finds by name and that it has not
  // declared itself by that point: those that reach a caller's variables.
  [[nodiscard]] std::vector<Symbol> borrowed(std::size_t frame) const;
  // What `name` reaches from a frame: its own variable, or the nearest
  // caller's; none when no variable of that name is in reach.
  [[nodiscard]] std::optional<ReachedView> reach(std::size_t frame, Symbol name) const;
  // Whether the innermost frame has just entered a council: it is paused
  // before the first statement of the body, none of which has run yet.
  [[nodiscard]] bool entering() const;
  // The error the run failed with.
  [[nodiscard]] const Error& error() const;

  // --- Going back -------------------------------------------------------------
  class Checkpoint {
   public:
    Checkpoint(Checkpoint&& other) noexcept;
    Checkpoint& operator=(Checkpoint&& other) noexcept;
    Checkpoint(const Checkpoint&) = delete;
    Checkpoint& operator=(const Checkpoint&) = delete;
    ~Checkpoint();
    [[nodiscard]] std::uint64_t steps() const;
    // Roughly the memory it holds.
    [[nodiscard]] std::size_t bytes() const;

   private:
    friend class ControlledRun;
    explicit Checkpoint(std::unique_ptr<CheckpointState> state);
    std::unique_ptr<CheckpointState> state_;
  };
  // Only at a pause.
  [[nodiscard]] Checkpoint save() const;
  // Back to a pause of this run; the run goes on from there.
  void restore(const Checkpoint& checkpoint);

 private:
  const Program& program_;
  std::unique_ptr<code::Machine> machine_;
  bool started_ = false;
  bool ended_ = false;
  bool placed_ = true;  // whether the failure's place is known
  std::optional<Error> error_;
};

// Runs the program as run_program does, with the lines of its statements at
// hand: when it fails, `failed_line` is the line of the statement that
// failed (0 where none is known).
Status run_program(const Program& program, const StatementLines& lines, LineInput& input, TextOutput& output,
                   Limits limits, std::uint32_t& failed_line);

}  // namespace skern
