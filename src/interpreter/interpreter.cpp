// The interpreter: scopes, statements, expressions and calls, run over the
// compiled form of the program tree.
#include "interpreter/interpreter.h"

#include <algorithm>
#include <charconv>
#include <array>
#include <limits>
#include <new>

#include "interpreter/machine.h"


namespace skern::code {

namespace {

// ---------------------------------------------------------------------------
// Expression nodes
// ---------------------------------------------------------------------------

bool eval_constant(Machine& /*machine*/, const Node& node, Value& out) {
  out = node.constant;
  return true;
}

bool eval_variable(Machine& machine, const Node& node, Value& out) {
  const Value* value = machine.value_of(node.name);
  if (value == nullptr) [[unlikely]] {
    return machine.fail_unknown_banner(node.name);
  }
  out = *value;
  return true;
}

// Every unary operator of a chain ("--x", "-!x") in one node, applied from the
// one next to the operand outwards.
bool eval_unary(Machine& machine, const Node& node, Value& out) {
  Value value;
  if (!node.left->eval(machine, *node.left, value)) {
    return false;
  }
  for (const UnaryOp op : node.unary_ops) {
    if (!machine.apply_unary(op, value)) {
      return false;
    }
  }
  out = std::move(value);
  return true;
}

bool eval_call(Machine& machine, const Node& node, Value& out) { return machine.call(node, out); }

// Two operands, any shapes: the left is evaluated completely before the right.
template <BinaryOp Op>
bool eval_binary(Machine& machine, const Node& node, Value& out) {
  Value left;
  Value right;
  if (!node.left->eval(machine, *node.left, left) || !node.right->eval(machine, *node.right, right)) {
    return false;
  }
  if (left.is(DataType::Blade) && right.is(DataType::Blade)) {
    return machine.apply_blades<Op>(left.as_blade(), right.as_blade(), out);
  }
  return machine.apply_slow(Op, std::move(left), right, out);
}

// A variable and a constant: nothing runs between the two reads, so the
// variable is read in place.
template <BinaryOp Op>
bool eval_variable_constant(Machine& machine, const Node& node, Value& out) {
  const Value* left = machine.value_of(node.name);
  if (left == nullptr) [[unlikely]] {
    return machine.fail_unknown_banner(node.name);
  }
  if (left->is(DataType::Blade) && node.constant.is(DataType::Blade)) {
    return machine.apply_blades<Op>(left->as_blade(), node.constant.as_blade(), out);
  }
  return machine.apply_slow(Op, Value(*left), node.constant, out);
}

// Any operand and a constant.
template <BinaryOp Op>
bool eval_node_constant(Machine& machine, const Node& node, Value& out) {
  Value left;
  if (!node.left->eval(machine, *node.left, left)) {
    return false;
  }
  if (left.is(DataType::Blade) && node.constant.is(DataType::Blade)) {
    return machine.apply_blades<Op>(left.as_blade(), node.constant.as_blade(), out);
  }
  return machine.apply_slow(Op, std::move(left), node.constant, out);
}

// Two variables, both read in place.
template <BinaryOp Op>
bool eval_variable_variable(Machine& machine, const Node& node, Value& out) {
  const Value* left = machine.value_of(node.name);
  if (left == nullptr) [[unlikely]] {
    return machine.fail_unknown_banner(node.name);
  }
  const Value* right = machine.value_of(node.second);
  if (right == nullptr) [[unlikely]] {
    return machine.fail_unknown_banner(node.second);
  }
  if (left->is(DataType::Blade) && right->is(DataType::Blade)) {
    return machine.apply_blades<Op>(left->as_blade(), right->as_blade(), out);
  }
  return machine.apply_slow(Op, Value(*left), *right, out);
}

// A left-grouped chain "a + b - c ..." in one node, walked in a loop so that
// no chain length can exhaust the machine stack.
bool eval_chain(Machine& machine, const Node& node, Value& out) {
  Value running;
  if (!node.left->eval(machine, *node.left, running)) {
    return false;
  }
  for (const auto& [op, operand] : node.chain) {
    Value right;
    if (!operand->eval(machine, *operand, right)) {
      return false;
    }
    if (running.is(DataType::Blade) && right.is(DataType::Blade)) {
      if (!machine.apply_blades(op, running.as_blade(), right.as_blade(), running)) {
        return false;
      }
      continue;
    }
    Value result;
    if (!machine.apply_slow(op, std::move(running), right, result)) {
      return false;
    }
    running = std::move(result);
  }
  out = std::move(running);
  return true;
}

// Comparisons of a variable with a constant or another variable, giving the
// vow of a condition directly.
template <BinaryOp Op>
bool compare_blades(std::int64_t a, std::int64_t b) {
  if constexpr (Op == BinaryOp::Greater) {
    return static_cast<double>(a) > static_cast<double>(b);
  } else if constexpr (Op == BinaryOp::Less) {
    return static_cast<double>(a) < static_cast<double>(b);
  } else if constexpr (Op == BinaryOp::Equal) {
    return a == b;
  } else {
    return a != b;
  }
}

template <BinaryOp Op>
bool test_variable_constant(Machine& machine, const Node& node, bool& out) {
  const Value* left = machine.value_of(node.name);
  if (left != nullptr && left->is(DataType::Blade) && node.constant.is(DataType::Blade)) {
    out = compare_blades<Op>(left->as_blade(), node.constant.as_blade());
    return true;
  }
  return machine.condition_value(node, out);
}

template <BinaryOp Op>
bool test_variable_variable(Machine& machine, const Node& node, bool& out) {
  const Value* left = machine.value_of(node.name);
  const Value* right = machine.value_of(node.second);
  if (left != nullptr && right != nullptr && left->is(DataType::Blade) && right->is(DataType::Blade)) {
    out = compare_blades<Op>(left->as_blade(), right->as_blade());
    return true;
  }
  return machine.condition_value(node, out);
}

template <template <BinaryOp> class Shape>
constexpr std::array<Eval, 8> table_of() {
  return {&Shape<BinaryOp::Add>::eval,     &Shape<BinaryOp::Subtract>::eval, &Shape<BinaryOp::Multiply>::eval,
          &Shape<BinaryOp::Divide>::eval,  &Shape<BinaryOp::Greater>::eval,  &Shape<BinaryOp::Less>::eval,
          &Shape<BinaryOp::Equal>::eval,   &Shape<BinaryOp::NotEqual>::eval};
}
template <BinaryOp Op>
struct AnyShapes {
  static bool eval(Machine& m, const Node& n, Value& out) { return eval_binary<Op>(m, n, out); }
};
template <BinaryOp Op>
struct VariableConstant {
  static bool eval(Machine& m, const Node& n, Value& out) { return eval_variable_constant<Op>(m, n, out); }
};
template <BinaryOp Op>
struct NodeConstant {
  static bool eval(Machine& m, const Node& n, Value& out) { return eval_node_constant<Op>(m, n, out); }
};
template <BinaryOp Op>
struct VariableVariable {
  static bool eval(Machine& m, const Node& n, Value& out) { return eval_variable_variable<Op>(m, n, out); }
};
// Indexed by comparison operator (Greater, Less, Equal, NotEqual), in enum order.
constexpr std::array<Test, 4> TEST_VARIABLE_CONSTANT = {
    &test_variable_constant<BinaryOp::Greater>, &test_variable_constant<BinaryOp::Less>,
    &test_variable_constant<BinaryOp::Equal>, &test_variable_constant<BinaryOp::NotEqual>};
constexpr std::array<Test, 4> TEST_VARIABLE_VARIABLE = {
    &test_variable_variable<BinaryOp::Greater>, &test_variable_variable<BinaryOp::Less>,
    &test_variable_variable<BinaryOp::Equal>, &test_variable_variable<BinaryOp::NotEqual>};
constexpr std::size_t FIRST_COMPARISON = static_cast<std::size_t>(BinaryOp::Greater);
static_assert(static_cast<std::size_t>(BinaryOp::NotEqual) == FIRST_COMPARISON + 3);

constexpr std::array<Eval, 8> ANY_SHAPES = table_of<AnyShapes>();
constexpr std::array<Eval, 8> VARIABLE_CONSTANT = table_of<VariableConstant>();
constexpr std::array<Eval, 8> VARIABLE_VARIABLE = table_of<VariableVariable>();
constexpr std::array<Eval, 8> NODE_CONSTANT = table_of<NodeConstant>();

// Operator chains up to this length compile to nested nodes, longer ones to
// one chain node walked in a loop.
constexpr std::size_t NESTED_CHAIN_LIMIT = 16;

std::size_t spine_length(const Binary& binary) {
  std::size_t length = 1;
  for (const auto* step = binary.left->get_if<Binary>(); step != nullptr && length <= NESTED_CHAIN_LIMIT;
       step = step->left->get_if<Binary>()) {
    ++length;
  }
  return length;
}

// ---------------------------------------------------------------------------
// Statement steps
// ---------------------------------------------------------------------------

Outcome exec_declare(Machine& machine, const Step& step) {
  Value value;
  if (!step.expr->eval(machine, *step.expr, value)) {
    return Outcome::Failed;
  }
  if (value.type() != step.type) {
    Result<Value> stored = coerce_for_store(std::move(value), step.type);
    if (!stored.ok()) {
      return machine.failed(std::move(stored).error());
    }
    value = std::move(*stored);
  }
  return machine.declare(step.name, step.type, std::move(value)) ? Outcome::Normal : Outcome::Failed;
}

Outcome exec_assign(Machine& machine, const Step& step) {
  Value value;
  if (!step.expr->eval(machine, *step.expr, value)) {
    return Outcome::Failed;
  }
  if (value.is(DataType::Blade)) {
    return machine.store_blade(step.name, value.as_blade()) ? Outcome::Normal : Outcome::Failed;
  }
  return machine.store(step.name, std::move(value)) ? Outcome::Normal : Outcome::Failed;
}

// `x = x + 1`, `x = x * y`: a blade variable updated in place. The result is a
// blade, which a variable holding a blade always accepts; any other kinds
// take the general way.
template <BinaryOp Op>
Outcome exec_update_constant(Machine& machine, const Step& step) {
  static_assert(Op == BinaryOp::Add || Op == BinaryOp::Subtract || Op == BinaryOp::Multiply);
  Variable* target = machine.variable(step.name);
  const Value& constant = step.expr->constant;
  if (target != nullptr && target->value.is(DataType::Blade) && constant.is(DataType::Blade)) {
    machine.apply_blades<Op>(target->value.as_blade(), constant.as_blade(), target->value);
    return Outcome::Normal;
  }
  return Op == BinaryOp::Add ? machine.append(step) : machine.assign(step);
}

template <BinaryOp Op>
Outcome exec_update_variable(Machine& machine, const Step& step) {
  Variable* target = machine.variable(step.name);
  const Value* other = machine.value_of(step.expr->second);
  if (target != nullptr && other != nullptr && target->value.is(DataType::Blade) && other->is(DataType::Blade)) {
    machine.apply_blades<Op>(target->value.as_blade(), other->as_blade(), target->value);
    return Outcome::Normal;
  }
  return Op == BinaryOp::Add ? machine.append(step) : machine.assign(step);
}

// `x = x op e` for any other `e`: the blade in `x` is read first, then `e`
// is evaluated; `e` may run calls that grow the binding log or store into
// `x`, so the variable is found afresh for the store.
template <BinaryOp Op>
Outcome exec_update_node(Machine& machine, const Step& step) {
  static_assert(Op == BinaryOp::Add || Op == BinaryOp::Subtract || Op == BinaryOp::Multiply);
  const Value* current = machine.value_of(step.name);
  if (current == nullptr || !current->is(DataType::Blade)) {
    return Op == BinaryOp::Add ? machine.append(step) : machine.assign(step);
  }
  const std::int64_t before = current->as_blade();
  Value right;
  if (!step.operand->eval(machine, *step.operand, right)) {
    return Outcome::Failed;
  }
  if (right.is(DataType::Blade)) [[likely]] {
    std::int64_t result = 0;
    if constexpr (Op == BinaryOp::Add) {
      result = wrapping_add(before, right.as_blade());
    } else if constexpr (Op == BinaryOp::Subtract) {
      result = wrapping_sub(before, right.as_blade());
    } else {
      result = wrapping_mul(before, right.as_blade());
    }
    return machine.store_blade(step.name, result) ? Outcome::Normal : Outcome::Failed;
  }
  Value result;
  if (!machine.apply_slow(Op, Value::blade(before), right, result)) {
    return Outcome::Failed;
  }
  return machine.store(step.name, std::move(result)) ? Outcome::Normal : Outcome::Failed;
}

constexpr std::array<Exec, 3> UPDATE_NODE = {&exec_update_node<BinaryOp::Add>, &exec_update_node<BinaryOp::Subtract>,
                                             &exec_update_node<BinaryOp::Multiply>};

constexpr std::array<Exec, 3> UPDATE_CONSTANT = {&exec_update_constant<BinaryOp::Add>,
                                                 &exec_update_constant<BinaryOp::Subtract>,
                                                 &exec_update_constant<BinaryOp::Multiply>};
constexpr std::array<Exec, 3> UPDATE_VARIABLE = {&exec_update_variable<BinaryOp::Add>,
                                                 &exec_update_variable<BinaryOp::Subtract>,
                                                 &exec_update_variable<BinaryOp::Multiply>};

Outcome exec_input(Machine& machine, const Step& step) { return machine.input(step.name); }

Outcome exec_speak(Machine& machine, const Step& step) {
  Value value;
  if (!step.expr->eval(machine, *step.expr, value)) {
    return Outcome::Failed;
  }
  return machine.speak(value);
}

Outcome exec_return(Machine& machine, const Step& step) {
  if (step.expr->eval == eval_variable) {
    if (const Value* value = machine.value_of(step.expr->name)) {
      machine.returned() = *value;
      return Outcome::Returned;
    }
  }
  Value value;
  if (!step.expr->eval(machine, *step.expr, value)) {
    return Outcome::Failed;
  }
  machine.returned() = std::move(value);
  return Outcome::Returned;
}

Outcome exec_if(Machine& machine, const Step& step) {
  bool condition = false;
  if (!machine.condition_value(*step.expr, condition)) {
    return Outcome::Failed;
  }
  return machine.run_scoped(condition ? *step.body : *step.other);
}

// The same for a comparison that gives its vow directly.
Outcome exec_if_test(Machine& machine, const Step& step) {
  bool condition = false;
  if (!step.expr->test(machine, *step.expr, condition)) {
    return Outcome::Failed;
  }
  return machine.run_scoped(condition ? *step.body : *step.other);
}

// `x = literal`.
Outcome exec_assign_constant(Machine& machine, const Step& step) {
  const Value& constant = step.expr->constant;
  if (constant.is(DataType::Blade)) {
    return machine.store_blade(step.name, constant.as_blade()) ? Outcome::Normal : Outcome::Failed;
  }
  return machine.store(step.name, Value(constant)) ? Outcome::Normal : Outcome::Failed;
}

// `if c:` whose only statement is a `return` and which has no `else`: the
// guard at the head of a recursive function, run without entering a block.
Outcome exec_guard(Machine& machine, const Step& step) {
  bool condition = false;
  if (!machine.condition(*step.expr, condition)) {
    return Outcome::Failed;
  }
  if (!condition) {
    return Outcome::Normal;
  }
  if (!machine.take_step()) [[unlikely]] {
    return Outcome::Failed;
  }
  return exec_return(machine, step.body->steps.front());
}

Outcome exec_marches(Machine& machine, const Step& step) { return machine.marches(step); }

Outcome exec_while(Machine& machine, const Step& step) { return machine.repeat_while(step); }

Outcome exec_expression(Machine& machine, const Step& step) {
  Value ignored;
  return step.expr->eval(machine, *step.expr, ignored) ? Outcome::Normal : Outcome::Failed;
}

// ---------------------------------------------------------------------------
// The machine stack
// ---------------------------------------------------------------------------

// How much stack a call must still find: enough for the deepest blocks and
// expressions that the parser admits between two calls.
constexpr std::uintptr_t STACK_RESERVE = std::uintptr_t{1} << 20;

}  // namespace

// ---------------------------------------------------------------------------
// Compiling
// ---------------------------------------------------------------------------

Machine::Machine(const Program& program, LineInput& input, TextOutput& output, Limits limits)
    : program_(program),
      input_(input),
      output_(output),
      limits_(limits),
      heads_(program.symbols.size(), 0),
      functions_(program.symbols.size()),
      steps_left_(limits.step_budget),
      stack_(STACK_RESERVE) {
  bindings_.push({}, std::nullopt, Symbol{}, 0);  // index 0 means "no binding"
}

const Node* Machine::compile(const Expr& expr) {
  switch (expr.kind()) {
    case ExprKind::IntegerLiteral:
      return &(new_node(eval_constant).constant = Value::blade(expr.as<IntegerLiteral>().value), nodes_.back());
    case ExprKind::FloatLiteral:
      return &(new_node(eval_constant).constant = Value::wine(expr.as<FloatLiteral>().value), nodes_.back());
    case ExprKind::StringLiteral:
      return &(new_node(eval_constant).constant = Value::scroll(expr.as<StringLiteral>().value), nodes_.back());
    case ExprKind::BoolLiteral:
      return &(new_node(eval_constant).constant = Value::vow(expr.as<BoolLiteral>().value), nodes_.back());
    case ExprKind::CharLiteral:
      return &(new_node(eval_constant).constant = Value::sigil(expr.as<CharLiteral>().value), nodes_.back());
    case ExprKind::Identifier: {
      Node& node = new_node(eval_variable);
      node.name = expr.as<Identifier>().name;
      return &node;
    }
    case ExprKind::Unary: {
      // Gather the whole chain in a loop; the innermost operator applies first.
      std::vector<UnaryOp> ops;
      const Expr* operand = &expr;
      while (const auto* unary = operand->get_if<Unary>()) {
        ops.push_back(unary->op);
        operand = unary->operand;
      }
      std::reverse(ops.begin(), ops.end());
      const Node* compiled = compile(*operand);
      Node& node = new_node(eval_unary);
      node.left = compiled;
      node.unary_ops = std::move(ops);
      return &node;
    }
    case ExprKind::Binary:
      return compile_binary(expr.as<Binary>());
    case ExprKind::Call: {
      const Call& call = expr.as<Call>();
      std::vector<const Node*> arguments;
      arguments.reserve(call.arguments.size());
      for (const Expr& argument : call.arguments) {
        arguments.push_back(compile(argument));
      }
      Node& node = new_node(eval_call);
      node.name = call.name;
      node.arguments = std::move(arguments);
      return &node;
    }
  }
  return nullptr;
}

const Node* Machine::compile_binary(const Binary& binary) {
  const Expr& left = *binary.left;
  const Expr& right = *binary.right;
  if (spine_length(binary) <= NESTED_CHAIN_LIMIT) {
    const auto op = static_cast<std::size_t>(binary.op);
    const bool constant_right = right.kind() == ExprKind::IntegerLiteral || right.kind() == ExprKind::FloatLiteral;
    if (const auto* variable = left.get_if<Identifier>()) {
      if (const auto* other = right.get_if<Identifier>()) {
        Node& node = new_node(VARIABLE_VARIABLE[op]);
        node.name = variable->name;
        node.second = other->name;
        if (op >= FIRST_COMPARISON) {
          node.test = TEST_VARIABLE_VARIABLE[op - FIRST_COMPARISON];
        }
        return &node;
      }
      if (constant_right) {
        const Node* constant = compile(right);
        Node& node = new_node(VARIABLE_CONSTANT[op]);
        node.name = variable->name;
        node.constant = constant->constant;
        if (op >= FIRST_COMPARISON) {
          node.test = TEST_VARIABLE_CONSTANT[op - FIRST_COMPARISON];
        }
        return &node;
      }
    }
    const Node* compiled_left = compile(left);
    if (constant_right) {
      const Node* constant = compile(right);
      Node& node = new_node(NODE_CONSTANT[op]);
      node.left = compiled_left;
      node.constant = constant->constant;
      return &node;
    }
    const Node* compiled_right = compile(right);
    Node& node = new_node(ANY_SHAPES[op]);
    node.left = compiled_left;
    node.right = compiled_right;
    return &node;
  }
  // A left spine of two or more operators becomes one chain, gathered in a loop.
  std::vector<const Binary*> spine;
  for (const Binary* step = &binary; step != nullptr; step = step->left->get_if<Binary>()) {
    spine.push_back(step);
  }
  const Node* first = compile(*spine.back()->left);
  std::vector<std::pair<BinaryOp, const Node*>> chain;
  chain.reserve(spine.size());
  std::reverse(spine.begin(), spine.end());  // the innermost operator applies first
  for (const Binary* step : spine) {
    chain.emplace_back(step->op, compile(*step->right));
  }
  Node& node = new_node(eval_chain);
  node.left = first;
  node.chain = std::move(chain);
  return &node;
}

Step Machine::compile_step(const Statement& statement) {
  Step step;
  switch (statement.kind()) {
    case StatementKind::Declare: {
      const auto& declare = statement.as<Declare>();
      step.exec = exec_declare;
      step.expr = compile(declare.value);
      step.name = declare.name;
      step.type = declare.type;
      break;
    }
    case StatementKind::Assign: {
      const auto& assign = statement.as<Assign>();
      step.name = assign.name;
      step.exec = exec_assign;
      step.expr = compile(assign.value);
      if (step.expr->eval == eval_constant) {
        step.exec = exec_assign_constant;
      }
      const auto* binary = assign.value.get_if<Binary>();
      const auto* left = binary == nullptr ? nullptr : binary->left->get_if<Identifier>();
      if (left == nullptr || left->name != assign.name) {
        break;
      }
      // `x = x op e`: updated in place where the kinds allow.
      const auto op = static_cast<std::size_t>(binary->op);
      if (op < UPDATE_NODE.size()) {
        step.exec = UPDATE_NODE[op];
        step.operand = compile(*binary->right);
        if (binary->right->kind() == ExprKind::IntegerLiteral) {
          step.exec = UPDATE_CONSTANT[op];
        } else if (binary->right->kind() == ExprKind::Identifier) {
          step.exec = UPDATE_VARIABLE[op];
        }
      }
      break;
    }
    case StatementKind::Input:
      step.exec = exec_input;
      step.name = statement.as<Input>().name;
      break;
    case StatementKind::Speak:
      step.exec = exec_speak;
      step.expr = compile(statement.as<Speak>().value);
      break;
    case StatementKind::Return:
      step.exec = exec_return;
      step.expr = compile(statement.as<Return>().value);
      break;
    case StatementKind::If: {
      const auto& branch = statement.as<If>();
      step.exec = exec_if;
      step.body = compile(branch.then_block);
      step.other = compile(branch.else_block);
      step.expr = compile(branch.condition);
      if (step.expr->test != nullptr) {
        step.exec = exec_if_test;
      }
      if (step.other->steps.empty() && step.body->steps.size() == 1 && step.body->steps.front().exec == exec_return) {
        step.exec = exec_guard;
      }
      break;
    }
    case StatementKind::RealmMarches: {
      const auto& loop = statement.as<RealmMarches>();
      step.exec = exec_marches;
      step.body = compile(loop.body);
      step.expr = compile(loop.count);
      break;
    }
    case StatementKind::While: {
      const auto& loop = statement.as<While>();
      step.exec = exec_while;
      step.body = compile(loop.body);
      step.expr = compile(loop.condition);
      break;
    }
    case StatementKind::ExprStatement:
      step.exec = exec_expression;
      step.expr = compile(statement.as<ExprStatement>().expression);
      break;
  }
  return step;
}

const Steps* Machine::compile(const Block& block) {
  Steps compiled;
  compiled.declares = block.declares();
  compiled.steps.reserve(block.size());
  for (const Statement& statement : block) {
    compiled.steps.push_back(compile_step(statement));
  }
  return &blocks_.emplace_back(std::move(compiled));
}

const Function* Machine::function(Symbol name) {
  if (name.id < functions_.size() && functions_[name.id]) {
    return &*functions_[name.id];
  }
  const FunctionDecl* decl = program_.functions.find(name);
  if (decl == nullptr) {
    return nullptr;
  }
  if (name.id >= functions_.size()) {
    functions_.resize(name.id + 1);
  }
  const Steps* body = compile(decl->body);
  functions_[name.id] = Function{decl, body, decl->params.data(), static_cast<std::uint32_t>(decl->params.size())};
  return &*functions_[name.id];
}

// ---------------------------------------------------------------------------
// Scopes
// ---------------------------------------------------------------------------

void Machine::BindingLog::grow() {
  if (slots_.size() >= std::numeric_limits<std::uint32_t>::max() / 2) {
    throw std::bad_alloc();
  }
  slots_.resize(slots_.size() * 2);
  capacity_ = static_cast<std::uint32_t>(slots_.size());
}

bool Machine::declare(Symbol name, std::optional<DataType> declared_type, Value&& value) {
  const std::uint32_t nearest = heads_[name.id];
  if (nearest >= scope_start_) {
    return fail(Error::runtime(msg::already_declared(name_of(name))));
  }
  heads_[name.id] = bindings_.push(std::move(value), declared_type, name, nearest);
  return true;
}

// A store whose value's kind differs from the variable's declared type.
bool Machine::store_converted(Variable& target, Value&& value) {
  Result<Value> stored = coerce_for_store(std::move(value), *target.declared_type);
  if (!stored.ok()) {
    return fail(std::move(stored).error());
  }
  target.value = std::move(*stored);
  return true;
}

Outcome Machine::run_counted(const Steps& steps) {
  for (const Step& step : steps.steps) {
    if (!spend_step()) {
      return Outcome::Failed;
    }
    const Outcome outcome = step.exec(*this, step);
    if (outcome != Outcome::Normal) {
      return outcome;
    }
  }
  return Outcome::Normal;
}

bool Machine::spend_step() {
  if (steps_left_ == 0) {
    return fail(Error::runtime(msg::step_budget_exhausted(limits_.step_budget)));
  }
  --steps_left_;
  return true;
}

// Failures on the hot paths build their messages out of line.
bool Machine::fail_unknown_banner(Symbol name) { return fail(Error::runtime(msg::unknown_banner(name_of(name)))); }
bool Machine::fail_divide_by_zero() { return fail(Error::runtime(std::string(msg::DIVIDE_BY_ZERO))); }

// ---------------------------------------------------------------------------
// Operators
// ---------------------------------------------------------------------------

bool Machine::apply_blades(BinaryOp op, std::int64_t a, std::int64_t b, Value& out) {
  switch (op) {
    case BinaryOp::Add:
      return apply_blades<BinaryOp::Add>(a, b, out);
    case BinaryOp::Subtract:
      return apply_blades<BinaryOp::Subtract>(a, b, out);
    case BinaryOp::Multiply:
      return apply_blades<BinaryOp::Multiply>(a, b, out);
    case BinaryOp::Divide:
      return apply_blades<BinaryOp::Divide>(a, b, out);
    case BinaryOp::Greater:
      return apply_blades<BinaryOp::Greater>(a, b, out);
    case BinaryOp::Less:
      return apply_blades<BinaryOp::Less>(a, b, out);
    case BinaryOp::Equal:
      return apply_blades<BinaryOp::Equal>(a, b, out);
    case BinaryOp::NotEqual:
      return apply_blades<BinaryOp::NotEqual>(a, b, out);
  }
  return true;
}

// Every kind pair other than two blades.
bool Machine::apply_slow(BinaryOp op, Value&& left, const Value& right, Value& out) {
  Result<Value> result = Value();
  switch (op) {
    case BinaryOp::Add:
      if (left.is(DataType::Scroll) && right.is(DataType::Scroll) &&
          right.as_text().size() > limits_.scroll_bytes - std::min(limits_.scroll_bytes, left.as_text().size())) {
        return fail(Error::runtime(std::string(msg::OUT_OF_MEMORY)));
      }
      result = add_values(std::move(left), right);
      break;
    case BinaryOp::Subtract:
      result = subtract_values(left, right);
      break;
    case BinaryOp::Multiply:
      result = multiply_values(left, right);
      break;
    case BinaryOp::Divide:
      result = divide_values(left, right);
      break;
    case BinaryOp::Greater:
      result = greater_values(left, right);
      break;
    case BinaryOp::Less:
      result = less_values(left, right);
      break;
    case BinaryOp::Equal:
      out = equal_values(left, right);
      return true;
    case BinaryOp::NotEqual:
      out = not_equal_values(left, right);
      return true;
  }
  if (!result.ok()) {
    return fail(std::move(result).error());
  }
  out = std::move(*result);
  return true;
}

bool Machine::apply_unary(UnaryOp op, Value& value) {
  Result<Value> result = op == UnaryOp::Negate ? negate_value(value) : not_value(value);
  if (!result.ok()) {
    return fail(std::move(result).error());
  }
  value = std::move(*result);
  return true;
}

bool Machine::condition_value(const Node& node, bool& out) {
  Value value;
  if (!node.eval(*this, node, value)) {
    return false;
  }
  if (!value.is(DataType::Vow)) [[unlikely]] {
    return fail(Error::runtime(msg::condition_not_vow(type_name(value))));
  }
  out = value.as_vow();
  return true;
}

// ---------------------------------------------------------------------------
// Statements
// ---------------------------------------------------------------------------

Outcome Machine::speak(const Value& value) {
  line_.clear();
  append_display(line_, value);
  line_.push_back('\n');
  Status written = output_.write(line_);
  if (!written.ok()) {
    return failed(std::move(written).error());
  }
  return Outcome::Normal;
}

Outcome Machine::input(Symbol name) {
  const Variable* target = variable(name);
  if (target == nullptr || !target->declared_type) {
    return failed(Error::runtime(msg::input_needs_concrete_type(name_of(name))));
  }
  const DataType type = *target->declared_type;
  Status read = input_.read_line(line_);
  if (!read.ok()) {
    return failed(std::move(read).error());
  }
  if (!is_valid_utf8(line_)) {
    return failed(Error::io_text(std::string(msg::INVALID_UTF8)));
  }
  std::string_view text = line_;
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) {
    text.remove_suffix(1);
  }
  Result<Value> value = parse_input(text, type);
  if (!value.ok()) {
    return failed(std::move(value).error());
  }
  return store(name, std::move(*value)) ? Outcome::Normal : Outcome::Failed;
}

Outcome Machine::marches(const Step& step) {
  Value count;
  if (!step.expr->eval(*this, *step.expr, count)) {
    return Outcome::Failed;
  }
  if (!count.is(DataType::Blade)) {
    return failed(Error::runtime(msg::marches_needs_blade(type_name(count))));
  }
  if (count.as_blade() < 0) {
    return failed(Error::runtime(std::string(msg::MARCHES_NEGATIVE)));
  }
  for (std::int64_t remaining = count.as_blade(); remaining > 0; --remaining) {
    const Outcome outcome = run_scoped(*step.body);
    if (outcome != Outcome::Normal) {
      return outcome;
    }
  }
  return Outcome::Normal;
}

Outcome Machine::repeat_while(const Step& step) {
  std::uint64_t allowance = WHILE_ITERATION_LIMIT;
  while (true) {
    bool holds = false;
    if (!condition(*step.expr, holds)) {
      return Outcome::Failed;
    }
    if (!holds) {
      return Outcome::Normal;
    }
    if (allowance == 0) {
      return failed(Error::runtime(msg::while_limit(WHILE_ITERATION_LIMIT)));
    }
    const Outcome outcome = run_scoped(*step.body);
    if (outcome != Outcome::Normal) {
      return outcome;
    }
    --allowance;
  }
}

// `s = s + t`. Both operands are evaluated as usual, left first; then, when
// the variable and the left operand are the only holders of the text, the
// variable lets go of it so that `t` is appended in place rather than the
// whole of `s` copied.
Outcome Machine::append(const Step& step) {
  const Value* current = value_of(step.name);
  if (current == nullptr) [[unlikely]] {
    fail_unknown_banner(step.name);
    return Outcome::Failed;
  }
  if (current->is(DataType::Blade)) {
    const std::int64_t before = current->as_blade();
    Value right;
    if (!step.operand->eval(*this, *step.operand, right)) {
      return Outcome::Failed;
    }
    if (right.is(DataType::Blade)) {
      return store(step.name, Value::blade(wrapping_add(before, right.as_blade()))) ? Outcome::Normal
                                                                                     : Outcome::Failed;
    }
    Value result;
    if (!apply_slow(BinaryOp::Add, Value::blade(before), right, result)) {
      return Outcome::Failed;
    }
    return store(step.name, std::move(result)) ? Outcome::Normal : Outcome::Failed;
  }
  Value left = *current;
  Value right;
  if (!step.operand->eval(*this, *step.operand, right)) {
    return Outcome::Failed;
  }
  if (left.is(DataType::Scroll) && right.is(DataType::Scroll)) {
    if (Variable* target = variable(step.name); target != nullptr && target->value.shares_text_with(left)) {
      target->value = Value();
    }
  }
  Value result;
  if (!apply_slow(BinaryOp::Add, std::move(left), right, result)) {
    return Outcome::Failed;
  }
  return store(step.name, std::move(result)) ? Outcome::Normal : Outcome::Failed;
}

Outcome Machine::assign(const Step& step) {
  Value value;
  if (!step.expr->eval(*this, *step.expr, value)) {
    return Outcome::Failed;
  }
  return store(step.name, std::move(value)) ? Outcome::Normal : Outcome::Failed;
}

// ---------------------------------------------------------------------------
// Calls
// ---------------------------------------------------------------------------

bool Machine::call(const Node& call, Value& out) {
  // The arguments are evaluated first, left to right, before the function is
  // even looked up. Their values go straight into the binding log, where they
  // become the parameters; until then they are linked to no name.
  const std::uint32_t mark = bindings_.size();
  for (const Node* argument : call.arguments) {
    // A variable is copied straight from where it lives.
    if (argument->eval == eval_variable) {
      if (const Value* value = value_of(argument->name)) {
        bindings_.push_unlinked(Value(*value));
        continue;
      }
    }
    Value value;
    if (!argument->eval(*this, *argument, value)) [[unlikely]] {
      bindings_.truncate(mark);
      return false;
    }
    bindings_.push_unlinked(std::move(value));
  }
  const Function* function = call.target;
  if (function == nullptr) [[unlikely]] {
    function = call.target = this->function(call.name);
  }
  const std::uint32_t count = bindings_.size() - mark;
  if (function == nullptr || function->param_count != count || call_depth_ >= limits_.call_depth ||
      stack_.exhausted()) [[unlikely]] {
    bindings_.truncate(mark);
    return call_failure(call.name, function, count);
  }

  const std::uint32_t outer = enter_scope(mark);
  const Symbol* params = function->params;
  Binding* slots = bindings_.data();
  std::uint32_t* heads = heads_.data();
  for (std::uint32_t i = 0; i < count; ++i) {
    const Symbol param = params[i];
    const std::uint32_t nearest = heads[param.id];
    if (nearest >= mark) [[unlikely]] {
      return duplicate_parameter(mark, i, outer, param);
    }
    slots[mark + i].previous = nearest;
    slots[mark + i].name = param;
    heads[param.id] = mark + i;
  }
  ++call_depth_;
  const Outcome outcome = run(*function->body);
  --call_depth_;
  leave_scope(outer);
  if (outcome == Outcome::Returned) [[likely]] {
    out = std::move(returned_);
    return true;
  }
  out = Value();
  return outcome == Outcome::Normal;
}

// A parameter named twice: the first `linked` parameters are bound, the rest
// of the arguments were never linked to a name.
bool Machine::duplicate_parameter(std::uint32_t mark, std::uint32_t linked, std::uint32_t outer, Symbol param) {
  bindings_.truncate(mark + linked);
  leave_scope(outer);
  return fail(Error::runtime(msg::already_declared(name_of(param))));
}

bool Machine::call_failure(Symbol name, const Function* function, std::size_t argument_count) {
  if (function == nullptr) {
    return fail(Error::runtime(msg::unknown_council(name_of(name))));
  }
  const std::size_t expected = function->decl->params.size();
  if (expected != argument_count) {
    return fail(Error::runtime(msg::wrong_argument_count(name_of(name), expected, argument_count)));
  }
  if (call_depth_ >= limits_.call_depth) {
    return fail(Error::runtime(msg::call_depth_exceeded(limits_.call_depth)));
  }
  return fail(Error::runtime(std::string(msg::CALL_STACK_EXHAUSTED)));
}

}  // namespace skern::code

// ---------------------------------------------------------------------------
// The public interface: failures, allocation failures included, become values
// ---------------------------------------------------------------------------

namespace skern {

namespace {
Error out_of_memory() { return Error::runtime(std::string(msg::OUT_OF_MEMORY)); }
}  // namespace

Interpreter::Interpreter(const Program& program, LineInput& input, TextOutput& output, Limits limits)
    : machine_(std::make_unique<code::Machine>(program, input, output, limits)) {}

Interpreter::~Interpreter() = default;

void Interpreter::push_scope() { machine_->push_scope(); }
void Interpreter::pop_scope() { machine_->pop_scope(); }
std::size_t Interpreter::scope_count() const { return machine_->scope_count(); }

Status Interpreter::declare(Symbol name, std::optional<DataType> declared_type, Value value) {
  try {
    machine_->ensure_symbol(name);
    if (!machine_->declare(name, declared_type, std::move(value))) {
      return machine_->take_error();
    }
    return {};
  } catch (const std::bad_alloc&) {
    return out_of_memory();
  }
}

Status Interpreter::assign(Symbol name, Value value) {
  machine_->ensure_symbol(name);
  if (!machine_->store(name, std::move(value))) {
    return machine_->take_error();
  }
  return {};
}

const Variable* Interpreter::lookup(Symbol name) const {
  machine_->ensure_symbol(name);
  return machine_->variable(name);
}

const FunctionDecl* Interpreter::find_function(Symbol name) const {
  return machine_->program().functions.find(name);
}

Result<Flow> Interpreter::execute_block(const Block& block) {
  try {
    machine_->ensure_symbols();
    switch (machine_->run(*machine_->compile(block))) {
      case code::Outcome::Normal:
        return Flow{};
      case code::Outcome::Returned:
        return Flow{Flow::Kind::Returned, std::exchange(machine_->returned(), Value())};
      case code::Outcome::Failed:
        break;
    }
    return machine_->take_error();
  } catch (const std::bad_alloc&) {
    return out_of_memory();
  }
}

Result<Value> Interpreter::evaluate(const Expr& expr) {
  try {
    machine_->ensure_symbols();
    const code::Node* node = machine_->compile(expr);
    Value value;
    if (!node->eval(*machine_, *node, value)) {
      return machine_->take_error();
    }
    return value;
  } catch (const std::bad_alloc&) {
    return out_of_memory();
  }
}

Result<bool> Interpreter::evaluate_condition(const Expr& condition) {
  try {
    machine_->ensure_symbols();
    bool value = false;
    if (!machine_->condition(*machine_->compile(condition), value)) {
      return machine_->take_error();
    }
    return value;
  } catch (const std::bad_alloc&) {
    return out_of_memory();
  }
}

Result<Value> Interpreter::call_function(Symbol name, const std::vector<Expr>& arguments) {
  try {
    machine_->ensure_symbols();
    code::Node call;
    call.name = name;
    for (const Expr& argument : arguments) {
      call.arguments.push_back(machine_->compile(argument));
    }
    machine_->ensure_symbol(name);
    Value value;
    if (!machine_->call(call, value)) {
      return machine_->take_error();
    }
    return value;
  } catch (const std::bad_alloc&) {
    return out_of_memory();
  }
}

Status run_program(const Program& program, LineInput& input, TextOutput& output, Limits limits) {
  try {
    Interpreter interpreter(program, input, output, limits);
    Result<Flow> flow = interpreter.execute_block(program.main);
    if (!flow.ok()) {
      return std::move(flow).error();
    }
    return {};
  } catch (const std::bad_alloc&) {
    return out_of_memory();
  }
}

}  // namespace skern
