// Symbols and the function table.
#include <string>
#include <vector>

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

TEST(SymbolTable, TellsApartNamesThatShareTheirStartsThroughEveryGrowth) {
  // Prefixes of one another, the empty name and names that differ in their
  // last byte only, many times the table's first size.
  SymbolTable symbols;
  std::vector<std::string> names{""};
  for (int i = 0; i < 3000; ++i) {
    names.push_back("n" + std::to_string(i));
    names.push_back("n" + std::to_string(i) + "_");
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    ASSERT_EQ(symbols.intern(names[i]), Symbol{static_cast<std::uint32_t>(i)}) << names[i];
  }
  ASSERT_EQ(symbols.size(), names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(symbols.intern(names[i]).id, i) << names[i];
    EXPECT_EQ(symbols.find(names[i]), Symbol{static_cast<std::uint32_t>(i)}) << names[i];
    EXPECT_EQ(symbols.name(Symbol{static_cast<std::uint32_t>(i)}), names[i]);
  }
  EXPECT_EQ(symbols.find("n3000"), std::nullopt);
  EXPECT_EQ(symbols.find("n"), std::nullopt);
  EXPECT_EQ(symbols.find("n1__"), std::nullopt);
  EXPECT_EQ(symbols.size(), names.size());
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
