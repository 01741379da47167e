// Values: display texts, the store rule and every operator row.
#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "model/value.h"

namespace skern {
namespace {

constexpr std::int64_t MAX = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t MIN = std::numeric_limits<std::int64_t>::min();
const double NaN = std::numeric_limits<double>::quiet_NaN();
const double INF = std::numeric_limits<double>::infinity();

std::string runtime_message(const Result<Value>& result) {
  EXPECT_FALSE(result.ok());
  if (result.ok()) {
    return "<no error>";
  }
  EXPECT_EQ(result.error().kind(), Error::Kind::Runtime);
  return result.error().message();
}

TEST(TypeNames, FollowTheDataTypeOrder) {
  EXPECT_EQ(type_name(DataType::Blade), "blade");
  EXPECT_EQ(type_name(DataType::Wine), "wine");
  EXPECT_EQ(type_name(DataType::Scroll), "scroll");
  EXPECT_EQ(type_name(DataType::Vow), "vow");
  EXPECT_EQ(type_name(DataType::Sigil), "sigil");
  EXPECT_EQ(type_name(DataType::Void), "void");
  EXPECT_EQ(data_type_from_keyword("sigil"), DataType::Sigil);
  EXPECT_EQ(data_type_from_keyword("Blade"), std::nullopt);
  EXPECT_EQ(data_type_from_keyword("number"), std::nullopt);
}

TEST(Display, BladesVowsSigilsScrollsAndVoid) {
  EXPECT_EQ(display_value(Value::blade(0)), "0");
  EXPECT_EQ(display_value(Value::blade(-42)), "-42");
  EXPECT_EQ(display_value(Value::blade(MIN)), "-9223372036854775808");
  EXPECT_EQ(display_value(Value::vow(true)), "aye");
  EXPECT_EQ(display_value(Value::vow(false)), "nay");
  EXPECT_EQ(display_value(Value::sigil(U'x')), "x");
  EXPECT_EQ(display_value(Value::sigil(U'\u00e9')), "\u00e9");
  EXPECT_EQ(display_value(Value::sigil(U'\U0001F451')), "\U0001F451");
  EXPECT_EQ(display_value(Value::scroll("a \"b\"\n")), "a \"b\"\n");
  EXPECT_EQ(display_value(Value::scroll("")), "");
  EXPECT_EQ(display_value(Value()), "void");
}

TEST(Display, WineIsShortestRoundTripWithoutExponent) {
  EXPECT_EQ(display_value(Value::wine(3.0)), "3");
  EXPECT_EQ(display_value(Value::wine(2.5)), "2.5");
  EXPECT_EQ(display_value(Value::wine(0.1 + 0.2)), "0.30000000000000004");
  EXPECT_EQ(display_value(Value::wine(1.0 / 3.0)), "0.3333333333333333");
  EXPECT_EQ(display_value(Value::wine(1e21)), "1000000000000000000000");
  EXPECT_EQ(display_value(Value::wine(1e23)), "100000000000000000000000");
  EXPECT_EQ(display_value(Value::wine(1e-7)), "0.0000001");
  EXPECT_EQ(display_value(Value::wine(123.456)), "123.456");
  EXPECT_EQ(display_value(Value::wine(-0.5)), "-0.5");
  EXPECT_EQ(display_value(Value::wine(1.7976931348623157e308)), "17976931348623157" + std::string(292, '0'));
  EXPECT_EQ(display_value(Value::wine(5e-324)), "0." + std::string(323, '0') + "5");
}

TEST(Display, WineSpecialValues) {
  EXPECT_EQ(display_value(Value::wine(-0.0)), "-0");
  EXPECT_EQ(display_value(Value::wine(0.0)), "0");
  EXPECT_EQ(display_value(Value::wine(NaN)), "NaN");
  EXPECT_EQ(display_value(Value::wine(-NaN)), "NaN");
  EXPECT_EQ(display_value(Value::wine(INF)), "inf");
  EXPECT_EQ(display_value(Value::wine(-INF)), "-inf");
}

TEST(StoreRule, WineTakesBladesAndEveryOtherTypeOnlyItself) {
  Result<Value> widened = coerce_for_store(Value::blade(3), DataType::Wine);
  ASSERT_TRUE(widened.ok());
  EXPECT_TRUE(widened->is(DataType::Wine));
  EXPECT_EQ(widened->as_wine(), 3.0);
  EXPECT_EQ(display_value(*widened), "3");

  EXPECT_EQ(runtime_message(coerce_for_store(Value::wine(3.0), DataType::Blade)), "cannot store wine in blade");
  EXPECT_EQ(runtime_message(coerce_for_store(Value::scroll("x"), DataType::Blade)), "cannot store scroll in blade");
  EXPECT_EQ(runtime_message(coerce_for_store(Value::blade(1), DataType::Scroll)), "cannot store blade in scroll");
  EXPECT_EQ(runtime_message(coerce_for_store(Value::vow(true), DataType::Void)), "cannot store vow in void");
  EXPECT_EQ(runtime_message(coerce_for_store(Value(), DataType::Sigil)), "cannot store void in sigil");
  EXPECT_TRUE(coerce_for_store(Value(), DataType::Void).ok());
  EXPECT_TRUE(coerce_for_store(Value::sigil(U'a'), DataType::Sigil).ok());
}

TEST(Add, NumbersWrapAndWiden) {
  EXPECT_EQ(add_values(Value::blade(2), Value::blade(3))->as_blade(), 5);
  EXPECT_EQ(add_values(Value::blade(MAX), Value::blade(1))->as_blade(), MIN);
  Result<Value> mixed = add_values(Value::blade(1), Value::wine(0.5));
  ASSERT_TRUE(mixed->is(DataType::Wine));
  EXPECT_EQ(mixed->as_wine(), 1.5);
  EXPECT_EQ(add_values(Value::wine(0.5), Value::blade(1))->as_wine(), 1.5);
  EXPECT_EQ(add_values(Value::wine(0.25), Value::wine(0.5))->as_wine(), 0.75);
}

TEST(Add, ScrollsConcatenateAndOthersFail) {
  EXPECT_EQ(add_values(Value::scroll("a"), Value::scroll("b"))->as_text(), "ab");
  EXPECT_EQ(add_values(Value::scroll(""), Value::scroll(""))->as_text(), "");
  EXPECT_EQ(runtime_message(add_values(Value::scroll("a"), Value::blade(1))), "cannot apply `+` to scroll and blade");
  EXPECT_EQ(runtime_message(add_values(Value::blade(1), Value::scroll("a"))), "cannot apply `+` to blade and scroll");
  EXPECT_EQ(runtime_message(add_values(Value::sigil(U'a'), Value::sigil(U'b'))),
            "cannot apply `+` to sigil and sigil");
  EXPECT_EQ(runtime_message(add_values(Value::vow(true), Value())), "cannot apply `+` to vow and void");
}

TEST(Add, SharedScrollIsNeverChangedByAnAppend) {
  const Value original = Value::scroll("abc");
  Value copy = original;
  Result<Value> longer = add_values(copy, Value::scroll("def"));
  EXPECT_EQ(longer->as_text(), "abcdef");
  EXPECT_EQ(original.as_text(), "abc");
  EXPECT_EQ(copy.as_text(), "abc");
}

TEST(Add, SoleScrollGrowsInPlaceAcrossManyAppends) {
  Value text = Value::scroll("");
  std::string expected;
  for (int i = 0; i < 1000; ++i) {
    text.append_text("xy");
    expected += "xy";
  }
  EXPECT_EQ(text.as_text(), expected);
  Value alias = text;
  text.append_text("z");
  EXPECT_EQ(alias.as_text(), expected);
  EXPECT_EQ(text.as_text(), expected + "z");
}

TEST(SubtractMultiply, WrapWidenAndNameTheOperator) {
  EXPECT_EQ(subtract_values(Value::blade(MIN), Value::blade(1))->as_blade(), MAX);
  EXPECT_EQ(subtract_values(Value::blade(1), Value::wine(0.5))->as_wine(), 0.5);
  EXPECT_EQ(multiply_values(Value::blade(MAX), Value::blade(2))->as_blade(), -2);
  EXPECT_EQ(multiply_values(Value::blade(4611686018427387904), Value::blade(4))->as_blade(), 0);
  EXPECT_EQ(multiply_values(Value::wine(1.5), Value::blade(2))->as_wine(), 3.0);
  EXPECT_EQ(runtime_message(subtract_values(Value::scroll("a"), Value::scroll("a"))),
            "cannot apply `-` to scroll and scroll");
  EXPECT_EQ(runtime_message(multiply_values(Value::scroll("a"), Value::blade(3))),
            "cannot apply `*` to scroll and blade");
}

TEST(Divide, AlwaysGivesWine) {
  Result<Value> half = divide_values(Value::blade(7), Value::blade(2));
  ASSERT_TRUE(half->is(DataType::Wine));
  EXPECT_EQ(half->as_wine(), 3.5);
  EXPECT_EQ(display_value(*divide_values(Value::blade(6), Value::blade(3))), "2");
  EXPECT_EQ(display_value(*divide_values(Value::blade(1), Value::blade(3))), "0.3333333333333333");
  Result<Value> zero = divide_values(Value::wine(0.0), Value::blade(5));
  EXPECT_EQ(display_value(*zero), "0");
}

TEST(Divide, ByAnyZeroFailsAfterTheTypeCheck) {
  EXPECT_EQ(runtime_message(divide_values(Value::blade(5), Value::blade(0))), "cannot divide by zero");
  EXPECT_EQ(runtime_message(divide_values(Value::wine(5.0), Value::wine(0.0))), "cannot divide by zero");
  EXPECT_EQ(runtime_message(divide_values(Value::blade(5), Value::wine(-0.0))), "cannot divide by zero");
  EXPECT_EQ(runtime_message(divide_values(Value::scroll("a"), Value::blade(0))),
            "cannot apply `/` to scroll and blade");
  EXPECT_EQ(runtime_message(divide_values(Value::blade(1), Value::vow(true))), "cannot apply `/` to blade and vow");
}

TEST(Compare, NumbersCompareAsFloats) {
  EXPECT_TRUE(greater_values(Value::blade(2), Value::wine(1.5))->as_vow());
  EXPECT_FALSE(greater_values(Value::blade(9007199254740993), Value::blade(9007199254740992))->as_vow());
  EXPECT_TRUE(less_values(Value::blade(-1), Value::blade(0))->as_vow());
  EXPECT_FALSE(less_values(Value::wine(NaN), Value::blade(0))->as_vow());
  EXPECT_FALSE(greater_values(Value::wine(NaN), Value::blade(0))->as_vow());
  EXPECT_FALSE(greater_values(Value::blade(0), Value::wine(NaN))->as_vow());
  EXPECT_EQ(runtime_message(greater_values(Value::scroll("b"), Value::scroll("a"))),
            "cannot apply `>` to scroll and scroll");
  EXPECT_EQ(runtime_message(less_values(Value::blade(1), Value::sigil(U'a'))), "cannot apply `<` to blade and sigil");
}

TEST(Equality, SameKindsCompareAndDifferentKindsNeverMatch) {
  EXPECT_TRUE(values_equal(Value::blade(1), Value::blade(1)));
  EXPECT_FALSE(values_equal(Value::blade(1), Value::wine(1.0)));
  EXPECT_TRUE(not_equal_values(Value::blade(1), Value::wine(1.0)).as_vow());
  EXPECT_FALSE(values_equal(Value::wine(NaN), Value::wine(NaN)));
  EXPECT_TRUE(not_equal_values(Value::wine(NaN), Value::wine(NaN)).as_vow());
  EXPECT_TRUE(values_equal(Value::wine(0.0), Value::wine(-0.0)));
  EXPECT_TRUE(values_equal(Value::scroll("ab"), Value::scroll("ab")));
  EXPECT_FALSE(values_equal(Value::scroll("ab"), Value::scroll("ab ")));
  EXPECT_FALSE(values_equal(Value::scroll("a"), Value::sigil(U'a')));
  EXPECT_TRUE(values_equal(Value::vow(false), Value::vow(false)));
  EXPECT_TRUE(values_equal(Value::sigil(U'\u00e9'), Value::sigil(U'\u00e9')));
  EXPECT_TRUE(values_equal(Value(), Value()));
  EXPECT_TRUE(equal_values(Value(), Value()).as_vow());
}

TEST(Unary, NegateAndNot) {
  EXPECT_EQ(negate_value(Value::blade(5))->as_blade(), -5);
  EXPECT_EQ(negate_value(Value::blade(MIN))->as_blade(), MIN);
  Result<Value> negative_zero = negate_value(Value::wine(0.0));
  EXPECT_TRUE(std::signbit(negative_zero->as_wine()));
  EXPECT_EQ(display_value(*negative_zero), "-0");
  EXPECT_FALSE(not_value(Value::vow(true))->as_vow());
  EXPECT_EQ(runtime_message(negate_value(Value::scroll("a"))), "cannot apply `-` to scroll");
  EXPECT_EQ(runtime_message(negate_value(Value::vow(true))), "cannot apply `-` to vow");
  EXPECT_EQ(runtime_message(not_value(Value::blade(1))), "cannot apply `!` to blade");
}

TEST(Text, Utf8ValidationRejectsMalformedSequences) {
  EXPECT_TRUE(is_valid_utf8(""));
  EXPECT_TRUE(is_valid_utf8("plain ascii that is longer than eight bytes"));
  EXPECT_TRUE(is_valid_utf8("\xEF\xBB\xBF on the throne \xF0\x9F\x91\x91"));
  EXPECT_FALSE(is_valid_utf8("\xFF"));
  EXPECT_FALSE(is_valid_utf8("abc\xC3"));          // truncated
  EXPECT_FALSE(is_valid_utf8("\xC0\xAF"));         // overlong
  EXPECT_FALSE(is_valid_utf8("\xED\xA0\x80"));     // surrogate
  EXPECT_FALSE(is_valid_utf8("\xF4\x90\x80\x80")); // past U+10FFFF
  EXPECT_EQ(single_scalar_value("\xE2\x82\xAC"), U'\u20AC');
  EXPECT_EQ(single_scalar_value("ab"), std::nullopt);
  EXPECT_EQ(single_scalar_value(""), std::nullopt);
}

TEST(Text, BladeTextAcceptsOnlySignedDigitsInRange) {
  EXPECT_EQ(parse_blade_text("42"), 42);
  EXPECT_EQ(parse_blade_text("+7"), 7);
  EXPECT_EQ(parse_blade_text("-0"), 0);
  EXPECT_EQ(parse_blade_text("007"), 7);
  EXPECT_EQ(parse_blade_text("9223372036854775807"), MAX);
  EXPECT_EQ(parse_blade_text("-9223372036854775808"), MIN);
  EXPECT_EQ(parse_blade_text("9223372036854775808"), std::nullopt);
  EXPECT_EQ(parse_blade_text("-9223372036854775809"), std::nullopt);
  EXPECT_EQ(parse_blade_text(""), std::nullopt);
  EXPECT_EQ(parse_blade_text("-"), std::nullopt);
  EXPECT_EQ(parse_blade_text("+-1"), std::nullopt);
  EXPECT_EQ(parse_blade_text(" 1"), std::nullopt);
  EXPECT_EQ(parse_blade_text("1e3"), std::nullopt);
}

}  // namespace
}  // namespace skern
