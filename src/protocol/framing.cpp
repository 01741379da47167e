// Content-Length framing: cutting messages out of a byte stream, and
// framing and writing them.
#include "protocol/framing.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <variant>

namespace skern::protocol {

namespace {

constexpr std::string_view LENGTH_FIELD = "Content-Length";
// Ends a header block: the line break of its last line and a blank line.
constexpr std::string_view HEADER_END = "\r\n\r\n";
constexpr std::string_view LINE_END = "\r\n";
// What is wrong with a header that has not ended within LONGEST_HEADER.
constexpr std::string_view NOT_ENDED = "the header does not end within 8192 bytes";
static_assert(LONGEST_HEADER == 8192, "NOT_ENDED gives the longest header's size");

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
bool same_letter(char x, char y) { return lower(x) == lower(y); }

bool same_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), same_letter);
}

// Where the field name Content-Length first occurs in `text`, in any case,
// as header names are read. Candidates are the bytes in either case of its
// first letter, each case found by a fast search of its own.
std::size_t find_length_field(std::string_view text) {
  constexpr char UPPER = 'C';
  constexpr char LOWER = 'c';
  static_assert(LENGTH_FIELD.front() == UPPER);
  std::size_t upper = text.find(UPPER);
  std::size_t lower = text.find(LOWER);
  while (true) {
    const std::size_t at = std::min(upper, lower);
    if (at == std::string_view::npos || text.size() - at < LENGTH_FIELD.size()) {
      return std::string_view::npos;
    }
    if (same_ignoring_case(text.substr(at, LENGTH_FIELD.size()), LENGTH_FIELD)) {
      return at;
    }
    if (at == upper) {
      upper = text.find(UPPER, at + 1);
    } else {
      lower = text.find(LOWER, at + 1);
    }
  }
}

std::string_view trim(std::string_view value) {
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
    value.remove_prefix(1);
  }
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
    value.remove_suffix(1);
  }
  return value;
}

// The body length that a header block (without its blank line) gives, or
// what is wrong with it.
std::variant<std::size_t, std::string_view> body_length(std::string_view header) {
  std::optional<std::size_t> length;
  while (!header.empty()) {
    const std::size_t end = std::min(header.find(LINE_END), header.size());
    const std::string_view field = header.substr(0, end);
    header.remove_prefix(std::min(end + LINE_END.size(), header.size()));
    const std::size_t colon = field.find(':');
    if (colon == std::string_view::npos) {
      return "a header line without a colon";
    }
    if (!same_ignoring_case(field.substr(0, colon), LENGTH_FIELD)) {
      continue;  // Content-Type, or a field of no concern
    }
    const std::string_view value = trim(field.substr(colon + 1));
    std::size_t number = 0;
    const auto [end_of_number, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (value.empty() || end_of_number != value.data() + value.size() ||
        (error != std::errc() && error != std::errc::result_out_of_range)) {
      return "Content-Length is not a number";
    }
    if (error == std::errc::result_out_of_range || number > LARGEST_BODY) {
      return "Content-Length is too large";
    }
    length = number;
  }
  if (!length) {
    return "no Content-Length";
  }
  return *length;
}

}  // namespace

void MessageReader::feed(std::string_view bytes) {
  // Let go of what has been read once it is most of the buffer.
  if (start_ > 0 && start_ >= buffer_.size() / 2) {
    buffer_.erase(0, start_);
    scanned_ -= std::min(scanned_, start_);
    start_ = 0;
  }
  buffer_.append(bytes);
}

std::optional<Framed> MessageReader::next() {
  while (true) {
    switch (phase_) {
      case Phase::search: {
        const std::string_view rest = std::string_view(buffer_).substr(start_);
        const std::size_t found = find_length_field(rest);
        if (found == std::string_view::npos) {
          // Keep what could be the start of the field name.
          start_ = buffer_.size() - std::min(rest.size(), LENGTH_FIELD.size() - 1);
          return std::nullopt;
        }
        start_ += found;
        phase_ = Phase::header;
        break;
      }
      case Phase::header: {
        std::optional<Framed> problem = read_header();
        if (problem || phase_ == Phase::header) {
          return problem;  // a problem, or the header is still on its way
        }
        break;
      }
      case Phase::body: {
        if (buffer_.size() - start_ < body_size_) {
          return std::nullopt;  // the rest of the body is still on its way
        }
        Framed message{buffer_.substr(start_, body_size_), std::nullopt};
        start_ += body_size_;
        phase_ = Phase::header;
        in_junk_ = false;
        return message;
      }
    }
  }
}

// Reads the header block at start_: on to its body when it is one, else to
// the search for the next header. Nothing changes while the header could
// still end within LONGEST_HEADER bytes and has not.
std::optional<Framed> MessageReader::read_header() {
  // Only a blank line within the longest header ends it, however many bytes
  // are here already; the search goes on where the last one stopped.
  const std::size_t window_end = std::min(buffer_.size(), start_ + LONGEST_HEADER);
  const std::size_t from = std::max(start_, scanned_);
  const std::size_t end =
      from < window_end ? std::string_view(buffer_).substr(0, window_end).find(HEADER_END, from) : std::string_view::npos;
  if (end == std::string_view::npos) {
    if (window_end - std::min(from, window_end) >= HEADER_END.size()) {
      scanned_ = window_end - (HEADER_END.size() - 1);
    }
    if (window_end - start_ < LONGEST_HEADER) {
      return std::nullopt;
    }
    return junk(NOT_ENDED);
  }
  scanned_ = end;
  const std::variant<std::size_t, std::string_view> length =
      body_length(std::string_view(buffer_).substr(start_, end - start_));
  if (const std::string_view* problem = std::get_if<std::string_view>(&length)) {
    return junk(*problem);
  }
  start_ = end + HEADER_END.size();
  body_size_ = std::get<std::size_t>(length);
  phase_ = Phase::body;
  return std::nullopt;
}

// The bytes at start_ are not a header: the next one is looked for from the
// byte after, and the problem reported unless this run of junk has been.
std::optional<Framed> MessageReader::junk(std::string_view problem) {
  ++start_;
  phase_ = Phase::search;
  if (in_junk_) {
    return std::nullopt;
  }
  in_junk_ = true;
  return Framed{{}, std::string(problem)};
}

std::string frame(std::string_view body) {
  std::string message = std::string(LENGTH_FIELD) + ": " + std::to_string(body.size()) + std::string(HEADER_END);
  message.append(body);
  return message;
}

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace skern::protocol
