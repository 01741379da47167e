// Private to the interpreter: compiling the program tree into instructions.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "interpreter/analysis.h"
#include "interpreter/code.h"
#include "model/tree.h"

namespace skern::code {

// What compiling needs besides the tree. `nearest` is a table by symbol that
// each compilation leaves all zero again, kept so that compiling many
// functions does not allocate one per function.
// Where Step instructions go: nowhere; before every statement, for a step
// budget, which counts statements; or once per loop round and per call, for a
// heartbeat alone, since only loops and calls make a run long.
// Lines: a Line before every statement (and at the head of a `while`, where
// each round's condition is checked), for a run under a debugger's control.
enum class Steps : std::uint8_t { None, EveryStatement, EveryRoundAndCall, Lines };

struct CompileContext {
  const Program& program;
  const std::vector<bool>& reachable;
  std::vector<std::uint32_t>& nearest;
  Steps steps = Steps::None;
  // When given, each unit gets the line of every instruction and the places
  // of its variables; Steps::Lines needs it.
  const StatementLines* lines = nullptr;
};

// A function's body, run in a call's own window: its parameters in the
// first registers, found there by position.
Unit compile_function(const CompileContext& context, const FunctionDecl& function);

// Units run from outside in the current scope of the public interface: a
// block (whose top-level declarations outlive the run), an expression and a
// call (each leaving its value with Halt).
Unit compile_outside_block(const CompileContext& context, const Block& block);
// A block run from outside, compiled a statement at a time as the parser
// reads it, so that the tree of one statement is all that is ever held. Its
// top-level declarations do not outlive the run: it is for a program's main
// block. The context's tables must outlive the compiler.
class StreamCompiler {
 public:
  explicit StreamCompiler(const CompileContext& context);
  StreamCompiler(StreamCompiler&& other) noexcept;
  StreamCompiler& operator=(StreamCompiler&& other) noexcept;
  StreamCompiler(const StreamCompiler&) = delete;
  StreamCompiler& operator=(const StreamCompiler&) = delete;
  ~StreamCompiler();
  void add(const Statement& statement);
  // The whole block; the compiler is spent.
  Unit finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

Unit compile_outside_expression(const CompileContext& context, const Expr& expr);
Unit compile_outside_call(const CompileContext& context, Symbol name, ExprList arguments);

}  // namespace skern::code
