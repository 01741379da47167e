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

// Larger bodies are refused rather than waited for.
constexpr std::size_t LARGEST_BODY = std::size_t{1} << 30;
// A header block that has not ended after this many bytes is not one.
constexpr std::size_t LONGEST_HEADER = 8192;

constexpr std::string_view LENGTH_FIELD = "Content-Length";

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
bool same_letter(char x, char y) { return lower(x) == lower(y); }

bool same_ignoring_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), same_letter);
}

// Where `field` first occurs in `text`, in any case, as header names are read.
std::size_t find_ignoring_case(std::string_view text, std::string_view field) {
  const std::string_view::const_iterator found =
      std::search(text.begin(), text.end(), field.begin(), field.end(), same_letter);
  return found == text.end() ? std::string_view::npos : static_cast<std::size_t>(found - text.begin());
}

// The body length that a header block gives, or what is wrong with it.
std::variant<std::size_t, std::string> body_length(std::string_view header) {
  std::optional<std::size_t> length;
  while (!header.empty()) {
    const std::size_t end = std::min(header.find("\r\n"), header.size());
    const std::string_view field = header.substr(0, end);
    header.remove_prefix(std::min(end + 2, header.size()));
    const std::size_t colon = field.find(':');
    if (colon == std::string_view::npos) {
      return "a header line without a colon";
    }
    if (!same_ignoring_case(field.substr(0, colon), LENGTH_FIELD)) {
      continue;  // Content-Type, or a field of no concern
    }
    std::string_view value = field.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
      value.remove_prefix(1);
    }
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
      value.remove_suffix(1);
    }
    std::size_t number = 0;
    const auto [end_of_number, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    if (value.empty() || error != std::errc() || end_of_number != value.data() + value.size()) {
      return "Content-Length is not a number";
    }
    if (number > LARGEST_BODY) {
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
    start_ = 0;
  }
  buffer_.append(bytes);
}

std::optional<Framed> MessageReader::next() {
  std::string_view unread = std::string_view(buffer_).substr(start_);
  if (resyncing_) {
    const std::size_t found = find_ignoring_case(unread, LENGTH_FIELD);
    if (found == std::string_view::npos) {
      // Keep what could be the start of the field name.
      const std::size_t keep = std::min(unread.size(), LENGTH_FIELD.size() - 1);
      start_ = buffer_.size() - keep;
      return std::nullopt;
    }
    start_ += found;
    unread.remove_prefix(found);
    resyncing_ = false;
  }
  const std::size_t header_end = unread.find("\r\n\r\n");
  if (header_end == std::string_view::npos) {
    if (unread.size() <= LONGEST_HEADER) {
      return std::nullopt;
    }
    start_ = buffer_.size();
    resyncing_ = true;
    return Framed{{}, "the header does not end"};
  }
  std::variant<std::size_t, std::string> length = body_length(unread.substr(0, header_end));
  if (auto* problem = std::get_if<std::string>(&length)) {
    start_ += header_end + 4;
    resyncing_ = true;
    return Framed{{}, std::move(*problem)};
  }
  const std::size_t size = std::get<std::size_t>(length);
  if (unread.size() - header_end - 4 < size) {
    return std::nullopt;  // the rest of the body is still on its way
  }
  Framed message{std::string(unread.substr(header_end + 4, size)), std::nullopt};
  start_ += header_end + 4 + size;
  return message;
}

std::string frame(std::string_view body) {
  std::string message = std::string(LENGTH_FIELD) + ": " + std::to_string(body.size()) + "\r\n\r\n";
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
