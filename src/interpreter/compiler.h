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
struct CompileContext {
  const Program& program;
  const std::vector<bool>& reachable;
  std::vector<std::uint32_t>& nearest;
  bool counted;  // a Step before every statement, for a run with a step budget or a heartbeat
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
