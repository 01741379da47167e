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

// A header block, its closing blank line included, is at most this long.
inline constexpr std::size_t LONGEST_HEADER = 8192;
// Larger bodies are refused rather than waited for.
inline constexpr std::size_t LARGEST_BODY = std::size_t{1} << 30;

// One message cut out of the byte stream: its body, or what was wrong with
// the bytes where a header should have begun.
struct Framed {
  std::string body;
  std::optional<std::string> problem;
};

// Splits the incoming bytes into messages.
//
// A header block is the bytes up to the first blank line ("\r\n\r\n"): lines
// of `Name: value`, one of them Content-Length (in any letter case) with the
// body's length in decimal; other fields are ignored. When the bytes at a
// header's place are not one (a line without a colon, no Content-Length, a
// length that is not a number or too large, no blank line within
// LONGEST_HEADER bytes), one problem is reported and the search for the next
// header goes on at the next "Content-Length" from the byte after where the
// bad one began. Further bad headers before the next message belong to the
// same run of junk and are not reported again.
//
// What comes out depends on the bytes alone, never on how they were split
// into calls of feed(): a stream fed in any pieces gives the same messages
// and problems in the same order.
class MessageReader {
 public:
  void feed(std::string_view bytes);
  // The next message or problem, once the bytes that decide it have arrived.
  std::optional<Framed> next();

 private:
  enum class Phase { header, body, search };

  std::optional<Framed> read_header();
  std::optional<Framed> junk(std::string_view problem);

  std::string buffer_;
  Phase phase_ = Phase::header;
  // Where the header, the body or the search begins.
  std::size_t start_ = 0;
  // Reading a header: no "\r\n\r\n" begins between start_ and here.
  std::size_t scanned_ = 0;
  // Reading a body: its length.
  std::size_t body_size_ = 0;
  // Whether a problem has been reported since the last message: a run of
  // junk is reported once.
  bool in_junk_ = false;
};

// The header and body of a message to send.
std::string frame(std::string_view body);

// Writes all of the bytes to the file descriptor, resuming after signals;
// false when the descriptor takes no more (the reader has gone).
bool write_all(int fd, std::string_view bytes);

}  // namespace skern::protocol
