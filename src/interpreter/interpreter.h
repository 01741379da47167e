// Running a program tree: scopes and the function table, statements,
// expressions and calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "driver/error.h"
#include "interpreter/console.h"
#include "model/tree.h"
#include "model/value.h"

namespace skern {

// The most times the body of one `while` statement may run in one execution.
inline constexpr std::uint64_t WHILE_ITERATION_LIMIT = 100000;

// Calls nest by recursion on the machine stack; deeper calls end the run with
// an orderly error. The driver runs programs on a stack large enough for it.
inline constexpr std::uint64_t CALL_DEPTH_LIMIT = 200000;

struct Limits {
  std::uint64_t call_depth = CALL_DEPTH_LIMIT;
  // Statements and loop rounds a run may take; 0 for no bound. Only the
  // fuzzing harness sets one, so that any program ends.
  std::uint64_t step_budget = 0;
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
  [[nodiscard]] std::size_t scope_count() const { return scope_starts_.size(); }
  // Adds a variable to the innermost scope; fails if that scope holds the name.
  Status declare(Symbol name, std::optional<DataType> declared_type, Value value);
  // Stores into the nearest variable of the name, through the store rule.
  Status assign(Symbol name, Value value);
  // The nearest variable of the name, innermost scope first.
  [[nodiscard]] const Variable* lookup(Symbol name) const;
  [[nodiscard]] const FunctionDecl* find_function(Symbol name) const { return program_.functions.find(name); }

  // --- Running --------------------------------------------------------------
  Result<Flow> execute_block(const Block& block);
  Result<Value> evaluate(const Expr& expr);
  Result<bool> evaluate_condition(const Expr& condition);
  Result<Value> call_function(Symbol name, const std::vector<Expr>& arguments);

 private:
  // Inside the walk a failure is a `Failed` outcome or a `false` return, with
  // the Error parked in `error_`; the public entry points hand it back as a
  // value. This keeps the hot path to one branch per step.
  enum class Outcome : std::uint8_t { Normal, Returned, Failed };

  struct Binding {
    Variable variable;
    std::uint32_t previous;  // the binding of the same name that this one shadows; 0 for none
    Symbol name;
  };

  Outcome exec_block(const Block& block);
  Outcome exec(const Statement& statement);
  Outcome exec_scoped(const Block& block);
  Outcome exec_while(const While& loop);
  Outcome exec_marches(const RealmMarches& loop);
  Outcome exec_input(const Input& input);
  Outcome exec_speak(const Speak& speak);
  Outcome exec_assign(const Assign& assign);
  bool eval(const Expr& expr, Value& out);
  bool eval_unary(const Expr& expr, Value& out);
  bool eval_binary(const Binary& binary, Value& out);
  bool apply_binary(BinaryOp op, Value& left, const Value& right, Value& out);
  bool eval_condition(const Expr& condition, bool& out);
  bool call(Symbol name, const std::vector<Expr>& arguments, Value& out);
  bool declare_in_scope(Symbol name, std::optional<DataType> declared_type, Value&& value);
  bool store(Symbol name, Value&& value);
  bool take_step();
  bool fail(Error error);
  [[nodiscard]] const std::string& name_of(Symbol symbol) const { return program_.symbols.name(symbol); }
  void ensure_symbol(Symbol symbol);
  Error take_error();

  const Program& program_;
  LineInput& input_;
  TextOutput& output_;
  Limits limits_;

  // Dynamic scoping as a binding log: every variable is one entry, chained to
  // the entry of the same name that it shadows, and `heads_` holds the nearest
  // entry of each name. A scope is the run of entries from its start mark, so
  // pushing a scope records a mark and popping it unlinks the entries above.
  std::vector<Binding> bindings_;
  std::vector<std::uint32_t> heads_;
  std::vector<std::uint32_t> scope_starts_;

  std::vector<Value> arguments_;          // argument values waiting for their call
  std::vector<const Binary*> spine_;      // left spines of long operator chains
  std::vector<UnaryOp> unary_chain_;      // operators of long unary chains
  std::string line_;                      // the output or input line being handled
  Value returned_;                        // the value of the latest `return`
  std::optional<Error> error_;
  std::uint64_t call_depth_ = 0;
  std::uint64_t steps_left_ = 0;
  std::uintptr_t stack_floor_ = 0;        // calls fail before the stack pointer passes this
};

// Executes the program's main block in a new interpreter. A `return` in the
// main block ends the run normally.
Status run_program(const Program& program, LineInput& input, TextOutput& output, Limits limits = {});

}  // namespace skern
