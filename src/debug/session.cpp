// The debugging engine: commands carried out over a controlled run, and
// time travel by checkpoints and deterministic replay.
//
// A run is determined by its program and its input, so any earlier moment
// can be had again by restoring a checkpoint taken before it and running on
// to it. Checkpoints are taken every so many statements; when there are too
// many, every other one goes and the spacing doubles, so that their number
// stays bounded and the replay to any moment stays short.
#include "debug/session.h"

#include <algorithm>
#include <cassert>
#include <functional>

#include "debug/expression.h"
#include "debug/messages.h"
#include "interpreter/debugging.h"
#include "parser/parser.h"

namespace skern::debug {

namespace {

// Checkpoints kept at most, and the memory they may hold together.
constexpr std::size_t MOST_CHECKPOINTS = 64;
constexpr std::size_t CHECKPOINT_BYTES = std::size_t{256} << 20;
// Statements between checkpoints at first; a checkpoint of a large state
// waits longer, so that copying it costs no more than running on.
constexpr std::uint64_t FIRST_SPACING = 50000;
constexpr std::uint64_t BYTES_PER_STEP = 16;

std::size_t utf16_length(std::string_view text) {
  std::size_t units = 0;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0U) != 0x80U) {
      units += byte >= 0xF0U ? 2 : 1;  // four bytes make a surrogate pair
    }
  }
  return units;
}

// Standard input from a text whose position can be set back.
class ReplayInput final : public LineInput {
 public:
  explicit ReplayInput(std::string text) : text_(std::move(text)) {}
  Status read_line(std::string& line) override {
    const std::size_t end = text_.find('\n', position_);
    const std::size_t stop = end == std::string::npos ? text_.size() : end + 1;
    line.assign(text_, position_, stop - position_);
    position_ = stop;
    return {};
  }
  [[nodiscard]] std::size_t position() const { return position_; }
  void seek(std::size_t position) { position_ = position; }

 private:
  std::string text_;
  std::size_t position_ = 0;
};

// Standard output kept whole, cut back when the run goes back.
class RecordingOutput final : public TextOutput {
 public:
  Status write(std::string_view text) override {
    text_.append(text);
    utf16_ += utf16_length(text);
    return {};
  }
  [[nodiscard]] const std::string& text() const { return text_; }
  [[nodiscard]] std::size_t utf16() const { return utf16_; }
  void truncate(std::size_t bytes, std::size_t utf16) {
    text_.resize(bytes);
    utf16_ = utf16;
  }

 private:
  std::string text_;
  std::size_t utf16_ = 0;
};

enum class Motion : std::uint8_t { Continue, StepIn, StepOver, StepOut };

struct LineBreakpointRecord {
  std::uint32_t id;
  std::uint32_t line;
  std::optional<Expression> condition;
  std::optional<HitCondition> hit;
  std::optional<LogMessage> log;
  std::uint64_t hits = 0;
};

struct FunctionBreakpointRecord {
  std::uint32_t id;
  const FunctionDecl* function;
  std::optional<Expression> condition;
  std::optional<HitCondition> hit;
  std::uint64_t hits = 0;
};

// A breakpoint's condition or log message, where one is given; one that does
// not parse leaves its report in `message`.
template <class Parsed>
void parse_if_given(std::string_view text, std::optional<Parsed>& into, std::string& message) {
  if (text.empty()) {
    return;
  }
  Result<Parsed> parsed = Parsed::parse(text);
  if (parsed.ok()) {
    into.emplace(std::move(*parsed));
  } else {
    message = parsed.error().display();
  }
}

struct Saved {
  ControlledRun::Checkpoint checkpoint;
  std::size_t output_bytes;
  std::size_t output_utf16;
  std::size_t input_position;
};

}  // namespace

struct Session::Impl {
  std::string source;
  Program program;
  StatementLines lines;
  std::vector<std::uint32_t> statement_lines;  // in order
  ReplayInput input;
  RecordingOutput output;
  std::unique_ptr<ControlledRun> run;

  std::vector<LineBreakpointRecord> line_breakpoints;
  std::vector<FunctionBreakpointRecord> function_breakpoints;
  std::vector<std::uint8_t> stop_lines;  // lines with a breakpoint or a council's first statement under one
  std::uint32_t next_id = 1;

  std::vector<Saved> saved;
  std::size_t saved_bytes = 0;
  std::uint64_t spacing = FIRST_SPACING;
  std::uint64_t next_checkpoint = 0;

  Motion motion = Motion::Continue;
  std::uint64_t target = 0;     // StepIn: the step to stop at
  std::size_t depth_below = 0;  // StepOver, StepOut: stop at fewer frames than this
  bool failed = false;          // the run has failed, and stands where it did
  std::optional<Error> error;   // what it failed with
  std::vector<Session::LogLine> logs;

  State state = State::Stopped;
  Stop stop;
  int exit_status = 0;
  bool stop_on_error = true;

  explicit Impl(std::string text) : input(std::move(text)) {}

  // --- Checkpoints and replay ---------------------------------------------------

  void checkpoint() {
    Saved entry{run->save(), output.text().size(), output.utf16(), input.position()};
    const std::size_t bytes = entry.checkpoint.bytes();
    saved_bytes += bytes;
    saved.push_back(std::move(entry));
    while (saved.size() > 2 && (saved.size() > MOST_CHECKPOINTS || saved_bytes > CHECKPOINT_BYTES)) {
      thin();
    }
    next_checkpoint = saved.back().checkpoint.steps() + std::max(spacing, bytes / BYTES_PER_STEP);
  }

  // Every other checkpoint goes, the first staying, and the spacing doubles.
  void thin() {
    std::vector<Saved> kept;
    saved_bytes = 0;
    for (std::size_t i = 0; i < saved.size(); i += 2) {
      saved_bytes += saved[i].checkpoint.bytes();
      kept.push_back(std::move(saved[i]));
    }
    saved = std::move(kept);
    spacing *= 2;
  }

  // The latest checkpoint taken at or before `step`.
  std::size_t checkpoint_before(std::uint64_t step) const {
    const auto after = std::upper_bound(saved.begin(), saved.end(), step, [](std::uint64_t s, const Saved& entry) {
      return s < entry.checkpoint.steps();
    });
    assert(after != saved.begin());
    return static_cast<std::size_t>(after - saved.begin()) - 1;
  }

  void restore(std::size_t index) {
    const Saved& entry = saved[index];
    run->restore(entry.checkpoint);
    output.truncate(entry.output_bytes, entry.output_utf16);
    input.seek(entry.input_position);
    failed = false;
    error.reset();
  }

  // Back to the moment the run stood before its `step`th statement.
  void replay_to(std::uint64_t step) {
    restore(checkpoint_before(step));
    if (run->steps() < step) {
      const ControlledRun::Event event = run->run(ControlledRun::Stops{step, nullptr, 0});
      assert(event == ControlledRun::Event::Paused && run->steps() == step);
      (void)event;
    }
  }

  // The latest step before `upper` at which the run, stopping as `stops`
  // says, satisfies `holds`: a checkpoint's stretch at a time, backwards.
  std::optional<std::uint64_t> find_back(std::uint64_t upper, ControlledRun::Stops stops,
                                         const std::function<bool()>& holds) {
    if (upper <= 1) {
      return std::nullopt;
    }
    for (std::size_t index = checkpoint_before(upper - 1) + 1; index-- > 0;) {
      restore(index);
      std::optional<std::uint64_t> found;
      while (run->steps() < upper) {
        if (holds()) {
          found = run->steps();
        }
        stops.step = upper;
        if (run->run(stops) != ControlledRun::Event::Paused) {
          break;
        }
      }
      if (found) {
        return found;
      }
      upper = saved[index].checkpoint.steps();
    }
    return std::nullopt;
  }

  // --- Breakpoints ---------------------------------------------------------------

  // Whether a condition holds at the pause; one that fails counts as holding,
  // so that the person sees why, in `failure`.
  bool condition_holds(const std::optional<Expression>& condition, std::string* failure) const {
    if (!condition) {
      return true;
    }
    Result<Value> value = condition->evaluate(*run, program, 0);
    if (value.ok() && value->is(DataType::Vow)) {
      return value->as_vow();
    }
    if (failure != nullptr) {
      const std::string report =
          value.ok() ? Error::runtime(msg::condition_not_vow(type_name(*value))).display() : value.error().display();
      *failure = text::condition_failed(condition->text(), report);
    }
    return true;
  }

  // Whether a breakpoint whose condition holds takes this hit. Going
  // forward, hits are counted; looking back, every hit counts.
  template <class Breakpoint>
  bool takes(Breakpoint& breakpoint, bool forward, std::string* failure) {
    if (!condition_holds(breakpoint.condition, forward ? failure : nullptr)) {
      return false;
    }
    if (!forward) {
      return true;
    }
    ++breakpoint.hits;
    return !breakpoint.hit || breakpoint.hit->holds(breakpoint.hits);
  }

  // The breakpoints that stop the run where it is paused. Going forward, log
  // points write; looking back, they do not.
  std::vector<std::uint32_t> breakpoints_here(bool forward, std::string* failure) {
    std::vector<std::uint32_t> ids;
    if (run->depth() == 0) {
      return ids;
    }
    const std::uint32_t line = run->frame(0).line;
    if (line >= stop_lines.size() || stop_lines[line] == 0) {
      return ids;
    }
    for (LineBreakpointRecord& breakpoint : line_breakpoints) {
      if (breakpoint.line != line || !takes(breakpoint, forward, failure)) {
        continue;
      }
      if (!breakpoint.log) {
        ids.push_back(breakpoint.id);
      } else if (forward) {
        logs.push_back(Session::LogLine{output.text().size(), breakpoint.log->render(*run, program)});
      }
    }
    if (!function_breakpoints.empty() && run->entering()) {
      const FunctionDecl* entered = run->frame(0).function;
      for (FunctionBreakpointRecord& breakpoint : function_breakpoints) {
        if (breakpoint.function == entered && takes(breakpoint, forward, failure)) {
          ids.push_back(breakpoint.id);
        }
      }
    }
    return ids;
  }

  void mark_stop_lines() {
    std::fill(stop_lines.begin(), stop_lines.end(), 0);
    for (const LineBreakpointRecord& breakpoint : line_breakpoints) {
      stop_lines[breakpoint.line] = 1;
    }
    for (const FunctionBreakpointRecord& breakpoint : function_breakpoints) {
      stop_lines[lines.line_of(breakpoint.function->body[0])] = 1;
    }
  }

  // The first line at or after `line` that holds a statement, or 0.
  [[nodiscard]] std::uint32_t statement_line_from(std::uint32_t line) const {
    const auto found = std::lower_bound(statement_lines.begin(), statement_lines.end(), line);
    return found == statement_lines.end() ? 0 : *found;
  }

  // --- Where commands leave the run ------------------------------------------------

  void stop_with(StopReason reason, std::string description = {}, std::vector<std::uint32_t> ids = {}) {
    // A breakpoint of either kind stops it; a line's makes it a breakpoint stop.
    if (reason == StopReason::Breakpoint && std::none_of(ids.begin(), ids.end(), [this](std::uint32_t id) {
          return std::any_of(line_breakpoints.begin(), line_breakpoints.end(),
                             [id](const LineBreakpointRecord& breakpoint) { return breakpoint.id == id; });
        })) {
      reason = StopReason::FunctionBreakpoint;
    }
    stop = Stop{reason, std::move(description), std::move(ids)};
    state = State::Stopped;
  }

  void exit_with(int status) {
    state = State::Exited;
    exit_status = status;
  }

  // The run finished or failed during a stretch.
  void ended(ControlledRun::Event event) {
    if (event == ControlledRun::Event::Finished) {
      exit_with(0);
      return;
    }
    failed = true;
    error = run->error();
    if (stop_on_error && run->depth() > 0) {
      stop_with(StopReason::Exception, error->display());
    } else {
      exit_with(1);
    }
  }

  // Sets a forward command going; at a failure's stop, every such command
  // lets the run end as the command's would.
  bool go(Motion next) {
    if (state != State::Stopped) {
      return false;
    }
    if (failed) {
      exit_with(1);
      return false;
    }
    motion = next;
    state = State::Running;
    return true;
  }

  State advance(std::uint64_t budget) {
    if (state != State::Running) {
      return state;
    }
    const std::uint64_t end = run->steps() + std::max<std::uint64_t>(budget, 1);
    while (true) {
      ControlledRun::Stops stops = forward_stops();
      stops.step = std::min(end, next_checkpoint);
      if (motion == Motion::StepIn) {
        stops.step = std::min(stops.step, target);
      }
      const ControlledRun::Event event = run->run(stops);
      if (event != ControlledRun::Event::Paused) {
        ended(event);
        return state;
      }
      const std::uint64_t step = run->steps();
      if (step == next_checkpoint) {
        checkpoint();
      }
      std::string failure;
      std::vector<std::uint32_t> ids = breakpoints_here(true, &failure);
      if (!ids.empty()) {
        stop_with(StopReason::Breakpoint, std::move(failure), std::move(ids));
        return state;
      }
      const bool arrived = (motion == Motion::StepIn && step >= target) ||
                           ((motion == Motion::StepOver || motion == Motion::StepOut) && run->depth() < depth_below);
      if (arrived) {
        stop_with(StopReason::Step);
        return state;
      }
      if (step >= end) {
        return state;
      }
    }
  }

  ControlledRun::Stops forward_stops() const {
    ControlledRun::Stops stops;
    stops.lines = &stop_lines;
    if (motion == Motion::StepOver || motion == Motion::StepOut) {
      stops.depth_below = depth_below;
    }
    return stops;
  }
};

Result<std::unique_ptr<Session>> Session::open(std::string source, std::string input) {
  if (!is_valid_utf8(source)) {
    return Error::io_text(std::string(msg::INVALID_UTF8));
  }
  auto impl = std::make_unique<Impl>(std::move(input));
  impl->source = std::move(source);
  std::optional<ExpressionErrorSite> site;
  Result<Program> program = parse_program(impl->source, site, &impl->lines);
  SKERN_TRY(program);
  // Moving a program moves none of its statements, which the lines name.
  impl->program = std::move(*program);
  impl->statement_lines = impl->lines.statement_lines();
  impl->stop_lines.assign(std::size_t{impl->lines.last_line()} + 1, 0);
  impl->run = std::make_unique<ControlledRun>(impl->program, impl->lines, impl->input, impl->output);
  return std::unique_ptr<Session>(new Session(std::move(impl)));
}

Session::Session(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Session::~Session() = default;

std::vector<BreakpointState> Session::set_breakpoints(const std::vector<LineBreakpoint>& breakpoints) {
  std::vector<BreakpointState> states;
  impl_->line_breakpoints.clear();
  for (const LineBreakpoint& asked : breakpoints) {
    BreakpointState state{impl_->next_id++, false, asked.line, {}};
    const std::uint32_t line = impl_->statement_line_from(asked.line);
    std::optional<Expression> condition;
    std::optional<HitCondition> hit = HitCondition::parse(asked.hit_condition);
    std::optional<LogMessage> log;
    parse_if_given(asked.condition, condition, state.message);
    parse_if_given(asked.log_message, log, state.message);
    if (!hit) {
      state.message = text::bad_hit_condition(asked.hit_condition);
    }
    if (line == 0) {
      state.message = std::string(text::NO_STATEMENT_AT_OR_AFTER);
    }
    if (state.message.empty()) {
      state.verified = true;
      state.line = line;
      impl_->line_breakpoints.push_back(
          LineBreakpointRecord{state.id, line, std::move(condition), hit, std::move(log), 0});
    }
    states.push_back(std::move(state));
  }
  impl_->mark_stop_lines();
  return states;
}

std::vector<BreakpointState> Session::set_function_breakpoints(const std::vector<FunctionBreakpoint>& breakpoints) {
  std::vector<BreakpointState> states;
  impl_->function_breakpoints.clear();
  for (const FunctionBreakpoint& asked : breakpoints) {
    BreakpointState state{impl_->next_id++, false, 0, {}};
    const std::optional<Symbol> name = impl_->program.symbols.find(asked.name);
    const FunctionDecl* function = name ? impl_->program.functions.find(*name) : nullptr;
    std::optional<Expression> condition;
    std::optional<HitCondition> hit = HitCondition::parse(asked.hit_condition);
    parse_if_given(asked.condition, condition, state.message);
    if (!hit) {
      state.message = text::bad_hit_condition(asked.hit_condition);
    }
    if (function == nullptr) {
      state.message = text::unknown_council(asked.name);
    }
    if (state.message.empty() && function != nullptr) {
      state.verified = true;
      state.line = impl_->lines.line_of(function->body[0]);
      impl_->function_breakpoints.push_back(FunctionBreakpointRecord{state.id, function, std::move(condition), hit, 0});
    }
    states.push_back(std::move(state));
  }
  impl_->mark_stop_lines();
  return states;
}

// --- Commands ---------------------------------------------------------------------

void Session::set_stop_on_error(bool stop) { impl_->stop_on_error = stop; }

void Session::start(bool stop_on_entry) {
  Impl& session = *impl_;
  // The first statement is always a pause of its own, and the first checkpoint.
  const ControlledRun::Event event = session.run->run(ControlledRun::Stops{1, nullptr, 0});
  if (event != ControlledRun::Event::Paused) {
    session.ended(event);
    return;
  }
  session.checkpoint();
  std::string failure;
  std::vector<std::uint32_t> ids = session.breakpoints_here(true, &failure);
  if (stop_on_entry) {
    session.stop_with(StopReason::Entry);
  } else if (!ids.empty()) {
    session.stop_with(StopReason::Breakpoint, std::move(failure), std::move(ids));
  } else {
    session.motion = Motion::Continue;
    session.state = State::Running;
  }
}

void Session::continue_() { impl_->go(Motion::Continue); }

void Session::step_in() {
  if (impl_->go(Motion::StepIn)) {
    impl_->target = impl_->run->steps() + 1;
  }
}

void Session::step_over() {
  if (impl_->go(Motion::StepOver)) {
    impl_->depth_below = impl_->run->depth() + 1;
  }
}

void Session::step_out() {
  if (impl_->go(Motion::StepOut)) {
    impl_->depth_below = impl_->run->depth();
  }
}

void Session::pause() {
  if (impl_->state == State::Running) {
    impl_->stop_with(StopReason::Pause, std::string(text::PAUSED));
  }
}

void Session::step_back() {
  Impl& session = *impl_;
  if (session.state != State::Stopped) {
    return;
  }
  const std::size_t depth = session.run->depth();
  // After a failure the statement that failed can be had again from its start.
  const std::uint64_t upper = session.failed ? session.run->steps() + 1 : session.run->steps();
  if (upper <= 1) {
    session.replay_to(1);
    session.stop_with(StopReason::Step);
    return;
  }
  // Mostly the statement before is the one; after a call it is the statement
  // that made the call, further back.
  session.replay_to(upper - 1);
  if (session.run->depth() > depth) {
    const std::optional<std::uint64_t> found =
        session.find_back(upper - 1, ControlledRun::Stops{0, nullptr, depth + 1},
                          [&session, depth] { return session.run->depth() <= depth; });
    session.replay_to(found.value_or(1));
  }
  session.stop_with(StopReason::Step);
}

void Session::reverse_continue() {
  Impl& session = *impl_;
  if (session.state != State::Stopped) {
    return;
  }
  const std::uint64_t upper = session.failed ? session.run->steps() + 1 : session.run->steps();
  std::optional<std::uint64_t> found;
  if (!session.line_breakpoints.empty() || !session.function_breakpoints.empty()) {
    found = session.find_back(upper, ControlledRun::Stops{0, &session.stop_lines, 0},
                              [&session] { return !session.breakpoints_here(false, nullptr).empty(); });
  }
  if (!found) {
    session.replay_to(1);
    session.stop_with(StopReason::Entry);
    return;
  }
  session.replay_to(*found);
  session.stop_with(StopReason::Breakpoint, {}, session.breakpoints_here(false, nullptr));
}

State Session::advance(std::uint64_t budget) { return impl_->advance(budget); }

// --- Where the run stands ---------------------------------------------------------

State Session::state() const { return impl_->state; }
const Stop& Session::stop() const { return impl_->stop; }
int Session::exit_status() const { return impl_->exit_status; }
const std::string& Session::output() const { return impl_->output.text(); }
std::size_t Session::output_utf16() const { return impl_->output.utf16(); }

std::string Session::report() const { return impl_->error ? impl_->error->display() + "\n" : std::string(); }

const Error* Session::error() const { return impl_->error ? &*impl_->error : nullptr; }

std::vector<Session::LogLine> Session::take_logs() { return std::exchange(impl_->logs, {}); }

std::uint64_t Session::steps() const { return impl_->run->steps(); }

std::size_t Session::depth() const { return impl_->state == State::Exited ? 0 : impl_->run->depth(); }

FrameInfo Session::frame(std::size_t index) const {
  const FrameView view = impl_->run->frame(index);
  const std::string name =
      view.function == nullptr ? std::string(MAIN_FRAME_NAME) : impl_->program.symbols.name(view.function->name);
  return FrameInfo{name, view.line};
}

namespace {
VariableInfo info_of(const Program& program, const VariableView& view) {
  return VariableInfo{program.symbols.name(view.name),
                      std::string(type_name(view.declared_type.value_or(view.value.type()))), display_value(view.value),
                      !view.declared_type.has_value()};
}
}  // namespace

std::vector<VariableInfo> Session::variables(std::size_t frame) const {
  std::vector<VariableInfo> infos;
  for (const VariableView& view : impl_->run->variables(frame)) {
    infos.push_back(info_of(impl_->program, view));
  }
  return infos;
}

std::vector<BorrowedInfo> Session::borrowed(std::size_t frame) const {
  std::vector<BorrowedInfo> infos;
  for (const Symbol name : impl_->run->borrowed(frame)) {
    BorrowedInfo info{impl_->program.symbols.name(name), std::nullopt, 0, {}};
    if (const std::optional<ReachedView> reached = impl_->run->reach(frame, name)) {
      info.variable = info_of(impl_->program, reached->variable);
      info.owner = reached->owner;
      info.owner_name = this->frame(reached->owner).name;
    }
    infos.push_back(std::move(info));
  }
  return infos;
}

Result<VariableInfo> Session::evaluate(std::string_view expression, std::size_t frame) const {
  Result<Expression> parsed = Expression::parse(expression);
  SKERN_TRY(parsed);
  Result<Value> value = parsed->evaluate(*impl_->run, impl_->program, frame);
  SKERN_TRY(value);
  return VariableInfo{parsed->text(), std::string(type_name(value->type())), display_value(*value), false};
}

std::uint32_t Session::last_line() const { return impl_->lines.last_line(); }
std::size_t Session::checkpoint_count() const { return impl_->saved.size(); }
std::size_t Session::checkpoint_bytes() const { return impl_->saved_bytes; }

}  // namespace skern::debug
