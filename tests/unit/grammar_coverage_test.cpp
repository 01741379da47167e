// Failure reports of texts that a source line cannot hold: line breaks inside
// literals before the failure, and line numbers of more than one digit.
#include <string>
#include <variant>

#include <gtest/gtest.h>

#include "parser/expression.h"

namespace skern {
namespace {

std::string report(std::string_view text) {
  auto result = match_expression(text);
  const auto* failure = std::get_if<std::string>(&result);
  return failure == nullptr ? "<matched>" : *failure;
}

TEST(ReportLines, ACarriageReturnAndLineFeedStartOneNewLine) {
  EXPECT_EQ(report("\"a\r\nb\" +"),
            " --> 2:5\n"
            "  |\n"
            "2 | b\" +\n"
            "  |     ^---\n"
            "  |\n"
            "  = expected unary_expr");
  // Two carriage returns before the line feed: only the last one pairs with it.
  EXPECT_EQ(report("\"a\r\r\nb\" +"),
            " --> 2:5\n"
            "  |\n"
            "2 | b\" +\n"
            "  |     ^---\n"
            "  |\n"
            "  = expected unary_expr");
}

}  // namespace
}  // namespace skern
