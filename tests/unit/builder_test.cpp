// Expression trees: grouping, unary order, calls, literals and escapes.
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "driver/cli.h"
#include "interpreter/console.h"
#include "parser/expression.h"
#include "tree_printer.h"

namespace skern {
namespace {

using testing_support::describe;

std::string built(std::string_view text) {
  SymbolTable symbols;
  ExprArena nodes;
  Result<Expr> expr = parse_expression(text, symbols, nodes);
  if (!expr.ok()) {
    return "error: " + expr.error().message();
  }
  return describe(*expr, symbols);
}

std::string error_of(std::string_view text) {
  SymbolTable symbols;
  ExprArena nodes;
  Result<Expr> expr = parse_expression(text, symbols, nodes);
  if (expr.ok()) {
    return "<built>";
  }
  EXPECT_EQ(expr.error().kind(), Error::Kind::ExpressionParse);
  return expr.error().message();
}

TEST(Builder, OneLeftToRightPrecedence) {
  EXPECT_EQ(built("1 + 2 * 3"), "Binary(Binary(1, Add, 2), Multiply, 3)");
  EXPECT_EQ(built("1 + (2 * 3)"), "Binary(1, Add, Binary(2, Multiply, 3))");
  EXPECT_EQ(built("10 - 4 - 3"), "Binary(Binary(10, Subtract, 4), Subtract, 3)");
  EXPECT_EQ(built("a == b == c"), "Binary(Binary(a, Equal, b), Equal, c)");
  EXPECT_EQ(built("8 - 2 * 3"), "Binary(Binary(8, Subtract, 2), Multiply, 3)");
  EXPECT_EQ(built("a / b > c < d != e"),
            "Binary(Binary(Binary(Binary(a, Divide, b), Greater, c), Less, d), NotEqual, e)");
}

TEST(Builder, UnaryOperatorsInnermostLast) {
  EXPECT_EQ(built("-5"), "Unary(5, Negate)");
  EXPECT_EQ(built("--5"), "Unary(Unary(5, Negate), Negate)");
  EXPECT_EQ(built("-!x"), "Unary(Unary(x, Not), Negate)");
  EXPECT_EQ(built("!aye"), "Unary(aye, Not)");
  EXPECT_EQ(built("-a + b"), "Binary(Unary(a, Negate), Add, b)");
  EXPECT_EQ(built("-(a + b)"), "Unary(Binary(a, Add, b), Negate)");
}

TEST(Builder, Calls) {
  EXPECT_EQ(built("f"), "f");
  EXPECT_EQ(built("f with"), "Call(f)");
  EXPECT_EQ(built("f with 1, 2"), "Call(f, 1, 2)");
  EXPECT_EQ(built("f with 1, x + 2"), "Call(f, 1, Binary(x, Add, 2))");
  EXPECT_EQ(built("f with g with 1, 2"), "Call(f, Call(g, 1, 2))");
  EXPECT_EQ(built("f with (g with 1), 2"), "Call(f, Call(g, 1), 2)");
  EXPECT_EQ(built("a + f with 1"), "Binary(a, Add, Call(f, 1))");
  EXPECT_EQ(built("(g) with 2"), "Call(g, 2)");
  EXPECT_EQ(built("with with"), "Call(with)");
  EXPECT_EQ(built("-f with 1"), "Unary(Call(f, 1), Negate)");
}

TEST(Builder, OnlyIdentifiersCanBeCalled) {
  EXPECT_EQ(error_of("5 with 1"), "`with` can only call an identifier");
  EXPECT_EQ(error_of("(1 + 2) with"), "`with` can only call an identifier");
  EXPECT_EQ(error_of("\"f\" with 1"), "`with` can only call an identifier");
  // Arguments are built first, so their errors come before the callee check.
  EXPECT_EQ(error_of("5 with 9223372036854775808"), "invalid integer `9223372036854775808`");
}

TEST(Builder, Numbers) {
  EXPECT_EQ(built("9223372036854775807"), "9223372036854775807");
  EXPECT_EQ(error_of("9223372036854775808"), "invalid integer `9223372036854775808`");
  EXPECT_EQ(error_of("-9223372036854775808"), "invalid integer `9223372036854775808`");
  EXPECT_EQ(built("007"), "7");
  EXPECT_EQ(built("3.25"), "3.25f");
  EXPECT_EQ(built("1.0"), "1f");
  EXPECT_EQ(built("0.1"), "0.1f");
  // Correct rounding of long digit strings, and no failure beyond the range.
  // Halfway between the doubles 0.3 and 0.30000000000000004: just below
  // rounds down, the exact tie goes to the even neighbour (the upper one).
  EXPECT_EQ(built("0.30000000000000001665334536937734810635447502136230468749"), "0.3f");
  EXPECT_EQ(built("0.3000000000000000166533453693773481063544750213623046875"), "0.30000000000000004f");
  EXPECT_EQ(built(std::string(400, '9') + ".0"), "inff");
  EXPECT_EQ(built("0." + std::string(400, '0') + "1"), "0f");
}

TEST(Builder, StringEscapes) {
  EXPECT_EQ(built(R"("a\nb")"), "\"a\nb\"");
  EXPECT_EQ(built(R"("tab\there")"), "\"tab\there\"");
  EXPECT_EQ(built(R"("\r")"), "\"\r\"");
  EXPECT_EQ(built(R"("q\"q")"), "\"q\"q\"");
  EXPECT_EQ(built(R"("back\\slash")"), "\"back\\slash\"");
  EXPECT_EQ(built(R"("it\'s")"), "\"it's\"");
  EXPECT_EQ(built(R"("\q")"), "\"q\"");
  EXPECT_EQ(built("\"\""), "\"\"");
  EXPECT_EQ(built("\"\u00e9\u00e8\""), "\"\u00e9\u00e8\"");
}

TEST(Builder, CharacterLiterals) {
  EXPECT_EQ(built("'x'"), "'x'");
  EXPECT_EQ(built(R"('\t')"), "'\t'");
  EXPECT_EQ(built(R"('\'')"), "'''");
  EXPECT_EQ(built(R"('\\')"), "'\\'");
  EXPECT_EQ(built("'\u00e9'"), "'\u00e9'");
  EXPECT_EQ(built("'\U0001F451'"), "'\U0001F451'");
}

TEST(Builder, LiteralsAndIdentifiers) {
  EXPECT_EQ(built("aye"), "aye");
  EXPECT_EQ(built("nay"), "nay");
  EXPECT_EQ(built("ayes"), "ayes");
  SymbolTable symbols;
  ExprArena nodes;
  Result<Expr> first = parse_expression("count + count", symbols, nodes);
  ASSERT_TRUE(first.ok());
  const Binary& sum = first->as<Binary>();
  EXPECT_EQ(sum.left()->as<Identifier>().name, sum.right()->as<Identifier>().name);
  EXPECT_EQ(symbols.size(), 1U);
}

TEST(Builder, GrammarFailuresBecomeExpressionErrors) {
  EXPECT_EQ(error_of(""), " --> 1:1\n  |\n1 | \n  | ^---\n  |\n  = expected unary_expr");
  EXPECT_EQ(error_of("x = 1").substr(0, 8), " --> 1:3");
}

TEST(UnescapeLiteral, GuardsTheGrammarsGuarantees) {
  EXPECT_EQ(*unescape_literal(R"("a\nb")", '"'), "a\nb");
  EXPECT_EQ(unescape_literal("\"", '"').error().message(), "invalid quoted literal `\"`");
  EXPECT_EQ(unescape_literal("abc", '"').error().message(), "invalid quoted literal `abc`");
  EXPECT_EQ(unescape_literal("'a\"", '\'').error().message(), "invalid quoted literal `'a\"`");
  EXPECT_EQ(unescape_literal(R"("ab\")", '"').error().message(), "escape sequence cannot end a literal");
  EXPECT_EQ(*unescape_literal("''", '\''), "");
}

TEST(Builder, NestingJustInsideTheLimitBuildsOnALargeStack) {
  // Parsing recurses once per nesting level; the command runs the parser on
  // a large stack, where the deepest admitted text must build.
  const std::string text = std::string(EXPRESSION_NESTING_LIMIT - 1, '(') + "7" +
                           std::string(EXPRESSION_NESTING_LIMIT - 1, ')');
  std::string result;
  run_with_large_stack([&] {
    result = built(text);
    return 0;
  });
  EXPECT_EQ(result, "7");
}

TEST(Builder, DeepButBoundedTreesBuildAndDestroy) {
  const std::string parens = std::string(1000, '(') + "1" + std::string(1000, ')');
  EXPECT_EQ(built(parens), "1");
  EXPECT_EQ(error_of(std::string(100000, '(') + "1"), "expression nests deeper than 2000 levels");
  SymbolTable symbols;
  ExprArena nodes;
  // Long flat chains and unary runs make deep trees; building and dropping
  // them must not recurse once per level.
  std::string chain = "x";
  for (int i = 0; i < 200000; ++i) {
    chain += " + 1";
  }
  Result<Expr> sum = parse_expression(chain, symbols, nodes);
  ASSERT_TRUE(sum.ok());
  EXPECT_EQ(sum->kind(), ExprKind::Binary);
  Result<Expr> negations = parse_expression(std::string(100000, '-') + "1", symbols, nodes);
  ASSERT_TRUE(negations.ok());
  EXPECT_EQ(negations->kind(), ExprKind::Unary);
}

// "f with 0, 1, ..., count - 1".
std::string call_of(std::size_t count) {
  std::string text = "f with 0";
  for (std::size_t i = 1; i < count; ++i) {
    text += ", " + std::to_string(i);
  }
  return text;
}

TEST(Builder, CallsOfEveryArgumentCountKeepTheirArguments) {
  // A node holds counts below Call::LONG_CALL; a longer call keeps its count
  // in a node of its own. Both sides of that edge keep every argument.
  for (const std::size_t count : {std::size_t{Call::LONG_CALL} - 1, std::size_t{Call::LONG_CALL},
                                  std::size_t{Call::LONG_CALL} + 1, std::size_t{70000}}) {
    SymbolTable symbols;
    ExprArena nodes;
    Result<Expr> call = parse_expression(call_of(count), symbols, nodes);
    ASSERT_TRUE(call.ok()) << count;
    // Moved about as statements move their trees.
    std::vector<Expr> held;
    held.push_back(std::move(*call));
    const Expr moved = std::move(held.back());
    ASSERT_EQ(moved.kind(), ExprKind::Call) << count;
    const ExprList arguments = moved.as<Call>().arguments();
    ASSERT_EQ(arguments.size(), count);
    for (std::size_t i = 0; i < count; ++i) {
      ASSERT_EQ(arguments[i].as<IntegerLiteral>().value, static_cast<std::int64_t>(i)) << count;
    }
  }
}

TEST(Builder, ALongCallRunsWithItsExactCount) {
  // The count a long call reports is the one it was given.
  const std::string source = "we declare f with a, b ->\ncouncil says:\n    return a\n\non the iron throne:\n    speak " +
                             call_of(70000) + "\n";
  StringInput input("");
  StringOutput output;
  const Status status = run(source, input, output);
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().message(), "`f` expects 2 argument(s), received 70000");
}

TEST(Builder, TextsMoveWithTheirNodes) {
  SymbolTable symbols;
  ExprArena nodes;
  Result<Expr> text = parse_expression("\"a text long enough to be kept apart from its node\"", symbols, nodes);
  ASSERT_TRUE(text.ok());
  Expr first = std::move(*text);
  Expr second(IntegerLiteral{1});
  second = std::move(first);
  ASSERT_EQ(second.kind(), ExprKind::StringLiteral);
  EXPECT_EQ(second.as<StringLiteral>().value.view(), "a text long enough to be kept apart from its node");
  EXPECT_EQ(second.get_if<IntegerLiteral>(), nullptr);
  second = Expr(FloatLiteral{2.5});
  ASSERT_NE(second.get_if<FloatLiteral>(), nullptr);
  EXPECT_EQ(second.as<FloatLiteral>().value, 2.5);
}

}  // namespace
}  // namespace skern
