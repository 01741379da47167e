// The debug adapter's message handling, fed two ways by the first byte:
//
//  - even: the rest is raw message bodies, cut at each NUL byte, handed to
//    an adapter as a client's messages (malformed JSON, wrong kinds and
//    unknown requests included);
//  - odd: the rest is a program, up to a NUL byte, and after it requests
//    about it: each two bytes a request (breakpoints, stepping both ways,
//    frames, variables, evaluation) and a small number for its arguments,
//    with the program carried on a little after each.
//
// Checked besides "no crash": every message the adapter sends is a JSON
// object with a seq and a type; every response names its request and says
// whether it succeeded; the program's output is never sent twice.
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "dap/adapter.h"
#include "fuzz_common.h"

namespace skern::fuzz {
namespace {

using Json = nlohmann::json;

// What the adapter has sent so far, checked message by message.
struct Client {
  dap::Adapter adapter;
  std::string output;  // every stdout output event, in order

  void take(const std::vector<std::string>& messages) {
    for (const std::string& text : messages) {
      const Json message = Json::parse(text, nullptr, false);
      check(message.is_object() && message.contains("seq") && message.contains("type"),
            "a message without seq and type", text);
      if (message["type"] == "response") {
        check(message.contains("request_seq") && message.contains("command") && message.contains("success") &&
                  message["success"].is_boolean(),
              "a response that does not name its request and outcome", text);
      } else if (message["type"] == "event" && message.value("event", "") == "output" &&
                 message["body"].value("category", "") == "stdout") {
        output += message["body"].value("output", "");
      }
    }
  }
  void send(const Json& request) {
    take(adapter.handle(request.dump(-1, ' ', false, Json::error_handler_t::replace)));
  }
  void carry_on() {
    for (int stretch = 0; stretch < 4 && adapter.running(); ++stretch) {
      take(adapter.work(200));
    }
  }
};

void raw(std::string_view bytes) {
  Client client;
  while (!bytes.empty() && !client.adapter.done()) {
    const std::size_t end = std::min(bytes.find('\0'), bytes.size());
    client.take(client.adapter.handle(bytes.substr(0, end)));
    client.carry_on();
    bytes.remove_prefix(std::min(end + 1, bytes.size()));
  }
}

// A file of the program for the launch, removed when the input is done.
class ProgramFile {
 public:
  explicit ProgramFile(std::string_view text) : path_("/tmp/fuzz_dap_" + std::to_string(::getpid()) + ".skr") {
    std::FILE* file = std::fopen(path_.c_str(), "wb");
    check(file != nullptr, "cannot write the program's file", path_);
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
  }
  ProgramFile(const ProgramFile&) = delete;
  ProgramFile& operator=(const ProgramFile&) = delete;
  ~ProgramFile() { std::remove(path_.c_str()); }
  [[nodiscard]] const std::string& path() const { return path_; }

 private:
  std::string path_;
};

void session(std::string_view bytes) {
  const std::size_t end = std::min(bytes.find('\0'), bytes.size());
  const ProgramFile file(bytes.substr(0, end));
  std::string_view requests = end < bytes.size() ? bytes.substr(end + 1) : std::string_view();
  Client client;
  int seq = 1;
  const auto request = [&](std::string_view command, Json arguments = Json::object()) {
    client.send({{"seq", seq++}, {"type", "request"}, {"command", command}, {"arguments", std::move(arguments)}});
    client.carry_on();
  };
  request("initialize", {{"adapterID", "skerran"}});
  request("launch", {{"program", file.path()}, {"input", "7\nword\n"}, {"stopOnEntry", !requests.empty() && (requests.front() & 1) != 0}});
  request("configurationDone");
  static constexpr std::array<std::string_view, 12> moves = {"next",         "stepIn",  "stepOut",
                                                             "stepBack",     "continue", "reverseContinue",
                                                             "pause",        "stackTrace", "scopes",
                                                             "variables",    "evaluate", "exceptionInfo"};
  static constexpr std::array<std::string_view, 5> expressions = {"x", "x + 1", "n * 2.5", "!aye", "f with 1"};
  for (std::size_t i = 0; i + 2 <= requests.size() && !client.adapter.done(); i += 2) {
    const auto kind = static_cast<unsigned char>(requests[i]);
    const auto number = static_cast<unsigned char>(requests[i + 1]);
    if (kind % 16 == 12) {
      request("setBreakpoints", {{"source", {{"path", file.path()}}},
                                 {"breakpoints", {{{"line", number % 32}, {"condition", (number & 32) != 0 ? "x > 1" : ""}}}}});
    } else if (kind % 16 == 13) {
      request("setFunctionBreakpoints", {{"breakpoints", {{{"name", (number & 1) != 0 ? "f" : "g"}}}}});
    } else if (kind % 16 == 14) {
      request("setExceptionBreakpoints", {{"filters", (number & 1) != 0 ? Json::array({"runtime"}) : Json::array()}});
    } else if (kind % 16 == 15) {
      request("restart");
    } else {
      const std::string_view command = moves[kind % 16];
      request(command, {{"threadId", 1},
                        {"frameId", number % 4},
                        {"variablesReference", number % 5},
                        {"startFrame", number % 3},
                        {"levels", number % 7},
                        {"expression", expressions[number % expressions.size()]}});
    }
  }
  request("disconnect");
}

void fuzz_one(std::string_view input) {
  if (input.empty()) {
    return;
  }
  if ((static_cast<unsigned char>(input.front()) & 1U) == 0) {
    raw(input.substr(1));
  } else {
    session(input.substr(1));
  }
}

}  // namespace
}  // namespace skern::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  auto body = [input] { skern::fuzz::fuzz_one(input); };
  skern::fuzz::LargeStack::run(body);
  return 0;
}
