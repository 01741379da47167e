// The conversation: requests dispatched to their handlers, the launch and
// the commands that move the program, and the events that tell of it.
#include "dap/adapter.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <unordered_map>

#include "dap/protocol.h"
#include "debug/messages.h"
#include "driver/cli.h"

namespace skern::dap {

namespace {

constexpr std::int64_t THREAD_ID = 1;
// Output events carry at most this much text each.
constexpr std::size_t OUTPUT_PIECE = std::size_t{1} << 16;

std::string_view reason_name(debug::StopReason reason) {
  switch (reason) {
    case debug::StopReason::Entry:
      return "entry";
    case debug::StopReason::Breakpoint:
      return "breakpoint";
    case debug::StopReason::FunctionBreakpoint:
      return "function breakpoint";
    case debug::StopReason::Step:
      return "step";
    case debug::StopReason::Exception:
      return "exception";
    case debug::StopReason::Pause:
      return "pause";
  }
  return "step";
}

json capabilities() {
  return {
      {"supportsConfigurationDoneRequest", true},
      {"supportsFunctionBreakpoints", true},
      {"supportsConditionalBreakpoints", true},
      {"supportsHitConditionalBreakpoints", true},
      {"supportsLogPoints", true},
      {"supportsEvaluateForHovers", true},
      {"supportsStepBack", true},
      {"supportsRestartRequest", true},
      {"supportsTerminateRequest", true},
      {"supportsExceptionInfoRequest", true},
      {"supportsDelayedStackTraceLoading", true},
      {"exceptionBreakpointFilters",
       json::array({{{"filter", "runtime"},
                     {"label", std::string(debug::text::RUNTIME_ERRORS_FILTER)},
                     {"description", "Stop where a runtime error ends the run, before it ends"},
                     {"default", true}}})},
  };
}

json breakpoint_body(const debug::BreakpointState& state, const std::string& path) {
  json breakpoint = {{"id", state.id}, {"verified", state.verified}};
  if (state.verified) {
    breakpoint["line"] = state.line;
    breakpoint["source"] = {{"path", path}};
  }
  if (!state.message.empty()) {
    breakpoint["message"] = state.message;
  }
  return breakpoint;
}

}  // namespace

// --- Sending ------------------------------------------------------------------------

void Adapter::State::send(json message) {
  message["seq"] = seq++;
  out.push_back(message.dump(-1, ' ', false, json::error_handler_t::replace));
}

void Adapter::State::respond(const json& request, json body) {
  send({{"type", "response"},
        {"request_seq", request.value("seq", 0)},
        {"command", request.value("command", "")},
        {"success", true},
        {"body", std::move(body)}});
}

void Adapter::State::fail(const json& request, std::string_view message) {
  const std::int64_t request_seq = request.is_object() && request.contains("seq") && request["seq"].is_number_integer()
                                       ? request["seq"].get<std::int64_t>()
                                       : 0;
  const std::string command = request.is_object() && request.contains("command") && request["command"].is_string()
                                  ? request["command"].get<std::string>()
                                  : std::string();
  send({{"type", "response"},
        {"request_seq", request_seq},
        {"command", command},
        {"success", false},
        {"message", std::string(message)},
        {"body", {{"error", {{"id", 1}, {"format", std::string(message)}, {"showUser", false}}}}}});
}

void Adapter::State::event(std::string_view name, json body) {
  send({{"type", "event"}, {"event", std::string(name)}, {"body", std::move(body)}});
}

void Adapter::State::flush_output() {
  if (!session) {
    return;
  }
  const std::string& text = session->output();
  const auto write_stdout = [this, &text](std::size_t until) {
    while (sent < until) {
      const std::size_t piece = std::min(OUTPUT_PIECE, until - sent);
      event("output", {{"category", "stdout"}, {"output", text.substr(sent, piece)}});
      sent += piece;
    }
  };
  for (const debug::Session::LogLine& log : session->take_logs()) {
    write_stdout(std::min(log.output_bytes, text.size()));
    event("output", {{"category", "console"}, {"output", log.text + "\n"}});
  }
  write_stdout(text.size());
}

void Adapter::State::report() {
  flush_output();
  if (!session || ended) {
    return;
  }
  switch (session->state()) {
    case debug::State::Running:
      return;
    case debug::State::Stopped: {
      handles.clear();
      const debug::Stop& stop = session->stop();
      json body = {{"reason", reason_name(stop.reason)}, {"threadId", THREAD_ID}, {"allThreadsStopped", true}};
      if (!stop.description.empty()) {
        body["description"] = stop.description;
        body["text"] = stop.description;
      }
      if (!stop.breakpoints.empty()) {
        body["hitBreakpointIds"] = stop.breakpoints;
      }
      event("stopped", std::move(body));
      return;
    }
    case debug::State::Exited: {
      const std::string report = session->report();
      if (!report.empty()) {
        event("output", {{"category", "stderr"}, {"output", report}});
      }
      event("exited", {{"exitCode", session->exit_status()}});
      event("terminated");
      ended = true;
      return;
    }
  }
}

debug::Session& Adapter::State::running_session(std::string_view command) const {
  if (!session || ended) {
    throw BadRequest{"`" + std::string(command) + "` needs a launched program that has not ended"};
  }
  return *session;
}

debug::Session& Adapter::State::stopped_session(std::string_view command) const {
  debug::Session& running = running_session(command);
  if (running.state() != debug::State::Stopped) {
    throw BadRequest{"`" + std::string(command) + "` needs the program to be stopped"};
  }
  return running;
}

// --- The launch -----------------------------------------------------------------------

namespace {

// Reads a whole file as the command reads its program.
Result<std::string> read_file(const std::string& path) { return read_source_file(path.c_str()); }

void apply_breakpoints(Adapter::State& state, json* line_response) {
  if (!state.session) {
    return;
  }
  std::vector<debug::BreakpointState> lines =
      state.session->set_breakpoints(state.no_debug ? std::vector<debug::LineBreakpoint>{} : state.line_breakpoints);
  state.session->set_function_breakpoints(state.no_debug ? std::vector<debug::FunctionBreakpoint>{}
                                                         : state.function_breakpoints);
  state.session->set_stop_on_error(state.stop_on_error && !state.no_debug);
  if (line_response != nullptr) {
    json breakpoints = json::array();
    for (const debug::BreakpointState& breakpoint : lines) {
      breakpoints.push_back(breakpoint_body(breakpoint, state.path));
    }
    *line_response = {{"breakpoints", std::move(breakpoints)}};
  }
}

// Opens a session for the launch's program; a program that cannot be read
// or parsed ends at once with the command's report and status.
void open_session(Adapter::State& state) {
  state.sent = 0;
  state.ended = false;
  state.handles.clear();
  Result<std::string> source = read_file(state.path);
  Result<std::unique_ptr<debug::Session>> session = source.ok()
                                                        ? debug::Session::open(std::move(*source), state.input)
                                                        : Result<std::unique_ptr<debug::Session>>(source.error());
  if (!session.ok()) {
    state.session.reset();
    state.event("output", {{"category", "stderr"}, {"output", session.error().display() + "\n"}});
    state.event("exited", {{"exitCode", 1}});
    state.event("terminated");
    state.ended = true;
    return;
  }
  state.session = std::move(*session);
  apply_breakpoints(state, nullptr);
}

void launch(Adapter::State& state, const json& request) {
  const auto program = argument<std::string>(request, "program", "");
  if (program.empty()) {
    throw BadRequest{"`launch` needs `program`: the path of the .skr file to run"};
  }
  auto input = argument<std::string>(request, "input", "");
  const auto input_file = argument<std::string>(request, "inputFile", "");
  if (!input_file.empty()) {
    std::ifstream file(input_file, std::ios::binary);
    if (!file) {
      throw BadRequest{"cannot read `inputFile` " + input_file};
    }
    input.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  state.path = program;
  state.input = std::move(input);
  state.stop_on_entry = argument<bool>(request, "stopOnEntry", false);
  state.no_debug = argument<bool>(request, "noDebug", false);
  state.respond(request);
  open_session(state);
  if (!state.ended) {
    state.event("initialized");
    if (state.configured) {
      state.session->start(state.stop_on_entry);
      state.report();
    }
  }
}

void configuration_done(Adapter::State& state, const json& request) {
  state.respond(request);
  if (state.configured) {
    return;
  }
  state.configured = true;
  if (state.session && !state.ended) {
    state.session->start(state.stop_on_entry);
    state.report();
  }
}

void restart(Adapter::State& state, const json& request) {
  if (state.path.empty()) {
    throw BadRequest{"`restart` needs a launched program"};
  }
  if (request.contains("arguments") && request["arguments"].is_object() && request["arguments"].contains("arguments") &&
      request["arguments"]["arguments"].is_object()) {
    const json& fresh = request["arguments"]["arguments"];
    state.path = fresh.value("program", state.path);
    state.input = fresh.value("input", state.input);
    state.stop_on_entry = fresh.value("stopOnEntry", state.stop_on_entry);
  }
  state.respond(request);
  open_session(state);
  if (!state.ended) {
    state.session->start(state.stop_on_entry);
    state.report();
  }
}

// --- Breakpoints ----------------------------------------------------------------------

void set_breakpoints(Adapter::State& state, const json& request) {
  const json source = argument<json>(request, "source", json::object());
  const std::string path = source.is_object() ? source.value("path", "") : "";
  std::vector<debug::LineBreakpoint> asked;
  for (const json& breakpoint : argument<json>(request, "breakpoints", json::array())) {
    debug::LineBreakpoint line;
    line.line = breakpoint.at("line").get<std::uint32_t>();
    line.condition = breakpoint.value("condition", "");
    line.hit_condition = breakpoint.value("hitCondition", "");
    line.log_message = breakpoint.value("logMessage", "");
    asked.push_back(std::move(line));
  }
  const bool ours = state.path.empty() || path.empty() || path == state.path ||
                    std::filesystem::weakly_canonical(path) == std::filesystem::weakly_canonical(state.path);
  if (!ours) {
    json breakpoints = json::array();
    for (std::size_t i = 0; i < asked.size(); ++i) {
      breakpoints.push_back({{"verified", false}, {"message", "not the program being debugged"}});
    }
    state.respond(request, {{"breakpoints", std::move(breakpoints)}});
    return;
  }
  state.line_breakpoints = std::move(asked);
  json body;
  if (state.session) {
    apply_breakpoints(state, &body);
  } else {
    json breakpoints = json::array();
    for (const debug::LineBreakpoint& line : state.line_breakpoints) {
      breakpoints.push_back(
          {{"verified", false}, {"line", line.line}, {"message", "set when the program is launched"}});
    }
    body = {{"breakpoints", std::move(breakpoints)}};
  }
  state.respond(request, std::move(body));
}

void set_function_breakpoints(Adapter::State& state, const json& request) {
  state.function_breakpoints.clear();
  for (const json& breakpoint : argument<json>(request, "breakpoints", json::array())) {
    state.function_breakpoints.push_back(debug::FunctionBreakpoint{breakpoint.at("name").get<std::string>(),
                                                                   breakpoint.value("condition", ""),
                                                                   breakpoint.value("hitCondition", "")});
  }
  json breakpoints = json::array();
  if (state.session) {
    for (const debug::BreakpointState& set : state.session->set_function_breakpoints(state.function_breakpoints)) {
      breakpoints.push_back(breakpoint_body(set, state.path));
    }
  } else {
    for (std::size_t i = 0; i < state.function_breakpoints.size(); ++i) {
      breakpoints.push_back({{"verified", false}, {"message", "set when the program is launched"}});
    }
  }
  state.respond(request, {{"breakpoints", std::move(breakpoints)}});
}

void set_exception_breakpoints(Adapter::State& state, const json& request) {
  const json filters = argument<json>(request, "filters", json::array());
  state.stop_on_error = std::any_of(filters.begin(), filters.end(),
                                    [](const json& filter) { return filter.is_string() && filter == "runtime"; });
  if (state.session) {
    state.session->set_stop_on_error(state.stop_on_error && !state.no_debug);
  }
  json breakpoints = json::array();
  for (std::size_t i = 0; i < filters.size(); ++i) {
    breakpoints.push_back({{"verified", true}});
  }
  state.respond(request, {{"breakpoints", std::move(breakpoints)}});
}

// --- Moving the program ----------------------------------------------------------------

// A command that sets the program going: answered at once; its stop comes
// later as an event.
void move(Adapter::State& state, const json& request, const std::function<void(debug::Session&)>& command) {
  debug::Session& session = state.stopped_session(request.value("command", ""));
  json body = json::object();
  if (request.value("command", "") == "continue") {
    body["allThreadsContinued"] = true;
  }
  state.respond(request, std::move(body));
  command(session);
  state.report();
}

void pause(Adapter::State& state, const json& request) {
  debug::Session& session = state.running_session("pause");
  state.respond(request);
  if (session.state() == debug::State::Running) {
    session.pause();
    state.report();
  }
}

void threads(Adapter::State& state, const json& request) {
  state.respond(request, {{"threads", json::array({{{"id", THREAD_ID}, {"name", "main"}}})}});
}

void terminate(Adapter::State& state, const json& request) {
  state.respond(request);
  if (!state.ended) {
    state.flush_output();
    state.event("terminated");
    state.ended = true;
  }
}

void disconnect(Adapter::State& state, const json& request) {
  state.respond(request);
  state.done = true;
}

using Handler = void (*)(Adapter::State&, const json&);

const std::unordered_map<std::string_view, Handler>& handlers() {
  static const std::unordered_map<std::string_view, Handler> table = {
      {"initialize", [](Adapter::State& state, const json& request) { state.respond(request, capabilities()); }},
      {"launch", launch},
      {"configurationDone", configuration_done},
      {"setBreakpoints", set_breakpoints},
      {"setFunctionBreakpoints", set_function_breakpoints},
      {"setExceptionBreakpoints", set_exception_breakpoints},
      {"threads", threads},
      {"stackTrace", stack_trace},
      {"scopes", scopes},
      {"variables", variables},
      {"evaluate", evaluate},
      {"exceptionInfo", exception_info},
      {"continue",
       [](Adapter::State& state, const json& request) {
         move(state, request, [](debug::Session& session) { session.continue_(); });
       }},
      {"next", [](Adapter::State& state,
                  const json& request) { move(state, request, [](debug::Session& session) { session.step_over(); }); }},
      {"stepIn", [](Adapter::State& state,
                    const json& request) { move(state, request, [](debug::Session& session) { session.step_in(); }); }},
      {"stepOut",
       [](Adapter::State& state, const json& request) {
         move(state, request, [](debug::Session& session) { session.step_out(); });
       }},
      {"stepBack",
       [](Adapter::State& state, const json& request) {
         move(state, request, [](debug::Session& session) { session.step_back(); });
       }},
      {"reverseContinue",
       [](Adapter::State& state, const json& request) {
         move(state, request, [](debug::Session& session) { session.reverse_continue(); });
       }},
      {"pause", pause},
      {"restart", restart},
      {"terminate", terminate},
      {"disconnect", disconnect},
  };
  return table;
}

}  // namespace

// --- The adapter ----------------------------------------------------------------------

Adapter::Adapter() : state_(std::make_unique<State>()) {}
Adapter::~Adapter() = default;

std::vector<std::string> Adapter::handle(std::string_view body) {
  State& state = *state_;
  const json request = json::parse(body, nullptr, false);
  if (request.is_discarded() || !request.is_object()) {
    state.event("output",
                {{"category", "console"}, {"output", "skern-dap: a message that is not a JSON object was ignored\n"}});
  } else if (request.value("type", "") != "request" || !request.contains("command") ||
             !request["command"].is_string()) {
    state.fail(request, R"(not a request: a message needs "type": "request" and a "command")");
  } else {
    const auto command = request["command"].get<std::string>();
    const auto found = handlers().find(command);
    if (found == handlers().end()) {
      state.fail(request, "unknown request `" + command + "`");
    } else {
      try {
        found->second(state, request);
      } catch (const BadRequest& bad) {
        state.fail(request, bad.message);
      } catch (const json::exception& error) {
        state.fail(request, std::string("malformed arguments: ") + error.what());
      } catch (const std::bad_alloc&) {
        state.fail(request, "out of memory");
      }
    }
  }
  return std::exchange(state.out, {});
}

std::vector<std::string> Adapter::framing_problem(std::string_view description) {
  state_->event(
      "output",
      {{"category", "console"},
       {"output", "skern-dap: bytes that are not a message were ignored: " + std::string(description) + "\n"}});
  return std::exchange(state_->out, {});
}

bool Adapter::running() const {
  return state_->session && !state_->ended && state_->session->state() == debug::State::Running;
}

std::vector<std::string> Adapter::work(std::uint64_t budget) {
  if (running()) {
    state_->session->advance(budget);
    state_->report();
  }
  return std::exchange(state_->out, {});
}

bool Adapter::done() const { return state_->done; }

}  // namespace skern::dap
