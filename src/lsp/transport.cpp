// The loop that serves one client over two file descriptors, its messages
// framed by protocol/framing.h.
#include <unistd.h>

#include <array>
#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "lsp/server.h"
#include "protocol/framing.h"

namespace skern::lsp {

int serve(int input, int output) {
  Server server;
  protocol::MessageReader reader;
  std::array<char, 1 << 16> buffer{};
  while (!server.exited()) {
    const ssize_t got = ::read(input, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      break;  // the client has gone without `exit`
    }
    reader.feed(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
    while (!server.exited()) {
      std::optional<protocol::Framed> message = reader.next();
      if (!message) {
        break;
      }
      std::vector<std::string> replies;
      if (message->problem) {
        replies.push_back(Server::header_error(*message->problem));
      } else {
        replies = server.handle(message->body);
      }
      for (const std::string& reply : replies) {
        if (!protocol::write_all(output, protocol::frame(reply))) {
          return 1;  // nobody reads any longer
        }
      }
    }
  }
  return server.exit_status();
}

}  // namespace skern::lsp
