// The interpreter's view of the console: a source of input lines and a sink
// for output lines. The driver supplies the process's standard streams; tests
// supply strings.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "driver/error.h"

namespace skern {

class LineInput {
 public:
  LineInput() = default;
  LineInput(const LineInput&) = delete;
  LineInput& operator=(const LineInput&) = delete;
  virtual ~LineInput() = default;
  // Replaces `line` with the bytes up to and including the next line feed, or
  // up to the end of input; at the end of input the line is empty.
  virtual Status read_line(std::string& line) = 0;
};

class TextOutput {
 public:
  TextOutput() = default;
  TextOutput(const TextOutput&) = delete;
  TextOutput& operator=(const TextOutput&) = delete;
  virtual ~TextOutput() = default;
  // Passes `text` on at once (one whole output line per call).
  virtual Status write(std::string_view text) = 0;
};

class StringInput final : public LineInput {
 public:
  explicit StringInput(std::string text) : text_(std::move(text)) {}
  Status read_line(std::string& line) override {
    const std::size_t end = text_.find('\n', pos_);
    const std::size_t stop = end == std::string::npos ? text_.size() : end + 1;
    line.assign(text_, pos_, stop - pos_);
    pos_ = stop;
    return {};
  }

 private:
  std::string text_;
  std::size_t pos_ = 0;
};

class StringOutput final : public TextOutput {
 public:
  Status write(std::string_view text) override {
    text_.append(text);
    return {};
  }
  [[nodiscard]] const std::string& text() const { return text_; }

 private:
  std::string text_;
};

}  // namespace skern
