// The debugging engine: stops, frames, variables, dynamic scope, breakpoints
// of every kind, and going back in time, on small programs whose every line
// and value is known.
#include "debug/session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace skern::debug {
namespace {

// Line numbers below are the programs' own, counted from 1.
constexpr std::string_view COUNCIL = R"(we declare add with a, b ->
council says:
    total is a blade with a + b
    speak total
    return total

on the iron throne:
    x is a blade with 1
    y is a blade with add with x, 2
    speak y
    speak "done"
)";

std::unique_ptr<Session> open(std::string_view source, std::string input = "") {
  Result<std::unique_ptr<Session>> session = Session::open(std::string(source), std::move(input));
  EXPECT_TRUE(session.ok()) << (session.ok() ? "" : session.error().display());
  return std::move(*session);
}

// Runs the current command to its end, in small stretches as the adapter does.
State settle(Session& session) {
  while (session.advance(7) == State::Running) {
  }
  return session.state();
}

std::vector<std::string> described(const std::vector<VariableInfo>& variables) {
  std::vector<std::string> out;
  for (const VariableInfo& variable : variables) {
    out.push_back(variable.name + ":" + variable.type + "=" + variable.value + (variable.parameter ? "(p)" : ""));
  }
  return out;
}

TEST(DebugSession, BreakpointInCouncilShowsItsFrameAboveTheMainBlock) {
  auto session = open(COUNCIL);
  const std::vector<BreakpointState> set = session->set_breakpoints({{4, "", "", ""}});
  ASSERT_EQ(set.size(), 1U);
  EXPECT_TRUE(set[0].verified);
  EXPECT_EQ(set[0].line, 4U);
  session->start(false);
  ASSERT_EQ(settle(*session), State::Stopped);
  EXPECT_EQ(session->stop().reason, StopReason::Breakpoint);
  EXPECT_EQ(session->stop().breakpoints, std::vector<std::uint32_t>{set[0].id});
  ASSERT_EQ(session->depth(), 2U);
  EXPECT_EQ(session->frame(0).name, "add");
  EXPECT_EQ(session->frame(0).line, 4U);
  EXPECT_EQ(session->frame(1).name, MAIN_FRAME_NAME);
  EXPECT_EQ(session->frame(1).line, 9U);  // the line of the call
  EXPECT_EQ(described(session->variables(0)),
            (std::vector<std::string>{"a:blade=1(p)", "b:blade=2(p)", "total:blade=3"}));
  // y is being declared by the call, so it is not there yet.
  EXPECT_EQ(described(session->variables(1)), (std::vector<std::string>{"x:blade=1"}));
  EXPECT_EQ(session->output(), "");
}

TEST(DebugSession, StepsOverAndBackWithTheEarlierValuesAndOutput) {
  auto session = open(COUNCIL);
  session->set_breakpoints({{10, "", "", ""}});
  session->start(false);
  ASSERT_EQ(settle(*session), State::Stopped);
  EXPECT_EQ(session->frame(0).line, 10U);
  EXPECT_EQ(session->output(), "3\n");
  session->step_over();
  ASSERT_EQ(settle(*session), State::Stopped);
  EXPECT_EQ(session->frame(0).line, 11U);
  EXPECT_EQ(session->output(), "3\n3\n");
  session->step_back();
  EXPECT_EQ(session->stop().reason, StopReason::Step);
  EXPECT_EQ(session->frame(0).line, 10U);
  EXPECT_EQ(session->output(), "3\n");
  // Back over the line that called the council: its statements are skipped.
  session->step_back();
  EXPECT_EQ(session->frame(0).line, 9U);
  EXPECT_EQ(session->depth(), 1U);
  EXPECT_EQ(described(session->variables(0)), (std::vector<std::string>{"x:blade=1"}));
  EXPECT_EQ(session->output(), "");
  session->step_back();
  EXPECT_EQ(session->frame(0).line, 8U);
  EXPECT_TRUE(session->variables(0).empty());
  // Forward again: into the council this time.
  session->step_over();
  ASSERT_EQ(settle(*session), State::Stopped);
  session->step_in();
  ASSERT_EQ(settle(*session), State::Stopped);
  EXPECT_EQ(session->frame(0).name, "add");
  EXPECT_EQ(session->frame(0).line, 3U);
  session->step_out();
  ASSERT_EQ(settle(*session), State::Stopped);
  EXPECT_EQ(session->depth(), 1U);
  EXPECT_EQ(session->frame(0).line, 10U);
  session->continue_();
  EXPECT_EQ(settle(*session), State::Exited);
  EXPECT_EQ(session->exit_status(), 0);
  EXPECT_EQ(session->output(), "3\n3\ndone\n");
  EXPECT_EQ(session->report(), "");
}

TEST(DebugSession, ConditionsHitCountsAndLogPoints) {
  constexpr std::string_view loop = R"(on the iron throne:
    i is a blade with 0
    the realm marches 5 times:
        i = i + 1
        speak i
    speak "end"
)";
  auto session = open(loop);
  const std::vector<BreakpointState> set = session->set_breakpoints({
      {5, "i > 2", "", ""},       // stops when i is 3, 4, 5
      {4, "", "", "before {i}"},  // never stops: writes instead
  });
  ASSERT_TRUE(set[0].verified && set[1].verified);
  session->start(false);
  ASSERT_EQ(settle(*session), State::Stopped);
  EXPECT_EQ(session->frame(0).line, 5U);
  Result<VariableInfo> i = session->evaluate("i", 0);
  ASSERT_TRUE(i.ok());
  EXPECT_EQ(i->value, "3");
  EXPECT_EQ(i->type, "blade");
  const std::vector<Session::LogLine> logs = session->take_logs();
  ASSERT_EQ(logs.size(), 3U);
  EXPECT_EQ(logs[0].text, "before 0");
  EXPECT_EQ(logs[2].text, "before 2");
  EXPECT_EQ(logs[1].output_bytes, 2U);  // after "1\n"
  EXPECT_EQ(session->output(), "1\n2\n");

  // A hit condition counts the hits from here on.
  session->set_breakpoints({{5, "", "2", ""}});
  session->continue_();
  ASSERT_EQ(settle(*session), State::Stopped);
  EXPECT_EQ(session->evaluate("i", 0)->value, "5");
  session->continue_();
  EXPECT_EQ(settle(*session), State::Exited);
}

TEST(DebugSession, BadBreakpointsAreRefusedWithTheReason) {
  auto session = open(COUNCIL);
  const std::vector<BreakpointState> set = session->set_breakpoints({
      {6, "", "", ""},       // a blank line: moves to the next statement
      {1, "", "", ""},       // a council's header: its first statement
      {99, "", "", ""},      // past the end
      {8, "x +", "", ""},    // a condition that does not parse
      {8, "", "often", ""},  // a hit condition that is not one
  });
  EXPECT_TRUE(set[0].verified);
  EXPECT_EQ(set[0].line, 8U);
  EXPECT_TRUE(set[1].verified);
  EXPECT_EQ(set[1].line, 3U);
  EXPECT_FALSE(set[2].verified);
  EXPECT_EQ(set[2].message, "no statement on this line or after it");
  EXPECT_FALSE(set[3].verified);
  EXPECT_EQ(set[3].message.rfind("expression parse error: ", 0), 0U) << set[3].message;
  EXPECT_FALSE(set[4].verified);
  const std::vector<BreakpointState> functions = session->set_function_breakpoints({{"add", "", ""}, {"sub", "", ""}});
  EXPECT_TRUE(functions[0].verified);
  EXPECT_EQ(functions[0].line, 3U);
  EXPECT_FALSE(functions[1].verified);
  EXPECT_EQ(functions[1].message, "no council `sub` is declared");
}

TEST(DebugSession, FunctionBreakpointStopsOnEntryOnlyEvenWhenTheBodyOpensWithALoop) {
  constexpr std::string_view source = R"(we declare count with n ->
council says:
    while n > 0:
        n = n - 1
    return n

on the iron throne:
    speak count with 3
    speak count with 2
)";
  auto session = open(source);
  session->set_function_breakpoints({{"count", "", ""}});
  session->start(false);
  ASSERT_EQ(settle(*session), State::Stopped);
  EXPECT_EQ(session->stop().reason, StopReason::FunctionBreakpoint);
  EXPECT_EQ(session->frame(0).line, 3U);
  EXPECT_EQ(session->variables(0)[0].value, "3");
  session->continue_();
  ASSERT_EQ(settle(*session), State::Stopped);
  EXPECT_EQ(session->frame(1).line, 9U);  // the second call, not a round of the loop
  EXPECT_EQ(session->variables(0)[0].value, "2");
  session->continue_();
  EXPECT_EQ(settle(*session), State::Exited);
  EXPECT_EQ(session->output(), "0\n0\n");
}

TEST(DebugSession, WhileLoopsStopOnTheirLineEveryRound) {
  constexpr std::string_view source = R"(on the iron throne:
    n is a blade with 0
    while n < 2:
        n = n + 1
    speak n
)";
  auto session = open(source);
  session->start(true);
  std::vector<std::uint32_t> lines{session->frame(0).line};
  while (true) {
    session->step_in();
    if (settle(*session) != State::Stopped) {
      break;
    }
    lines.push_back(session->frame(0).line);
  }
  EXPECT_EQ(lines, (std::vector<std::uint32_t>{2, 3, 4, 3, 4, 3, 5}));
}

TEST(DebugSession, DynamicScopeShowsWhichCallersVariableANameReaches) {
  constexpr std::string_view source = R"(we declare announce with ->
council says:
    speak "The king is " + king

we declare usurp with ->
council says:
    king is a scroll with "Stannis"
    announce with

on the iron throne:
    king is a scroll with "Robert"
    missing is a blade with 0
    announce with
    usurp with
)";
  auto session = open(source);
  session->set_breakpoints({{3, "", "", ""}});
  session->start(false);
  ASSERT_EQ(settle(*session), State::Stopped);
  std::vector<BorrowedInfo> borrowed = session->borrowed(0);
  ASSERT_EQ(borrowed.size(), 1U);
  EXPECT_EQ(borrowed[0].name, "king");
  ASSERT_TRUE(borrowed[0].variable.has_value());
  EXPECT_EQ(borrowed[0].variable->value, "Robert");
  EXPECT_EQ(borrowed[0].owner, 1U);
  EXPECT_EQ(borrowed[0].owner_name, MAIN_FRAME_NAME);

  session->continue_();
  ASSERT_EQ(settle(*session), State::Stopped);
  ASSERT_EQ(session->depth(), 3U);
  borrowed = session->borrowed(0);
  ASSERT_EQ(borrowed.size(), 1U);
  EXPECT_EQ(borrowed[0].variable->value, "Stannis");
  EXPECT_EQ(borrowed[0].owner, 1U);
  EXPECT_EQ(borrowed[0].owner_name, "usurp");
  // Each frame reaches names as it saw them: the main block sees its own.
  EXPECT_EQ(session->evaluate("king", 2)->value, "Robert");
  EXPECT_EQ(session->evaluate("king", 0)->value, "Stannis");
  EXPECT_EQ(session->evaluate("\"The king is \" + king", 0)->value, "The king is Stannis");
}

TEST(DebugSession, EvaluationChangesNothingAndRefusesCalls) {
  auto session = open(COUNCIL);
  session->set_breakpoints({{10, "", "", ""}});
  session->start(false);
  ASSERT_EQ(settle(*session), State::Stopped);
  Result<VariableInfo> call = session->evaluate("add with 1, 2", 0);
  ASSERT_FALSE(call.ok());
  EXPECT_EQ(call.error().display(),
            "runtime error: calls are not evaluated while debugging: a call could change the run");
  EXPECT_EQ(session->evaluate("nobody", 0).error().display(), "runtime error: unknown banner `nobody`");
  EXPECT_EQ(session->evaluate("y / 0", 0).error().display(), "runtime error: cannot divide by zero");
  EXPECT_EQ(session->evaluate("y * 1.5", 0)->value, "4.5");
  EXPECT_EQ(session->evaluate("y * 1.5", 0)->type, "wine");
  // A long chain evaluates without deep recursion.
  std::string chain = "1";
  for (int i = 0; i < 20000; ++i) {
    chain += " + 1";
  }
  EXPECT_EQ(session->evaluate(chain, 0)->value, "20001");
  session->continue_();
  EXPECT_EQ(settle(*session), State::Exited);
  EXPECT_EQ(session->output(), "3\n3\ndone\n");
}

TEST(DebugSession, RuntimeErrorStopsAtItsLineWithTheCommandsReport) {
  constexpr std::string_view source = R"(on the iron throne:
    speak "one"
    x is a blade with 2
    x = x + "two"
    speak "never"
)";
  auto session = open(source);
  session->start(false);
  ASSERT_EQ(settle(*session), State::Stopped);
  EXPECT_EQ(session->stop().reason, StopReason::Exception);
  EXPECT_EQ(session->stop().description, "runtime error: cannot apply `+` to blade and scroll");
  EXPECT_EQ(session->frame(0).line, 4U);
  EXPECT_EQ(session->report(), "runtime error: cannot apply `+` to blade and scroll\n");
  ASSERT_NE(session->error(), nullptr);
  EXPECT_EQ(described(session->variables(0)), (std::vector<std::string>{"x:blade=2"}));
  // Back to the start of the statement that failed, and forward into it again.
  session->step_back();
  EXPECT_EQ(session->frame(0).line, 4U);
  EXPECT_EQ(session->error(), nullptr);
  EXPECT_EQ(session->report(), "");
  session->step_over();
  ASSERT_EQ(settle(*session), State::Stopped);
  EXPECT_EQ(session->stop().reason, StopReason::Exception);
  session->continue_();
  EXPECT_EQ(settle(*session), State::Exited);
  EXPECT_EQ(session->exit_status(), 1);
  EXPECT_EQ(session->output(), "one\n");

  // Without the stop, the run ends as the command's does.
  auto plain = open(source);
  plain->set_stop_on_error(false);
  plain->start(false);
  EXPECT_EQ(settle(*plain), State::Exited);
  EXPECT_EQ(plain->exit_status(), 1);
  EXPECT_EQ(plain->report(), "runtime error: cannot apply `+` to blade and scroll\n");
}

TEST(DebugSession, ErrorAfterACallReturnsNamesTheCallersLine) {
  constexpr std::string_view source = R"(we declare one with ->
council says:
    return 1

on the iron throne:
    x is a scroll with (one with) + "a"
)";
  auto session = open(source);
  session->start(false);
  ASSERT_EQ(settle(*session), State::Stopped);
  EXPECT_EQ(session->frame(0).line, 6U);
  EXPECT_EQ(session->depth(), 1U);
}

TEST(DebugSession, InputReachesTheProgramAndIsReadAgainAfterGoingBack) {
  constexpr std::string_view source = R"(on the iron throne:
    name is a scroll with ""
    name speaks for input
    speak "Hail, " + name
    age is a blade with 0
    age speaks for input
    speak age + 1
)";
  auto session = open(source, "Arya\n11\n");
  session->set_breakpoints({{7, "", "", ""}});
  session->start(false);
  ASSERT_EQ(settle(*session), State::Stopped);
  EXPECT_EQ(session->evaluate("age", 0)->value, "11");
  session->reverse_continue();  // no breakpoint before: back to the start
  EXPECT_EQ(session->stop().reason, StopReason::Entry);
  EXPECT_EQ(session->steps(), 1U);
  EXPECT_EQ(session->output(), "");
  session->continue_();
  ASSERT_EQ(settle(*session), State::Stopped);
  EXPECT_EQ(session->evaluate("name", 0)->value, "Arya");
  session->continue_();
  EXPECT_EQ(settle(*session), State::Exited);
  EXPECT_EQ(session->output(), "Hail, Arya\n12\n");
}

TEST(DebugSession, ReverseContinueFindsTheLatestBreakpointBefore) {
  constexpr std::string_view source = R"(on the iron throne:
    i is a blade with 0
    the realm marches 100000 times:
        i = i + 1
    speak i
)";
  auto session = open(source);
  session->set_breakpoints({{4, "i == 54321", "", ""}, {5, "", "", ""}});
  session->start(false);
  ASSERT_EQ(settle(*session), State::Stopped);
  EXPECT_EQ(session->evaluate("i", 0)->value, "54321");
  session->continue_();
  ASSERT_EQ(settle(*session), State::Stopped);
  EXPECT_EQ(session->frame(0).line, 5U);
  EXPECT_GT(session->checkpoint_count(), 2U);
  session->reverse_continue();
  EXPECT_EQ(session->stop().reason, StopReason::Breakpoint);
  EXPECT_EQ(session->frame(0).line, 4U);
  EXPECT_EQ(session->evaluate("i", 0)->value, "54321");
  session->step_back();
  EXPECT_EQ(session->evaluate("i", 0)->value, "54320");
  EXPECT_EQ(session->frame(0).line, 4U);
}

TEST(DebugSession, DeepRecursionIsPagedByFrame) {
  constexpr std::string_view source = R"(we declare down with n ->
council says:
    if n == 0:
        return 0
    return down with n - 1

on the iron throne:
    speak down with 20000
)";
  auto session = open(source);
  session->set_breakpoints({{4, "", "", ""}});
  session->start(false);
  ASSERT_EQ(settle(*session), State::Stopped);
  ASSERT_EQ(session->depth(), 20002U);
  EXPECT_EQ(session->frame(0).line, 4U);
  EXPECT_EQ(session->frame(1).line, 5U);
  EXPECT_EQ(session->frame(20001).name, MAIN_FRAME_NAME);
  EXPECT_EQ(session->frame(20001).line, 8U);
  EXPECT_EQ(session->variables(0)[0].value, "0");
  EXPECT_EQ(session->variables(10000)[0].value, "10000");
  session->step_back();  // the statement before in this frame: its `if`
  EXPECT_EQ(session->frame(0).line, 3U);
  EXPECT_EQ(session->depth(), 20002U);
}

TEST(DebugSession, ParseErrorsAreTheCommandsReports) {
  Result<std::unique_ptr<Session>> session = Session::open("on the iron throne:\n    speak 1 +\n", "");
  ASSERT_FALSE(session.ok());
  EXPECT_EQ(session.error().display().rfind("expression parse error: ", 0), 0U);
  session = Session::open("speak 1\n", "");
  ASSERT_FALSE(session.ok());
  EXPECT_EQ(session.error().display(), "parse error on line 1: expected `we declare ...` or `on the iron throne:`");
  session = Session::open(std::string("on the iron throne:\n    speak \"\xff\"\n"), "");
  ASSERT_FALSE(session.ok());
  EXPECT_EQ(session.error().display(), "I/O error: stream did not contain valid UTF-8");
}

TEST(DebugSession, PauseStopsARunningProgramWhereItStands) {
  constexpr std::string_view source = R"(on the iron throne:
    n is a blade with 0
    while aye:
        n = n + 1
)";
  auto session = open(source);
  session->start(false);
  EXPECT_EQ(session->advance(1000), State::Running);
  session->pause();
  EXPECT_EQ(session->state(), State::Stopped);
  EXPECT_EQ(session->stop().reason, StopReason::Pause);
  const std::uint32_t line = session->frame(0).line;
  EXPECT_TRUE(line == 3U || line == 4U);
  session->continue_();
  EXPECT_EQ(settle(*session), State::Stopped);  // the while limit
  EXPECT_EQ(session->stop().description, "runtime error: `while` exceeded 100000 iterations");
}

}  // namespace
}  // namespace skern::debug
