// Every message that skern can print is explained in the language guide's
// list of errors, and the list of messages here is the whole catalogue, so
// that neither the guide nor this list can fall behind the code.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "driver/error.h"
#include "interpreter/interpreter.h"
#include "parser/expression.h"
#include "parser/parser.h"

namespace skern {
namespace {

// What a message is rendered with where the guide may show any text or any
// number in its place.
constexpr std::string_view ANY_TEXT = "\x01";
constexpr std::size_t ANY_NUMBER = 987654321;

struct Message {
  std::string_view name;  // as the catalogue names it
  std::string text;
};

std::vector<Message> messages() {
  const std::string text(ANY_TEXT);
  return {
      {"TOP_LEVEL_INDENTATION", std::string(msg::TOP_LEVEL_INDENTATION)},
      {"EXPECTED_TOP_LEVEL_FORM", std::string(msg::EXPECTED_TOP_LEVEL_FORM)},
      {"MAIN_BLOCK_REPEATED", std::string(msg::MAIN_BLOCK_REPEATED)},
      {"MAIN_BLOCK_MISSING", std::string(msg::MAIN_BLOCK_MISSING)},
      {"DECLARATION_NEEDS_ARROW", std::string(msg::DECLARATION_NEEDS_ARROW)},
      {"DECLARATION_NEEDS_WITH", std::string(msg::DECLARATION_NEEDS_WITH)},
      {"invalid_function_name", msg::invalid_function_name(text)},
      {"invalid_parameter", msg::invalid_parameter(text)},
      {"DECLARATION_NEEDS_COUNCIL", std::string(msg::DECLARATION_NEEDS_COUNCIL)},
      {"COUNCIL_NOT_ALIGNED", std::string(msg::COUNCIL_NOT_ALIGNED)},
      {"council_already_declared", msg::council_already_declared(text)},
      {"EXPECTED_INDENTED_BLOCK", std::string(msg::EXPECTED_INDENTED_BLOCK)},
      {"UNEXPECTED_EXTRA_INDENTATION", std::string(msg::UNEXPECTED_EXTRA_INDENTATION)},
      {"EMPTY_BLOCK", std::string(msg::EMPTY_BLOCK)},
      {"STRAY_ELSE", std::string(msg::STRAY_ELSE)},
      {"invalid_input_target", msg::invalid_input_target(text)},
      {"invalid_declaration_name", msg::invalid_declaration_name(text)},
      {"DECLARATION_NEEDS_EXPRESSION", std::string(msg::DECLARATION_NEEDS_EXPRESSION)},
      {"unknown_data_type", msg::unknown_data_type(text)},
      {"invalid_assignment_target", msg::invalid_assignment_target(text)},
      {"BLOCKS_TOO_DEEP_FOR_STACK", std::string(msg::BLOCKS_TOO_DEEP_FOR_STACK)},
      {"blocks_nested_too_deeply", msg::blocks_nested_too_deeply(BLOCK_NESTING_LIMIT)},
      {"WITH_NEEDS_IDENTIFIER", std::string(msg::WITH_NEEDS_IDENTIFIER)},
      {"invalid_integer", msg::invalid_integer(text)},
      {"invalid_float", msg::invalid_float(text)},
      {"unknown_operator", msg::unknown_operator(text)},
      {"unknown_unary", msg::unknown_unary(text)},
      {"invalid_quoted_literal", msg::invalid_quoted_literal(text)},
      {"ESCAPE_ENDS_LITERAL", std::string(msg::ESCAPE_ENDS_LITERAL)},
      {"sigil_literal_length", msg::sigil_literal_length(text)},
      {"unexpected_expression_token", msg::unexpected_expression_token(text)},
      {"EXPRESSION_TOO_DEEP_FOR_STACK", std::string(msg::EXPRESSION_TOO_DEEP_FOR_STACK)},
      {"expression_nested_too_deeply", msg::expression_nested_too_deeply(EXPRESSION_NESTING_LIMIT)},
      {"cannot_apply_binary", msg::cannot_apply_binary(text, text, text)},
      {"DIVIDE_BY_ZERO", std::string(msg::DIVIDE_BY_ZERO)},
      {"cannot_apply_unary", msg::cannot_apply_unary(text, text)},
      {"cannot_store", msg::cannot_store(text, text)},
      {"already_declared", msg::already_declared(text)},
      {"unknown_banner", msg::unknown_banner(text)},
      {"unknown_council", msg::unknown_council(text)},
      {"wrong_argument_count", msg::wrong_argument_count(text, ANY_NUMBER, ANY_NUMBER)},
      {"condition_not_vow", msg::condition_not_vow(text)},
      {"marches_needs_blade", msg::marches_needs_blade(text)},
      {"MARCHES_NEGATIVE", std::string(msg::MARCHES_NEGATIVE)},
      {"while_limit", msg::while_limit(WHILE_ITERATION_LIMIT)},
      {"input_needs_concrete_type", msg::input_needs_concrete_type(text)},
      {"input_not_blade", msg::input_not_blade(text)},
      {"input_not_wine", msg::input_not_wine(text)},
      {"input_not_vow", msg::input_not_vow(text)},
      {"input_not_sigil", msg::input_not_sigil(text)},
      {"VOID_INPUT", std::string(msg::VOID_INPUT)},
      {"call_depth_exceeded", msg::call_depth_exceeded(CALL_DEPTH_LIMIT)},
      {"OUT_OF_MEMORY", std::string(msg::OUT_OF_MEMORY)},
      {"INVALID_UTF8", std::string(msg::INVALID_UTF8)},
  };
}

// Catalogue entries that the command never prints, each with its reason.
const std::set<std::string, std::less<>> NEVER_PRINTED = {
    "quoted",                 // builds messages; not one itself
    "step_budget_exhausted",  // only a run given a step budget meets it: the fuzzing harness
};

std::string read_file(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// The message as the guide may show it: any text or number where the
// catalogue takes one.
std::regex pattern_of(std::string_view text) {
  std::string pattern;
  const std::string number = std::to_string(ANY_NUMBER);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text.substr(i, ANY_TEXT.size()) == ANY_TEXT) {
      pattern += "[^`|]*?";
    } else if (text.substr(i, number.size()) == number) {
      pattern += "[0-9]+";
      i += number.size() - 1;
    } else {
      if (std::string_view("\\^$.|?*+()[]{}").find(text[i]) != std::string_view::npos) {
        pattern += '\\';
      }
      pattern += text[i];
    }
  }
  return std::regex(pattern);
}

TEST(MessageCatalogue, EveryEntryIsListedHere) {
  const std::string header = read_file(std::string(SKERN_SOURCE_DIR) + "/src/driver/error.h");
  const std::string catalogue = header.substr(header.find("namespace msg {"));
  ASSERT_FALSE(catalogue.empty());
  std::set<std::string, std::less<>> declared;
  const std::regex entry(
      R"((?:inline constexpr std::string_view ([A-Z0-9_]+) =)|(?:\ninline std::string ([a-z0-9_]+)\())");
  for (auto it = std::sregex_iterator(catalogue.begin(), catalogue.end(), entry); it != std::sregex_iterator(); ++it) {
    declared.insert((*it)[1].matched ? (*it)[1].str() : (*it)[2].str());
  }
  std::set<std::string, std::less<>> listed(NEVER_PRINTED);
  for (const Message& message : messages()) {
    EXPECT_TRUE(listed.insert(std::string(message.name)).second) << "listed twice: " << message.name;
  }
  EXPECT_GE(declared.size(), 50U) << "the catalogue was not read";
  for (const std::string& name : declared) {
    EXPECT_TRUE(listed.contains(name)) << "a message of the catalogue is missing here: " << name;
  }
  for (const std::string& name : listed) {
    EXPECT_TRUE(declared.contains(name)) << "no longer in the catalogue: " << name;
  }
}

TEST(MessageCatalogue, EveryMessageIsInTheGuidesListOfErrors) {
  const std::string guide = read_file(std::string(SKERN_SOURCE_DIR) + "/docs/guide.md");
  const std::size_t start = guide.find("\n## 15. Errors and what they mean");
  const std::size_t end = guide.find("\n## 16.", start);
  ASSERT_NE(start, std::string::npos) << "the guide has no section 15";
  const std::string section = guide.substr(start, end - start);
  for (const Message& message : messages()) {
    EXPECT_TRUE(std::regex_search(section, pattern_of(message.text)))
        << "the guide's list of errors does not explain " << message.name << ": "
        << std::regex_replace(message.text, std::regex(std::string(ANY_TEXT)), "...");
  }
}

}  // namespace
}  // namespace skern
