// Symbols and the function table.
#include <gtest/gtest.h>

#include "model/tree.h"

namespace skern {
namespace {

TEST(SymbolTable, InternsEachNameOnce) {
  SymbolTable symbols;
  const Symbol a = symbols.intern("alpha");
  const Symbol b = symbols.intern("beta");
  EXPECT_EQ(symbols.intern("alpha"), a);
  EXPECT_NE(a, b);
  EXPECT_EQ(symbols.name(b), "beta");
  EXPECT_EQ(symbols.find("beta"), b);
  EXPECT_EQ(symbols.find("Beta"), std::nullopt);
  EXPECT_EQ(symbols.size(), 2U);
}

TEST(FunctionTable, RejectsASecondFunctionOfTheSameName) {
  SymbolTable symbols;
  FunctionTable functions;
  const Symbol f = symbols.intern("f");
  const Symbol g = symbols.intern("g");
  EXPECT_TRUE(functions.insert(FunctionDecl{f, {g}, {}}));
  EXPECT_FALSE(functions.insert(FunctionDecl{f, {}, {}}));
  ASSERT_NE(functions.find(f), nullptr);
  EXPECT_EQ(functions.find(f)->params.size(), 1U);
  EXPECT_EQ(functions.find(g), nullptr);
  EXPECT_EQ(functions.find(Symbol{99}), nullptr);
  EXPECT_EQ(functions.size(), 1U);
}

}  // namespace
}  // namespace skern
