// Messages over a byte stream, each behind a header that gives its length:
//
//     Content-Length: 52\r\n
//     \r\n
//     {"jsonrpc":"2.0","id":1,"method":"initialize",...}
//
// as the Language Server Protocol and the Debug Adapter Protocol both frame
// their JSON. Only the framing lives here: what the bodies mean is the
// caller's. Needs nothing beyond the standard library and POSIX write().
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace skern::protocol {

// One message cut out of the byte stream: its body, or what was wrong with
// its header.
struct Framed {
  std::string body;
  std::optional<std::string> problem;
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

// Writes all of the bytes to the file descriptor, resuming after signals;
// false when the descriptor takes no more (the reader has gone).
bool write_all(int fd, std::string_view bytes);

}  // namespace skern::protocol
