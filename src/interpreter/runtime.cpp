// The machine's work out of line: starting and ending runs, compiling on
// demand, the public interface's scopes, the slow paths of the operators,
// the console and the failures.
#include <algorithm>
#include <limits>
#include <new>

#include "interpreter/machine.h"

namespace skern::code {

Machine::Machine(const Program& program, LineInput& input, TextOutput& output, Limits limits,
                 const StatementLines* lines, bool controlled)
    : program_(program),
      input_(input),
      output_(output),
      limits_(limits),
      stack_(256),
      registers_(stack_.size()),
      types_(256, static_cast<std::uint8_t>(UNTYPED)),
      nearest_(program.symbols.size(), 0),
      reachable_(reachable_names(program)),
      functions_(program.symbols.size(), nullptr),
      lines_(lines),
      controlled_(controlled && lines != nullptr),
      next_beat_(std::max<std::uint64_t>(limits.beat_steps, 1)) {
  limits_.beat_steps = next_beat_;  // a beat every 0 steps is a beat every step
  plan_next_event();
  if (controlled_) {
    no_stops_.assign(std::size_t{lines_->last_line()} + 1, 0);
    set_stops(0, nullptr, 0);
  }
  outside_scopes_.push_back(OutsideScope{0, 0});
}

// ---------------------------------------------------------------------------
// Compiling
// ---------------------------------------------------------------------------

namespace {
constexpr std::uint8_t code_of(Op op) { return static_cast<std::uint8_t>(op); }
}  // namespace

const Unit* Machine::compile_block(const Block& block) {
  CompileContext context{program_, reachable_, compile_nearest_, steps(), lines_};
  return &units_.emplace_back(compile_outside_block(context, block));
}

StreamCompiler Machine::stream_block() {
  assert(lines_ == nullptr && "a block given a statement at a time has no lines");
  return StreamCompiler(CompileContext{program_, reachable_, compile_nearest_, steps(), nullptr});
}

const Unit* Machine::compile_expression(const Expr& expr) {
  CompileContext context{program_, reachable_, compile_nearest_, Steps::None};
  return &units_.emplace_back(compile_outside_expression(context, expr));
}

const Unit* Machine::compile_call(Symbol name, ExprList arguments) {
  CompileContext context{program_, reachable_, compile_nearest_, Steps::None};
  return &units_.emplace_back(compile_outside_call(context, name, arguments));
}

// A function is compiled when it is first called; the call instruction
// exists only for functions that the program declares.
const Unit* Machine::function(std::uint32_t name) {
  const FunctionDecl* decl = program_.functions.find(Symbol{name});
  assert(decl != nullptr && "calls are compiled only for declared functions");
  CompileContext context{program_, reachable_, compile_nearest_, steps(), lines_};
  const Unit* unit = &units_.emplace_back(compile_function(context, *decl));
  functions_[name] = unit;
  return unit;
}

// ---------------------------------------------------------------------------
// Runs from outside
// ---------------------------------------------------------------------------

void Machine::FrameStack::grow() {
  const std::size_t count = size();
  slots_.resize(slots_.size() * 2);
  top_ = slots_.data() + count;
  end_ = slots_.data() + slots_.size();
}

void Machine::ensure_registers(std::size_t count) {
  if (count >= std::numeric_limits<std::uint32_t>::max() / 2) {
    throw std::bad_alloc();
  }
  if (count > stack_.size()) {
    const std::size_t size = std::max(count, stack_.size() * 2);
    stack_.resize(size);
    types_.resize(size, static_cast<std::uint8_t>(UNTYPED));
    registers_ = size;
  }
}

void Machine::clear_registers(std::size_t from, std::size_t to) {
  for (std::size_t i = from; i < to && i < stack_.size(); ++i) {
    stack_[i].reset();
  }
}

// The unit's window starts above the outside scopes' variables. Its
// top-level declarations take its first registers and stay there after the
// run; everything above them is let go.
Outcome Machine::run(const Unit& unit) {
  const std::uint32_t base = outside_top_;
  ensure_registers(std::size_t{base} + unit.registers);
  const std::size_t frame_mark = frames_.size();
  frames_.push_back(Frame{nullptr, nullptr, base, static_cast<std::uint32_t>(links_.size())});
  const auto recover = [&] {
    unlink_to(frames_[frame_mark].links);
    frames_.resize(frame_mark);
    clear_registers(std::size_t{base} + unit.outliving, stack_.size());
    pieces_.clear();
    chains_.clear();
    call_depth_ = 0;
    outside_top_ = base + unit.outliving;
  };
  Outcome outcome = Outcome::Failed;
  try {
    outcome = lines_ != nullptr ? execute<true>(&unit, base, unit.code.data())
                                : execute<false>(&unit, base, unit.code.data());
  } catch (...) {
    recover();
    throw;
  }
  if (outcome == Outcome::Failed) {
    recover();
    return outcome;
  }
  clear_registers(std::size_t{base} + unit.outliving, std::size_t{base} + unit.registers);
  outside_top_ = base + unit.outliving;
  return outcome;
}

void Machine::pop_scope() {
  assert(outside_scopes_.size() > 1 && "interpreter always has at least one scope");
  const OutsideScope scope = outside_scopes_.back();
  outside_scopes_.pop_back();
  unlink_to(scope.links);
  clear_registers(scope.registers, outside_top_);
  outside_top_ = scope.registers;
}

bool Machine::declare(Symbol name, std::optional<DataType> declared_type, Value&& value) {
  ensure_symbols(std::size_t{name.id} + 1);
  if (outside_declared(name.id)) {
    return fail(Error::runtime(msg::already_declared(program_.symbols.name(name))));
  }
  const std::uint32_t reg = outside_top_;
  ensure_registers(std::size_t{reg} + 1);
  links_.reserve(links_.size() + 1);
  stack_[reg] = std::move(value);
  link(reg, name.id, declared_type ? static_cast<std::uint16_t>(*declared_type) : UNTYPED);
  ++outside_top_;
  return true;
}

bool Machine::assign(Symbol name, Value&& value) {
  ensure_symbols(std::size_t{name.id} + 1);
  const std::uint32_t nearest = nearest_[name.id];
  if (nearest == 0) {
    return fail_unknown_banner(name.id);
  }
  const std::uint8_t type = types_[nearest - 1];
  if (type == UNTYPED || value.tag() == type) {
    stack_[nearest - 1] = std::move(value);
    return true;
  }
  return store_slow(stack_[nearest - 1], std::move(value), type);
}

std::optional<Variable> Machine::lookup(Symbol name) const {
  if (name.id >= nearest_.size() || nearest_[name.id] == 0) {
    return std::nullopt;
  }
  const std::uint32_t reg = nearest_[name.id] - 1;
  const std::uint8_t type = types_[reg];
  return Variable{stack_[reg], type == UNTYPED ? std::nullopt : std::optional(static_cast<DataType>(type))};
}

// ---------------------------------------------------------------------------
// Operators off their fast paths
// ---------------------------------------------------------------------------

namespace {

// Whether two texts joined stay within the scroll cap.
bool joinable(std::size_t left, std::size_t right, std::size_t cap) { return right <= cap - std::min(cap, left); }

}  // namespace

// Every kind pair, through the operator tables; longer texts than the cap
// allows fail as out of memory.
bool Machine::apply_slow(BinaryOp op, const Value& left, const Value& right, Value& out) {
  Result<Value> result = Value();
  switch (op) {
    case BinaryOp::Add:
      if (left.is(DataType::Scroll) && right.is(DataType::Scroll) &&
          !joinable(left.as_text().size(), right.as_text().size(), limits_.scroll_bytes)) {
        return fail(Error::runtime(std::string(msg::OUT_OF_MEMORY)));
      }
      result = add_values(left, right);
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

// An operator instruction whose operands' kinds have no fast path. A text
// that is its own instruction's destination and left operand grows in place
// when nothing else holds it; temporaries let go of their texts afterwards.
bool Machine::operate_slow(const Instr& instr, Value* r, const Value* k) {
  const auto index = static_cast<std::size_t>(code_of(instr.op) - code_of(Op::AddRR));
  const auto op = static_cast<BinaryOp>(index / 3);
  const auto form = static_cast<Form>(index % 3);
  const Value& left = form == Form::KR ? at(k, instr.b) : at(r, instr.b);
  const Value& right = form == Form::RK ? at(k, instr.c) : at(r, instr.c);
  Value& dest = at(r, instr.a);
  if (op == BinaryOp::Equal || op == BinaryOp::NotEqual) {
    const bool same = values_equal(left, right);
    dest.set_vow(same == (op == BinaryOp::Equal));
  } else if (op == BinaryOp::Add && left.is(DataType::Scroll) && right.is(DataType::Scroll)) {
    if (!joinable(left.as_text().size(), right.as_text().size(), limits_.scroll_bytes)) {
      return fail(Error::runtime(std::string(msg::OUT_OF_MEMORY)));
    }
    if (form != Form::KR && instr.a == instr.b) {
      dest.append_text(right.as_text());
    } else {
      Value joined(left);
      joined.append_text(right.as_text());
      dest = std::move(joined);
    }
  } else {
    Value out;
    if (!apply_slow(op, left, right, out)) {
      return false;
    }
    dest = std::move(out);
  }
  release_temporaries(instr, r);
  return true;
}

// The pieces of a join, each checked against the scroll cap as the joins
// one by one would be, then copied once into a buffer of the whole length.
bool Machine::join(const Instr& instr, Value* r, const Value* k) {
  const Instr* const pieces = &instr + 1;
  const auto piece = [&](std::uint32_t i) -> const Value& {
    return (pieces[i].flags & TAKE) != 0 ? at(k, pieces[i].a) : at(r, pieces[i].a);
  };
  std::size_t length = piece(0).as_text().size();
  for (std::uint32_t i = 1; i < instr.c; ++i) {
    const std::size_t size = piece(i).as_text().size();
    if (!joinable(length, size, limits_.scroll_bytes)) {
      return fail(Error::runtime(std::string(msg::OUT_OF_MEMORY)));
    }
    length += size;
  }
  Value joined = Value::scroll_with_room(piece(0).as_text(), length);
  for (std::uint32_t i = 1; i < instr.c; ++i) {
    joined.append_text(piece(i).as_text());
  }
  for (std::uint32_t i = 0; i < instr.c; ++i) {
    if ((pieces[i].flags & TEMP_B) != 0) {
      at(r, pieces[i].a).reset();
    }
  }
  at(r, instr.a) = std::move(joined);
  return true;
}

// An operator's temporaries, after it has read the texts they held.
void Machine::release_temporaries(const Instr& instr, Value* r) {
  if ((instr.flags & TEMP_B) != 0) {
    at(r, instr.b).reset();
  }
  if ((instr.flags & TEMP_C) != 0) {
    at(r, instr.c).reset();
  }
}

// A comparison and jump whose operands' kinds have no fast path: 1 when it
// holds, 0 when not, -1 on failure.
int Machine::compare_slow(const Instr& instr, Value* r, const Value* k) {
  const auto index = static_cast<std::size_t>(code_of(instr.op) - code_of(Op::JumpUnlessGreaterRR));
  const auto op = static_cast<BinaryOp>(static_cast<std::size_t>(BinaryOp::Greater) + index / 3);
  const auto form = static_cast<Form>(index % 3);
  const Value& left = form == Form::KR ? at(k, instr.a) : at(r, instr.a);
  const Value& right = form == Form::RK ? at(k, instr.b) : at(r, instr.b);
  bool holds = false;
  if (op == BinaryOp::Equal || op == BinaryOp::NotEqual) {
    holds = values_equal(left, right) == (op == BinaryOp::Equal);
  } else {
    Value out;
    if (!apply_slow(op, left, right, out)) {
      return -1;
    }
    holds = out.as_vow();
  }
  if ((instr.flags & TEMP_B) != 0) {
    at(r, instr.a).reset();
  }
  if ((instr.flags & TEMP_C) != 0) {
    at(r, instr.b).reset();
  }
  return holds ? 1 : 0;
}

bool Machine::unary_slow(const Instr& instr, Value* r) {
  const Value& operand = at(r, instr.b);
  Result<Value> result = instr.op == Op::Negate ? negate_value(operand) : not_value(operand);
  if (!result.ok()) {
    return fail(std::move(result).error());
  }
  at(r, instr.a) = std::move(*result);
  return true;
}

// A piece of `x = x + a + b ...` that is not a number added to a number.
// Onto a text, a text is only checked and kept, to be joined at the store.
bool Machine::append_slow(Value& acc, const Value& piece, Value* take) {
  if (acc.is(DataType::Scroll) && piece.is(DataType::Scroll)) {
    Chain& chain = chains_.back();
    const std::size_t size = piece.as_text().size();
    if (!joinable(chain.length, size, limits_.scroll_bytes)) {
      return fail(Error::runtime(std::string(msg::OUT_OF_MEMORY)));
    }
    if (take != nullptr) {
      pieces_.push_back(std::move(*take));
    } else {
      pieces_.push_back(piece);
    }
    chain.length += size;
    return true;
  }
  Value out;
  if (!apply_slow(BinaryOp::Add, acc, piece, out)) {
    return false;
  }
  acc = std::move(out);
  if (take != nullptr) {
    take->reset();
  }
  return true;
}

// The end of `x = x + a + b ...`: the kept pieces join the text, in one
// buffer that x lets go of when it is its only other holder, and the result
// is stored through x's store rule.
bool Machine::append_store(Value& acc, Value& target, std::uint16_t type) {
  // A chain that starts with a text stays one (pieces of other kinds fail),
  // and only such a chain keeps pieces.
  if (acc.is(DataType::Scroll)) {
    const Chain chain = chains_.back();
    chains_.pop_back();
    if (chain.length > acc.as_text().size()) {
      acc.reserve_text(chain.length, target);
    }
    for (std::size_t i = chain.first; i < pieces_.size(); ++i) {
      acc.append_text(pieces_[i].as_text());
    }
    pieces_.erase(pieces_.begin() + static_cast<std::ptrdiff_t>(chain.first), pieces_.end());
  }
  if (type == UNTYPED || acc.tag() == type) {
    target = std::move(acc);
    return true;
  }
  return store_slow(target, std::move(acc), type);
}

// `x = x op right` for a variable found by name, when not both numbers of
// the variable's own kind: a text grows in place when x is its only holder.
bool Machine::update_name_slow(BinaryOp op, std::uint32_t reg, const Value& right) {
  Value& target = stack_[reg];
  if (op == BinaryOp::Add && target.is(DataType::Scroll) && right.is(DataType::Scroll)) {
    if (!joinable(target.as_text().size(), right.as_text().size(), limits_.scroll_bytes)) {
      return fail(Error::runtime(std::string(msg::OUT_OF_MEMORY)));
    }
    target.append_text(right.as_text());
    return true;
  }
  Value out;
  if (!apply_slow(op, target, right, out)) {
    return false;
  }
  const std::uint8_t type = types_[reg];
  if (type == UNTYPED || out.tag() == type) {
    target = std::move(out);
    return true;
  }
  return store_slow(target, std::move(out), type);
}

// A value whose kind differs from the variable's declared type.
bool Machine::store_slow(Value& target, Value&& value, std::uint16_t type) {
  Result<Value> stored = coerce_for_store(std::move(value), static_cast<DataType>(type));
  if (!stored.ok()) {
    return fail(std::move(stored).error());
  }
  target = std::move(*stored);
  return true;
}

// ---------------------------------------------------------------------------
// Statements with more to them
// ---------------------------------------------------------------------------

bool Machine::speak(Value& value, bool take) {
  line_.clear();
  append_display(line_, value);
  line_.push_back('\n');
  if (take) {
    value.reset();
  }
  Status written = output_.write(line_);
  if (!written.ok()) {
    return fail(std::move(written).error());
  }
  return true;
}

bool Machine::input(Value& target, std::uint16_t type) {
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
  Result<Value> value = parse_input(text, static_cast<DataType>(type));
  if (!value.ok()) {
    return fail(std::move(value).error());
  }
  target = std::move(*value);
  return true;
}

bool Machine::march_check(const Value& count) {
  if (!count.is(DataType::Blade)) {
    return fail(Error::runtime(msg::marches_needs_blade(type_name(count))));
  }
  return fail(Error::runtime(std::string(msg::MARCHES_NEGATIVE)));
}

Steps Machine::steps() const {
  if (controlled_) {
    return Steps::Lines;
  }
  if (limits_.step_budget != 0) {
    return Steps::EveryStatement;
  }
  return limits_.heartbeat != nullptr ? Steps::EveryRoundAndCall : Steps::None;
}

void Machine::plan_next_event() {
  constexpr std::uint64_t never = std::numeric_limits<std::uint64_t>::max();
  const std::uint64_t beat = limits_.heartbeat != nullptr ? next_beat_ : never;
  // The step after the last one the budget allows is the one that fails.
  const std::uint64_t budget = limits_.step_budget != 0 ? limits_.step_budget + 1 : never;
  next_event_ = std::min(beat, budget);
}

bool Machine::step_event() {
  if (limits_.heartbeat != nullptr && steps_ == next_beat_) {
    next_beat_ += limits_.beat_steps;
    limits_.heartbeat->beat();
  }
  if (limits_.step_budget != 0 && steps_ > limits_.step_budget) {
    next_event_ = steps_ + 1;  // and every step after it fails too
    return fail(Error::runtime(msg::step_budget_exhausted(limits_.step_budget)));
  }
  plan_next_event();
  return true;
}

// ---------------------------------------------------------------------------
// Failures, their messages built out of line
// ---------------------------------------------------------------------------

bool Machine::fail_unknown_banner(std::uint32_t name) {
  return fail(Error::runtime(msg::unknown_banner(program_.symbols.name(Symbol{name}))));
}

bool Machine::fail_divide_by_zero() { return fail(Error::runtime(std::string(msg::DIVIDE_BY_ZERO))); }

bool Machine::fail_call_depth() { return fail(Error::runtime(msg::call_depth_exceeded(limits_.call_depth))); }

bool Machine::fail_known(const Instr& instr) {
  const std::string& name = program_.symbols.name(Symbol{instr.b});
  switch (static_cast<Failure>(instr.sub)) {
    case Failure::AlreadyDeclared:
      return fail(Error::runtime(msg::already_declared(name)));
    case Failure::UnknownCouncil:
      return fail(Error::runtime(msg::unknown_council(name)));
    case Failure::WrongArity:
      return fail(Error::runtime(msg::wrong_argument_count(name, instr.c, instr.a)));
    case Failure::InputUntyped:
      break;
  }
  return fail(Error::runtime(msg::input_needs_concrete_type(name)));
}

}  // namespace skern::code
