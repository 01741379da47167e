// The playground's runs in memory, and how their output reaches the page.
#include "web/session.h"

#include "parser/parser.h"

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

// Where the page marks an error: columns count characters, and the caret of
// an expression that ends too soon lies one past the line's last character.
TEST(RunInMemory, SaysWhereAParseErrorLies) {
  const auto where = [](std::string_view source) {
    StringOutput out;
    const Outcome outcome = run_in_memory(source, "", out);
    return outcome.position ? std::to_string(outcome.position->line) + ":" + std::to_string(outcome.position->column)
                            : std::string("none");
  };
  EXPECT_EQ(where("on the iron throne:\n    speak 1\n  speak 2\n"), "3:0") << "a structural error names a line";
  EXPECT_EQ(where("on the iron throne:\n    speak 1 +\n"), "2:14") << "past the end of `    speak 1 +`";
  EXPECT_EQ(where("on the iron throne:\n    speak 1 +   \n// done\n"), "2:14") << "trailing blanks are not the text";
  EXPECT_EQ(where("on the iron throne:\n    speak \"\xc3\xa4\" + * 2\n"), "2:17") << "at `*`, the `\xc3\xa4` one column";
  EXPECT_EQ(where("on the iron throne:\n    speak 99999999999999999999\n"), "2:11") << "a literal that does not build";
  EXPECT_EQ(where("on the iron throne:\n    speak 1\n"), "none");
}

// A runtime error is marked on the line of the statement it ended in: the
// innermost one, in a council's body or a loop's, not the call's line.
TEST(RunInMemory, SaysOnWhichLineARuntimeErrorEndedTheRun) {
  const auto failed = [](std::string_view source, std::string_view input = "") {
    StringOutput out;
    const Outcome outcome = run_in_memory(source, input, out);
    const std::string where = outcome.position ? std::to_string(outcome.position->line) + ":" +
                                                     std::to_string(outcome.position->column)
                                               : std::string("none");
    return where + " " + out.text() + outcome.report;
  };
  EXPECT_EQ(failed("on the iron throne:\n    speak 1 / 0\n"), "2:0 runtime error: cannot divide by zero\n");
  EXPECT_EQ(failed("// halve\n\non the iron throne:\n    speak \"a\"\n    n is a blade with 4\n"
                   "    the realm marches 3 times:\n        speak n\n        n = n - 2\n        speak 8 / n\n"),
            "9:0 a\n4\n4\n2\nruntime error: cannot divide by zero\n")
      << "in the loop's second round, after the output before it";
  EXPECT_EQ(failed("on the iron throne:\n    speak 1\n    speak twice with \"x\"\n\n"
                   "we declare twice with n ->\ncouncil says:\n    return n * 2\n"),
            "7:0 1\nruntime error: cannot apply `*` to scroll and blade\n")
      << "in the body of a council declared after the main block";
  EXPECT_EQ(failed("on the iron throne:\n    n is a blade with 0\n    n speaks for input\n", "seven\n"),
            "3:0 runtime error: input `seven` is not a blade\n");
  EXPECT_EQ(failed("on the iron throne:\n    x is a vow with aye\n    while x:\n        speak 1\n        x = 2\n"),
            "5:0 1\nruntime error: cannot store blade in vow\n");
}

TEST(BufferOutput, AHeartbeatPassesOnHeldLinesOnceTheIntervalIsOver) {
  std::array<char, 64> buffer{};
  FakeChannel page(buffer);
  BufferOutput output(buffer, page, 40);
  ASSERT_TRUE(output.write("first\n").ok());
  page.clock += 10;
  ASSERT_TRUE(output.write("held\n").ok());
  output.beat();
  EXPECT_EQ(page.pieces, std::vector<std::string>{"first\n"}) << "within the interval the line waits";
  page.clock += 40;
  output.beat();
  EXPECT_EQ(page.pieces, (std::vector<std::string>{"first\n", "held\n"}));
  page.clock += 100;
  output.beat();
  EXPECT_EQ(page.pieces.size(), 2U) << "nothing waiting, nothing passed on";
}

// Counts its beats, and what the page had been passed at the last one.
class CountingHeartbeat final : public Heartbeat {
 public:
  void beat() override { ++beats; }
  std::uint64_t beats = 0;
};

TEST(RunInMemory, TheHeartbeatBeatsWhileStatementsRunAndChangesNothing) {
  const std::string program =
      "we declare count with n ->\ncouncil says:\n    total is a blade with 0\n"
      "    the realm marches n times:\n        total = total + 1\n    return total\n\n"
      "on the iron throne:\n    speak \"start\"\n    speak count with 250000\n";
  StringOutput plain;
  ASSERT_EQ(run_in_memory(program, "", plain).status, 0);
  CountingHeartbeat heart;
  StringOutput beating;
  ASSERT_EQ(run_in_memory(program, "", beating, &heart).status, 0);
  EXPECT_EQ(beating.text(), plain.text());
  EXPECT_EQ(plain.text(), "start\n250000\n");
  // Once every 100,000 rounds and calls: the loop alone runs 250,000 rounds.
  EXPECT_GE(heart.beats, 2U);
  EXPECT_LE(heart.beats, 3U);
}

// Alone, the heartbeat counts loop rounds and calls; with a step budget,
// statements, which the budget still cuts short.
TEST(RunInMemory, HeartbeatsCountRoundsAndCallsOrStatementsUnderABudget) {
  const std::string program =
      "we declare one with ->\ncouncil says:\n    return 1\n\n"
      "on the iron throne:\n    x is a blade with 0\n    the realm marches 3 times:\n"
      "        x = x + (one with)\n    speak x\n";
  Result<Program> parsed = parse_program(program);
  ASSERT_TRUE(parsed.ok());
  const auto run = [&](std::uint64_t budget, std::string& out, std::uint64_t& beats) {
    CountingHeartbeat heart;
    Limits limits;
    limits.heartbeat = &heart;
    limits.beat_steps = 1;
    limits.step_budget = budget;
    StringInput input{""};
    StringOutput output;
    const bool ok = run_program(*parsed, input, output, limits).ok();
    out = output.text();
    beats = heart.beats;
    return ok;
  };
  std::string out;
  std::uint64_t beats = 0;
  ASSERT_TRUE(run(0, out, beats));
  EXPECT_EQ(out, "3\n");
  EXPECT_EQ(beats, 6U) << "three rounds and three calls";

  ASSERT_TRUE(run(100, out, beats));
  EXPECT_EQ(out, "3\n");
  EXPECT_EQ(beats, 9U) << "two statements in main, three in the loop, three in calls, the speak";

  EXPECT_FALSE(run(4, out, beats));
  EXPECT_EQ(out, "");
  EXPECT_EQ(beats, 5U) << "the fifth statement beats, then finds the budget spent";
}

}  // namespace
}  // namespace skern::web
