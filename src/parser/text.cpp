// Trimming by the Unicode White_Space property, and the rule for names.
#include <algorithm>
#include <array>

#include "parser/grammar_internal.h"
#include "parser/parser.h"

namespace skern {

bool is_unicode_whitespace(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

namespace {

bool is_ascii_whitespace(unsigned char c) { return c == ' ' || (c >= 0x09 && c <= 0x0D); }
bool is_visible_ascii(char c) { return c > ' ' && c < 0x7F; }
bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Length of the whitespace character at the start of `text`, or 0.
std::size_t leading_whitespace_length(std::string_view text) {
  if (text.empty()) {
    return 0;
  }
  if (const auto first = static_cast<unsigned char>(text.front()); first < 0x80) {
    return is_ascii_whitespace(first) ? 1 : 0;
  }
  const std::size_t length = grammar::char_length(text, 0);
  return is_unicode_whitespace(grammar::decode_char(text, 0, length)) ? length : 0;
}

// Length of the whitespace character at the end of `text`, or 0.
std::size_t trailing_whitespace_length(std::string_view text) {
  if (text.empty()) {
    return 0;
  }
  if (const auto last = static_cast<unsigned char>(text.back()); last < 0x80) {
    return is_ascii_whitespace(last) ? 1 : 0;
  }
  std::size_t start = text.size() - 1;
  for (std::size_t back = 0; back < 3 && start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80;
       ++back) {
    --start;
  }
  const std::size_t length = grammar::char_length(text, start);
  if (start + length != text.size()) {
    return 0;  // not a whole character: an ordinary byte
  }
  return is_unicode_whitespace(grammar::decode_char(text, start, length)) ? length : 0;
}

}  // namespace

std::string_view trim_end(std::string_view text) {
  // Blanks are the whitespace usually met, and a visible ASCII character is
  // where trimming usually stops: only other ends need decoding.
  while (!text.empty() && is_blank(text.back())) {
    text.remove_suffix(1);
  }
  if (!text.empty() && is_visible_ascii(text.back())) {
    return text;
  }
  while (const std::size_t length = trailing_whitespace_length(text)) {
    text.remove_suffix(length);
  }
  return text;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && is_blank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && is_blank(text.back())) {
    text.remove_suffix(1);
  }
  if (!text.empty() && is_visible_ascii(text.front()) && is_visible_ascii(text.back())) {
    return text;
  }
  while (const std::size_t length = leading_whitespace_length(text)) {
    text.remove_prefix(length);
  }
  return trim_end(text);
}

namespace {

// Whether `name` is one of the fourteen reserved words, compared only with
// those of its length.
bool is_reserved(std::string_view name) {
  static constexpr std::array<std::array<std::string_view, 4>, 7> by_length = {{
      {},
      {},
      {"if"},
      {"aye", "nay", "vow"},
      {"else", "with", "wine", "void"},
      {"while", "speak", "blade", "sigil"},
      {"return", "scroll"},
  }};
  if (name.size() >= by_length.size()) {
    return false;
  }
  const auto& words = by_length[name.size()];
  return std::find(words.begin(), words.end(), name) != words.end();
}

}  // namespace

bool is_valid_identifier(std::string_view name) {
  if (name.empty()) {
    return false;
  }
  const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (!letter(name.front())) {
    return false;
  }
  const auto continues = [&letter](char c) { return letter(c) || (c >= '0' && c <= '9') || c == '_'; };
  // Iterator pairs rather than ranges: the WebAssembly toolchain's standard
  // library has no std::ranges algorithms.
  if (!std::all_of(name.begin(), name.end(), continues)) {
    return false;
  }
  return !is_reserved(name);
}

}  // namespace skern
