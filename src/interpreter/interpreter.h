// Running a program tree: scopes and the function table, statements,
// expressions and calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "driver/error.h"
#include "interpreter/console.h"
#include "model/tree.h"
#include "model/value.h"

namespace skern {

// The most times the body of one `while` statement may run in one execution.
inline constexpr std::uint64_t WHILE_ITERATION_LIMIT = 100000;

// Calls nest this deep at most; deeper calls end the run with an orderly
// error. Calls do not recurse on the machine stack, so only memory bounds
// them below this limit.
inline constexpr std::uint64_t CALL_DEPTH_LIMIT = 200000;

// Told now and then while a run goes on, for a host with work of its own
// during long runs (a page passing on the output written so far).
class Heartbeat {
 public:
  Heartbeat() = default;
  Heartbeat(const Heartbeat&) = delete;
  Heartbeat& operator=(const Heartbeat&) = delete;
  virtual ~Heartbeat() = default;
  virtual void beat() = 0;
};

struct Limits {
  std::uint64_t call_depth = CALL_DEPTH_LIMIT;
  // Statements a run may execute; 0 for no bound. Only the fuzzing harness
  // sets one, so that any program ends.
  std::uint64_t step_budget = 0;
  // When set, beats once every `beat_steps` steps: statements when there is
  // a step budget, otherwise loop rounds and calls. Only runs that ask pay
  // for counting them.
  Heartbeat* heartbeat = nullptr;
  std::uint64_t beat_steps = 100000;
  // Longest scroll a run may build; longer ones fail as out of memory.
  std::size_t scroll_bytes = static_cast<std::size_t>(-1);
};

struct Variable {
  Value value;
  std::optional<DataType> declared_type;  // none for a function parameter
};

// How a block ended without error.
struct Flow {
  enum class Kind : std::uint8_t { Normal, Returned };
  Kind kind = Kind::Normal;
  Value value;  // what `return` gave, for Returned
};

// The value of one input line (without its line ending) for a declared type.
Result<Value> parse_input(std::string_view text, DataType type);

namespace code {
class Machine;
class StreamCompiler;
}  // namespace code

// One run of a program: the scope stack over the program's function table,
// and the console it reads from and writes to.
class Interpreter {
 public:
  // Starts with one empty scope, the global scope.
  Interpreter(const Program& program, LineInput& input, TextOutput& output, Limits limits = {});
  Interpreter(const Interpreter&) = delete;
  Interpreter& operator=(const Interpreter&) = delete;
  ~Interpreter();

  // --- Scopes ---------------------------------------------------------------
  void push_scope();
  void pop_scope();
  [[nodiscard]] std::size_t scope_count() const;
  // Adds a variable to the innermost scope; fails if that scope holds the name.
  Status declare(Symbol name, std::optional<DataType> declared_type, Value value);
  // Stores into the nearest variable of the name, through the store rule.
  Status assign(Symbol name, Value value);
  // A copy of the nearest variable of the name, innermost scope first.
  [[nodiscard]] std::optional<Variable> lookup(Symbol name) const;
  [[nodiscard]] const FunctionDecl* find_function(Symbol name) const;

  // --- Running --------------------------------------------------------------
  Result<Flow> execute_block(const Block& block);
  Result<Value> evaluate(const Expr& expr);
  Result<bool> evaluate_condition(const Expr& condition);
  Result<Value> call_function(Symbol name, const std::vector<Expr>& arguments);

 private:
  std::unique_ptr<code::Machine> machine_;
};

// Executes the program's main block in a new interpreter. A `return` in the
// main block ends the run normally.
Status run_program(const Program& program, LineInput& input, TextOutput& output, Limits limits = {});

// A run whose main block is compiled while the parser reads it, a statement
// at a time, so that the block's tree is never held whole: give it to
// parse_program as the main block's sink, then `run`. Compiling a statement
// needs every function that may reach its variables by name, so this works
// for programs whose functions are all declared above the main block; for
// any other, `compiled` is false after parsing and the program is to be
// parsed into a tree and run with run_program.
class StreamedRun final : public MainBlockSink {
 public:
  StreamedRun(const Program& program, LineInput& input, TextOutput& output, Limits limits = {});
  StreamedRun(const StreamedRun&) = delete;
  StreamedRun& operator=(const StreamedRun&) = delete;
  ~StreamedRun() override;

  void begin() override;
  void take(const Statement& statement) override;

  // After a successful parse: whether the whole main block was compiled.
  [[nodiscard]] bool compiled() const;
  // Runs it, once; a `return` in the main block ends the run normally.
  Status run();

 private:
  const Program& program_;
  LineInput& input_;
  TextOutput& output_;
  Limits limits_;
  std::unique_ptr<code::Machine> machine_;
  std::unique_ptr<code::StreamCompiler> compiler_;
  std::size_t functions_ = 0;  // declared when the main block began
};

}  // namespace skern
