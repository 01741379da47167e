// The interpreter: scopes, statements, expressions and calls, run over the
// compiled form of the program tree.
#include "interpreter/interpreter.h"

#include <algorithm>
#include <array>
#include <limits>
#include <new>

#include "interpreter/machine.h"

namespace skern::code {

namespace {

constexpr Op offset(Op first, std::size_t n) { return static_cast<Op>(static_cast<std::size_t>(first) + n); }
constexpr Op offset(Op first, BinaryOp op) { return offset(first, static_cast<std::size_t>(op)); }

constexpr std::size_t FIRST_COMPARISON = static_cast<std::size_t>(BinaryOp::Greater);
static_assert(static_cast<std::size_t>(BinaryOp::NotEqual) == FIRST_COMPARISON + 3);
static_assert(static_cast<std::size_t>(BinaryOp::Multiply) == 2);

// Instructions are dispatched on their number, so that the operator families
// can be written as offsets from their first member.
constexpr std::uint8_t code_of(Op op) { return static_cast<std::uint8_t>(op); }

constexpr bool is_comparison(BinaryOp op) { return static_cast<std::size_t>(op) >= FIRST_COMPARISON; }
constexpr bool is_update(BinaryOp op) { return static_cast<std::size_t>(op) <= 2; }

// A literal as the value it stands for; none for any other expression.
std::optional<Value> literal_value(const Expr& expr) {
  switch (expr.kind()) {
    case ExprKind::IntegerLiteral:
      return Value::blade(expr.as<IntegerLiteral>().value);
    case ExprKind::FloatLiteral:
      return Value::wine(expr.as<FloatLiteral>().value);
    case ExprKind::StringLiteral:
      return Value::scroll(expr.as<StringLiteral>().value);
    case ExprKind::BoolLiteral:
      return Value::vow(expr.as<BoolLiteral>().value);
    case ExprKind::CharLiteral:
      return Value::sigil(expr.as<CharLiteral>().value);
    default:
      return std::nullopt;
  }
}

const Identifier* identifier(const Expr& expr) { return expr.get_if<Identifier>(); }

// Two blades under an operator known when compiling; false only for a
// division by zero.
template <BinaryOp Op>
bool blades(std::int64_t a, std::int64_t b, Value& out) {
  if constexpr (Op == BinaryOp::Add) {
    out.set_blade(wrapping_add(a, b));
  } else if constexpr (Op == BinaryOp::Subtract) {
    out.set_blade(wrapping_sub(a, b));
  } else if constexpr (Op == BinaryOp::Multiply) {
    out.set_blade(wrapping_mul(a, b));
  } else if constexpr (Op == BinaryOp::Divide) {
    if (b == 0) [[unlikely]] {
      return false;
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
std::int64_t update_blades(std::int64_t a, std::int64_t b) {
  if constexpr (Op == BinaryOp::Add) {
    return wrapping_add(a, b);
  } else if constexpr (Op == BinaryOp::Subtract) {
    return wrapping_sub(a, b);
  } else {
    return wrapping_mul(a, b);
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Compiling
// ---------------------------------------------------------------------------

// Statements compile with a register floor: the registers from it up are
// free, the ones below hold loop counters of enclosing statements. An
// expression compiles into one register, using the ones above it for its
// operands.
class Machine::Compiler {
 public:
  Compiler(Unit& unit, bool counted) : unit_(unit), counted_(counted) {}

  void block(const Block& block, std::uint32_t floor, bool scoped) {
    const bool scope = scoped && block.declares();
    if (scope) {
      emit(Op::EnterScope);
    }
    for (const Statement& statement : block) {
      this->statement(statement, floor);
    }
    if (scope) {
      emit(Op::LeaveScope);
    }
  }

  void expression(const Expr& expr, std::uint32_t dest) {
    use(dest);
    if (std::optional<Value> value = literal_value(expr)) {
      emit(Op::LoadConstant, dest).index = constant(std::move(*value));
      return;
    }
    switch (expr.kind()) {
      case ExprKind::Identifier:
        emit(Op::LoadVariable, dest).name = expr.as<Identifier>().name;
        return;
      case ExprKind::Unary: {
        // Gather the whole run in a loop; the innermost operator applies first.
        std::vector<UnaryOp> ops;
        const Expr* operand = &expr;
        while (const auto* unary = operand->get_if<Unary>()) {
          ops.push_back(unary->op);
          operand = unary->operand;
        }
        std::reverse(ops.begin(), ops.end());
        expression(*operand, dest);
        for (const UnaryOp op : ops) {
          emit(Op::Unary, dest).sub = static_cast<std::uint8_t>(op);
        }
        return;
      }
      case ExprKind::Binary:
        binary(expr.as<Binary>(), dest);
        return;
      case ExprKind::Call: {
        const Call& called = expr.as<Call>();
        call(called.name, called.arguments, dest);
        return;
      }
      default:
        return;
    }
  }

  // The arguments into the registers from `dest` up, then the call.
  void call(Symbol name, const std::vector<Expr>& arguments, std::uint32_t dest) {
    use(dest);
    std::uint32_t reg = dest;
    for (const Expr& argument : arguments) {
      expression(argument, reg++);
    }
    Instr& instr = emit(Op::Call, dest);
    instr.index = reg - dest;
    instr.name = name;
  }

  void finish(Op last, std::uint32_t a = 0) { emit(last, a); }

 private:
  Instr& emit(Op op, std::uint32_t a = 0) {
    Instr& instr = unit_.code.emplace_back();
    instr.op = op;
    instr.a = a;
    return instr;
  }
  [[nodiscard]] std::uint32_t here() const { return static_cast<std::uint32_t>(unit_.code.size()); }
  void land(std::uint32_t jump) { unit_.code[jump].target = here(); }
  std::uint32_t constant(Value value) {
    unit_.constants.push_back(std::move(value));
    return static_cast<std::uint32_t>(unit_.constants.size() - 1);
  }
  void use(std::uint32_t reg) { unit_.registers = std::max(unit_.registers, reg + 1); }

  // A left-grouped run "a + b - c ..." in a loop, so that no run length
  // deepens the recursion; the innermost operator applies first.
  void binary(const Binary& top, std::uint32_t dest) {
    std::vector<const Binary*> spine;
    for (const Binary* step = &top; step != nullptr; step = step->left->get_if<Binary>()) {
      spine.push_back(step);
    }
    std::reverse(spine.begin(), spine.end());
    const Binary& first = *spine.front();
    std::size_t next = 0;
    if (const Identifier* left = identifier(*first.left)) {
      if (const Identifier* right = identifier(*first.right)) {
        Instr& instr = emit(offset(Op::BinaryVariableVariableAdd, first.op), dest);
        instr.name = left->name;
        instr.second = right->name;
        next = 1;
      } else if (std::optional<Value> value = literal_value(*first.right)) {
        Instr& instr = emit(offset(Op::BinaryVariableConstantAdd, first.op), dest);
        instr.name = left->name;
        instr.index = constant(std::move(*value));
        next = 1;
      }
    }
    if (next == 0) {
      expression(*first.left, dest);
    }
    for (std::size_t i = next; i < spine.size(); ++i) {
      const Binary& step = *spine[i];
      if (std::optional<Value> value = literal_value(*step.right)) {
        emit(offset(Op::BinaryConstantAdd, step.op), dest).index = constant(std::move(*value));
      } else {
        expression(*step.right, dest + 1);
        emit(offset(Op::BinaryAdd, step.op), dest);
      }
    }
  }

  // The jump taken when the condition does not hold, to be landed.
  std::uint32_t condition(const Expr& condition, std::uint32_t floor) {
    if (const auto* binary = condition.get_if<Binary>(); binary != nullptr && is_comparison(binary->op)) {
      const std::size_t cmp = static_cast<std::size_t>(binary->op) - FIRST_COMPARISON;
      if (const Identifier* left = identifier(*binary->left)) {
        if (const Identifier* right = identifier(*binary->right)) {
          const std::uint32_t jump = here();
          Instr& instr = emit(offset(Op::JumpUnlessVariableVariableGreater, cmp), floor);
          instr.name = left->name;
          instr.second = right->name;
          return jump;
        }
        if (std::optional<Value> value = literal_value(*binary->right)) {
          const std::uint32_t index = constant(std::move(*value));
          const std::uint32_t jump = here();
          Instr& instr = emit(offset(Op::JumpUnlessVariableConstantGreater, cmp), floor);
          instr.name = left->name;
          instr.index = index;
          return jump;
        }
      }
    }
    expression(condition, floor);
    const std::uint32_t jump = here();
    emit(Op::JumpUnless, floor);
    return jump;
  }

  void statement(const Statement& statement, std::uint32_t floor) {
    if (counted_) {
      emit(Op::Step);
    }
    use(floor);
    switch (statement.kind()) {
      case StatementKind::Declare: {
        const auto& declare = statement.as<Declare>();
        expression(declare.value, floor);
        Instr& instr = emit(Op::Declare, floor);
        instr.name = declare.name;
        instr.sub = static_cast<std::uint8_t>(declare.type);
        return;
      }
      case StatementKind::Assign:
        assign(statement.as<Assign>(), floor);
        return;
      case StatementKind::Input:
        emit(Op::Input).name = statement.as<Input>().name;
        return;
      case StatementKind::Speak:
        expression(statement.as<Speak>().value, floor);
        emit(Op::Speak, floor);
        return;
      case StatementKind::Return:
        if (const Identifier* variable = identifier(statement.as<Return>().value)) {
          emit(Op::ReturnVariable).name = variable->name;
          return;
        }
        expression(statement.as<Return>().value, floor);
        emit(Op::Return, floor);
        return;
      case StatementKind::If: {
        const auto& branch = statement.as<If>();
        const std::uint32_t otherwise = condition(branch.condition, floor);
        block(branch.then_block, floor, true);
        if (branch.else_block.size() == 0) {
          land(otherwise);
          return;
        }
        const std::uint32_t done = here();
        emit(Op::Jump);
        land(otherwise);
        block(branch.else_block, floor, true);
        land(done);
        return;
      }
      case StatementKind::RealmMarches: {
        const auto& loop = statement.as<RealmMarches>();
        expression(loop.count, floor);
        const std::uint32_t start = here();
        emit(Op::MarchesStart, floor);
        const std::uint32_t body = here();
        block(loop.body, floor + 1, true);
        emit(Op::MarchesAgain, floor).target = body;
        land(start);
        return;
      }
      case StatementKind::While: {
        const auto& loop = statement.as<While>();
        emit(Op::WhileStart, floor);
        const std::uint32_t top = here();
        const std::uint32_t done = condition(loop.condition, floor + 1);
        emit(Op::WhileNext, floor);
        block(loop.body, floor + 1, true);
        emit(Op::Jump).target = top;
        land(done);
        return;
      }
      case StatementKind::ExprStatement:
        expression(statement.as<ExprStatement>().expression, floor);
        emit(Op::Discard, floor);
        return;
    }
  }

  void assign(const Assign& assign, std::uint32_t floor) {
    if (std::optional<Value> value = literal_value(assign.value)) {
      Instr& instr = emit(Op::StoreConstant);
      instr.name = assign.name;
      instr.index = constant(std::move(*value));
      return;
    }
    // `x = x op e`: updated in place where the kinds allow.
    const auto* binary = assign.value.get_if<Binary>();
    const Identifier* left = binary == nullptr ? nullptr : identifier(*binary->left);
    if (left != nullptr && left->name == assign.name && is_update(binary->op)) {
      if (const Identifier* right = identifier(*binary->right)) {
        Instr& instr = emit(offset(Op::UpdateVariableAdd, binary->op));
        instr.name = assign.name;
        instr.second = right->name;
        return;
      }
      if (std::optional<Value> value = literal_value(*binary->right)) {
        Instr& instr = emit(offset(Op::UpdateConstantAdd, binary->op));
        instr.name = assign.name;
        instr.index = constant(std::move(*value));
        return;
      }
      use(floor + 1);
      emit(Op::LoadVariable, floor).name = assign.name;
      expression(*binary->right, floor + 1);
      emit(offset(Op::UpdateAdd, binary->op), floor).name = assign.name;
      return;
    }
    expression(assign.value, floor);
    emit(Op::Store, floor).name = assign.name;
  }

  Unit& unit_;
  bool counted_;
};

const Unit* Machine::compile_block(const Block& block) {
  Unit& unit = units_.emplace_back();
  Compiler compiler(unit, limits_.step_budget != 0);
  compiler.block(block, 0, false);
  compiler.finish(Op::End);
  return &unit;
}

const Unit* Machine::compile_expression(const Expr& expr) {
  Unit& unit = units_.emplace_back();
  Compiler compiler(unit, false);
  compiler.expression(expr, 0);
  compiler.finish(Op::Halt, 0);
  return &unit;
}

const Unit* Machine::compile_call(Symbol name, const std::vector<Expr>& arguments) {
  Unit& unit = units_.emplace_back();
  Compiler compiler(unit, false);
  compiler.call(name, arguments, 0);
  compiler.finish(Op::Halt, 0);
  return &unit;
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
  Unit& unit = units_.emplace_back();
  Compiler compiler(unit, limits_.step_budget != 0);
  compiler.block(decl->body, 0, false);  // the call's own scope holds the body's variables
  compiler.finish(Op::ReturnVoid);
  functions_[name.id] =
      Function{decl, &unit, decl->params.data(), static_cast<std::uint32_t>(decl->params.size())};
  return &*functions_[name.id];
}

// ---------------------------------------------------------------------------
// Scopes and variables
// ---------------------------------------------------------------------------

Machine::Machine(const Program& program, LineInput& input, TextOutput& output, Limits limits)
    : program_(program),
      input_(input),
      output_(output),
      limits_(limits),
      heads_(program.symbols.size(), 0),
      registers_(64),
      functions_(program.symbols.size()),
      steps_left_(limits.step_budget) {
  bindings_.push({}, std::nullopt, Symbol{}, 0);  // index 0 means "no binding"
}

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

// Whether two scrolls joined stay within the scroll cap; longer ones fail
// as out of memory.
bool Machine::joinable(const Value& left, const Value& right) {
  if (right.as_text().size() > limits_.scroll_bytes - std::min(limits_.scroll_bytes, left.as_text().size())) {
    return fail(Error::runtime(std::string(msg::OUT_OF_MEMORY)));
  }
  return true;
}

// Every kind pair other than two blades.
bool Machine::apply_slow(BinaryOp op, Value&& left, const Value& right, Value& out) {
  Result<Value> result = Value();
  switch (op) {
    case BinaryOp::Add:
      if (left.is(DataType::Scroll) && right.is(DataType::Scroll) && !joinable(left, right)) {
        return false;
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

// `left` = `left` op `right`, for any kinds.
bool Machine::apply_binary(BinaryOp op, Value& left, const Value& right) {
  Value result;
  if (!apply_slow(op, std::move(left), right, result)) {
    return false;
  }
  left = std::move(result);
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

// `x = left op right` where `left` is the value x had before `right` was
// evaluated. When x and `left` are the only holders of a text, x lets go of
// it so that `right` is appended in place rather than the whole of x copied.
bool Machine::update_slow(BinaryOp op, Symbol name, Value&& left, const Value& right) {
  if (op == BinaryOp::Add && left.is(DataType::Scroll) && right.is(DataType::Scroll)) {
    // Too long a result fails before x lets go of its text, so x keeps it.
    if (!joinable(left, right)) {
      return false;
    }
    if (Variable* target = variable(name); target != nullptr && target->value.shares_text_with(left)) {
      target->value = Value();
    }
  }
  Value result;
  if (!apply_slow(op, std::move(left), right, result)) {
    return false;
  }
  return store(name, std::move(result));
}

// ---------------------------------------------------------------------------
// Statements with more to them
// ---------------------------------------------------------------------------

bool Machine::speak(Value& value) {
  line_.clear();
  append_display(line_, value);
  line_.push_back('\n');
  value.reset();
  Status written = output_.write(line_);
  if (!written.ok()) {
    return fail(std::move(written).error());
  }
  return true;
}

bool Machine::input(Symbol name) {
  const Variable* target = variable(name);
  if (target == nullptr || !target->declared_type) {
    return fail(Error::runtime(msg::input_needs_concrete_type(name_of(name))));
  }
  const DataType type = *target->declared_type;
  Status read = input_.read_line(line_);
  if (!read.ok()) {
    return fail(std::move(read).error());
  }
  if (!is_valid_utf8(line_)) {
    return fail(Error::io_text(std::string(msg::INVALID_UTF8)));
  }
  std::string_view text = line_;
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) {
    text.remove_suffix(1);
  }
  Result<Value> value = parse_input(text, type);
  if (!value.ok()) {
    return fail(std::move(value).error());
  }
  return store(name, std::move(*value));
}

// ---------------------------------------------------------------------------
// Calls
// ---------------------------------------------------------------------------

bool Machine::call_failure(Symbol name, const Function* function, std::size_t argument_count) {
  if (function == nullptr) {
    return fail(Error::runtime(msg::unknown_council(name_of(name))));
  }
  const std::size_t expected = function->decl->params.size();
  if (expected != argument_count) {
    return fail(Error::runtime(msg::wrong_argument_count(name_of(name), expected, argument_count)));
  }
  return fail(Error::runtime(msg::call_depth_exceeded(limits_.call_depth)));
}

void Machine::reset_registers(std::uint32_t from) {
  for (std::size_t i = from; i < registers_.size(); ++i) {
    registers_[i].reset();
  }
}

// ---------------------------------------------------------------------------
// Running
// ---------------------------------------------------------------------------

Outcome Machine::run(const Unit& unit) {
  const std::size_t scopes = outer_starts_.size();
  if (registers_.size() < unit.registers) {
    registers_.resize(unit.registers);
  }
  Outcome outcome = Outcome::Failed;
  try {
    frames_.push_back(Frame{nullptr, nullptr, 0, static_cast<std::uint32_t>(scopes), scope_start_});
    outcome = execute(&unit, 0);
  } catch (...) {
    unwind_frames();
    reset_registers(0);
    throw;
  }
  if (outcome == Outcome::Failed) {
    unwind_frames();
  }
  reset_registers(0);
  return outcome;
}

// The arguments are already in the registers from the call's own register
// up, evaluated left to right before the function is even looked up. They
// move into the binding log, where they become the parameters in a scope of
// the call's own, and the callee's instructions run above the caller's
// registers.
[[gnu::always_inline]] inline bool Machine::call(const Instr*& pc, const Unit*& unit, std::uint32_t& base) {
  const Instr& instr = *pc;
  const Function* function = instr.function;
  if (function == nullptr) [[unlikely]] {
    function = instr.function = this->function(instr.name);
  }
  const std::uint32_t count = instr.index;
  if (function == nullptr || function->param_count != count || call_depth_ >= limits_.call_depth) [[unlikely]] {
    return call_failure(instr.name, function, count);
  }
  bindings_.reserve(count);  // so that no parameter is bound when memory runs out
  const std::uint32_t mark = bindings_.size();
  Value* arguments = registers_.data() + base + instr.a;
  const Symbol* params = function->params;
  std::uint32_t* heads = heads_.data();
  for (std::uint32_t i = 0; i < count; ++i) {
    const Symbol param = params[i];
    const std::uint32_t nearest = heads[param.id];
    if (nearest >= mark) [[unlikely]] {
      bindings_.unwind(mark, heads);
      return fail(Error::runtime(msg::already_declared(name_of(param))));
    }
    heads[param.id] = bindings_.push(std::move(arguments[i]), std::nullopt, param, nearest);
  }
  frames_.push_back(Frame{unit, pc + 1, base, static_cast<std::uint32_t>(outer_starts_.size()), scope_start_});
  scope_start_ = mark;
  ++call_depth_;
  base += unit->registers;
  unit = function->unit;
  const std::size_t needed = std::size_t{base} + unit->registers;
  if (needed > registers_.size()) [[unlikely]] {
    grow_registers(needed);
  }
  pc = unit->code.data();
  return true;
}

// Ends the innermost call, closing its scopes, and resumes its caller with
// the call's value; false when it was the unit run from
// outside that returned.
[[gnu::always_inline]] inline bool Machine::return_from_call(const Instr*& pc, const Unit*& unit, std::uint32_t& base,
                                                             Value&& value) {
  const Frame& frame = frames_.back();
  if (outer_starts_.size() != frame.scopes) {
    leave_scopes(frame.scopes);
  }
  if (frame.unit == nullptr) {
    returned_ = std::move(value);
    frames_.pop_back();
    return false;
  }
  // The callee's registers need no clearing: every instruction that takes a
  // register's value moves it out or clears it, so between statements they
  // hold no text.
  bindings_.unwind(scope_start_, heads_.data());
  scope_start_ = frame.outer_start;
  --call_depth_;
  unit = frame.unit;
  base = frame.base;
  pc = frame.resume;
  frames_.pop_back();
  registers_[std::size_t{base} + (pc - 1)->a] = std::move(value);  // the call's own register
  return true;
}

void Machine::grow_registers(std::size_t needed) { registers_.resize(std::max(registers_.size() * 2, needed)); }

// After a failure: every call and scope opened since the unit run from
// outside began is closed again, innermost first.
void Machine::unwind_frames() {
  while (!frames_.empty()) {
    const Frame& frame = frames_.back();
    leave_scopes(frame.scopes);
    if (frame.unit != nullptr) {
      bindings_.unwind(scope_start_, heads_.data());
      scope_start_ = frame.outer_start;
    }
    frames_.pop_back();
  }
  call_depth_ = 0;
}

// `left` = `left` op `right`, where `left` is a register: a text in it may
// grow in place.
template <BinaryOp Op>
[[gnu::always_inline]] inline bool Machine::operate_in_place(Value& left, const Value& right) {
  if (left.is(DataType::Blade) && right.is(DataType::Blade)) [[likely]] {
    return blades<Op>(left.as_blade(), right.as_blade(), left) || fail_divide_by_zero();
  }
  return apply_binary(Op, left, right);
}

// `out` = `left` op `right`, where `left` is a variable, read in place.
template <BinaryOp Op>
[[gnu::always_inline]] inline bool Machine::operate(const Value& left, const Value& right, Value& out) {
  if (left.is(DataType::Blade) && right.is(DataType::Blade)) [[likely]] {
    return blades<Op>(left.as_blade(), right.as_blade(), out) || fail_divide_by_zero();
  }
  return apply_slow(Op, Value(left), right, out);
}

// The vow of a comparison of two variables' values, or of one and a
// constant; operands that are not both blades compare the general way.
template <BinaryOp Op>
[[gnu::always_inline]] inline bool Machine::compare(const Value& left, const Value& right, bool& holds) {
  if (left.is(DataType::Blade) && right.is(DataType::Blade)) [[likely]] {
    holds = compare_blades<Op>(left.as_blade(), right.as_blade());
    return true;
  }
  Value result;
  if (!apply_slow(Op, Value(left), right, result)) {
    return false;
  }
  holds = result.as_vow();
  return true;
}

// NOLINTBEGIN(cppcoreguidelines-macro-usage,bugprone-macro-parentheses): the
// handlers of each operator family are written once, as macros.

// Instructions are dispatched with computed gotos where the compiler has
// them: each handler ends in a jump of its own, which the processor predicts
// far better than one shared jump. Elsewhere a switch does the same.
#ifndef SKERN_THREADED
#if defined(__GNUC__)
#define SKERN_THREADED 1
#else
#define SKERN_THREADED 0
#endif
#endif

#if SKERN_THREADED
#define SKERN_HANDLER(name) handle_##name:
#define SKERN_NEXT() goto* dispatch[code_of(pc->op)]
#else
#define SKERN_HANDLER(name) case Op::name:
#define SKERN_NEXT() continue
#endif

// One function, so that the dispatch jumps stay within it; its size is that
// of the instruction set.
// NOLINTNEXTLINE(readability-function-size,readability-function-cognitive-complexity)
Outcome Machine::execute(const Unit* unit, std::uint32_t base) {
#if SKERN_THREADED
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#define SKERN_LABEL(name) &&handle_##name,
  static constexpr std::array<void*, INSTRUCTION_COUNT> dispatch = {SKERN_INSTRUCTIONS(SKERN_LABEL)};
#undef SKERN_LABEL
#endif
  const Instr* pc = unit->code.data();
  Value* r = registers_.data() + base;
  const Value* constants = unit->constants.data();
  // The binding log and the name heads, kept at hand; they move only when a
  // declaration or a call grows the log.
  Binding* slots = bindings_.data();
  const std::uint32_t* heads = heads_.data();
  const auto nearest_value = [&](Symbol name) -> Value* {
    const std::uint32_t nearest = heads[name.id];
    return nearest == 0 ? nullptr : &slots[nearest].variable.value;
  };
  const auto refresh = [&] {
    slots = bindings_.data();
    heads = heads_.data();
  };
  // Into a call or back from one: the unit, its constants and registers change.
  const auto switch_unit = [&] {
    r = registers_.data() + base;
    constants = unit->constants.data();
  };

#if SKERN_THREADED
  SKERN_NEXT();
#else
  while (true) {
    switch (pc->op) {
#endif

  SKERN_HANDLER(LoadConstant) {
    r[pc->a] = constants[pc->index];
    ++pc;
    SKERN_NEXT();
  }
  SKERN_HANDLER(LoadVariable) {
    const Value* value = nearest_value(pc->name);
    if (value == nullptr) [[unlikely]] {
      fail_unknown_banner(pc->name);
      return Outcome::Failed;
    }
    r[pc->a] = *value;
    ++pc;
    SKERN_NEXT();
  }
  SKERN_HANDLER(Unary) {
    if (!apply_unary(static_cast<UnaryOp>(pc->sub), r[pc->a])) {
      return Outcome::Failed;
    }
    ++pc;
    SKERN_NEXT();
  }
  SKERN_HANDLER(Call) {
    if (!call(pc, unit, base)) {
      return Outcome::Failed;
    }
    switch_unit();
    refresh();
    SKERN_NEXT();
  }

#define SKERN_BINARY(OP)                                            \
  SKERN_HANDLER(Binary##OP) {                                       \
    if (!operate_in_place<BinaryOp::OP>(r[pc->a], r[pc->a + 1])) {  \
      return Outcome::Failed;                                       \
    }                                                               \
    if (r[pc->a + 1].is(DataType::Scroll)) {                        \
      r[pc->a + 1].reset();                                         \
    }                                                               \
    ++pc;                                                           \
    SKERN_NEXT();                                                   \
  }
  SKERN_BINARY_OPERATORS(SKERN_BINARY)
#undef SKERN_BINARY

#define SKERN_BINARY_CONSTANT(OP)                                          \
  SKERN_HANDLER(BinaryConstant##OP) {                                      \
    if (!operate_in_place<BinaryOp::OP>(r[pc->a], constants[pc->index])) { \
      return Outcome::Failed;                                              \
    }                                                                      \
    ++pc;                                                                  \
    SKERN_NEXT();                                                          \
  }
  SKERN_BINARY_OPERATORS(SKERN_BINARY_CONSTANT)
#undef SKERN_BINARY_CONSTANT

#define SKERN_BINARY_VARIABLE_CONSTANT(OP)                                   \
  SKERN_HANDLER(BinaryVariableConstant##OP) {                                \
    const Value* left = nearest_value(pc->name);                             \
    if (left == nullptr) [[unlikely]] {                                      \
      fail_unknown_banner(pc->name);                                         \
      return Outcome::Failed;                                                \
    }                                                                        \
    if (!operate<BinaryOp::OP>(*left, constants[pc->index], r[pc->a])) {     \
      return Outcome::Failed;                                                \
    }                                                                        \
    ++pc;                                                                    \
    SKERN_NEXT();                                                            \
  }
  SKERN_BINARY_OPERATORS(SKERN_BINARY_VARIABLE_CONSTANT)
#undef SKERN_BINARY_VARIABLE_CONSTANT

#define SKERN_BINARY_VARIABLE_VARIABLE(OP)                  \
  SKERN_HANDLER(BinaryVariableVariable##OP) {               \
    const Value* left = nearest_value(pc->name);            \
    const Value* right = nearest_value(pc->second);         \
    if (left == nullptr || right == nullptr) [[unlikely]] { \
      fail_unknown_banner(left == nullptr ? pc->name : pc->second); \
      return Outcome::Failed;                               \
    }                                                       \
    if (!operate<BinaryOp::OP>(*left, *right, r[pc->a])) {  \
      return Outcome::Failed;                               \
    }                                                       \
    ++pc;                                                   \
    SKERN_NEXT();                                           \
  }
  SKERN_BINARY_OPERATORS(SKERN_BINARY_VARIABLE_VARIABLE)
#undef SKERN_BINARY_VARIABLE_VARIABLE

  SKERN_HANDLER(JumpUnless) {
    const Value& value = r[pc->a];
    if (!value.is(DataType::Vow)) [[unlikely]] {
      fail(Error::runtime(msg::condition_not_vow(type_name(value))));
      return Outcome::Failed;
    }
    pc = value.as_vow() ? pc + 1 : unit->code.data() + pc->target;
    SKERN_NEXT();
  }

#define SKERN_JUMP_VARIABLE_CONSTANT(OP)                                     \
  SKERN_HANDLER(JumpUnlessVariableConstant##OP) {                            \
    const Value* left = nearest_value(pc->name);                             \
    bool holds = false;                                                      \
    if (left == nullptr) [[unlikely]] {                                      \
      fail_unknown_banner(pc->name);                                         \
      return Outcome::Failed;                                                \
    }                                                                        \
    if (!compare<BinaryOp::OP>(*left, constants[pc->index], holds)) {        \
      return Outcome::Failed;                                                \
    }                                                                        \
    pc = holds ? pc + 1 : unit->code.data() + pc->target;                    \
    SKERN_NEXT();                                                            \
  }
  SKERN_COMPARISON_OPERATORS(SKERN_JUMP_VARIABLE_CONSTANT)
#undef SKERN_JUMP_VARIABLE_CONSTANT

#define SKERN_JUMP_VARIABLE_VARIABLE(OP)                                     \
  SKERN_HANDLER(JumpUnlessVariableVariable##OP) {                            \
    const Value* left = nearest_value(pc->name);                             \
    const Value* right = nearest_value(pc->second);                          \
    bool holds = false;                                                      \
    if (left == nullptr || right == nullptr) [[unlikely]] {                  \
      fail_unknown_banner(left == nullptr ? pc->name : pc->second);          \
      return Outcome::Failed;                                                \
    }                                                                        \
    if (!compare<BinaryOp::OP>(*left, *right, holds)) {                      \
      return Outcome::Failed;                                                \
    }                                                                        \
    pc = holds ? pc + 1 : unit->code.data() + pc->target;                    \
    SKERN_NEXT();                                                            \
  }
  SKERN_COMPARISON_OPERATORS(SKERN_JUMP_VARIABLE_VARIABLE)
#undef SKERN_JUMP_VARIABLE_VARIABLE

  SKERN_HANDLER(Jump) {
    pc = unit->code.data() + pc->target;
    SKERN_NEXT();
  }

  SKERN_HANDLER(Declare) {
    const auto type = static_cast<DataType>(pc->sub);
    Value& value = r[pc->a];
    if (value.type() != type) {
      Result<Value> stored = coerce_for_store(std::move(value), type);
      if (!stored.ok()) {
        fail(std::move(stored).error());
        return Outcome::Failed;
      }
      value = std::move(*stored);
    }
    if (!declare(pc->name, type, std::move(value))) {
      return Outcome::Failed;
    }
    refresh();
    ++pc;
    SKERN_NEXT();
  }
  SKERN_HANDLER(Store) {
    Value& value = r[pc->a];
    Value* target = nearest_value(pc->name);
    if (target != nullptr && target->is(DataType::Blade) && value.is(DataType::Blade)) [[likely]] {
      target->set_blade(value.as_blade());
    } else if (!store(pc->name, std::move(value))) {
      return Outcome::Failed;
    }
    ++pc;
    SKERN_NEXT();
  }
  SKERN_HANDLER(StoreConstant) {
    const Value& value = constants[pc->index];
    Value* target = nearest_value(pc->name);
    if (target != nullptr && target->is(DataType::Blade) && value.is(DataType::Blade)) [[likely]] {
      target->set_blade(value.as_blade());
    } else if (!store(pc->name, Value(value))) {
      return Outcome::Failed;
    }
    ++pc;
    SKERN_NEXT();
  }

// A variable holding a blade takes a blade in place: only a variable of no
// declared type or of type blade can hold one.
#define SKERN_UPDATE(OP)                                                                    \
  SKERN_HANDLER(Update##OP) {                                                               \
    Value& left = r[pc->a];                                                                 \
    Value& right = r[pc->a + 1];                                                            \
    Value* target = nearest_value(pc->name);                                                \
    if (target != nullptr && target->is(DataType::Blade) && left.is(DataType::Blade) &&     \
        right.is(DataType::Blade)) [[likely]] {                                             \
      target->set_blade(update_blades<BinaryOp::OP>(left.as_blade(), right.as_blade()));   \
    } else {                                                                                \
      if (!update_slow(BinaryOp::OP, pc->name, std::move(left), right)) {                   \
        return Outcome::Failed;                                                             \
      }                                                                                     \
      right.reset();                                                                        \
    }                                                                                       \
    ++pc;                                                                                   \
    SKERN_NEXT();                                                                           \
  }
  SKERN_UPDATE_OPERATORS(SKERN_UPDATE)
#undef SKERN_UPDATE

#define SKERN_UPDATE_CONSTANT(OP)                                                           \
  SKERN_HANDLER(UpdateConstant##OP) {                                                       \
    Value* target = nearest_value(pc->name);                                                \
    const Value& right = constants[pc->index];                                              \
    if (target != nullptr && target->is(DataType::Blade) && right.is(DataType::Blade)) [[likely]] { \
      target->set_blade(update_blades<BinaryOp::OP>(target->as_blade(), right.as_blade())); \
    } else {                                                                                \
      if (target == nullptr) {                                                              \
        fail_unknown_banner(pc->name);                                                      \
        return Outcome::Failed;                                                             \
      }                                                                                     \
      if (!update_slow(BinaryOp::OP, pc->name, Value(*target), right)) {                    \
        return Outcome::Failed;                                                             \
      }                                                                                     \
    }                                                                                       \
    ++pc;                                                                                   \
    SKERN_NEXT();                                                                           \
  }
  SKERN_UPDATE_OPERATORS(SKERN_UPDATE_CONSTANT)
#undef SKERN_UPDATE_CONSTANT

#define SKERN_UPDATE_VARIABLE(OP)                                                           \
  SKERN_HANDLER(UpdateVariable##OP) {                                                       \
    Value* target = nearest_value(pc->name);                                                \
    const Value* right = nearest_value(pc->second);                                         \
    if (target != nullptr && right != nullptr && target->is(DataType::Blade) &&             \
        right->is(DataType::Blade)) [[likely]] {                                            \
      target->set_blade(update_blades<BinaryOp::OP>(target->as_blade(), right->as_blade())); \
    } else {                                                                                \
      if (target == nullptr) {                                                              \
        fail_unknown_banner(pc->name);                                                      \
        return Outcome::Failed;                                                             \
      }                                                                                     \
      if (right == nullptr) {                                                               \
        fail_unknown_banner(pc->second);                                                    \
        return Outcome::Failed;                                                             \
      }                                                                                     \
      Value other = *right;                                                                 \
      if (!update_slow(BinaryOp::OP, pc->name, Value(*target), other)) {                    \
        return Outcome::Failed;                                                             \
      }                                                                                     \
    }                                                                                       \
    ++pc;                                                                                   \
    SKERN_NEXT();                                                                           \
  }
  SKERN_UPDATE_OPERATORS(SKERN_UPDATE_VARIABLE)
#undef SKERN_UPDATE_VARIABLE

  SKERN_HANDLER(Speak) {
    if (!speak(r[pc->a])) {
      return Outcome::Failed;
    }
    ++pc;
    SKERN_NEXT();
  }
  SKERN_HANDLER(Input) {
    if (!input(pc->name)) {
      return Outcome::Failed;
    }
    ++pc;
    SKERN_NEXT();
  }
  SKERN_HANDLER(Discard) {
    r[pc->a].reset();
    ++pc;
    SKERN_NEXT();
  }
  // A call's value goes to the caller's register; when the unit run from
  // outside returns, the run is over.
  SKERN_HANDLER(Return) {
    if (!return_from_call(pc, unit, base, std::move(r[pc->a]))) {
      return Outcome::Returned;
    }
    switch_unit();
    refresh();
    SKERN_NEXT();
  }
  SKERN_HANDLER(ReturnVariable) {
    const Value* variable = nearest_value(pc->name);
    if (variable == nullptr) [[unlikely]] {
      fail_unknown_banner(pc->name);
      return Outcome::Failed;
    }
    if (!return_from_call(pc, unit, base, Value(*variable))) {
      return Outcome::Returned;
    }
    switch_unit();
    refresh();
    SKERN_NEXT();
  }
  SKERN_HANDLER(ReturnVoid) {
    if (!return_from_call(pc, unit, base, Value())) {
      return Outcome::Returned;
    }
    switch_unit();
    refresh();
    SKERN_NEXT();
  }
  SKERN_HANDLER(End) {
    frames_.pop_back();
    return Outcome::Normal;
  }
  SKERN_HANDLER(Halt) {
    result_ = std::move(r[pc->a]);
    frames_.pop_back();
    return Outcome::Normal;
  }
  SKERN_HANDLER(EnterScope) {
    enter_scope();
    ++pc;
    SKERN_NEXT();
  }
  SKERN_HANDLER(LeaveScope) {
    leave_scope();
    ++pc;
    SKERN_NEXT();
  }
  SKERN_HANDLER(MarchesStart) {
    const Value& count = r[pc->a];
    if (!count.is(DataType::Blade)) {
      fail(Error::runtime(msg::marches_needs_blade(type_name(count))));
      return Outcome::Failed;
    }
    if (count.as_blade() < 0) {
      fail(Error::runtime(std::string(msg::MARCHES_NEGATIVE)));
      return Outcome::Failed;
    }
    if (count.as_blade() == 0) {
      pc = unit->code.data() + pc->target;
      SKERN_NEXT();
    }
    r[pc->a].set_blade(count.as_blade() - 1);
    ++pc;
    SKERN_NEXT();
  }
  SKERN_HANDLER(MarchesAgain) {
    Value& remaining = r[pc->a];
    if (remaining.as_blade() > 0) {
      remaining.set_blade(remaining.as_blade() - 1);
      pc = unit->code.data() + pc->target;
      SKERN_NEXT();
    }
    ++pc;
    SKERN_NEXT();
  }
  SKERN_HANDLER(WhileStart) {
    r[pc->a].set_blade(static_cast<std::int64_t>(WHILE_ITERATION_LIMIT));
    ++pc;
    SKERN_NEXT();
  }
  SKERN_HANDLER(WhileNext) {
    Value& allowance = r[pc->a];
    if (allowance.as_blade() == 0) {
      fail(Error::runtime(msg::while_limit(WHILE_ITERATION_LIMIT)));
      return Outcome::Failed;
    }
    allowance.set_blade(allowance.as_blade() - 1);
    ++pc;
    SKERN_NEXT();
  }
  SKERN_HANDLER(Step) {
    if (!spend_step()) {
      return Outcome::Failed;
    }
    ++pc;
    SKERN_NEXT();
  }

#if SKERN_THREADED
#pragma GCC diagnostic pop
#else
    }
  }
#endif
}

#undef SKERN_HANDLER
#undef SKERN_NEXT
#undef SKERN_THREADED
// NOLINTEND(cppcoreguidelines-macro-usage,bugprone-macro-parentheses)

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
    switch (machine_->run(*machine_->compile_block(block))) {
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
    if (machine_->run(*machine_->compile_expression(expr)) == code::Outcome::Failed) {
      return machine_->take_error();
    }
    return machine_->take_result();
  } catch (const std::bad_alloc&) {
    return out_of_memory();
  }
}

Result<bool> Interpreter::evaluate_condition(const Expr& condition) {
  Result<Value> value = evaluate(condition);
  if (!value.ok()) {
    return std::move(value).error();
  }
  if (!value->is(DataType::Vow)) {
    return Error::runtime(msg::condition_not_vow(type_name(*value)));
  }
  return value->as_vow();
}

Result<Value> Interpreter::call_function(Symbol name, const std::vector<Expr>& arguments) {
  try {
    machine_->ensure_symbols();
    machine_->ensure_symbol(name);
    if (machine_->run(*machine_->compile_call(name, arguments)) == code::Outcome::Failed) {
      return machine_->take_error();
    }
    return machine_->take_result();
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
