// A run under a debugger's control, over the machine's pauses, positions
// and saved states.
#include "interpreter/debugging.h"

#include <algorithm>
#include <cassert>
#include <new>
#include <string>

#include "interpreter/machine.h"

namespace skern {

struct CheckpointState {
  code::Machine::State state;
};

namespace {

Error out_of_memory() { return Error::runtime(std::string(msg::OUT_OF_MEMORY)); }

std::size_t index_of(const code::Machine::Position& at) {
  return static_cast<std::size_t>(at.pc - at.unit->code.data());
}

std::uint32_t line_at(const code::Machine::Position& at) {
  if (at.unit == nullptr || at.pc == nullptr) {
    return 0;
  }
  const std::size_t index = index_of(at);
  return index < at.unit->lines.size() ? at.unit->lines[index] : 0;
}

std::optional<DataType> declared(std::uint16_t type) {
  return type == code::UNTYPED ? std::nullopt : std::optional<DataType>(static_cast<DataType>(type));
}

// The instructions that find a variable by the name in B.
bool finds_by_name(code::Op op) {
  using code::Op;
  return op == Op::GetName || op == Op::SetName || op == Op::InputName || op == Op::AppendStartName ||
         op == Op::AppendStoreName || (op >= Op::UpdateNameAddR && op <= Op::UpdateNameMultiplyK);
}

}  // namespace

ControlledRun::ControlledRun(const Program& program, const StatementLines& lines, LineInput& input, TextOutput& output,
                             Limits limits)
    : program_(program), machine_(std::make_unique<code::Machine>(program, input, output, limits, &lines, true)) {}

ControlledRun::~ControlledRun() = default;

ControlledRun::Event ControlledRun::run(const Stops& stops) {
  assert(!ended_ && "a run that has ended does not go on");
  // Frames are calls + 1; the machine counts calls.
  machine_->set_stops(stops.step, stops.lines != nullptr ? stops.lines->data() : nullptr,
                      stops.depth_below > 0 ? stops.depth_below - 1 : 0);
  code::Outcome outcome = code::Outcome::Failed;
  try {
    if (!started_) {
      started_ = true;
      machine_->ensure_symbols(program_.symbols.size());
      outcome = machine_->start(*machine_->compile_block(program_.main));
    } else {
      outcome = machine_->resume();
    }
  } catch (const std::bad_alloc&) {
    ended_ = true;
    placed_ = false;
    error_ = out_of_memory();
    return Event::Failed;
  }
  switch (outcome) {
    case code::Outcome::Paused:
      return Event::Paused;
    case code::Outcome::Normal:
    case code::Outcome::Returned:
      ended_ = true;
      return Event::Finished;
    case code::Outcome::Failed:
      break;
  }
  ended_ = true;
  error_ = machine_->take_error();
  return Event::Failed;
}

std::uint64_t ControlledRun::steps() const { return machine_->step_count(); }

std::size_t ControlledRun::depth() const { return placed_ ? machine_->depth() : 0; }

FrameView ControlledRun::frame(std::size_t index) const {
  assert(index < depth());
  const code::Machine::Position at = machine_->position(index);
  return FrameView{at.unit->function, line_at(at)};
}

std::vector<VariableView> ControlledRun::variables(std::size_t frame) const {
  assert(frame < depth());
  const code::Machine::Position at = machine_->position(frame);
  const std::size_t here = index_of(at);
  std::vector<const code::LocalInfo*> seen;
  for (const code::LocalInfo& local : at.unit->locals) {
    if (local.from <= here && here < local.to) {
      // A later declaration of the name hides the earlier one.
      std::erase_if(seen, [&local](const code::LocalInfo* earlier) { return earlier->name == local.name; });
      seen.push_back(&local);
    }
  }
  std::vector<VariableView> variables;
  variables.reserve(seen.size());
  for (const code::LocalInfo* local : seen) {
    const std::uint32_t reg = at.base + local->reg;
    variables.push_back(VariableView{local->name, declared(local->type), machine_->register_value(reg)});
  }
  return variables;
}

std::vector<Symbol> ControlledRun::borrowed(std::size_t frame) const {
  assert(frame < depth());
  const code::Machine::Position at = machine_->position(frame);
  const std::vector<VariableView> own = variables(frame);
  std::vector<Symbol> names;
  for (const code::Instr& instr : at.unit->code) {
    if (!finds_by_name(instr.op)) {
      continue;
    }
    const Symbol name{instr.b};
    const auto same = [name](const auto& other) {
      if constexpr (std::is_same_v<std::decay_t<decltype(other)>, Symbol>) {
        return other == name;
      } else {
        return other.name == name;
      }
    };
    if (std::none_of(names.begin(), names.end(), same) && std::none_of(own.begin(), own.end(), same)) {
      names.push_back(name);
    }
  }
  return names;
}

std::optional<ReachedView> ControlledRun::reach(std::size_t frame, Symbol name) const {
  assert(frame < depth());
  for (VariableView& own : variables(frame)) {
    if (own.name == name) {
      return ReachedView{std::move(own), frame};
    }
  }
  const std::uint32_t nearest = machine_->reach(frame, name.id);
  if (nearest == 0) {
    return std::nullopt;
  }
  const std::uint32_t reg = nearest - 1;
  // Windows lie one above the other, the innermost highest: the variable is
  // the innermost frame's whose window starts at or below it.
  std::size_t low = frame;
  std::size_t high = depth() - 1;
  while (low < high) {
    const std::size_t middle = low + (high - low) / 2;
    if (machine_->position(middle).base <= reg) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  return ReachedView{VariableView{name, declared(machine_->register_type(reg)), machine_->register_value(reg)}, low};
}

bool ControlledRun::entering() const {
  if (depth() == 0) {
    return false;
  }
  const code::Machine::Position at = machine_->position(0);
  if (at.unit->function == nullptr || at.pc->op != code::Op::Line) {
    return false;
  }
  const code::Instr* first = at.unit->code.data();
  while (first->op != code::Op::Line) {
    ++first;
  }
  if (first != at.pc) {
    return false;
  }
  // A body that opens with `while` checks its condition on that line every
  // round: only the first check, with every round still left, is the entry.
  if (at.pc != at.unit->code.data() && (at.pc - 1)->op == code::Op::WhileStart) {
    const Value& rounds = machine_->register_value(at.base + code::index_at((at.pc - 1)->a));
    return rounds.as_blade() == static_cast<std::int64_t>(WHILE_ITERATION_LIMIT);
  }
  return true;
}

const Error& ControlledRun::error() const {
  assert(error_.has_value());
  return *error_;
}

ControlledRun::Checkpoint::Checkpoint(std::unique_ptr<CheckpointState> state) : state_(std::move(state)) {}
ControlledRun::Checkpoint::Checkpoint(Checkpoint&&) noexcept = default;
ControlledRun::Checkpoint& ControlledRun::Checkpoint::operator=(Checkpoint&&) noexcept = default;
ControlledRun::Checkpoint::~Checkpoint() = default;
std::uint64_t ControlledRun::Checkpoint::steps() const { return state_->state.steps; }
std::size_t ControlledRun::Checkpoint::bytes() const { return state_->state.bytes(); }

ControlledRun::Checkpoint ControlledRun::save() const {
  assert(started_ && !ended_ && "checkpoints are taken at pauses");
  return Checkpoint(std::make_unique<CheckpointState>(CheckpointState{machine_->save()}));
}

void ControlledRun::restore(const Checkpoint& checkpoint) {
  machine_->restore(checkpoint.state_->state);
  started_ = true;
  ended_ = false;
  placed_ = true;
  error_.reset();
}

Status run_program(const Program& program, const StatementLines& lines, LineInput& input, TextOutput& output,
                   Limits limits, std::uint32_t& failed_line) {
  failed_line = 0;
  try {
    code::Machine machine(program, input, output, limits, &lines, false);
    machine.ensure_symbols(program.symbols.size());
    if (machine.run(*machine.compile_block(program.main)) == code::Outcome::Failed) {
      failed_line = line_at(machine.position(0));
      return machine.take_error();
    }
    return {};
  } catch (const std::bad_alloc&) {
    return out_of_memory();
  }
}

}  // namespace skern
