// The adapter over two file descriptors: requests are read as they come,
// and while the program runs it is carried on in stretches between looks at
// the input, so that a pause request stops it at once.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>

#include "dap/adapter.h"
#include "protocol/framing.h"

namespace skern::dap {

namespace {

// A stretch of the program's run lasts about this long, so that requests
// are answered promptly while it runs.
constexpr auto STRETCH = std::chrono::milliseconds(20);
constexpr std::uint64_t FIRST_BUDGET = 10000;

bool send_all(int output, const std::vector<std::string>& bodies) {
  return std::all_of(bodies.begin(), bodies.end(),
                     [output](const std::string& body) { return protocol::write_all(output, protocol::frame(body)); });
}

// Whether input is waiting, without waiting for it.
bool input_ready(int input) {
  pollfd watched{input, POLLIN, 0};
  int ready = 0;
  do {
    ready = ::poll(&watched, 1, 0);
  } while (ready < 0 && errno == EINTR);
  return ready > 0;
}

// Carries the program on for one stretch; false when the client reads no more.
bool carry_on(Adapter& adapter, int output, std::uint64_t& budget) {
  const auto began = std::chrono::steady_clock::now();
  if (!send_all(output, adapter.work(budget))) {
    return false;
  }
  // Statements differ widely in cost: the budget follows what a stretch took.
  const auto took = std::chrono::steady_clock::now() - began;
  if (took < STRETCH / 2 && budget < (std::uint64_t{1} << 40)) {
    budget *= 2;
  } else if (took > STRETCH * 2 && budget > 1) {
    budget /= 2;
  }
  return true;
}

// Answers every message that has arrived whole; false when the client reads no more.
bool answer(Adapter& adapter, protocol::MessageReader& reader, int output) {
  while (!adapter.done()) {
    std::optional<protocol::Framed> message = reader.next();
    if (!message) {
      return true;
    }
    const std::vector<std::string> replies =
        message->problem ? adapter.framing_problem(*message->problem) : adapter.handle(message->body);
    if (!send_all(output, replies)) {
      return false;
    }
  }
  return true;
}

}  // namespace

int serve(int input, int output) {
  Adapter adapter;
  protocol::MessageReader reader;
  std::array<char, 1 << 16> buffer{};
  std::uint64_t budget = FIRST_BUDGET;
  while (!adapter.done()) {
    if (adapter.running() && !input_ready(input)) {
      if (!carry_on(adapter, output, budget)) {
        return 1;
      }
      continue;
    }
    const ssize_t got = ::read(input, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      break;  // the client has gone without disconnecting
    }
    reader.feed(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
    if (!answer(adapter, reader, output)) {
      return 1;
    }
  }
  return 0;
}

}  // namespace skern::dap
