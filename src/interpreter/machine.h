// Private to the interpreter: the compiled form of the program tree and the
// machine that runs it.
//
// Before a block or a function body first runs, its tree is compiled into
// nodes that carry their own evaluation function, chosen once for the node's
// shape: a variable minus a constant, two variables compared, a chain of
// operators, a call. Running is then one indirect call per node with no
// dispatch on kinds and no re-examination of operand shapes. The compiled
// nodes mirror the tree one to one in what they compute and in what order.
#pragma once

#include <cassert>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "interpreter/interpreter.h"
#include "model/stack.h"

namespace skern::code {

class Machine;
struct Node;
struct Step;
struct Steps;

enum class Outcome : std::uint8_t { Normal, Returned, Failed };

// An evaluation function writes the node's value to `out` (a fresh value) and
// gives true, or parks an Error in the machine and gives false.
using Eval = bool (*)(Machine&, const Node&, Value& out);
// A condition's shortcut: the vow a comparison gives, without making a Value.
using Test = bool (*)(Machine&, const Node&, bool& out);
using Exec = Outcome (*)(Machine&, const Step&);

struct Function;

struct Node {
  Eval eval = nullptr;
  Test test = nullptr;          // set for comparisons that can give their vow directly
  const Node* left = nullptr;   // operand, or first operand
  const Node* right = nullptr;  // second operand
  Value constant;               // a literal, or the constant operand of a specialised binary
  Symbol name{};                // the variable read, the called function, or the variable operand
  Symbol second{};              // the second variable operand
  BinaryOp op = BinaryOp::Add;
  std::vector<UnaryOp> unary_ops;                           // applied first to last
  std::vector<std::pair<BinaryOp, const Node*>> chain;      // applied first to last
  std::vector<const Node*> arguments;
  mutable const Function* target = nullptr;  // a call's function, found on its first run
};

struct Steps {
  std::vector<Step> steps;
  bool declares = false;  // a statement directly in it declares, so it needs a scope
};

struct Step {
  Exec exec = nullptr;
  const Node* expr = nullptr;     // the value, condition or count
  const Node* operand = nullptr;  // for `x = x + e`, the node of `e`
  Symbol name{};
  DataType type = DataType::Void;
  const Steps* body = nullptr;   // then-block or loop body
  const Steps* other = nullptr;  // else-block
};

struct Function {
  const FunctionDecl* decl;
  const Steps* body;
  const Symbol* params;  // the declaration's, cached for the call path
  std::uint32_t param_count;
};

class Machine {
 public:
  Machine(const Program& program, LineInput& input, TextOutput& output, Limits limits);

  // --- Compiling -------------------------------------------------------------
  const Node* compile(const Expr& expr);
  const Steps* compile(const Block& block);
  // The compiled function of that name, compiled on its first call; null when
  // the program declares none.
  const Function* function(Symbol name);

  // --- Running ---------------------------------------------------------------
  Outcome run(const Steps& steps) {
    if (limits_.step_budget != 0) [[unlikely]] {
      return run_counted(steps);
    }
    for (const Step& step : steps.steps) {
      const Outcome outcome = step.exec(*this, step);
      if (outcome != Outcome::Normal) {
        return outcome;
      }
    }
    return Outcome::Normal;
  }
  // The same, counting every statement against the step budget.
  Outcome run_counted(const Steps& steps);
  // Counts one statement against the step budget, when there is one.
  bool take_step() { return limits_.step_budget == 0 || spend_step(); }
  // A block in a scope of its own, popped whatever the block gave. A block
  // that declares nothing directly cannot tell its scope from its parent's,
  // so it runs without one.
  Outcome run_scoped(const Steps& steps) {
    if (!steps.declares) {
      return run(steps);
    }
    const std::uint32_t outer = enter_scope(bindings_.size());
    const Outcome outcome = run(steps);
    leave_scope(outer);
    return outcome;
  }
  bool condition(const Node& node, bool& out) {
    if (node.test != nullptr) {
      return node.test(*this, node, out);
    }
    return condition_value(node, out);
  }
  bool condition_value(const Node& node, bool& out);
  bool call(const Node& call, Value& out);

  // --- Scopes ----------------------------------------------------------------
  // The innermost scope is the run of bindings from `scope_start_` up. The
  // machine's own scopes keep the enclosing start in a local of the C++ frame
  // that opened them; only scopes opened from outside are kept in a list.
  [[nodiscard]] std::uint32_t enter_scope(std::uint32_t start) { return std::exchange(scope_start_, start); }
  void leave_scope(std::uint32_t outer) {
    bindings_.unwind(scope_start_, heads_.data());
    scope_start_ = outer;
  }
  void push_scope() { outer_starts_.push_back(enter_scope(bindings_.size())); }
  void pop_scope() {
    assert(!outer_starts_.empty() && "interpreter always has at least one scope");
    leave_scope(outer_starts_.back());
    outer_starts_.pop_back();
  }
  [[nodiscard]] std::size_t scope_count() const { return outer_starts_.size() + 1; }
  // The nearest variable of the name, or null.
  [[nodiscard]] Variable* variable(Symbol name) {
    const std::uint32_t nearest = heads_[name.id];
    return nearest == 0 ? nullptr : &bindings_[nearest].variable;
  }
  [[nodiscard]] const Value* value_of(Symbol name) {
    const std::uint32_t nearest = heads_[name.id];
    return nearest == 0 ? nullptr : &bindings_[nearest].variable.value;
  }
  bool declare(Symbol name, std::optional<DataType> declared_type, Value&& value);
  [[gnu::always_inline]] bool store(Symbol name, Value&& value) {
    Variable* target = variable(name);
    if (target == nullptr) [[unlikely]] {
      return fail_unknown_banner(name);
    }
    if (target->declared_type && value.type() != *target->declared_type) {
      return store_converted(*target, std::move(value));
    }
    target->value = std::move(value);
    return true;
  }
  // A blade result stored: in place when the variable holds a blade, which
  // only a variable of no declared type or of type blade can.
  bool store_blade(Symbol name, std::int64_t value) {
    Variable* target = variable(name);
    if (target != nullptr && target->value.is(DataType::Blade)) [[likely]] {
      target->value.set_blade(value);
      return true;
    }
    return store(name, Value::blade(value));
  }
  bool store_converted(Variable& target, Value&& value);
  // Makes room for names made after the machine started: callers of the
  // public interface may intern more into the program's table (the parser
  // made all of the program's own before the run began).
  void ensure_symbol(Symbol name) {
    if (name.id >= heads_.size()) {
      heads_.resize(name.id + 1, 0);
    }
  }
  void ensure_symbols() {
    if (program_.symbols.size() > heads_.size()) {
      heads_.resize(program_.symbols.size(), 0);
    }
  }

  // --- Operators ---------------------------------------------------------------
  // Two blades under an operator known when compiling.
  template <BinaryOp Op>
  bool apply_blades(std::int64_t a, std::int64_t b, Value& out) {
    if constexpr (Op == BinaryOp::Add) {
      out = Value::blade(wrapping_add(a, b));
    } else if constexpr (Op == BinaryOp::Subtract) {
      out = Value::blade(wrapping_sub(a, b));
    } else if constexpr (Op == BinaryOp::Multiply) {
      out = Value::blade(wrapping_mul(a, b));
    } else if constexpr (Op == BinaryOp::Divide) {
      if (b == 0) [[unlikely]] {
        return fail_divide_by_zero();
      }
      out = Value::wine(static_cast<double>(a) / static_cast<double>(b));
    } else if constexpr (Op == BinaryOp::Greater) {  // blades compare as floats, like every numeric pair
      out = Value::vow(static_cast<double>(a) > static_cast<double>(b));
    } else if constexpr (Op == BinaryOp::Less) {
      out = Value::vow(static_cast<double>(a) < static_cast<double>(b));
    } else if constexpr (Op == BinaryOp::Equal) {
      out = Value::vow(a == b);
    } else {
      out = Value::vow(a != b);
    }
    return true;
  }
  bool apply_blades(BinaryOp op, std::int64_t a, std::int64_t b, Value& out);
  bool apply_slow(BinaryOp op, Value&& left, const Value& right, Value& out);
  bool apply_unary(UnaryOp op, Value& value);

  // --- Statements with more to them -------------------------------------------
  Outcome speak(const Value& value);
  Outcome input(Symbol name);
  Outcome marches(const Step& step);
  Outcome repeat_while(const Step& step);
  Outcome append(const Step& step);
  Outcome assign(const Step& step);

  // --- Failures ----------------------------------------------------------------
  bool fail(Error error) {
    error_ = std::move(error);
    return false;
  }
  Outcome failed(Error error) {
    fail(std::move(error));
    return Outcome::Failed;
  }
  bool fail_unknown_banner(Symbol name);
  bool fail_divide_by_zero();
  Error take_error() {
    assert(error_.has_value());
    Error error = std::move(*error_);
    error_.reset();
    return error;
  }
  [[nodiscard]] const std::string& name_of(Symbol symbol) const { return program_.symbols.name(symbol); }

  // The value of the latest `return`, until the call or block that ran it takes it.
  [[nodiscard]] Value& returned() { return returned_; }
  [[nodiscard]] const Program& program() const { return program_; }

 private:
  struct Binding {
    Variable variable;
    std::uint32_t previous = 0;  // the binding of the same name that this one shadows; 0 for none
    Symbol name;
  };

  // Dynamic scoping as a binding log: every variable is one entry, chained to
  // the entry of the same name that it shadows, and `heads_` holds the
  // nearest entry of each name, so a lookup is two loads. A scope is the run
  // of entries from its start mark: pushing one records a mark, popping it
  // unlinks the entries above. Slots past the top are kept (holding void), so
  // pushing and popping never construct or destroy a slot.
  class BindingLog {
   public:
    BindingLog() : slots_(64), capacity_(64) {}
    [[nodiscard]] std::uint32_t size() const { return top_; }
    Binding& operator[](std::uint32_t index) { return slots_[index]; }
    const Binding& operator[](std::uint32_t index) const { return slots_[index]; }
    // An argument's value, linked to its parameter's name once the call begins.
    void push_unlinked(Value&& value) {
      if (top_ == capacity_) [[unlikely]] {
        grow();
      }
      Binding& slot = slots_[top_++];
      slot.variable.value = std::move(value);
      slot.variable.declared_type.reset();
    }
    std::uint32_t push(Value&& value, std::optional<DataType> declared_type, Symbol name, std::uint32_t previous) {
      if (top_ == capacity_) [[unlikely]] {
        grow();
      }
      Binding& slot = slots_[top_];
      slot.variable.value = std::move(value);
      slot.variable.declared_type = declared_type;
      slot.previous = previous;
      slot.name = name;
      return top_++;
    }
    // Drops the entries from `start` up, which must be linked to no name.
    void truncate(std::uint32_t start) {
      Binding* slots = slots_.data();
      for (std::uint32_t i = start; i < top_; ++i) {
        slots[i].variable.value.reset();
      }
      top_ = start;
    }
    // Drops the entries from `start` up, relinking each name to the entry it shadowed.
    void unwind(std::uint32_t start, std::uint32_t* heads) {
      Binding* const first = slots_.data() + start;
      for (Binding* binding = slots_.data() + top_; binding != first;) {
        --binding;
        heads[binding->name.id] = binding->previous;
        binding->variable.value.reset();
      }
      top_ = start;
    }
    [[nodiscard]] Binding* data() { return slots_.data(); }

   private:
    void grow();
    std::vector<Binding> slots_;
    std::uint32_t top_ = 0;
    std::uint32_t capacity_;  // slots_.size()
  };

  bool spend_step();
  bool call_failure(Symbol name, const Function* function, std::size_t argument_count);
  bool duplicate_parameter(std::uint32_t mark, std::uint32_t linked, std::uint32_t outer, Symbol param);
  Node& new_node(Eval eval) {
    Node& node = nodes_.emplace_back();
    node.eval = eval;
    return node;
  }
  const Node* compile_binary(const Binary& binary);
  Step compile_step(const Statement& statement);

  const Program& program_;
  LineInput& input_;
  TextOutput& output_;
  Limits limits_;

  BindingLog bindings_;
  std::vector<std::uint32_t> heads_;
  std::uint32_t scope_start_ = 1;            // binding 0 means "no binding"
  std::vector<std::uint32_t> outer_starts_;  // enclosing starts of the scopes pushed from outside

  std::deque<Node> nodes_;    // stable addresses
  std::deque<Steps> blocks_;
  std::vector<std::optional<Function>> functions_;  // by symbol, once compiled

  std::string line_;  // the output or input line being handled
  Value returned_;
  std::optional<Error> error_;
  std::uint64_t call_depth_ = 0;
  std::uint64_t steps_left_ = 0;
  StackGuard stack_;  // calls fail before the stack runs out
};

}  // namespace skern::code
