// Requests that look at a stopped program: its frames, their variables, an
// expression's value and the error it stopped at.
#include <algorithm>
#include <filesystem>

#include "dap/protocol.h"

namespace skern::dap {

namespace {

// Frames sent when the client asks for all of them: a stack of a hundred
// thousand calls is paged, never sent whole.
constexpr std::size_t MOST_FRAMES = 1000;

std::size_t frame_of(const debug::Session& session, const json& request, std::string_view field) {
  const auto id = argument<std::int64_t>(request, field, 1);
  if (id < 1 || static_cast<std::size_t>(id) > session.depth()) {
    throw BadRequest{"no frame " + std::to_string(id) + " while the program stands here"};
  }
  return static_cast<std::size_t>(id - 1);
}

json source_of(const std::string& path) {
  return {{"name", std::filesystem::path(path).filename().string()}, {"path", path}};
}

std::int64_t handle_for(Adapter::State& state, std::size_t frame, Handle::Kind kind) {
  state.handles.push_back(Handle{frame, kind});
  return static_cast<std::int64_t>(state.handles.size());
}

}  // namespace

void stack_trace(Adapter::State& state, const json& request) {
  const debug::Session& session = state.stopped_session("stackTrace");
  const std::size_t depth = session.depth();
  const auto start =
      static_cast<std::size_t>(std::max<std::int64_t>(argument<std::int64_t>(request, "startFrame", 0), 0));
  const auto levels = static_cast<std::size_t>(std::max<std::int64_t>(argument<std::int64_t>(request, "levels", 0), 0));
  const std::size_t count = std::min(levels == 0 ? MOST_FRAMES : levels, depth - std::min(start, depth));
  json frames = json::array();
  for (std::size_t index = start; index < start + count; ++index) {
    const debug::FrameInfo frame = session.frame(index);
    frames.push_back({{"id", index + 1},
                      {"name", frame.name},
                      {"source", source_of(state.path)},
                      {"line", frame.line},
                      {"column", 1}});
  }
  state.respond(request, {{"stackFrames", std::move(frames)}, {"totalFrames", depth}});
}

void scopes(Adapter::State& state, const json& request) {
  const debug::Session& session = state.stopped_session("scopes");
  const std::size_t frame = frame_of(session, request, "frameId");
  json list = json::array();
  list.push_back({{"name", "Locals"},
                  {"presentationHint", "locals"},
                  {"variablesReference", handle_for(state, frame, Handle::Kind::Locals)},
                  {"namedVariables", session.variables(frame).size()},
                  {"expensive", false}});
  const std::size_t borrowed = session.borrowed(frame).size();
  if (borrowed > 0) {
    list.push_back({{"name", "From callers"},
                    {"variablesReference", handle_for(state, frame, Handle::Kind::Callers)},
                    {"namedVariables", borrowed},
                    {"expensive", false}});
  }
  state.respond(request, {{"scopes", std::move(list)}});
}

void variables(Adapter::State& state, const json& request) {
  const debug::Session& session = state.stopped_session("variables");
  const auto reference = argument<std::int64_t>(request, "variablesReference", 0);
  if (reference < 1 || static_cast<std::size_t>(reference) > state.handles.size()) {
    throw BadRequest{"no variables " + std::to_string(reference) + " while the program stands here"};
  }
  const Handle handle = state.handles[static_cast<std::size_t>(reference - 1)];
  json list = json::array();
  if (handle.kind == Handle::Kind::Locals) {
    for (const debug::VariableInfo& variable : session.variables(handle.frame)) {
      list.push_back({{"name", variable.name},
                      {"value", variable.value},
                      {"type", variable.parameter ? variable.type + ", parameter" : variable.type},
                      {"evaluateName", variable.name},
                      {"variablesReference", 0}});
    }
  } else {
    // A name the frame does not declare: the caller's variable it reaches now.
    for (const debug::BorrowedInfo& borrowed : session.borrowed(handle.frame)) {
      if (!borrowed.variable) {
        list.push_back({{"name", borrowed.name},
                        {"value", "(no variable of this name in reach)"},
                        {"type", ""},
                        {"variablesReference", 0}});
        continue;
      }
      list.push_back({{"name", borrowed.name},
                      {"value", borrowed.variable->value},
                      {"type", borrowed.variable->type + ", of " + borrowed.owner_name + " (frame " +
                                   std::to_string(borrowed.owner + 1) + ")"},
                      {"evaluateName", borrowed.name},
                      {"variablesReference", 0}});
    }
  }
  state.respond(request, {{"variables", std::move(list)}});
}

void evaluate(Adapter::State& state, const json& request) {
  const debug::Session& session = state.stopped_session("evaluate");
  const auto expression = argument<std::string>(request, "expression", "");
  const std::size_t frame = frame_of(session, request, "frameId");
  Result<debug::VariableInfo> value = session.evaluate(expression, frame);
  if (!value.ok()) {
    throw BadRequest{value.error().display()};
  }
  state.respond(request, {{"result", value->value}, {"type", value->type}, {"variablesReference", 0}});
}

void exception_info(Adapter::State& state, const json& request) {
  const debug::Session& session = state.stopped_session("exceptionInfo");
  const Error* error = session.error();
  if (error == nullptr) {
    throw BadRequest{"the program did not stop at an error"};
  }
  const std::string kind = error->kind() == Error::Kind::Io ? "I/O error" : "runtime error";
  state.respond(request, {{"exceptionId", kind},
                          {"description", error->display()},
                          {"breakMode", "always"},
                          {"details", {{"message", error->display()}, {"typeName", kind}}}});
}

}  // namespace skern::dap
