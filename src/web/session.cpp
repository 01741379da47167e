// Running a program held in memory, and its output passed on in pieces.
#include "web/session.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "interpreter/interpreter.h"
#include "model/value.h"
#include "parser/parser.h"

namespace skern::web {

namespace {

Status run_source(std::string_view source, std::string_view input, TextOutput& output, Heartbeat* heartbeat) {
  if (!is_valid_utf8(source)) {
    return Error::io_text(std::string(msg::INVALID_UTF8));
  }
  Result<Program> program = parse_program(source);
  if (!program.ok()) {
    return std::move(program).error();
  }
  StringInput lines{std::string(input)};
  Limits limits;
  limits.heartbeat = heartbeat;
  return run_program(*program, lines, output, limits);
}

}  // namespace

Outcome run_in_memory(std::string_view source, std::string_view input, TextOutput& output,
                      Heartbeat* heartbeat) {
  const Status status = run_source(source, input, output, heartbeat);
  if (status.ok()) {
    return {};
  }
  return Outcome{1, status.error().display() + "\n"};
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
