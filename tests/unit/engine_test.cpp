// What the compiled form of a program must keep exactly as the tree says:
// a failed statement changes no variable, a block run from outside keeps its
// top-level variables in the scope it ran in, and variables that a callee
// reaches by name are the nearest ones whichever register they live in.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "interpreter/interpreter.h"
#include "parser/parser.h"

namespace skern {
namespace {

class Engine : public ::testing::Test {
 protected:
  void load(std::string_view source, Limits limits = {}) {
    Result<Program> parsed = parse_program(source);
    ASSERT_TRUE(parsed.ok()) << parsed.error().display();
    program = std::make_unique<Program>(std::move(*parsed));
    interpreter = std::make_unique<Interpreter>(*program, input, output, limits);
  }
  Symbol name(std::string_view text) { return program->symbols.intern(text); }
  std::string run_main() {
    Result<Flow> flow = interpreter->execute_block(program->main);
    return flow.ok() ? "<ok>" : flow.error().display();
  }
  std::string text_of(std::string_view variable) {
    const std::optional<Variable> found = interpreter->lookup(name(variable));
    return found ? std::string(found->value.as_text()) : "<none>";
  }

  std::unique_ptr<Program> program;
  StringInput input{""};
  StringOutput output;
  std::unique_ptr<Interpreter> interpreter;
};

// The pieces of `s = s + a + b` are joined only at the store, so a piece
// that fails, of the wrong kind or past the scroll cap, leaves s (and any
// variable sharing its text) exactly as it was.
TEST_F(Engine, AFailedAppendLeavesTheVariableAsItWas) {
  load(
      "on the iron throne:\n"
      "    s = s + \"a\" + 5\n",
      Limits{.scroll_bytes = 16});
  ASSERT_TRUE(interpreter->declare(name("s"), DataType::Scroll, Value::scroll("keep")).ok());
  EXPECT_EQ(run_main(), "runtime error: cannot apply `+` to scroll and blade");
  EXPECT_EQ(text_of("s"), "keep");

  load(
      "on the iron throne:\n"
      "    t is a scroll with s\n"
      "    s = s + \"aaaaa\" + \"bbbbbbbb\"\n",
      Limits{.scroll_bytes = 16});
  ASSERT_TRUE(interpreter->declare(name("s"), DataType::Scroll, Value::scroll("keep")).ok());
  EXPECT_EQ(run_main(), "runtime error: out of memory");
  EXPECT_EQ(text_of("s"), "keep");
  EXPECT_EQ(text_of("t"), "keep");

  // A piece evaluated by a call that fails.
  load(
      "we declare boom with ->\n"
      "council says:\n"
      "    return missing\n"
      "on the iron throne:\n"
      "    s = s + \"a\" + (boom with)\n");
  ASSERT_TRUE(interpreter->declare(name("s"), std::nullopt, Value::scroll("keep")).ok());
  EXPECT_EQ(run_main(), "runtime error: unknown banner `missing`");
  EXPECT_EQ(text_of("s"), "keep");
}

// A single append grows the variable's own buffer in place; when another
// variable shares it, that one keeps the old text.
TEST_F(Engine, AppendingInPlaceNeverChangesASharedText) {
  load(
      "on the iron throne:\n"
      "    s is a scroll with \"ab\"\n"
      "    t is a scroll with s\n"
      "    s = s + \"c\"\n"
      "    u is a scroll with s\n"
      "    s = s + \"d\" + \"e\"\n"
      "    s = s + s\n");
  EXPECT_EQ(run_main(), "<ok>");
  EXPECT_EQ(text_of("t"), "ab");
  EXPECT_EQ(text_of("u"), "abc");
  EXPECT_EQ(text_of("s"), "abcdeabcde");
}

// A run of texts joined at once is checked against the scroll cap as each
// `+` would be, and gives what the joins one by one give.
TEST_F(Engine, TextsJoinedAtOnceKeepTheCap) {
  load(
      "on the iron throne:\n"
      "    a is a scroll with \"abcd\"\n"
      "    b is a scroll with a + \"-\" + a + \"\"\n"
      "    speak b\n"
      "    c is a scroll with b + b + \"!\"\n",
      Limits{.scroll_bytes = 18});
  EXPECT_EQ(run_main(), "runtime error: out of memory");
  EXPECT_EQ(output.text(), "abcd-abcd\n");
  EXPECT_EQ(text_of("c"), "<none>");
  load(
      "on the iron throne:\n"
      "    a is a scroll with \"abcd\"\n"
      "    c is a scroll with a + \"-\" + a + \"-\" + a + \"!\"\n",
      Limits{.scroll_bytes = 15});
  EXPECT_EQ(run_main(), "<ok>");
  EXPECT_EQ(text_of("c"), "abcd-abcd-abcd!");
}

// A block run from outside leaves its top-level variables in the current
// scope, those that came before a failure too; nested ones go.
TEST_F(Engine, ABlockRunFromOutsideKeepsItsTopLevelVariables) {
  load(
      "on the iron throne:\n"
      "    kept is a scroll with \"kept\"\n"
      "    the realm marches 2 times:\n"
      "        inner is a scroll with \"inner\"\n"
      "    after is a scroll with kept + \"!\"\n"
      "    speak missing\n"
      "    never is a scroll with \"never\"\n");
  EXPECT_EQ(run_main(), "runtime error: unknown banner `missing`");
  EXPECT_EQ(text_of("kept"), "kept");
  EXPECT_EQ(text_of("after"), "kept!");
  EXPECT_EQ(text_of("inner"), "<none>");
  EXPECT_EQ(text_of("never"), "<none>");
  EXPECT_EQ(interpreter->scope_count(), 1U);
  // Running it again declares `kept` a second time in the same scope.
  EXPECT_EQ(run_main(), "runtime error: `kept` is already declared in this scope");
  interpreter->push_scope();
  EXPECT_EQ(run_main(), "runtime error: unknown banner `missing`");
  interpreter->pop_scope();
  EXPECT_EQ(text_of("kept"), "kept");
}

// A return from the main block ends the run; what was declared stays.
TEST_F(Engine, AReturnFromOutsideKeepsTheVariables) {
  load(
      "on the iron throne:\n"
      "    a is a scroll with \"a\"\n"
      "    the realm marches 3 times:\n"
      "        b is a scroll with \"b\"\n"
      "        if b == \"b\":\n"
      "            return a + b\n");
  Result<Flow> flow = interpreter->execute_block(program->main);
  ASSERT_TRUE(flow.ok());
  ASSERT_EQ(flow->kind, Flow::Kind::Returned);
  EXPECT_EQ(flow->value.as_text(), "ab");
  EXPECT_EQ(text_of("a"), "a");
  EXPECT_EQ(text_of("b"), "<none>");
}

// Variables declared through the interface are reached by name from
// functions, and a function's own variables stay its own.
TEST_F(Engine, FunctionsReachVariablesDeclaredFromOutside) {
  load(
      "we declare greet with ->\n"
      "council says:\n"
      "    who = who + \"!\"\n"
      "    who is a scroll with \"own\"\n"
      "    speak who\n"
      "on the iron throne:\n"
      "    greet with\n"
      "    speak who\n");
  ASSERT_TRUE(interpreter->declare(name("who"), DataType::Scroll, Value::scroll("you")).ok());
  EXPECT_EQ(run_main(), "<ok>");
  EXPECT_EQ(output.text(), "own\nyou!\n");
  Status wrong = interpreter->assign(name("who"), Value::blade(1));
  ASSERT_FALSE(wrong.ok());
  EXPECT_EQ(wrong.error().message(), "cannot store blade in scroll");
}

}  // namespace
}  // namespace skern
