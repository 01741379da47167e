// Recording a run step by step, as JSON.
#include "debug/trace.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "debug/session.h"

namespace skern::debug {

namespace {

void append_json_string(std::string& out, std::string_view text) {
  out.push_back('"');
  for (const char c : text) {
    switch (c) {
      case '"':
        out.append("\\\"");
        break;
      case '\\':
        out.append("\\\\");
        break;
      case '\n':
        out.append("\\n");
        break;
      case '\r':
        out.append("\\r");
        break;
      case '\t':
        out.append("\\t");
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          constexpr std::string_view DIGITS = "0123456789abcdef";
          const auto code = static_cast<unsigned char>(c);
          out.append("\\u00");
          out.push_back(DIGITS[code >> 4U]);
          out.push_back(DIGITS[code & 0xFU]);
        } else {
          out.push_back(c);
        }
    }
  }
  out.push_back('"');
}

void append_field(std::string& out, std::string_view name, std::string_view text) {
  append_json_string(out, name);
  out.push_back(':');
  append_json_string(out, text);
}

void append_number(std::string& out, std::string_view name, std::uint64_t number) {
  append_json_string(out, name);
  out.push_back(':');
  out.append(std::to_string(number));
}

void append_step(std::string& out, const Session& session, const TraceLimits& limits) {
  out.append("{");
  append_number(out, "line", session.frame(0).line);
  out.push_back(',');
  append_number(out, "stdoutLength", session.output_utf16());
  out.push_back(',');
  append_number(out, "depth", session.depth());
  out.append(",\"frames\":[");
  const std::size_t shown = std::min(session.depth(), limits.frames);
  for (std::size_t index = 0; index < shown; ++index) {
    const FrameInfo frame = session.frame(index);
    out.append(index == 0 ? "{" : ",{");
    append_field(out, "name", frame.name);
    out.push_back(',');
    append_number(out, "line", frame.line);
    out.append(",\"variables\":[");
    bool first = true;
    for (const VariableInfo& variable : session.variables(index)) {
      out.append(first ? "{" : ",{");
      first = false;
      append_field(out, "name", variable.name);
      out.push_back(',');
      append_field(out, "type", variable.type);
      out.push_back(',');
      append_field(out, "value", variable.value);
      out.push_back('}');
    }
    out.append("],\"fromCallers\":[");
    first = true;
    for (const BorrowedInfo& borrowed : session.borrowed(index)) {
      out.append(first ? "{" : ",{");
      first = false;
      append_field(out, "name", borrowed.name);
      if (borrowed.variable) {
        out.push_back(',');
        append_field(out, "type", borrowed.variable->type);
        out.push_back(',');
        append_field(out, "value", borrowed.variable->value);
        out.push_back(',');
        append_field(out, "owner", borrowed.owner_name);
      }
      out.push_back('}');
    }
    out.append("]}");
  }
  out.append("]}");
}

// Runs the current command to its end.
State settle(Session& session) {
  while (session.advance(std::uint64_t{1} << 20) == State::Running) {
  }
  return session.state();
}

}  // namespace

std::string trace_json(std::string_view source, std::string_view input, const TraceLimits& limits,
                       TraceObserver* observer) {
  std::string out = "{";
  Result<std::unique_ptr<Session>> opened = Session::open(std::string(source), std::string(input));
  if (!opened.ok()) {
    append_number(out, "status", 1);
    out.append(R"(,"stdout":"",)");
    append_field(out, "stderr", opened.error().display() + "\n");
    out.append(R"(,"truncated":false,"errorLine":0,"steps":[]})");
    return out;
  }
  Session& session = **opened;
  std::string steps = "[";
  std::size_t recorded = 0;
  std::uint32_t error_line = 0;
  bool truncated = false;
  session.start(true);
  while (session.state() == State::Stopped) {
    if (session.stop().reason == StopReason::Exception) {
      error_line = session.frame(0).line;
      session.continue_();
      break;
    }
    if (recorded == limits.steps || steps.size() >= limits.bytes) {
      truncated = true;
      if (observer != nullptr) {
        steps.push_back(']');
        observer->recorded(steps, session.output());
        steps.pop_back();
      }
      session.continue_();  // on to the end, unrecorded
      if (settle(session) == State::Stopped) {
        error_line = session.frame(0).line;
        session.continue_();
      }
      break;
    }
    if (recorded > 0) {
      steps.push_back(',');
    }
    append_step(steps, session, limits);
    ++recorded;
    session.step_in();
    settle(session);
  }
  steps.push_back(']');
  append_number(out, "status", static_cast<std::uint64_t>(session.exit_status()));
  out.push_back(',');
  append_field(out, "stdout", session.output());
  out.push_back(',');
  append_field(out, "stderr", session.report());
  out.append(",\"truncated\":");
  out.append(truncated ? "true" : "false");
  out.push_back(',');
  append_number(out, "errorLine", error_line);
  out.append(",\"steps\":");
  out.append(steps);
  out.push_back('}');
  return out;
}

}  // namespace skern::debug
