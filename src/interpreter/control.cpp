// Runs under a debugger's control: pausing before statements, the place of
// each frame, what a name reaches from a frame, and the whole state saved
// and restored, so that a debugger can go back to an earlier moment.
#include <algorithm>

#include "interpreter/machine.h"

namespace skern::code {

Outcome Machine::start(const Unit& unit) {
  const std::uint32_t base = outside_top_;
  ensure_registers(std::size_t{base} + unit.registers);
  frames_.push_back(Frame{nullptr, nullptr, base, static_cast<std::uint32_t>(links_.size())});
  at_ = Position{&unit, unit.code.data(), base};
  return execute<true>(&unit, base, unit.code.data());
}

Outcome Machine::resume() {
  assert(at_.pc != nullptr && at_.pc->op == Op::Line && "only a pause at a Line goes on");
  return execute<true>(at_.unit, at_.base, at_.pc + 1);
}

Machine::Position Machine::position(std::size_t frame) const {
  if (frame == 0) {
    return at_;
  }
  // The record of the call that frame `frame` made holds where it waits.
  const Frame& record = frames_[frames_.size() - frame];
  return Position{record.unit, record.resume - 1, record.base};
}

std::uint32_t Machine::reach(std::size_t frame, std::uint32_t name) const {
  if (name >= nearest_.size()) {
    return 0;
  }
  // The links made since the frame called are its callees': undone, they
  // leave what the name found when the frame itself was running.
  const std::size_t seen = frame == 0 ? links_.size() : frames_[frames_.size() - frame].links;
  std::uint32_t nearest = nearest_[name];
  for (std::size_t i = links_.size(); i > seen; --i) {
    if (links_[i - 1].name == name) {
      nearest = links_[i - 1].hidden;
    }
  }
  return nearest;
}

Machine::State Machine::save() const {
  State state;
  // Nothing above the innermost window is ever read before it is written.
  const std::size_t top = std::max<std::size_t>(outside_top_, std::size_t{at_.base} + at_.unit->registers);
  state.stack.assign(stack_.begin(), stack_.begin() + static_cast<std::ptrdiff_t>(top));
  state.types.assign(types_.begin(), types_.begin() + static_cast<std::ptrdiff_t>(top));
  state.nearest = nearest_;
  state.links = links_;
  state.frames = frames_.copy();
  state.outside_scopes = outside_scopes_;
  state.outside_top = outside_top_;
  state.pieces = pieces_;
  state.chains = chains_;
  state.call_depth = call_depth_;
  state.steps = steps_;
  state.at = at_;
  return state;
}

void Machine::restore(const State& state) {
  ensure_registers(state.stack.size());
  std::copy(state.stack.begin(), state.stack.end(), stack_.begin());
  clear_registers(state.stack.size(), stack_.size());
  std::copy(state.types.begin(), state.types.end(), types_.begin());
  std::fill(types_.begin() + static_cast<std::ptrdiff_t>(state.types.size()), types_.end(),
            static_cast<std::uint8_t>(UNTYPED));
  nearest_ = state.nearest;
  links_ = state.links;
  frames_.assign(state.frames);
  outside_scopes_ = state.outside_scopes;
  outside_top_ = state.outside_top;
  pieces_ = state.pieces;
  chains_ = state.chains;
  call_depth_ = state.call_depth;
  steps_ = state.steps;
  at_ = state.at;
  error_.reset();
}

std::size_t Machine::State::bytes() const {
  std::size_t total = sizeof(State) + stack.size() * sizeof(Value) + types.size() +
                      nearest.size() * sizeof(std::uint32_t) + links.size() * sizeof(Link) +
                      frames.size() * sizeof(Frame) + pieces.size() * sizeof(Value);
  // Texts may be shared with the run or other states; counted in full, so
  // that a keeper errs on the side of keeping less.
  for (const std::vector<Value>* values : {&stack, &pieces}) {
    for (const Value& value : *values) {
      if (value.is(DataType::Scroll)) {
        total += value.as_text().size();
      }
    }
  }
  return total;
}

}  // namespace skern::code
