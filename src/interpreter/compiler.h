// Private to the interpreter: compiling the program tree into instructions.
#pragma once

#include <cstdint>
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
Unit compile_outside_expression(const CompileContext& context, const Expr& expr);
Unit compile_outside_call(const CompileContext& context, Symbol name, ExprList arguments);

}  // namespace skern::code
