// The language server: the JSON-RPC conversation, one message in and its
// replies out, over the framing of protocol/framing.h.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace skern::lsp {

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
