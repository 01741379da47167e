// The interpreter: scopes, statements, expressions and calls.
#include "interpreter/interpreter.h"

#include <cassert>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <limits>
#include <new>
#include <utility>

#if defined(__linux__)
#include <pthread.h>
#endif

namespace skern {

// ---------------------------------------------------------------------------
// Input conversion
// ---------------------------------------------------------------------------

namespace {

bool equals_ignoring_case(std::string_view text, std::string_view lower_word) {
  if (text.size() != lower_word.size()) {
    return false;
  }
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
    if (c != lower_word[i]) {
      return false;
    }
  }
  return true;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Decimal floating-point text: sign, digits with an optional point (digits
// on at least one side), optional exponent; or inf, infinity and nan in any
// letter case with an optional sign.
std::optional<double> parse_wine_text(std::string_view text) {
  std::string_view body = text;
  bool negative = false;
  if (!body.empty() && (body.front() == '+' || body.front() == '-')) {
    negative = body.front() == '-';
    body.remove_prefix(1);
  }
  if (equals_ignoring_case(body, "inf") || equals_ignoring_case(body, "infinity")) {
    return negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
  }
  if (equals_ignoring_case(body, "nan")) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    return negative ? -nan : nan;
  }
  std::size_t i = 0;
  std::size_t digits = 0;
  while (i < body.size() && is_digit(body[i])) {
    ++i;
    ++digits;
  }
  if (i < body.size() && body[i] == '.') {
    ++i;
    while (i < body.size() && is_digit(body[i])) {
      ++i;
      ++digits;
    }
  }
  if (digits == 0) {
    return std::nullopt;
  }
  if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
    ++i;
    if (i < body.size() && (body[i] == '+' || body[i] == '-')) {
      ++i;
    }
    const std::size_t exponent_start = i;
    while (i < body.size() && is_digit(body[i])) {
      ++i;
    }
    if (i == exponent_start) {
      return std::nullopt;
    }
  }
  if (i != body.size()) {
    return std::nullopt;
  }
  double value = 0;
  const auto [end, error] = std::from_chars(body.data(), body.data() + body.size(), value);
  if (error == std::errc::result_out_of_range) {
    // Too large or too small for a double: strtod rounds it to infinity or
    // zero (the text is plain ASCII digits, so the locale does not matter).
    value = std::strtod(std::string(body).c_str(), nullptr);
  } else if (error != std::errc() || end != body.data() + body.size()) {
    return std::nullopt;
  }
  return negative ? -value : value;
}

}  // namespace

Result<Value> parse_input(std::string_view text, DataType type) {
  switch (type) {
    case DataType::Blade:
      if (const auto value = parse_blade_text(text)) {
        return Value::blade(*value);
      }
      return Error::runtime(msg::input_not_blade(text));
    case DataType::Wine:
      if (const auto value = parse_wine_text(text)) {
        return Value::wine(*value);
      }
      return Error::runtime(msg::input_not_wine(text));
    case DataType::Scroll:
      return Value::scroll(text);
    case DataType::Vow:
      if (text == "aye" || text == "true") {
        return Value::vow(true);
      }
      if (text == "nay" || text == "false") {
        return Value::vow(false);
      }
      return Error::runtime(msg::input_not_vow(text));
    case DataType::Sigil:
      if (const auto value = single_scalar_value(text)) {
        return Value::sigil(*value);
      }
      return Error::runtime(msg::input_not_sigil(text));
    case DataType::Void:
      break;
  }
  return Error::runtime(std::string(msg::VOID_INPUT));
}

// ---------------------------------------------------------------------------
// Construction and scopes
// ---------------------------------------------------------------------------

namespace {

// How much stack a call may still find below the last check: enough for the
// deepest blocks and expressions that the parser admits between two calls.
constexpr std::uintptr_t STACK_RESERVE = std::uintptr_t{1} << 20;

std::uintptr_t current_stack_floor() {
#if defined(__linux__)
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
    void* low = nullptr;
    std::size_t size = 0;
    const int status = pthread_attr_getstack(&attributes, &low, &size);
    pthread_attr_destroy(&attributes);
    if (status == 0 && low != nullptr) {
      const std::uintptr_t reserve = std::max<std::uintptr_t>(STACK_RESERVE, size / 8);
      return reinterpret_cast<std::uintptr_t>(low) + std::min<std::uintptr_t>(reserve, size / 2);
    }
  }
#endif
  return 0;
}

std::uintptr_t stack_position() {
  // The address of a local stands for the stack pointer.
  volatile char probe = 0;
  return reinterpret_cast<std::uintptr_t>(&probe);
}

}  // namespace

Interpreter::Interpreter(const Program& program, LineInput& input, TextOutput& output, Limits limits)
    : program_(program),
      input_(input),
      output_(output),
      limits_(limits),
      heads_(program.symbols.size(), 0),
      steps_left_(limits.step_budget),
      stack_floor_(current_stack_floor()) {
  bindings_.reserve(64);
  bindings_.push_back(Binding{{}, 0, Symbol{}});  // index 0 means "no binding"
  scope_starts_.push_back(1);
}

Interpreter::~Interpreter() = default;

void Interpreter::ensure_symbol(Symbol symbol) {
  if (symbol.id >= heads_.size()) {
    heads_.resize(symbol.id + 1, 0);
  }
}

void Interpreter::push_scope() { scope_starts_.push_back(static_cast<std::uint32_t>(bindings_.size())); }

void Interpreter::pop_scope() {
  assert(scope_starts_.size() > 1 && "interpreter always has at least one scope");
  const std::uint32_t start = scope_starts_.back();
  scope_starts_.pop_back();
  for (std::size_t i = bindings_.size(); i > start; --i) {
    const Binding& binding = bindings_[i - 1];
    heads_[binding.name.id] = binding.previous;
  }
  bindings_.resize(start);
}

bool Interpreter::declare_in_scope(Symbol name, std::optional<DataType> declared_type, Value&& value) {
  const std::uint32_t nearest = heads_[name.id];
  if (nearest >= scope_starts_.back()) {
    return fail(Error::runtime(msg::already_declared(name_of(name))));
  }
  if (bindings_.size() >= std::numeric_limits<std::uint32_t>::max()) {
    throw std::bad_alloc();
  }
  bindings_.push_back(Binding{Variable{std::move(value), declared_type}, nearest, name});
  heads_[name.id] = static_cast<std::uint32_t>(bindings_.size() - 1);
  return true;
}

bool Interpreter::store(Symbol name, Value&& value) {
  const std::uint32_t nearest = heads_[name.id];
  if (nearest == 0) {
    return fail(Error::runtime(msg::unknown_banner(name_of(name))));
  }
  Variable& variable = bindings_[nearest].variable;
  if (variable.declared_type && value.type() != *variable.declared_type) {
    Result<Value> stored = coerce_for_store(std::move(value), *variable.declared_type);
    if (!stored.ok()) {
      return fail(std::move(stored).error());
    }
    variable.value = std::move(*stored);
    return true;
  }
  variable.value = std::move(value);
  return true;
}

const Variable* Interpreter::lookup(Symbol name) const {
  if (name.id >= heads_.size() || heads_[name.id] == 0) {
    return nullptr;
  }
  return &bindings_[heads_[name.id]].variable;
}

bool Interpreter::fail(Error error) {
  error_ = std::move(error);
  return false;
}

Error Interpreter::take_error() {
  assert(error_.has_value());
  Error error = std::move(*error_);
  error_.reset();
  return error;
}

bool Interpreter::take_step() {
  if (limits_.step_budget == 0) {
    return true;
  }
  if (steps_left_ == 0) {
    return fail(Error::runtime(msg::step_budget_exhausted(limits_.step_budget)));
  }
  --steps_left_;
  return true;
}

// ---------------------------------------------------------------------------
// Public entry points: failures and allocation failures become Error values
// ---------------------------------------------------------------------------

namespace {
Error out_of_memory() { return Error::runtime(std::string(msg::OUT_OF_MEMORY)); }
}  // namespace

Status Interpreter::declare(Symbol name, std::optional<DataType> declared_type, Value value) {
  try {
    ensure_symbol(name);
    if (!declare_in_scope(name, declared_type, std::move(value))) {
      return take_error();
    }
    return {};
  } catch (const std::bad_alloc&) {
    return out_of_memory();
  }
}

Status Interpreter::assign(Symbol name, Value value) {
  ensure_symbol(name);
  if (!store(name, std::move(value))) {
    return take_error();
  }
  return {};
}

Result<Flow> Interpreter::execute_block(const Block& block) {
  try {
    switch (exec_block(block)) {
      case Outcome::Normal:
        return Flow{};
      case Outcome::Returned:
        return Flow{Flow::Kind::Returned, std::exchange(returned_, Value())};
      case Outcome::Failed:
        break;
    }
    return take_error();
  } catch (const std::bad_alloc&) {
    return out_of_memory();
  }
}

Result<Value> Interpreter::evaluate(const Expr& expr) {
  try {
    Value value;
    if (!eval(expr, value)) {
      return take_error();
    }
    return value;
  } catch (const std::bad_alloc&) {
    return out_of_memory();
  }
}

Result<bool> Interpreter::evaluate_condition(const Expr& condition) {
  try {
    bool value = false;
    if (!eval_condition(condition, value)) {
      return take_error();
    }
    return value;
  } catch (const std::bad_alloc&) {
    return out_of_memory();
  }
}

Result<Value> Interpreter::call_function(Symbol name, const std::vector<Expr>& arguments) {
  try {
    Value value;
    if (!call(name, arguments, value)) {
      return take_error();
    }
    return value;
  } catch (const std::bad_alloc&) {
    return out_of_memory();
  }
}

Status run_program(const Program& program, LineInput& input, TextOutput& output, Limits limits) {
  Interpreter interpreter(program, input, output, limits);
  Result<Flow> flow = interpreter.execute_block(program.main);
  if (!flow.ok()) {
    return std::move(flow).error();
  }
  return {};
}

// ---------------------------------------------------------------------------
// Statements
// ---------------------------------------------------------------------------

Interpreter::Outcome Interpreter::exec_block(const Block& block) {
  for (const Statement& statement : block) {
    const Outcome outcome = exec(statement);
    if (outcome != Outcome::Normal) {
      return outcome;
    }
  }
  return Outcome::Normal;
}

// A block in a scope of its own, popped whatever the block gave.
Interpreter::Outcome Interpreter::exec_scoped(const Block& block) {
  push_scope();
  const Outcome outcome = exec_block(block);
  pop_scope();
  return outcome;
}

Interpreter::Outcome Interpreter::exec(const Statement& statement) {
  if (!take_step()) {
    return Outcome::Failed;
  }
  switch (statement.kind()) {
    case StatementKind::Declare: {
      const Declare& declare = statement.as<Declare>();
      Value value;
      if (!eval(declare.value, value)) {
        return Outcome::Failed;
      }
      if (value.type() != declare.type) {
        Result<Value> stored = coerce_for_store(std::move(value), declare.type);
        if (!stored.ok()) {
          fail(std::move(stored).error());
          return Outcome::Failed;
        }
        value = std::move(*stored);
      }
      return declare_in_scope(declare.name, declare.type, std::move(value)) ? Outcome::Normal : Outcome::Failed;
    }
    case StatementKind::Assign:
      return exec_assign(statement.as<Assign>());
    case StatementKind::Input:
      return exec_input(statement.as<Input>());
    case StatementKind::Speak:
      return exec_speak(statement.as<Speak>());
    case StatementKind::Return: {
      Value value;
      if (!eval(statement.as<Return>().value, value)) {
        return Outcome::Failed;
      }
      returned_ = std::move(value);
      return Outcome::Returned;
    }
    case StatementKind::If: {
      const If& branch = statement.as<If>();
      bool condition = false;
      if (!eval_condition(branch.condition, condition)) {
        return Outcome::Failed;
      }
      return exec_scoped(condition ? branch.then_block : branch.else_block);
    }
    case StatementKind::RealmMarches:
      return exec_marches(statement.as<RealmMarches>());
    case StatementKind::While:
      return exec_while(statement.as<While>());
    case StatementKind::ExprStatement: {
      Value ignored;
      return eval(statement.as<ExprStatement>().expression, ignored) ? Outcome::Normal : Outcome::Failed;
    }
  }
  return Outcome::Normal;
}

Interpreter::Outcome Interpreter::exec_assign(const Assign& assign) {
  const Expr& expr = assign.value;
  // `s = s + t` on a scroll: once both operands are known, and when nothing
  // but the variable and the left operand share the text, the variable lets
  // go of it so that `t` is appended in place instead of copying `s`.
  if (const auto* binary = expr.get_if<Binary>();
      binary != nullptr && binary->op == BinaryOp::Add && binary->left->kind() == ExprKind::Identifier &&
      binary->left->as<Identifier>().name == assign.name) {
    Value left;
    Value right;
    if (!eval(*binary->left, left) || !eval(*binary->right, right)) {
      return Outcome::Failed;
    }
    if (left.is(DataType::Scroll) && right.is(DataType::Scroll)) {
      const std::uint32_t nearest = heads_[assign.name.id];
      if (nearest != 0 && bindings_[nearest].variable.value.shares_text_with(left)) {
        bindings_[nearest].variable.value = Value();
      }
    }
    Value result;
    if (!apply_binary(BinaryOp::Add, left, right, result)) {
      return Outcome::Failed;
    }
    return store(assign.name, std::move(result)) ? Outcome::Normal : Outcome::Failed;
  }
  Value value;
  if (!eval(expr, value)) {
    return Outcome::Failed;
  }
  return store(assign.name, std::move(value)) ? Outcome::Normal : Outcome::Failed;
}

Interpreter::Outcome Interpreter::exec_speak(const Speak& speak) {
  Value value;
  if (!eval(speak.value, value)) {
    return Outcome::Failed;
  }
  line_.clear();
  append_display(line_, value);
  line_.push_back('\n');
  Status written = output_.write(line_);
  if (!written.ok()) {
    fail(std::move(written).error());
    return Outcome::Failed;
  }
  return Outcome::Normal;
}

Interpreter::Outcome Interpreter::exec_input(const Input& input) {
  const std::uint32_t nearest = heads_[input.name.id];
  if (nearest == 0 || !bindings_[nearest].variable.declared_type) {
    fail(Error::runtime(msg::input_needs_concrete_type(name_of(input.name))));
    return Outcome::Failed;
  }
  const DataType type = *bindings_[nearest].variable.declared_type;
  Status read = input_.read_line(line_);
  if (!read.ok()) {
    fail(std::move(read).error());
    return Outcome::Failed;
  }
  if (!is_valid_utf8(line_)) {
    fail(Error::io_text(std::string(msg::INVALID_UTF8)));
    return Outcome::Failed;
  }
  std::string_view text = line_;
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) {
    text.remove_suffix(1);
  }
  Result<Value> value = parse_input(text, type);
  if (!value.ok()) {
    fail(std::move(value).error());
    return Outcome::Failed;
  }
  return store(input.name, std::move(*value)) ? Outcome::Normal : Outcome::Failed;
}

Interpreter::Outcome Interpreter::exec_marches(const RealmMarches& loop) {
  Value count;
  if (!eval(loop.count, count)) {
    return Outcome::Failed;
  }
  if (!count.is(DataType::Blade)) {
    fail(Error::runtime(msg::marches_needs_blade(type_name(count))));
    return Outcome::Failed;
  }
  if (count.as_blade() < 0) {
    fail(Error::runtime(std::string(msg::MARCHES_NEGATIVE)));
    return Outcome::Failed;
  }
  for (std::int64_t i = count.as_blade(); i > 0; --i) {
    const Outcome outcome = exec_scoped(loop.body);
    if (outcome != Outcome::Normal) {
      return outcome;
    }
  }
  return Outcome::Normal;
}

Interpreter::Outcome Interpreter::exec_while(const While& loop) {
  std::uint64_t allowance = WHILE_ITERATION_LIMIT;
  while (true) {
    bool condition = false;
    if (!eval_condition(loop.condition, condition)) {
      return Outcome::Failed;
    }
    if (!condition) {
      return Outcome::Normal;
    }
    if (allowance == 0) {
      fail(Error::runtime(msg::while_limit(WHILE_ITERATION_LIMIT)));
      return Outcome::Failed;
    }
    const Outcome outcome = exec_scoped(loop.body);
    if (outcome != Outcome::Normal) {
      return outcome;
    }
    --allowance;
  }
}

// ---------------------------------------------------------------------------
// Expressions
// ---------------------------------------------------------------------------

bool Interpreter::eval_condition(const Expr& condition, bool& out) {
  Value value;
  if (!eval(condition, value)) {
    return false;
  }
  if (!value.is(DataType::Vow)) {
    return fail(Error::runtime(msg::condition_not_vow(type_name(value))));
  }
  out = value.as_vow();
  return true;
}

bool Interpreter::eval(const Expr& expr, Value& out) {
  switch (expr.kind()) {
    case ExprKind::IntegerLiteral:
      out = Value::blade(expr.as<IntegerLiteral>().value);
      return true;
    case ExprKind::FloatLiteral:
      out = Value::wine(expr.as<FloatLiteral>().value);
      return true;
    case ExprKind::StringLiteral:
      out = Value::scroll(expr.as<StringLiteral>().value);
      return true;
    case ExprKind::BoolLiteral:
      out = Value::vow(expr.as<BoolLiteral>().value);
      return true;
    case ExprKind::CharLiteral:
      out = Value::sigil(expr.as<CharLiteral>().value);
      return true;
    case ExprKind::Identifier: {
      const Symbol name = expr.as<Identifier>().name;
      const std::uint32_t nearest = heads_[name.id];
      if (nearest == 0) {
        return fail(Error::runtime(msg::unknown_banner(name_of(name))));
      }
      out = bindings_[nearest].variable.value;
      return true;
    }
    case ExprKind::Unary:
      return eval_unary(expr, out);
    case ExprKind::Binary:
      return eval_binary(expr.as<Binary>(), out);
    case ExprKind::Call: {
      const Call& call_expr = expr.as<Call>();
      return call(call_expr.name, call_expr.arguments, out);
    }
  }
  return true;
}

bool Interpreter::eval_unary(const Expr& expr, Value& out) {
  // Chains of unary operators ("--x", or thousands of them) are gathered and
  // applied innermost first without recursing once per operator.
  const std::size_t base = unary_chain_.size();
  const Expr* operand = &expr;
  while (const auto* unary = operand->get_if<Unary>()) {
    unary_chain_.push_back(unary->op);
    operand = unary->operand.get();
  }
  Value value;
  bool ok = eval(*operand, value);
  for (std::size_t i = unary_chain_.size(); ok && i > base; --i) {
    if (unary_chain_[i - 1] == UnaryOp::Negate) {
      if (value.is(DataType::Blade)) {
        value = Value::blade(wrapping_neg(value.as_blade()));
      } else if (value.is(DataType::Wine)) {
        value = Value::wine(-value.as_wine());
      } else {
        ok = fail(Error::runtime(msg::cannot_apply_unary("-", type_name(value))));
      }
    } else if (value.is(DataType::Vow)) {
      value = Value::vow(!value.as_vow());
    } else {
      ok = fail(Error::runtime(msg::cannot_apply_unary("!", type_name(value))));
    }
  }
  unary_chain_.resize(base);
  if (ok) {
    out = std::move(value);
  }
  return ok;
}

bool Interpreter::eval_binary(const Binary& binary, Value& out) {
  if (binary.left->kind() != ExprKind::Binary) {
    Value left;
    Value right;
    return eval(*binary.left, left) && eval(*binary.right, right) && apply_binary(binary.op, left, right, out);
  }
  // A chain "a + b + c + ..." is a left spine of binary nodes; it is walked
  // with a stack of its own so that no chain length can exhaust the machine's.
  const std::size_t base = spine_.size();
  const Binary* node = &binary;
  while (true) {
    spine_.push_back(node);
    const auto* deeper = node->left->get_if<Binary>();
    if (deeper == nullptr) {
      break;
    }
    node = deeper;
  }
  Value running;
  bool ok = eval(*spine_.back()->left, running);
  for (std::size_t i = spine_.size(); ok && i > base; --i) {
    const Binary* step = spine_[i - 1];
    Value right;
    Value result;
    ok = eval(*step->right, right) && apply_binary(step->op, running, right, result);
    if (ok) {
      running = std::move(result);
    }
  }
  spine_.resize(base);
  if (ok) {
    out = std::move(running);
  }
  return ok;
}

bool Interpreter::apply_binary(BinaryOp op, Value& left, const Value& right, Value& out) {
  if (left.is(DataType::Blade) && right.is(DataType::Blade)) {
    const std::int64_t a = left.as_blade();
    const std::int64_t b = right.as_blade();
    switch (op) {
      case BinaryOp::Add:
        out = Value::blade(wrapping_add(a, b));
        return true;
      case BinaryOp::Subtract:
        out = Value::blade(wrapping_sub(a, b));
        return true;
      case BinaryOp::Multiply:
        out = Value::blade(wrapping_mul(a, b));
        return true;
      case BinaryOp::Divide:
        if (b == 0) {
          return fail(Error::runtime(std::string(msg::DIVIDE_BY_ZERO)));
        }
        out = Value::wine(static_cast<double>(a) / static_cast<double>(b));
        return true;
      case BinaryOp::Greater:
        out = Value::vow(static_cast<double>(a) > static_cast<double>(b));
        return true;
      case BinaryOp::Less:
        out = Value::vow(static_cast<double>(a) < static_cast<double>(b));
        return true;
      case BinaryOp::Equal:
        out = Value::vow(a == b);
        return true;
      case BinaryOp::NotEqual:
        out = Value::vow(a != b);
        return true;
    }
  }
  Result<Value> result = Value();
  switch (op) {
    case BinaryOp::Add:
      if (left.is(DataType::Scroll) && right.is(DataType::Scroll) &&
          right.as_text().size() > limits_.scroll_bytes - std::min(limits_.scroll_bytes, left.as_text().size())) {
        return fail(out_of_memory());
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

// ---------------------------------------------------------------------------
// Calls
// ---------------------------------------------------------------------------

bool Interpreter::call(Symbol name, const std::vector<Expr>& arguments, Value& out) {
  // Arguments first, left to right, before the function is even looked up.
  const std::size_t base = arguments_.size();
  for (const Expr& argument : arguments) {
    Value value;
    if (!eval(argument, value)) {
      arguments_.resize(base);
      return false;
    }
    arguments_.push_back(std::move(value));
  }
  const FunctionDecl* function = program_.functions.find(name);
  if (function == nullptr) {
    arguments_.resize(base);
    return fail(Error::runtime(msg::unknown_council(name_of(name))));
  }
  if (function->params.size() != arguments.size()) {
    arguments_.resize(base);
    return fail(Error::runtime(msg::wrong_argument_count(name_of(name), function->params.size(), arguments.size())));
  }
  if (call_depth_ >= limits_.call_depth) {
    arguments_.resize(base);
    return fail(Error::runtime(msg::call_depth_exceeded(limits_.call_depth)));
  }
  if (stack_position() < stack_floor_) {
    arguments_.resize(base);
    return fail(Error::runtime(std::string(msg::CALL_STACK_EXHAUSTED)));
  }

  push_scope();
  for (std::size_t i = 0; i < function->params.size(); ++i) {
    if (!declare_in_scope(function->params[i], std::nullopt, std::move(arguments_[base + i]))) {
      arguments_.resize(base);
      pop_scope();
      return false;
    }
  }
  arguments_.resize(base);
  ++call_depth_;
  const Outcome outcome = exec_block(function->body);
  --call_depth_;
  pop_scope();
  if (outcome == Outcome::Failed) {
    return false;
  }
  out = outcome == Outcome::Returned ? std::exchange(returned_, Value()) : Value();
  return true;
}

}  // namespace skern
