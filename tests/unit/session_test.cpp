// The playground's runs in memory, and how their output reaches the page.
#include "web/session.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace skern::web {
namespace {

// A page that notes each piece it is passed, on a clock the test moves.
class FakeChannel final : public Channel {
 public:
  explicit FakeChannel(std::span<char> buffer) : buffer_(buffer) {}
  void flush() override {
    std::uint32_t count = 0;
    std::memcpy(&count, buffer_.data(), sizeof count);
    pieces.emplace_back(buffer_.data() + BufferOutput::HEADER, count);
  }
  double now() override { return clock; }

  double clock = 1000;
  std::vector<std::string> pieces;

 private:
  std::span<char> buffer_;
};

TEST(BufferOutput, FirstLineGoesAtOnceThenLinesWithinTheIntervalWait) {
  std::array<char, 64> buffer{};
  FakeChannel page(buffer);
  BufferOutput output(buffer, page, 40);
  ASSERT_TRUE(output.write("marching\n").ok());
  EXPECT_EQ(page.pieces, std::vector<std::string>{"marching\n"});
  page.clock += 10;
  ASSERT_TRUE(output.write("a\n").ok());
  ASSERT_TRUE(output.write("b\n").ok());
  EXPECT_EQ(page.pieces.size(), 1U);
  page.clock += 40;
  ASSERT_TRUE(output.write("c\n").ok());
  EXPECT_EQ(page.pieces, (std::vector<std::string>{"marching\n", "a\nb\nc\n"}));
  output.flush();
  EXPECT_EQ(page.pieces.size(), 2U) << "nothing waiting, nothing passed on";
}

TEST(BufferOutput, TextsLongerThanTheBufferArriveWholeInPieces) {
  std::array<char, 16> buffer{};
  FakeChannel page(buffer);
  BufferOutput output(buffer, page, 1e9);
  const std::string line = std::string(30, 'x') + "\n";
  ASSERT_TRUE(output.write("first\n").ok());
  ASSERT_TRUE(output.write(line).ok());
  output.flush();
  std::string joined;
  for (const std::string& piece : page.pieces) {
    EXPECT_LE(piece.size(), buffer.size() - BufferOutput::HEADER);
    joined += piece;
  }
  EXPECT_EQ(joined, "first\n" + line);
}

TEST(RunInMemory, GivesOutputReportAndStatusAsTheCommandDoes) {
  StringOutput out;
  Outcome done = run_in_memory("on the iron throne:\n    n is a blade with 0\n    n speaks for input\n    speak n * 2\n",
                               "21\n", out);
  EXPECT_EQ(out.text(), "42\n");
  EXPECT_EQ(done.status, 0);
  EXPECT_EQ(done.report, "");

  StringOutput failed;
  done = run_in_memory("on the iron throne:\n    speak 1 / 0\n", "", failed);
  EXPECT_EQ(done.status, 1);
  ASSERT_FALSE(done.report.empty());
  EXPECT_EQ(done.report.back(), '\n');
  EXPECT_EQ(done.report.find('\n'), done.report.size() - 1) << done.report;

  StringOutput invalid;
  done = run_in_memory("on the iron throne:\n    speak \"\xff\"\n", "", invalid);
  EXPECT_EQ(done.status, 1);
  EXPECT_EQ(invalid.text(), "");
}

}  // namespace
}  // namespace skern::web
