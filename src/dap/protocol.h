// Private to the adapter: the conversation's state and the helpers that the
// request handlers share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dap/adapter.h"
#include "debug/session.h"

namespace skern::dap {

using nlohmann::json;

// A request's arguments that cannot be used: the handler says why, and the
// request gets an unsuccessful response with that message.
struct BadRequest {
  std::string message;
};

// What a variablesReference names while the program is stopped.
struct Handle {
  enum class Kind : std::uint8_t { Locals, Callers };
  std::size_t frame = 0;
  Kind kind = Kind::Locals;
};

struct Adapter::State {
  std::int64_t seq = 1;
  std::vector<std::string> out;

  // The launch, kept for restart.
  std::string path;  // the program's path, as the client named it
  std::string input;
  bool stop_on_entry = false;
  bool no_debug = false;
  bool configured = false;
  bool done = false;
  bool ended = false;  // exited and terminated have been sent
  std::unique_ptr<debug::Session> session;

  // Breakpoints as asked, applied to each new session.
  std::vector<debug::LineBreakpoint> line_breakpoints;
  std::vector<debug::FunctionBreakpoint> function_breakpoints;
  bool stop_on_error = true;

  std::size_t sent = 0;  // bytes of standard output sent: never sent twice
  std::vector<Handle> handles;

  void send(json message);
  void respond(const json& request, json body = json::object());
  void fail(const json& request, std::string_view message);
  void event(std::string_view name, json body = json::object());

  // Output not yet sent, log lines in their place among it.
  void flush_output();
  // Events for where the run stands after a command or a stretch.
  void report();
  [[nodiscard]] debug::Session& running_session(std::string_view command) const;
  [[nodiscard]] debug::Session& stopped_session(std::string_view command) const;
};

// The handlers of requests that look at a stopped program (stopped.cpp).
void stack_trace(Adapter::State& state, const json& request);
void scopes(Adapter::State& state, const json& request);
void variables(Adapter::State& state, const json& request);
void evaluate(Adapter::State& state, const json& request);
void exception_info(Adapter::State& state, const json& request);

// An argument of a request, checked: absent gives `otherwise`, the wrong kind
// a BadRequest.
template <class T>
T argument(const json& request, std::string_view name, T otherwise) {
  const json& arguments = request.contains("arguments") ? request["arguments"] : json::object();
  if (!arguments.is_object() || !arguments.contains(name) || arguments[std::string(name)].is_null()) {
    return otherwise;
  }
  const json& value = arguments[std::string(name)];
  try {
    return value.get<T>();
  } catch (const json::exception&) {
    throw BadRequest{"`" + std::string(name) + "` has the wrong type"};
  }
}

}  // namespace skern::dap
