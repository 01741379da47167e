// Private to the interpreter: the machine that runs compiled units.
//
// One stack of values holds the windows of all calls in progress. A call
// does not recurse on the machine stack: it pushes a frame record and goes
// on with the callee's instructions, and a return pops it. Variables live in
// registers; those that some function may reach by name are entered in the
// table of names, `nearest_`, which holds for each name the register of its
// nearest variable, and in `links_`, which remembers what each entry hid so
// that leaving a scope restores it.
//
// The public interface runs units "from outside", in a scope of its own:
// variables that it declares, and those that a block run from outside
// declares at its top level, live below the windows of the runs and outlive
// them until the interface pops their scope.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "interpreter/code.h"
#include "interpreter/compiler.h"
#include "interpreter/interpreter.h"

namespace skern::code {

// Paused: a run under a debugger's control stopped before a statement, to go
// on with `resume`.
enum class Outcome : std::uint8_t { Normal, Returned, Failed, Paused };

class Machine {
 public:
  // With `lines`, units know the line of each instruction and the places of
  // their variables; `controlled` adds the Line stops of a debugger's runs.
  Machine(const Program& program, LineInput& input, TextOutput& output, Limits limits,
          const StatementLines* lines = nullptr, bool controlled = false);

  // --- Compiling -------------------------------------------------------------
  const Unit* compile_block(const Block& block);
  const Unit* compile_expression(const Expr& expr);
  const Unit* compile_call(Symbol name, ExprList arguments);
  // A block given a statement at a time; `keep` files the finished unit
  // with the others, to run it.
  StreamCompiler stream_block();
  const Unit* keep(Unit unit) { return &units_.emplace_back(std::move(unit)); }

  // --- Running ---------------------------------------------------------------
  // Runs a unit from outside in the current scope. After a failure every
  // scope and call it opened is closed again.
  Outcome run(const Unit& unit);
  // The value that the last unit ending in `Halt` gave.
  Value take_result() { return std::exchange(result_, Value()); }
  // The value of the latest `return` of a unit run from outside.
  Value take_returned() { return std::exchange(returned_, Value()); }

  // --- The public interface's scopes -----------------------------------------
  void push_scope() {
    outside_scopes_.push_back(OutsideScope{static_cast<std::uint32_t>(links_.size()), outside_top_});
  }
  void pop_scope();
  [[nodiscard]] std::size_t scope_count() const { return outside_scopes_.size(); }
  bool declare(Symbol name, std::optional<DataType> declared_type, Value&& value);
  bool assign(Symbol name, Value&& value);
  [[nodiscard]] std::optional<Variable> lookup(Symbol name) const;
  // Makes room for names interned after the machine started: callers of the
  // public interface may add to the program's table.
  void ensure_symbols(std::size_t count) {
    if (count > nearest_.size()) {
      nearest_.resize(count, 0);
    }
  }

  // --- Under a debugger's control (control.cpp) -------------------------------
  // Where a frame is: its unit, its instruction (a Line where it stopped, a
  // Call where it waits for a callee, where it failed) and its window.
  struct Position {
    const Unit* unit = nullptr;
    const Instr* pc = nullptr;
    std::uint32_t base = 0;
  };
  // Runs the main block's unit from its start, like `run` but without
  // closing anything when it fails or pauses, so that the place can be seen.
  Outcome start(const Unit& unit);
  // Goes on after a pause.
  Outcome resume();
  // The next pause: at the `step`th statement (0: none), at a statement whose
  // line is marked in `lines` (one byte per line, past the last line), or at
  // a statement fewer than `depth_below` calls deep (0: none).
  void set_stops(std::uint64_t step, const std::uint8_t* lines, std::uint64_t depth_below) {
    next_event_ = step == 0 ? std::numeric_limits<std::uint64_t>::max() : step;
    stop_lines_ = lines != nullptr ? lines : no_stops_.data();
    stop_below_ = depth_below;
  }
  [[nodiscard]] std::uint64_t step_count() const { return steps_; }
  // Frames of the run: the main block's and one per call in progress.
  [[nodiscard]] std::size_t depth() const { return frames_.size(); }
  // Frame 0 is the innermost.
  [[nodiscard]] Position position(std::size_t frame) const;
  // The register + 1 of the variable that `name` reaches from the frame, or 0.
  [[nodiscard]] std::uint32_t reach(std::size_t frame, std::uint32_t name) const;
  [[nodiscard]] const Value& register_value(std::uint32_t reg) const { return stack_[reg]; }
  [[nodiscard]] std::uint16_t register_type(std::uint32_t reg) const { return types_[reg]; }

  // The whole state of a paused run, to go back to.
  struct State;
  [[nodiscard]] State save() const;
  void restore(const State& state);

  Error take_error() {
    assert(error_.has_value());
    Error error = std::move(*error_);
    error_.reset();
    return error;
  }
  [[nodiscard]] const Program& program() const { return program_; }

 private:
  // A call in progress: where its caller goes on, and what to restore.
  struct Frame {
    const Instr* resume;  // the caller's next instruction
    const Unit* unit;     // the caller's unit; null for the run from outside itself
    std::uint32_t base;   // the caller's window
    std::uint32_t links;  // the links to keep on return
  };
  // The frames as a stack whose push and pop stay inline on the call path,
  // growing out of line.
  class FrameStack {
   public:
    FrameStack() : slots_(64), top_(slots_.data()), end_(slots_.data() + slots_.size()) {}
    void push_back(const Frame& frame) {
      if (top_ == end_) [[unlikely]] {
        grow();
      }
      *top_++ = frame;
    }
    [[nodiscard]] Frame& back() { return top_[-1]; }
    void pop_back() { --top_; }
    [[nodiscard]] std::size_t size() const { return static_cast<std::size_t>(top_ - slots_.data()); }
    [[nodiscard]] Frame& operator[](std::size_t index) { return slots_[index]; }
    [[nodiscard]] const Frame& operator[](std::size_t index) const { return slots_[index]; }
    // Drops the frames from `count` up.
    void resize(std::size_t count) { top_ = slots_.data() + count; }
    [[nodiscard]] std::vector<Frame> copy() const {
      return std::vector<Frame>(slots_.data(), static_cast<const Frame*>(top_));
    }
    void assign(const std::vector<Frame>& frames) {
      resize(0);
      for (const Frame& frame : frames) {
        push_back(frame);
      }
    }

   private:
    void grow();
    std::vector<Frame> slots_;
    Frame* top_;
    Frame* end_;
  };
  struct Link {
    std::uint32_t name;
    std::uint32_t hidden;  // the entry of `nearest_` that this one replaced
  };
  struct OutsideScope {
    std::uint32_t links;
    std::uint32_t registers;  // the first register of the scope's variables
  };
  // The texts of one `x = x + a + b ...` whose joining waits for the store.
  struct Chain {
    std::size_t first;   // in pieces_
    std::size_t length;  // of the text so far
  };

  // `Placed`: a failure remembers where it happened, for runs that show
  // lines; the command's own runs use the loop without it.
  template <bool Placed>
  Outcome execute(const Unit* unit, std::uint32_t base, const Instr* pc);
  // Remembers where the run failed, out of the dispatch loop's way.
  [[gnu::cold, gnu::noinline]] Outcome failed_at(const Unit* unit, const Instr* pc, std::uint32_t base) {
    at_ = Position{unit, pc, base};
    return Outcome::Failed;
  }

  // --- Failures: each records the error and gives false ----------------------
  bool fail(Error error) {
    error_ = std::move(error);
    return false;
  }
  bool fail_unknown_banner(std::uint32_t name);
  bool fail_divide_by_zero();
  bool fail_known(const Instr& instr);
  bool fail_call_depth();

  // --- Slow paths -------------------------------------------------------------
  bool operate_slow(const Instr& instr, Value* r, const Value* k);
  int compare_slow(const Instr& instr, Value* r, const Value* k);
  bool apply_slow(BinaryOp op, const Value& left, const Value& right, Value& out);
  bool unary_slow(const Instr& instr, Value* r);
  bool join(const Instr& instr, Value* r, const Value* k);
  static void release_temporaries(const Instr& instr, Value* r);
  bool append_slow(Value& acc, const Value& piece, Value* take);
  bool append_store(Value& acc, Value& target, std::uint16_t type);
  bool update_name_slow(BinaryOp op, std::uint32_t reg, const Value& right);
  bool store_slow(Value& target, Value&& value, std::uint16_t type);
  bool step_event();
  void plan_next_event();
  [[nodiscard]] Steps steps() const;
  bool speak(Value& value, bool take);
  bool input(Value& target, std::uint16_t type);
  bool march_check(const Value& count);

  // --- Names, registers and calls ---------------------------------------------
  const Unit* function(std::uint32_t name);
  void link(std::uint32_t reg, std::uint32_t name, std::uint16_t type) {
    links_.push_back(Link{name, nearest_[name]});
    nearest_[name] = reg + 1;
    types_[reg] = static_cast<std::uint8_t>(type);
  }
  void unlink_to(std::size_t count) {
    while (links_.size() > count) {
      nearest_[links_.back().name] = links_.back().hidden;
      links_.pop_back();
    }
  }
  [[nodiscard]] bool outside_declared(std::uint32_t name) const {
    const std::uint32_t nearest = nearest_[name];
    return nearest != 0 && nearest - 1 >= outside_scopes_.back().registers;
  }
  // Registers let go of their texts.
  static void clear_texts(Value* first, std::uint32_t count) {
    for (Value *reg = first, *const end = first + count; reg != end; ++reg) {
      if (reg->is(DataType::Scroll)) {
        reg->reset();
      }
    }
  }
  void ensure_registers(std::size_t count);
  void clear_registers(std::size_t from, std::size_t to);

  const Program& program_;
  LineInput& input_;
  TextOutput& output_;
  Limits limits_;

  std::vector<Value> stack_;
  std::size_t registers_;  // stack_.size(), kept at hand for the call path
  std::vector<std::uint8_t> types_;     // by register: a linked variable's declared type
  std::vector<std::uint32_t> nearest_;  // by symbol: register + 1 of the nearest linked variable, 0 for none
  std::vector<Link> links_;
  FrameStack frames_;
  std::vector<OutsideScope> outside_scopes_;
  std::uint32_t outside_top_ = 0;  // the first register above the outside scopes' variables
  std::vector<Value> pieces_;
  std::vector<Chain> chains_;

  std::vector<bool> reachable_;
  std::vector<std::uint32_t> compile_nearest_;
  std::deque<Unit> units_;              // stable addresses
  std::vector<const Unit*> functions_;  // by symbol, once compiled

  const StatementLines* lines_;
  const bool controlled_;
  Position at_;  // where the run paused or failed
  // The stops of a controlled run besides the step count (see set_stops).
  std::vector<std::uint8_t> no_stops_;  // a byte per line, all zero
  const std::uint8_t* stop_lines_ = nullptr;
  std::uint64_t stop_below_ = 0;

  std::string line_;  // the output or input line being handled
  Value returned_;
  Value result_;
  std::optional<Error> error_;
  std::uint64_t call_depth_ = 0;
  // Statements counted so far, and the count at which the next heartbeat or
  // the end of the step budget is due; the Step handler does no more than
  // compare the two.
  std::uint64_t steps_ = 0;
  std::uint64_t next_event_ = 0;
  std::uint64_t next_beat_ = 0;
};

struct Machine::State {
  std::vector<Value> stack;  // up to the innermost window's end
  std::vector<std::uint8_t> types;
  std::vector<std::uint32_t> nearest;
  std::vector<Link> links;
  std::vector<Frame> frames;
  std::vector<OutsideScope> outside_scopes;
  std::uint32_t outside_top = 0;
  std::vector<Value> pieces;
  std::vector<Chain> chains;
  std::uint64_t call_depth = 0;
  std::uint64_t steps = 0;
  Position at;
  // Roughly what the state holds, for a keeper of many.
  [[nodiscard]] std::size_t bytes() const;
};

}  // namespace skern::code
