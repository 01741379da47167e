// The language server: messages framed by their Content-Length headers, and
// the JSON-RPC conversation over them, one message in and its replies out.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace skern::lsp {

// One message cut out of the byte stream: its body, or what was wrong with
// its header.
struct Framed {
  std::string body;
  std::optional<std::string> header_error;
};

// Splits the incoming bytes into messages. A header that cannot be read is
// reported once and skipped up to the next Content-Length header, so that one
// bad message does not end the conversation.
class MessageReader {
 public:
  void feed(std::string_view bytes);
  // The next whole message, if all of it has arrived.
  std::optional<Framed> next();

 private:
  std::string buffer_;
  std::size_t start_ = 0;   // where the unread bytes begin
  bool resyncing_ = false;  // skipping to the next header after a bad one
};

// The header and body of a message to send.
std::string frame(std::string_view body);

// One client's conversation. Messages go in as bodies; what comes back is the
// bodies to send, in order: the response to a request, and notifications
// such as a document's diagnostics.
class Server {
 public:
  Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;
  ~Server();

  std::vector<std::string> handle(std::string_view body);
  // The error response for a message whose header could not be read.
  [[nodiscard]] static std::string header_error(std::string_view description);

  // Whether the client has said `exit`, and the status the process ends
  // with: 0 after `shutdown`, else 1.
  [[nodiscard]] bool exited() const;
  [[nodiscard]] int exit_status() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Serves one client over two file descriptors until it says `exit` or its
// input ends; the status the process ends with.
int serve(int input, int output);

}  // namespace skern::lsp
