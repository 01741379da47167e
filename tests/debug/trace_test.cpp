// A run recorded step by step for the playground, as the exact JSON a page
// receives.
#include "debug/trace.h"

#include <gtest/gtest.h>

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

TEST(DebugTrace, AParseErrorIsTheCommandsReportWithNoSteps) {
  EXPECT_EQ(
      trace_json("speak 1\n", ""),
      R"({"status":1,"stdout":"","stderr":"parse error on line 1: expected `we declare ...` or `on the iron throne:`\n",)"
      R"("truncated":false,"errorLine":0,"steps":[]})");
}

}  // namespace
}  // namespace skern::debug
