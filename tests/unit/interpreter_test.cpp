// Scope operations and input conversion, where a whole program cannot reach
// the case easily.
#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "interpreter/interpreter.h"
#include "parser/parser.h"

namespace skern {
namespace {

class Scopes : public ::testing::Test {
 protected:
  Program program;
  StringInput input{""};
  StringOutput output;
  Symbol x = program.symbols.intern("x");
  Symbol y = program.symbols.intern("y");
  Interpreter interpreter{program, input, output};

  std::int64_t blade_of(Symbol name) {
    const std::optional<Variable> variable = interpreter.lookup(name);
    EXPECT_TRUE(variable.has_value());
    return variable ? variable->value.as_blade() : -1;
  }
};

TEST_F(Scopes, StartWithOneEmptyGlobalScope) {
  EXPECT_EQ(interpreter.scope_count(), 1U);
  EXPECT_FALSE(interpreter.lookup(x).has_value());
}

TEST_F(Scopes, InnerDeclarationShadowsUntilPopped) {
  ASSERT_TRUE(interpreter.declare(x, DataType::Blade, Value::blade(1)).ok());
  interpreter.push_scope();
  ASSERT_TRUE(interpreter.declare(x, DataType::Blade, Value::blade(2)).ok());
  EXPECT_EQ(blade_of(x), 2);
  ASSERT_TRUE(interpreter.assign(x, Value::blade(3)).ok());
  EXPECT_EQ(blade_of(x), 3);
  interpreter.pop_scope();
  EXPECT_EQ(blade_of(x), 1);
  EXPECT_EQ(interpreter.scope_count(), 1U);
}

TEST_F(Scopes, OnlyTheInnermostScopeIsCheckedOnDeclaration) {
  ASSERT_TRUE(interpreter.declare(x, DataType::Blade, Value::blade(1)).ok());
  Status again = interpreter.declare(x, DataType::Wine, Value::wine(2.0));
  ASSERT_FALSE(again.ok());
  EXPECT_EQ(again.error().display(), "runtime error: `x` is already declared in this scope");
  EXPECT_EQ(blade_of(x), 1);
  EXPECT_EQ(interpreter.lookup(x)->declared_type, DataType::Blade);
}

TEST_F(Scopes, AssignmentReachesOuterScopesThroughTheStoreRule) {
  ASSERT_TRUE(interpreter.declare(x, DataType::Wine, Value::wine(0.5)).ok());
  interpreter.push_scope();
  interpreter.push_scope();
  ASSERT_TRUE(interpreter.assign(x, Value::blade(4)).ok());
  interpreter.pop_scope();
  interpreter.pop_scope();
  const std::optional<Variable> variable = interpreter.lookup(x);
  ASSERT_TRUE(variable->value.is(DataType::Wine));
  EXPECT_EQ(variable->value.as_wine(), 4.0);
}

TEST_F(Scopes, FailedAssignmentsChangeNothing) {
  ASSERT_TRUE(interpreter.declare(x, DataType::Blade, Value::blade(7)).ok());
  Status wrong_type = interpreter.assign(x, Value::scroll("seven"));
  ASSERT_FALSE(wrong_type.ok());
  EXPECT_EQ(wrong_type.error().message(), "cannot store scroll in blade");
  EXPECT_EQ(blade_of(x), 7);
  Status unknown = interpreter.assign(y, Value::blade(1));
  ASSERT_FALSE(unknown.ok());
  EXPECT_EQ(unknown.error().message(), "unknown banner `y`");
  EXPECT_FALSE(interpreter.lookup(y).has_value());
}

TEST_F(Scopes, UntypedVariablesTakeAnyKind) {
  ASSERT_TRUE(interpreter.declare(x, std::nullopt, Value::blade(1)).ok());
  ASSERT_TRUE(interpreter.assign(x, Value::scroll("now text")).ok());
  EXPECT_EQ(interpreter.lookup(x)->value.as_text(), "now text");
  EXPECT_FALSE(interpreter.lookup(x)->declared_type.has_value());
}

TEST_F(Scopes, PoppingRestoresEveryShadowedNameAtOnce) {
  ASSERT_TRUE(interpreter.declare(x, DataType::Blade, Value::blade(1)).ok());
  ASSERT_TRUE(interpreter.declare(y, DataType::Blade, Value::blade(10)).ok());
  for (int depth = 2; depth <= 5; ++depth) {
    interpreter.push_scope();
    ASSERT_TRUE(interpreter.declare(y, DataType::Blade, Value::blade(depth * 10)).ok());
    ASSERT_TRUE(interpreter.declare(x, DataType::Blade, Value::blade(depth)).ok());
  }
  EXPECT_EQ(blade_of(x), 5);
  interpreter.pop_scope();
  interpreter.pop_scope();
  EXPECT_EQ(blade_of(x), 3);
  EXPECT_EQ(blade_of(y), 30);
  interpreter.pop_scope();
  interpreter.pop_scope();
  EXPECT_EQ(blade_of(x), 1);
  EXPECT_EQ(blade_of(y), 10);
}

TEST_F(Scopes, ReadsAreCopiesThatLaterStoresDoNotChange) {
  ASSERT_TRUE(interpreter.declare(x, DataType::Scroll, Value::scroll("before")).ok());
  const Expr read(Identifier{x});
  Result<Value> copy = interpreter.evaluate(read);
  ASSERT_TRUE(copy.ok());
  ASSERT_TRUE(interpreter.assign(x, Value::scroll("after")).ok());
  EXPECT_EQ(copy->as_text(), "before");
}

TEST(Functions, AreFoundByExactName) {
  Result<Program> program = parse_program("we declare Add with a ->\ncouncil says:\n    return a\non the iron throne:\n    speak 1\n");
  ASSERT_TRUE(program.ok());
  StringInput input("");
  StringOutput output;
  Interpreter interpreter(*program, input, output);
  EXPECT_NE(interpreter.find_function(*program->symbols.find("Add")), nullptr);
  EXPECT_EQ(interpreter.find_function(program->symbols.intern("add")), nullptr);
}

Value input_value(std::string_view text, DataType type) {
  Result<Value> value = parse_input(text, type);
  EXPECT_TRUE(value.ok()) << text;
  return value.ok() ? *value : Value();
}

std::string input_error(std::string_view text, DataType type) {
  Result<Value> value = parse_input(text, type);
  EXPECT_FALSE(value.ok()) << text;
  return value.ok() ? "<accepted>" : value.error().message();
}

TEST(ParseInput, Blades) {
  EXPECT_EQ(input_value("42", DataType::Blade).as_blade(), 42);
  EXPECT_EQ(input_value("+5", DataType::Blade).as_blade(), 5);
  EXPECT_EQ(input_value("-0", DataType::Blade).as_blade(), 0);
  EXPECT_EQ(input_value("0007", DataType::Blade).as_blade(), 7);
  EXPECT_EQ(input_value("-9223372036854775808", DataType::Blade).as_blade(),
            std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(input_error(" 42", DataType::Blade), "input ` 42` is not a blade");
  EXPECT_EQ(input_error("", DataType::Blade), "input `` is not a blade");
  EXPECT_EQ(input_error("-", DataType::Blade), "input `-` is not a blade");
  EXPECT_EQ(input_error("9223372036854775808", DataType::Blade), "input `9223372036854775808` is not a blade");
  EXPECT_EQ(input_error("4.0", DataType::Blade), "input `4.0` is not a blade");
  EXPECT_EQ(input_error("42 ", DataType::Blade), "input `42 ` is not a blade");
}

TEST(ParseInput, Wines) {
  EXPECT_EQ(input_value("7", DataType::Wine).as_wine(), 7.0);
  EXPECT_EQ(input_value("-2.5", DataType::Wine).as_wine(), -2.5);
  EXPECT_EQ(input_value("+.5", DataType::Wine).as_wine(), 0.5);
  EXPECT_EQ(input_value("5.", DataType::Wine).as_wine(), 5.0);
  EXPECT_EQ(input_value("1e3", DataType::Wine).as_wine(), 1000.0);
  EXPECT_EQ(input_value("2.5E-1", DataType::Wine).as_wine(), 0.25);
  EXPECT_EQ(input_value("1e400", DataType::Wine).as_wine(), std::numeric_limits<double>::infinity());
  EXPECT_EQ(input_value("1e-400", DataType::Wine).as_wine(), 0.0);
  EXPECT_EQ(input_value("0.1", DataType::Wine).as_wine(), 0.1);
  EXPECT_EQ(input_value("-Infinity", DataType::Wine).as_wine(), -std::numeric_limits<double>::infinity());
  EXPECT_EQ(input_value("INF", DataType::Wine).as_wine(), std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isnan(input_value("nAn", DataType::Wine).as_wine()));
  EXPECT_TRUE(std::isnan(input_value("+NaN", DataType::Wine).as_wine()));
  EXPECT_TRUE(std::signbit(input_value("-0", DataType::Wine).as_wine()));
  for (const char* bad : {"", ".", "e5", "1e", "1e+", "--1", "1.2.3", " 1", "0x10", "infinit", "nan(1)", "1_000", "+"}) {
    EXPECT_EQ(input_error(bad, DataType::Wine), "input `" + std::string(bad) + "` is not wine");
  }
}

TEST(ParseInput, ScrollsVowsSigilsAndVoid) {
  EXPECT_EQ(input_value("  any text\t", DataType::Scroll).as_text(), "  any text\t");
  EXPECT_EQ(input_value("", DataType::Scroll).as_text(), "");
  EXPECT_TRUE(input_value("aye", DataType::Vow).as_vow());
  EXPECT_TRUE(input_value("true", DataType::Vow).as_vow());
  EXPECT_FALSE(input_value("nay", DataType::Vow).as_vow());
  EXPECT_FALSE(input_value("false", DataType::Vow).as_vow());
  EXPECT_EQ(input_error("Aye", DataType::Vow), "input `Aye` is not a vow");
  EXPECT_EQ(input_error("TRUE", DataType::Vow), "input `TRUE` is not a vow");
  EXPECT_EQ(input_value("x", DataType::Sigil).as_sigil(), U'x');
  EXPECT_EQ(input_value("\U0001F451", DataType::Sigil).as_sigil(), U'\U0001F451');
  EXPECT_EQ(input_error("", DataType::Sigil), "input `` is not a sigil");
  EXPECT_EQ(input_error("ab", DataType::Sigil), "input `ab` is not a sigil");
  EXPECT_EQ(input_error("e\u0301", DataType::Sigil), "input `e\u0301` is not a sigil");
  EXPECT_EQ(input_error("anything", DataType::Void), "void cannot receive input");
}

// A main block given a statement at a time leaves no tree behind: the
// program keeps only its councils' nodes. A council below the main block
// may reach what it declares, so then it is not compiled as read.
TEST(StreamedRunTest, KeepsNoTreeOfTheMainBlockAndGivesWayToALaterCouncil) {
  const std::string above =
      "we declare f with a ->\n"
      "council says:\n"
      "    return a + 1\n"
      "on the iron throne:\n"
      "    x is a blade with f with 1\n"
      "    if x > 1:\n"
      "        speak x + 2 + 3\n";
  Program program;
  StringInput input("");
  StringOutput output;
  StreamedRun streamed(program, input, output);
  ASSERT_TRUE(parse_program(above, program, streamed).ok());
  EXPECT_TRUE(streamed.compiled());
  EXPECT_EQ(program.main.size(), 0U);
  // A literal at the root of a statement lives in the statement: "speak 0" has no nodes of its own.
  const Result<Program> councils_alone =
      parse_program("we declare f with a ->\ncouncil says:\n    return a + 1\non the iron throne:\n    speak 0\n");
  EXPECT_EQ(program.nodes.size(), councils_alone->nodes.size());
  EXPECT_LT(program.nodes.size(), parse_program(above)->nodes.size());
  ASSERT_TRUE(streamed.run().ok());
  EXPECT_EQ(output.text(), "7\n");

  Program later;
  StreamedRun not_streamed(later, input, output);
  ASSERT_TRUE(parse_program("on the iron throne:\n    speak 1\nwe declare g with ->\ncouncil says:\n    speak 2\n",
                            later, not_streamed)
                  .ok());
  EXPECT_FALSE(not_streamed.compiled());
  EXPECT_EQ(later.functions.size(), 1U);
}

}  // namespace
}  // namespace skern
