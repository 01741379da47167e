// A run recorded step by step for the playground, as the exact JSON a page
// receives.
#include "debug/trace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace skern::debug {
namespace {

TEST(DebugTrace, StepsFramesVariablesAndTheOutputBeforeEachStep) {
  const std::string trace = trace_json(
      "we declare twice with n ->\n"
      "council says:\n"
      "    return n * 2\n"
      "\n"
      "on the iron throne:\n"
      "    x is a blade with 4\n"
      "    speak twice with x\n"
      "    speak \"\xC3\xA9\\\"\" + x\n",
      "");
  EXPECT_EQ(trace, R"({"status":1,"stdout":"8\n","stderr":"runtime error: cannot apply `+` to scroll and blade\n",)"
                   R"("truncated":false,"errorLine":8,"steps":[)"
                   R"({"line":6,"stdoutLength":0,"depth":1,"frames":[{"name":"on the iron throne","line":6,)"
                   R"("variables":[],"fromCallers":[]}]},)"
                   R"({"line":7,"stdoutLength":0,"depth":1,"frames":[{"name":"on the iron throne","line":7,)"
                   R"("variables":[{"name":"x","type":"blade","value":"4"}],"fromCallers":[]}]},)"
                   R"({"line":3,"stdoutLength":0,"depth":2,"frames":[{"name":"twice","line":3,)"
                   R"("variables":[{"name":"n","type":"blade","value":"4"}],"fromCallers":[]},)"
                   R"({"name":"on the iron throne","line":7,"variables":[{"name":"x","type":"blade","value":"4"}],)"
                   R"("fromCallers":[]}]},)"
                   R"({"line":8,"stdoutLength":2,"depth":1,"frames":[{"name":"on the iron throne","line":8,)"
                   R"("variables":[{"name":"x","type":"blade","value":"4"}],"fromCallers":[]}]}]})");
}

TEST(DebugTrace, OutputLengthsCountUtf16UnitsAndTextsAreEscaped) {
  // é is one unit, the horse (U+1F40E) two; the tab and quote are escaped.
  const std::string trace = trace_json(
      "on the iron throne:\n"
      "    speak \"\xC3\xA9\xF0\x9F\x90\x8E\\t\\\"\"\n"
      "    speak 1\n",
      "");
  EXPECT_NE(trace.find(R"("stdout":"é🐎\t\"\n1\n")"), std::string::npos) << trace;
  EXPECT_NE(trace.find(R"({"line":3,"stdoutLength":6,)"), std::string::npos) << trace;
  // Other control characters as \u escapes.
  EXPECT_NE(trace_json("on the iron throne:\n    speak \"a\x01\x1f\"\n", "").find(R"("stdout":"a\u0001\u001f\n")"),
            std::string::npos);
}

TEST(DebugTrace, CallersVariablesAreMarkedWithTheirOwner) {
  const std::string trace = trace_json(
      "we declare show with ->\n"
      "council says:\n"
      "    speak king + ghost\n"
      "\n"
      "on the iron throne:\n"
      "    king is a scroll with \"Robb\"\n"
      "    show with\n",
      "");
  EXPECT_NE(trace.find(R"("fromCallers":[{"name":"king","type":"scroll","value":"Robb","owner":"on the iron throne"},)"
                       R"({"name":"ghost"}])"),
            std::string::npos)
      << trace;
  EXPECT_NE(trace.find(R"("stderr":"runtime error: unknown banner `ghost`\n")"), std::string::npos);
  EXPECT_NE(trace.find(R"("errorLine":3)"), std::string::npos);
}

TEST(DebugTrace, TheRecordingStopsAtItsLimitAndTheRunGoesOn) {
  TraceLimits limits;
  limits.steps = 2;
  limits.frames = 1;
  EXPECT_EQ(trace_json("on the iron throne:\n    speak 1\n    speak 2\n    speak 3\n", "Z", limits),
            R"({"status":0,"stdout":"1\n2\n3\n","stderr":"","truncated":true,"errorLine":0,"steps":[)"
            R"({"line":2,"stdoutLength":0,"depth":1,"frames":[{"name":"on the iron throne","line":2,)"
            R"("variables":[],"fromCallers":[]}]},)"
            R"({"line":3,"stdoutLength":2,"depth":1,"frames":[{"name":"on the iron throne","line":3,)"
            R"("variables":[],"fromCallers":[]}]}]})");
  // Exactly as many steps as the limit: nothing was left out.
  EXPECT_NE(trace_json("on the iron throne:\n    speak 1\n    speak 2\n", "", limits).find(R"("truncated":false)"),
            std::string::npos);
}

// Notes what it is told, and when: how much output the run had written.
class NotingObserver final : public TraceObserver {
 public:
  void recorded(std::string_view steps, std::string_view output) override {
    notes.push_back(std::string(steps) + " | " + std::string(output));
  }
  std::vector<std::string> notes;
};

TEST(DebugTrace, AFullRecordingIsPassedOnBeforeTheRunGoesOnUnrecorded) {
  TraceLimits limits;
  limits.steps = 1;
  limits.frames = 0;
  NotingObserver observer;
  const std::string trace =
      trace_json("on the iron throne:\n    speak 1\n    speak 2\n    speak 1 / 0\n", "", limits, &observer);
  EXPECT_EQ(observer.notes, std::vector<std::string>{R"([{"line":2,"stdoutLength":0,"depth":1,"frames":[]}] | 1)"
                                                     "\n"});
  EXPECT_EQ(trace, R"({"status":1,"stdout":"1\n2\n","stderr":"runtime error: cannot divide by zero\n",)"
                   R"("truncated":true,"errorLine":4,"steps":[{"line":2,"stdoutLength":0,"depth":1,"frames":[]}]})");

  // A run that ends within the recording tells nothing.
  limits.steps = 3;
  trace_json("on the iron throne:\n    speak 1\n    speak 2\n", "", limits, &observer);
  EXPECT_EQ(observer.notes.size(), 1U);
}

// Long texts fill the memory a recording may take before the count of steps
// is reached; the step that crosses the bound is the last one recorded.
TEST(DebugTrace, TheRecordingStopsAtItsSizeInBytes) {
  TraceLimits limits;
  limits.bytes = 200;
  const std::string source =
      "on the iron throne:\n    s is a scroll with \"\"\n    the realm marches 20 times:\n"
      "        s = s + \"0123456789\"\n    speak s\n";
  const std::string trace = trace_json(source, "", limits);
  const std::size_t steps_at = trace.find("\"steps\":[");
  ASSERT_NE(steps_at, std::string::npos) << trace;
  const std::size_t recorded = trace.size() - steps_at - std::string_view("\"steps\":").size() - 1;
  EXPECT_GE(recorded, 200U);
  EXPECT_LT(recorded, 200U + 200U) << "one step past the bound at most";
  EXPECT_NE(trace.find(R"("truncated":true)"), std::string::npos);
  std::string output;
  for (int round = 0; round < 20; ++round) {
    output += "0123456789";
  }
  EXPECT_NE(trace.find(R"("status":0,"stdout":")" + output + R"(\n")"), std::string::npos) << "the run went on";
}

TEST(DebugTrace, AParseErrorIsTheCommandsReportWithNoSteps) {
  EXPECT_EQ(
      trace_json("speak 1\n", ""),
      R"({"status":1,"stdout":"","stderr":"parse error on line 1: expected `we declare ...` or `on the iron throne:`\n",)"
      R"("truncated":false,"errorLine":0,"steps":[]})");
}

}  // namespace
}  // namespace skern::debug
