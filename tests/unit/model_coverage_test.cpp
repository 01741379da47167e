// Value semantics of texts and values under assignment, and the empty forms
// of the symbol table and of blocks.
#include <utility>

#include <gtest/gtest.h>

#include "model/tree.h"
#include "model/value.h"

namespace skern {
namespace {

TEST(ScrollAssignment, CopiesAreIndependentOfTheOriginal) {
  Scroll original("banner");
  Scroll copy;
  EXPECT_EQ(copy.view(), "");
  copy = original;
  EXPECT_EQ(copy.view(), "banner");
  original = Scroll("other");
  EXPECT_EQ(copy.view(), "banner");
  EXPECT_EQ(original.view(), "other");
  copy = Scroll();
  EXPECT_EQ(copy.view(), "");
}

TEST(ValueAssignment, SelfAssignmentKeepsTheValue) {
  Value text = Value::scroll("keep");
  Value& same = text;
  text = same;
  EXPECT_EQ(text.as_text(), "keep");
  text = std::move(same);
  ASSERT_TRUE(text.is(DataType::Scroll));
  EXPECT_EQ(text.as_text(), "keep");
}

TEST(ValueAssignment, OnlyTwoScrollsCanShareText) {
  const Value text = Value::scroll("x");
  const Value copy = text;
  const Value empty = Value::scroll("");
  EXPECT_TRUE(copy.shares_text_with(text));
  EXPECT_FALSE(Value::scroll("x").shares_text_with(text));
  EXPECT_FALSE(empty.shares_text_with(Value::scroll("")));
  EXPECT_FALSE(Value::blade(1).shares_text_with(Value::blade(1)));
  EXPECT_FALSE(text.shares_text_with(Value::blade(1)));
}

TEST(EmptyForms, AFreshSymbolTableFindsNothing) {
  const SymbolTable symbols;
  EXPECT_EQ(symbols.find("x"), std::nullopt);
  EXPECT_EQ(symbols.find(""), std::nullopt);
  EXPECT_EQ(symbols.size(), 0U);
}

TEST(EmptyForms, ABlockOfNoStatementsIsEmptyAndDeclaresNothing) {
  Statement* none = nullptr;
  const Block block(none, none);
  EXPECT_TRUE(block.empty());
  EXPECT_EQ(block.size(), 0U);
  EXPECT_FALSE(block.declares());
  EXPECT_EQ(block.begin(), block.end());
}

}  // namespace
}  // namespace skern
