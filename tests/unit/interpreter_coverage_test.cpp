// The interpreter driven from outside a program: conditions, expressions and
// calls handed to it directly, the limits a run can be given, names made
// after it started, and input read from the in-memory console.
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver/cli.h"
#include "interpreter/interpreter.h"
#include "parser/expression.h"
#include "parser/parser.h"

namespace skern {
namespace {

// A parsed program with expressions parsed into it; the interpreter starts
// once every name the test needs is known.
class Session : public ::testing::Test {
 protected:
  void load(std::string_view source) {
    Result<Program> parsed = parse_program(source);
    ASSERT_TRUE(parsed.ok()) << parsed.error().display();
    program = std::make_unique<Program>(std::move(*parsed));
  }
  const Expr& expr(std::string_view text) {
    Result<Expr> parsed = parse_expression(text, program->symbols, program->nodes);
    EXPECT_TRUE(parsed.ok()) << text;
    exprs.push_back(parsed.ok() ? std::move(*parsed) : Expr(IntegerLiteral{0}));
    return exprs.back();
  }
  std::vector<Expr> arguments(std::initializer_list<std::string_view> texts) {
    std::vector<Expr> list;
    for (const std::string_view text : texts) {
      Result<Expr> parsed = parse_expression(text, program->symbols, program->nodes);
      EXPECT_TRUE(parsed.ok()) << text;
      list.push_back(parsed.ok() ? std::move(*parsed) : Expr(IntegerLiteral{0}));
    }
    return list;
  }
  Symbol name(std::string_view text) { return program->symbols.intern(text); }
  Interpreter& start() {
    interpreter = std::make_unique<Interpreter>(*program, input, output);
    return *interpreter;
  }

  std::unique_ptr<Program> program;
  std::deque<Expr> exprs;
  StringInput input{""};
  StringOutput output;
  std::unique_ptr<Interpreter> interpreter;
};

template <class T>
std::string error_of(const Result<T>& result) {
  return result.ok() ? "<ok>" : result.error().display();
}

TEST_F(Session, ConditionsGiveTheirVowOrNameTheKindFound) {
  load("on the iron throne:\n    speak 0\n");
  const Symbol x = name("x");
  const Expr& above = expr("x > 1");
  const Expr& below = expr("x < 1");
  const Expr& mixed = expr("x == 2.0");
  const Expr& bare = expr("x");
  const Expr& unknown = expr("missing");
  const Expr& negated = expr("!(x != 2)");
  Interpreter& interp = start();
  ASSERT_TRUE(interp.declare(x, DataType::Blade, Value::blade(2)).ok());

  ASSERT_TRUE(interp.evaluate_condition(above).ok());
  EXPECT_TRUE(*interp.evaluate_condition(above));
  EXPECT_FALSE(*interp.evaluate_condition(below));
  EXPECT_FALSE(*interp.evaluate_condition(mixed));  // a blade never equals a wine
  EXPECT_TRUE(*interp.evaluate_condition(negated));
  EXPECT_EQ(error_of(interp.evaluate_condition(bare)), "runtime error: condition must evaluate to vow, found blade");
  EXPECT_EQ(error_of(interp.evaluate_condition(unknown)), "runtime error: unknown banner `missing`");
}

TEST_F(Session, EvaluationStopsAtTheFirstErrorFromTheLeft) {
  load("on the iron throne:\n    speak 0\n");
  const Expr& right_unknown = expr("1 + missing");
  const Expr& left_divides = expr("(1 / 0) + missing");
  const Expr& kinds = expr("\"a\" * 2");
  const Expr& fine = expr("7 / 2");
  Interpreter& interp = start();
  EXPECT_EQ(error_of(interp.evaluate(right_unknown)), "runtime error: unknown banner `missing`");
  EXPECT_EQ(error_of(interp.evaluate(left_divides)), "runtime error: cannot divide by zero");
  EXPECT_EQ(error_of(interp.evaluate(kinds)), "runtime error: cannot apply `*` to scroll and blade");
  Result<Value> half = interp.evaluate(fine);
  ASSERT_TRUE(half.ok());
  EXPECT_EQ(display_value(*half), "3.5");
}

constexpr std::string_view kCouncils =
    "we declare add with a, b ->\n"
    "council says:\n"
    "    return a + b\n"
    "we declare shout with s ->\n"
    "council says:\n"
    "    speak s\n"
    "we declare bump with ->\n"
    "council says:\n"
    "    counter = counter + 1\n"
    "    local is a blade with counter\n"
    "on the iron throne:\n"
    "    speak 0\n";

TEST_F(Session, CallsRunTheBodyInANewScopeAboveTheCaller) {
  load(kCouncils);
  const Symbol add = name("add");
  const Symbol shout = name("shout");
  const Symbol bump = name("bump");
  const Symbol counter = name("counter");
  const Symbol local = name("local");
  std::vector<Expr> two_and_three = arguments({"2", "3"});
  std::vector<Expr> greeting = arguments({"\"hail\""});
  Interpreter& interp = start();
  ASSERT_TRUE(interp.declare(counter, DataType::Blade, Value::blade(41)).ok());

  Result<Value> sum = interp.call_function(add, two_and_three);
  ASSERT_TRUE(sum.ok()) << sum.error().display();
  EXPECT_EQ(display_value(*sum), "5");

  Result<Value> nothing = interp.call_function(shout, greeting);
  ASSERT_TRUE(nothing.ok());
  EXPECT_TRUE(nothing->is(DataType::Void));
  EXPECT_EQ(output.text(), "hail\n");

  // The body assigns the caller's variable; its own declaration goes with it.
  ASSERT_TRUE(interp.call_function(bump, {}).ok());
  ASSERT_TRUE(interp.lookup(counter).has_value());
  EXPECT_EQ(interp.lookup(counter)->value.as_blade(), 42);
  EXPECT_FALSE(interp.lookup(local).has_value());
  EXPECT_EQ(interp.scope_count(), 1U);
}

TEST_F(Session, CallFailuresInTheirOrder) {
  load(kCouncils);
  const Symbol add = name("add");
  const Symbol nobody = name("nobody");
  name("missing");
  std::vector<Expr> unknown_argument = arguments({"missing"});
  std::vector<Expr> one = arguments({"1"});
  std::vector<Expr> both_fail = arguments({"1 / 0", "missing"});
  Interpreter& interp = start();
  // Arguments first, before the function is looked up.
  EXPECT_EQ(error_of(interp.call_function(nobody, unknown_argument)), "runtime error: unknown banner `missing`");
  EXPECT_EQ(error_of(interp.call_function(nobody, one)), "runtime error: unknown council `nobody`");
  EXPECT_EQ(error_of(interp.call_function(add, one)), "runtime error: `add` expects 2 argument(s), received 1");
  EXPECT_EQ(error_of(interp.call_function(add, both_fail)), "runtime error: cannot divide by zero");
  EXPECT_EQ(interp.scope_count(), 1U);
}

// A failure deep inside calls, loops and branches closes every scope and
// call that was open: the interpreter is as it was, with the same call
// depth to spend, and runs the next call normally.
TEST_F(Session, AFailureInsideCallsAndBlocksLeavesNothingOpen) {
  load(
      "we declare sink with n ->\n"
      "council says:\n"
      "    the realm marches 1 times:\n"
      "        step is a blade with n\n"
      "        if n == 0:\n"
      "            inner is a scroll with \"deep\"\n"
      "            return missing\n"
      "        return sink with n - 1\n"
      "    return 0\n"
      "on the iron throne:\n"
      "    speak 0\n");
  const Symbol sink = name("sink");
  const Symbol n = name("n");
  const Symbol step = name("step");
  const Symbol inner = name("inner");
  std::vector<Expr> deep = arguments({"40"});
  std::vector<Expr> up_to_the_limit = arguments({"49"});
  interpreter = std::make_unique<Interpreter>(*program, input, output, Limits{.call_depth = 50});
  Interpreter& interp = *interpreter;
  ASSERT_TRUE(interp.declare(step, DataType::Scroll, Value::scroll("outer")).ok());
  interp.push_scope();

  EXPECT_EQ(error_of(interp.call_function(sink, deep)), "runtime error: unknown banner `missing`");
  EXPECT_EQ(interp.scope_count(), 2U);
  EXPECT_FALSE(interp.lookup(n).has_value());
  EXPECT_FALSE(interp.lookup(inner).has_value());
  ASSERT_TRUE(interp.lookup(step).has_value());
  EXPECT_EQ(interp.lookup(step)->value.as_text(), "outer");
  // Fifty nested calls are still allowed: the failed ones were all undone.
  EXPECT_EQ(error_of(interp.call_function(sink, up_to_the_limit)), "runtime error: unknown banner `missing`");
  EXPECT_EQ(error_of(interp.call_function(sink, arguments({"50"}))), "runtime error: calls nest deeper than 50 levels");
  interp.pop_scope();
  EXPECT_EQ(interp.scope_count(), 1U);
  EXPECT_EQ(interp.lookup(step)->value.as_text(), "outer");
}

// A run given a step budget executes that many statements and fails on the
// next one; every statement counts, a loop header as well as its body.
TEST(Limits, StepBudgetCountsEveryStatement) {
  Result<Program> program = parse_program(
      "on the iron throne:\n"
      "    the realm marches 10 times:\n"
      "        speak \"step\"\n");
  ASSERT_TRUE(program.ok());
  const auto run_with_budget = [&](std::uint64_t budget, StringOutput& output) {
    StringInput input("");
    Limits limits;
    limits.step_budget = budget;
    return run_program(*program, input, output, limits);
  };
  std::string ten_steps;
  for (int i = 0; i < 10; ++i) {
    ten_steps += "step\n";
  }

  StringOutput enough;
  EXPECT_TRUE(run_with_budget(11, enough).ok());
  EXPECT_EQ(enough.text(), ten_steps);

  StringOutput one_short;
  Status stopped = run_with_budget(10, one_short);
  ASSERT_FALSE(stopped.ok());
  EXPECT_EQ(stopped.error().display(), "runtime error: program ran longer than its budget of 10 steps");
  EXPECT_EQ(one_short.text(), ten_steps.substr(0, 9 * 5));

  StringOutput four;
  EXPECT_FALSE(run_with_budget(4, four).ok());
  EXPECT_EQ(four.text(), "step\nstep\nstep\n");

  StringOutput unbounded;
  EXPECT_TRUE(run_with_budget(0, unbounded).ok());
  EXPECT_EQ(unbounded.text(), ten_steps);
}

TEST(Limits, ScrollsUpToTheCapAndNotOneByteMore) {
  const auto run_capped = [](std::string_view source, StringOutput& output) {
    Result<Program> program = parse_program(source);
    EXPECT_TRUE(program.ok());
    StringInput input("");
    Limits limits;
    limits.scroll_bytes = 6;
    return program.ok() ? run_program(*program, input, output, limits) : Status(program.error());
  };
  StringOutput appended;
  Status grown = run_capped(
      "on the iron throne:\n"
      "    s is a scroll with \"abc\"\n"
      "    s = s + \"def\"\n"
      "    speak s\n"
      "    s = s + \"g\"\n"
      "    speak s\n",
      appended);
  ASSERT_FALSE(grown.ok());
  EXPECT_EQ(grown.error().display(), "runtime error: out of memory");
  EXPECT_EQ(appended.text(), "abcdef\n");

  StringOutput joined;
  Status sum = run_capped(
      "on the iron throne:\n"
      "    speak \"ab\" + \"cdef\"\n"
      "    speak \"abc\" + \"defg\"\n",
      joined);
  ASSERT_FALSE(sum.ok());
  EXPECT_EQ(sum.error().display(), "runtime error: out of memory");
  EXPECT_EQ(joined.text(), "abcdef\n");
}

TEST(Limits, CallDepthAdmitsExactlyTheLimit) {
  Result<Program> program = parse_program(
      "we declare down with n ->\n"
      "council says:\n"
      "    if n == 0:\n"
      "        return 0\n"
      "    return 1 + (down with n - 1)\n"
      "on the iron throne:\n"
      "    speak down with 2\n"
      "    speak down with 3\n");
  ASSERT_TRUE(program.ok());
  StringInput input("");
  StringOutput output;
  Limits limits;
  limits.call_depth = 3;
  Status status = run_program(*program, input, output, limits);
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().display(), "runtime error: calls nest deeper than 3 levels");
  EXPECT_EQ(output.text(), "2\n");
}

// An append that would pass the cap fails before the variable lets go of
// its text: the variable keeps the value it had.
TEST_F(Session, AnAppendPastTheCapLeavesTheVariableAsItWas) {
  load(
      "on the iron throne:\n"
      "    s is a scroll with \"abc\"\n"
      "    s = s + \"defg\"\n");
  const Symbol s = name("s");
  interpreter = std::make_unique<Interpreter>(*program, input, output, Limits{.scroll_bytes = 6});
  Result<Flow> flow = interpreter->execute_block(program->main);
  ASSERT_FALSE(flow.ok());
  EXPECT_EQ(flow.error().display(), "runtime error: out of memory");
  ASSERT_TRUE(interpreter->lookup(s).has_value());
  EXPECT_EQ(interpreter->lookup(s)->value.type(), DataType::Scroll);
  EXPECT_EQ(interpreter->lookup(s)->value.as_text(), "abc");
}

TEST_F(Session, NamesMadeAfterTheStartCanBeDeclaredAssignedAndLookedUp) {
  load("on the iron throne:\n    speak 0\n");
  Interpreter& interp = start();
  const Symbol late = name("late");
  const Symbol never = name("never");
  EXPECT_FALSE(interp.lookup(late).has_value());
  ASSERT_TRUE(interp.declare(late, DataType::Wine, Value::wine(0.5)).ok());
  ASSERT_TRUE(interp.assign(late, Value::blade(3)).ok());
  ASSERT_TRUE(interp.lookup(late).has_value());
  EXPECT_EQ(display_value(interp.lookup(late)->value), "3");
  EXPECT_TRUE(interp.lookup(late)->value.is(DataType::Wine));
  Status unknown = interp.assign(never, Value::blade(1));
  ASSERT_FALSE(unknown.ok());
  EXPECT_EQ(unknown.error().display(), "runtime error: unknown banner `never`");
}

// An expression may name variables that did not exist when the interpreter
// started; undeclared, they are unknown banners like any other.
TEST_F(Session, ExpressionsWithNamesMadeAfterTheStartFindNoVariable) {
  load("on the iron throne:\n    speak 0\n");
  Interpreter& interp = start();
  for (int i = 0; i < 1000; ++i) {
    name("late" + std::to_string(i));
  }
  const Expr& late = expr("late999 + 1");
  const Expr& condition = expr("late998");
  EXPECT_EQ(error_of(interp.evaluate(late)), "runtime error: unknown banner `late999`");
  EXPECT_EQ(error_of(interp.evaluate_condition(condition)), "runtime error: unknown banner `late998`");
}

TEST(Console, InputLinesFromAStringEndWithAnEmptyLine) {
  StringInput input("41\r\n  last line, no line feed");
  StringOutput output;
  Status status = run(
      "on the iron throne:\n"
      "    n is a blade with 0\n"
      "    n speaks for input\n"
      "    s is a scroll with \"\"\n"
      "    s speaks for input\n"
      "    t is a scroll with \"unread\"\n"
      "    t speaks for input\n"
      "    speak n + 1\n"
      "    speak s\n"
      "    speak t == \"\"\n",
      input, output);
  ASSERT_TRUE(status.ok()) << status.error().display();
  EXPECT_EQ(output.text(), "42\n  last line, no line feed\naye\n");
}

}  // namespace
}  // namespace skern
