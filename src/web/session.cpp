// Running a program held in memory, and its output passed on in pieces.
#include "web/session.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "interpreter/debugging.h"
#include "interpreter/interpreter.h"
#include "model/value.h"
#include "parser/parser.h"

namespace skern::web {

namespace {

bool is_continuation(char byte) { return (static_cast<unsigned char>(byte) & 0xC0U) == 0x80U; }

// The line and column of a byte offset into valid UTF-8.
SourcePosition position_at(std::string_view source, std::size_t offset) {
  const std::string_view before = source.substr(0, offset);
  const std::size_t last_break = before.rfind('\n');
  const std::string_view line = last_break == std::string_view::npos ? before : before.substr(last_break + 1);
  SourcePosition position{1 + static_cast<std::uint64_t>(std::count(before.begin(), before.end(), '\n')), 1};
  position.column += static_cast<std::uint64_t>(std::count_if(line.begin(), line.end(), [](char byte) {
    return !is_continuation(byte);
  }));
  return position;
}

// Where a parse error lies: a structural one on its line, an expression's at
// the report's caret, or at the expression's start when the grammar accepted
// it and building it failed.
std::optional<SourcePosition> position_of(std::string_view source, const Error& error,
                                          const std::optional<ExpressionErrorSite>& site) {
  if (error.kind() == Error::Kind::Parse) {
    return SourcePosition{error.line(), 0};
  }
  if (error.kind() != Error::Kind::ExpressionParse || !site ||
      site->text.data() < source.data() || site->text.data() + site->text.size() > source.data() + source.size()) {
    return std::nullopt;
  }
  const auto start = static_cast<std::size_t>(site->text.data() - source.data());
  return position_at(source, start + std::min(site->offset.value_or(0), site->text.size()));
}

}  // namespace

std::optional<Outcome> source_failure(std::string_view source, Program* program, StatementLines* lines) {
  if (!is_valid_utf8(source)) {
    return Outcome{1, Error::io_text(std::string(msg::INVALID_UTF8)).display() + "\n", std::nullopt};
  }
  std::optional<ExpressionErrorSite> site;
  Result<Program> parsed = parse_program(source, site, lines);
  if (!parsed.ok()) {
    return Outcome{1, parsed.error().display() + "\n", position_of(source, parsed.error(), site)};
  }
  if (program != nullptr) {
    *program = std::move(*parsed);
  }
  return std::nullopt;
}

Outcome run_in_memory(std::string_view source, std::string_view input, TextOutput& output,
                      Heartbeat* heartbeat) {
  Program program;
  StatementLines lines;
  if (std::optional<Outcome> failed = source_failure(source, &program, &lines)) {
    return std::move(*failed);
  }
  StringInput input_lines{std::string(input)};
  Limits limits;
  limits.heartbeat = heartbeat;
  std::uint32_t failed_line = 0;
  const Status status = run_program(program, lines, input_lines, output, limits, failed_line);
  if (status.ok()) {
    return {};
  }
  // A runtime error names no place of its own: the page marks the line of
  // the statement it ended in.
  std::optional<SourcePosition> position;
  if (failed_line != 0) {
    position = SourcePosition{failed_line, 0};
  }
  return Outcome{1, status.error().display() + "\n", position};
}

BufferOutput::BufferOutput(std::span<char> buffer, Channel& channel, double interval)
    // As if the last piece went long ago: a line written after a quiet spell,
    // the first one included, goes on at once, so that a program that writes
    // and then works for a long time shows what it wrote.
    : buffer_(buffer), channel_(channel), interval_(interval), last_flush_(channel.now() - interval) {
  set_waiting(0);
}

std::uint32_t BufferOutput::waiting() const {
  std::uint32_t count = 0;
  std::memcpy(&count, buffer_.data(), sizeof count);
  return count;
}

void BufferOutput::set_waiting(std::uint32_t count) { std::memcpy(buffer_.data(), &count, sizeof count); }

void BufferOutput::flush() {
  if (waiting() > 0) {
    channel_.flush();
    set_waiting(0);
  }
  last_flush_ = channel_.now();
}

void BufferOutput::beat() {
  if (waiting() > 0 && channel_.now() - last_flush_ >= interval_) {
    flush();
  }
}

Status BufferOutput::write(std::string_view text) {
  const std::size_t room = buffer_.size() - HEADER;
  if (waiting() + text.size() > room) {
    flush();
  }
  // A text longer than the whole buffer goes in buffer-sized pieces.
  while (!text.empty()) {
    const std::size_t at = waiting();
    const std::size_t piece = std::min(text.size(), room - at);
    std::memcpy(buffer_.data() + HEADER + at, text.data(), piece);
    set_waiting(static_cast<std::uint32_t>(at + piece));
    text.remove_prefix(piece);
    if (!text.empty()) {
      flush();
    }
  }
  if (channel_.now() - last_flush_ >= interval_) {
    flush();
  }
  return {};
}

}  // namespace skern::web
