// skern-dap: the Debug Adapter Protocol over the debugging engine. Each
// request is translated into the engine's commands and questions; the
// engine's stops, output and end come back as events.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace skern::dap {

// One client's debugging conversation. Message bodies go in; the bodies to
// send come out, in order.
class Adapter {
 public:
  Adapter();
  Adapter(const Adapter&) = delete;
  Adapter& operator=(const Adapter&) = delete;
  ~Adapter();

  // A request from the client. Whatever is wrong with it gets an unsuccessful
  // response (or, for a message too broken to answer, an output event), and
  // the conversation goes on.
  std::vector<std::string> handle(std::string_view body);
  // A message whose framing was broken, so that it has no body to answer.
  std::vector<std::string> framing_problem(std::string_view description);

  // While the program runs, `work` carries it on for about `budget`
  // statements and gives what that produced (output, a stop, the end).
  [[nodiscard]] bool running() const;
  std::vector<std::string> work(std::uint64_t budget);

  // Whether the client has disconnected.
  [[nodiscard]] bool done() const;

  // The conversation's state, which the request handlers share (protocol.h).
  struct State;

 private:
  std::unique_ptr<State> state_;
};

// Serves one client over two file descriptors until it disconnects or its
// input ends; the status the process ends with.
int serve(int input, int output);

}  // namespace skern::dap
