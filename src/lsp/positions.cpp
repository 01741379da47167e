// Byte offsets to the protocol's positions and back.
#include <algorithm>

#include "lsp/analysis.h"

namespace skern::lsp {

namespace {

// The UTF-16 code units that the byte at the start of a UTF-8 sequence stands
// for: 2 for a character beyond the basic plane, none for a continuation byte.
std::uint32_t utf16_units(unsigned char byte) {
  if ((byte & 0xC0U) == 0x80U) {
    return 0;
  }
  return byte >= 0xF0U ? 2 : 1;
}

// The length of the line break at `offset`, or 0.
std::size_t break_length(std::string_view text, std::size_t offset) {
  if (offset >= text.size()) {
    return 0;
  }
  if (text[offset] == '\n') {
    return 1;
  }
  if (text[offset] == '\r') {
    return offset + 1 < text.size() && text[offset + 1] == '\n' ? 2 : 1;
  }
  return 0;
}

}  // namespace

LineIndex::LineIndex(std::string_view text) : text_(text) {
  starts_.push_back(0);
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = break_length(text, i);
    if (length == 0) {
      ++i;
      continue;
    }
    i += length;
    starts_.push_back(i);
  }
}

std::string_view LineIndex::line_text(std::uint32_t line) const {
  if (line >= starts_.size()) {
    return {};
  }
  const std::size_t start = starts_[line];
  std::size_t end = line + 1 < starts_.size() ? starts_[line + 1] : text_.size();
  while (end > start && (text_[end - 1] == '\n' || text_[end - 1] == '\r')) {
    --end;
  }
  return text_.substr(start, end - start);
}

Position LineIndex::position(std::size_t offset, Encoding encoding) const {
  offset = std::min(offset, text_.size());
  const auto after = std::upper_bound(starts_.begin(), starts_.end(), offset);
  const auto line = static_cast<std::uint32_t>(after - starts_.begin() - 1);
  const std::string_view text = line_text(line);
  const std::size_t bytes = std::min(offset - starts_[line], text.size());
  if (encoding == Encoding::Utf8) {
    return {line, static_cast<std::uint32_t>(bytes)};
  }
  std::uint32_t units = 0;
  for (std::size_t i = 0; i < bytes; ++i) {
    units += utf16_units(static_cast<unsigned char>(text[i]));
  }
  return {line, units};
}

std::size_t LineIndex::offset(Position position, Encoding encoding) const {
  if (position.line >= starts_.size()) {
    return text_.size();
  }
  const std::size_t start = starts_[position.line];
  const std::string_view text = line_text(position.line);
  if (encoding == Encoding::Utf8) {
    std::size_t bytes = std::min<std::size_t>(position.character, text.size());
    // Never inside a character: back to its first byte.
    while (bytes > 0 && bytes < text.size() && (static_cast<unsigned char>(text[bytes]) & 0xC0U) == 0x80U) {
      --bytes;
    }
    return start + bytes;
  }
  std::uint32_t units = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::uint32_t width = utf16_units(static_cast<unsigned char>(text[i]));
    if (width != 0 && units + width > position.character) {
      break;
    }
    units += width;
    ++i;
  }
  return start + i;
}

}  // namespace skern::lsp
