// Any text through the expression grammar and the tree builder.
//
// Beyond "no crash", every input is checked against what the grammar
// promises:
//  - an accepted text gives one `expression` match whose subtree has the shape
//    that the builder relies on (children per rule, spans nested and ordered,
//    only blanks and the rule's own punctuation between children, atomic
//    tokens spelled as their rule allows);
//  - a rejected text gives a six-line report (or the nesting-limit message)
//    in the documented layout, and parse_expression fails with exactly it;
//  - parse_expression of an accepted text either builds a tree that holds the
//    same tokens, operators and grouping as the matches, or fails with an
//    expression error that the matches explain (a call of a non-identifier, an
//    integer out of range, ...);
//  - a reused ExpressionParser gives the same result as a fresh parse.
//
// Texts that are not valid UTF-8 are skipped: source files are checked for
// UTF-8 before any expression is cut out of them.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "fuzz_common.h"
#include "model/value.h"
#include "parser/expression.h"

namespace skern::fuzz {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_identifier_continue(char c) { return is_letter(c) || is_digit(c) || c == '_'; }
bool is_char_start(std::string_view text, std::size_t pos) {
  return pos >= text.size() || (static_cast<unsigned char>(text[pos]) & 0xC0) != 0x80;
}

bool is_atomic(GrammarRule rule) {
  switch (rule) {
    case GrammarRule::Eoi:
    case GrammarRule::WithKw:
    case GrammarRule::Boolean:
    case GrammarRule::Identifier:
    case GrammarRule::Float:
    case GrammarRule::Integer:
    case GrammarRule::String:
    case GrammarRule::Character:
    case GrammarRule::BinaryOp:  // no children either
    case GrammarRule::UnaryOp:
      return true;
    default:
      return false;
  }
}

std::string describe(const RuleMatch& m, std::string_view text) {
  std::string out(rule_name(m.rule));
  out += " [" + std::to_string(m.start) + ", " + std::to_string(m.end) + ") `";
  if (m.start <= m.end && m.end <= text.size()) {
    out.append(text.substr(m.start, m.end - m.start));
  }
  out += "` children:";
  for (const RuleMatch& child : m.children) {
    out += " ";
    out += rule_name(child.rule);
  }
  return out;
}

// Bytes of `gap` other than blanks must be exactly `punctuation` (in order).
bool gap_is(std::string_view gap, std::string_view punctuation) {
  std::string rest;
  for (const char c : gap) {
    if (!is_blank(c)) {
      rest.push_back(c);
    }
  }
  return rest == punctuation;
}

void check_tree(const RuleMatch& m, std::string_view text);

void check_atomic(const RuleMatch& m, std::string_view text) {
  const auto where = [&] { return describe(m, text); };
  check(m.children.empty(), "atomic or operator match has children", where);
  const std::string_view t = text.substr(m.start, m.end - m.start);
  const char next = m.end < text.size() ? text[m.end] : '\0';
  const char after_next = m.end + 1 < text.size() ? text[m.end + 1] : '\0';
  switch (m.rule) {
    case GrammarRule::Eoi:
      check(m.start == text.size() && m.end == text.size(), "EOI match is not empty at the end", where);
      break;
    case GrammarRule::BinaryOp:
      check(t == "==" || t == "!=" || t == ">" || t == "<" || t == "+" || t == "-" || t == "*" || t == "/",
            "binary_op text is no operator", where);
      break;
    case GrammarRule::UnaryOp:
      check(t == "-" || t == "!", "unary_op text is no operator", where);
      break;
    case GrammarRule::WithKw:
      check(t == "with" && !is_identifier_continue(next), "with_kw text", where);
      break;
    case GrammarRule::Boolean:
      check((t == "aye" || t == "nay") && !is_identifier_continue(next), "boolean text", where);
      break;
    case GrammarRule::Identifier: {
      check(!t.empty() && is_letter(t.front()), "identifier does not start with a letter", where);
      for (const char c : t) {
        check(is_identifier_continue(c), "identifier holds a foreign character", where);
      }
      check(!is_identifier_continue(next), "identifier stopped before its end", where);
      check(t != "aye" && t != "nay", "identifier where a boolean matches", where);
      break;
    }
    case GrammarRule::Integer: {
      // Every "-" is taken by unary_op before a primary is tried.
      check(!t.empty(), "empty integer", where);
      for (const char c : t) {
        check(is_digit(c), "integer holds a non-digit", where);
      }
      check(!is_digit(next), "integer stopped before its end", where);
      check(!(next == '.' && is_digit(after_next)), "integer where a float matches", where);
      break;
    }
    case GrammarRule::Float: {
      const std::size_t dot = t.find('.');
      check(dot != std::string_view::npos && dot > 0 && dot + 1 < t.size(), "float shape", where);
      for (std::size_t i = 0; i < t.size(); ++i) {
        check(i == dot || is_digit(t[i]), "float holds a foreign character", where);
      }
      check(!is_digit(next), "float stopped before its end", where);
      break;
    }
    case GrammarRule::String:
      check(t.size() >= 2 && t.front() == '"' && t.back() == '"', "string is not quoted", where);
      break;
    case GrammarRule::Character:
      check(t.size() >= 3 && t.front() == '\'' && t.back() == '\'', "character is not quoted", where);
      break;
    default:
      fail("not an atomic rule", where());
  }
}

void check_children(const RuleMatch& m, std::string_view text) {
  const auto where = [&] { return describe(m, text); };
  const auto& c = m.children;
  const auto rule_at = [&](std::size_t i) { return c[i].rule; };
  switch (m.rule) {
    case GrammarRule::Expression:
      check(c.size() == 2 && rule_at(0) == GrammarRule::BinaryExpr && rule_at(1) == GrammarRule::Eoi,
            "expression is not binary_expr EOI", where);
      break;
    case GrammarRule::BinaryExpr:
      check(c.size() % 2 == 1, "binary_expr has an even number of children", where);
      for (std::size_t i = 0; i < c.size(); ++i) {
        check(rule_at(i) == (i % 2 == 0 ? GrammarRule::UnaryExpr : GrammarRule::BinaryOp),
              "binary_expr does not alternate unary_expr and binary_op", where);
      }
      break;
    case GrammarRule::UnaryExpr:
      check(!c.empty() && rule_at(c.size() - 1) == GrammarRule::CallExpr, "unary_expr does not end in call_expr",
            where);
      for (std::size_t i = 0; i + 1 < c.size(); ++i) {
        check(rule_at(i) == GrammarRule::UnaryOp, "unary_expr holds more than unary_op before call_expr", where);
      }
      break;
    case GrammarRule::CallExpr:
      check(!c.empty() && c.size() <= 3 && rule_at(0) == GrammarRule::Primary, "call_expr does not start with primary",
            where);
      if (c.size() >= 2) {
        check(rule_at(1) == GrammarRule::WithKw, "call_expr: second child is not with_kw", where);
      }
      if (c.size() == 3) {
        check(rule_at(2) == GrammarRule::ArgumentList, "call_expr: third child is not argument_list", where);
      }
      break;
    case GrammarRule::ArgumentList:
      check(!c.empty(), "empty argument_list", where);
      for (std::size_t i = 0; i < c.size(); ++i) {
        check(rule_at(i) == GrammarRule::BinaryExpr, "argument_list holds more than binary_expr", where);
      }
      break;
    case GrammarRule::Primary: {
      check(c.size() == 1, "primary does not hold exactly one match", where);
      const GrammarRule r = rule_at(0);
      check(r == GrammarRule::Float || r == GrammarRule::Integer || r == GrammarRule::String ||
                r == GrammarRule::Boolean || r == GrammarRule::Character || r == GrammarRule::Identifier ||
                r == GrammarRule::BinaryExpr,
            "primary holds a foreign rule", where);
      break;
    }
    default:
      fail("unexpected rule in the match tree", where());
  }

  // Spans: inside the parent, in order, on character boundaries; between them
  // only blanks and the rule's own punctuation.
  std::size_t pos = m.start;
  for (std::size_t i = 0; i < c.size(); ++i) {
    check(c[i].start >= pos && c[i].start <= c[i].end && c[i].end <= m.end, "child span out of order or outside",
          [&] { return where() + "\nchild: " + describe(c[i], text); });
    std::string_view punctuation;
    if (m.rule == GrammarRule::ArgumentList && i > 0) {
      punctuation = ",";
    }
    const bool parenthesised = m.rule == GrammarRule::Primary && rule_at(0) == GrammarRule::BinaryExpr;
    if (parenthesised) {
      punctuation = "(";
      check(text[m.start] == '(', "parenthesised primary does not start with `(`", where);
    }
    check(gap_is(text.substr(pos, c[i].start - pos), punctuation), "foreign text between matches", where);
    pos = c[i].end;
  }
  const bool parenthesised = m.rule == GrammarRule::Primary && !c.empty() && c[0].rule == GrammarRule::BinaryExpr;
  if (parenthesised) {
    check(m.end > m.start && text[m.end - 1] == ')', "parenthesised primary does not end with `)`", where);
  }
  check(gap_is(text.substr(pos, m.end - pos), parenthesised ? ")" : ""), "foreign text after the last match", where);
  if (!parenthesised && m.rule != GrammarRule::Expression && !c.empty()) {
    check(c[0].start == m.start, "normal rule skipped text before its first element", where);
  }
  for (const RuleMatch& child : c) {
    check_tree(child, text);
  }
}

void check_tree(const RuleMatch& m, std::string_view text) {
  check(m.start <= m.end && m.end <= text.size(), "span outside the text", [&] { return describe(m, text); });
  check(is_char_start(text, m.start) && is_char_start(text, m.end), "span splits a character", [&] { return describe(m, text); });
  check(m.rule != GrammarRule::Whitespace && m.rule != GrammarRule::IdentifierContinue, "silent rule recorded",
        [&] { return describe(m, text); });
  if (is_atomic(m.rule)) {
    check_atomic(m, text);
    if (m.rule != GrammarRule::Eoi) {
      check(m.end > m.start, "empty token", [&] { return describe(m, text); });
      check(!is_blank(text[m.start]) && !is_blank(text[m.end - 1]), "token begins or ends with a blank",
            [&] { return describe(m, text); });
    }
  } else {
    check_children(m, text);
  }
}

// ---------------------------------------------------------------------------
// The report of a rejected text
// ---------------------------------------------------------------------------

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t at = text.find(separator, start);
    if (at == std::string_view::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, at - start));
    start = at + 1;
  }
}

bool all_digits(std::string_view text) {
  if (text.empty() || (text.size() > 1 && text[0] == '0')) {
    return false;
  }
  for (const char c : text) {
    if (!is_digit(c)) {
      return false;
    }
  }
  return true;
}

bool starts_with(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

void check_report(std::string_view report, std::string_view text) {
  const std::string detail = std::string(report) + "\n--- text ---\n" + std::string(text);
  if (report == msg::expression_nested_too_deeply(EXPRESSION_NESTING_LIMIT)) {
    return;
  }
  const std::vector<std::string_view> lines = split(report, '\n');
  check(lines.size() == 6, "failure report does not have six lines", detail);

  // Line 1: gutter, "--> ", line, ":", column.
  std::string_view first = lines[0];
  std::size_t gutter = 0;
  while (gutter < first.size() && first[gutter] == ' ') {
    ++gutter;
  }
  check(starts_with(first.substr(gutter), "--> "), "report line 1 has no arrow", detail);
  const std::string_view position = first.substr(gutter + 4);
  const std::size_t colon = position.find(':');
  check(colon != std::string_view::npos, "report line 1 has no line:column", detail);
  const std::string_view line_text = position.substr(0, colon);
  const std::string_view column_text = position.substr(colon + 1);
  check(all_digits(line_text) && all_digits(column_text), "report position is not two numbers", detail);
  check(gutter == line_text.size(), "gutter width is not the width of the line number", detail);
  const std::size_t line_number = std::strtoull(std::string(line_text).c_str(), nullptr, 10);
  const std::size_t column = std::strtoull(std::string(column_text).c_str(), nullptr, 10);
  std::size_t line_feeds = 0;
  for (const char ch : text) {
    line_feeds += ch == '\n' ? 1 : 0;
  }
  check(line_number >= 1 && line_number <= line_feeds + 1, "report line number outside the text", detail);
  check(column >= 1 && column <= text.size() + 1, "report column outside the text", detail);

  const std::string pad(gutter, ' ');
  check(lines[1] == pad + " |", "report line 2", detail);
  check(lines[4] == pad + " |", "report line 5", detail);

  // Line 3: the shown line; line 4: its underline.
  const std::string shown_prefix = std::string(line_text) + " | ";
  check(starts_with(lines[2], shown_prefix), "report line 3 prefix", detail);
  const std::string_view shown = lines[2].substr(shown_prefix.size());
  const std::string underline_prefix = pad + " | ";
  check(starts_with(lines[3], underline_prefix), "report line 4 prefix", detail);
  std::string_view underline = lines[3].substr(underline_prefix.size());
  check(underline.size() >= 4 && underline.substr(underline.size() - 4) == "^---", "underline does not end in ^---",
        detail);
  underline.remove_suffix(4);
  for (const char ch : underline) {
    check(ch == ' ' || ch == '\t', "underline holds more than blanks", detail);
  }
  // The shown line loses its carriage returns unless the failure is at one,
  // so a lone carriage return can make it shorter than the column.
  std::vector<char> shown_chars;  // first byte of each character
  for (std::size_t i = 0; i < shown.size(); ++i) {
    if (is_char_start(shown, i)) {
      shown_chars.push_back(shown[i]);
    }
  }
  if (text.find('\r') == std::string_view::npos) {
    check(underline.size() == column - 1, "underline length is not column - 1", detail);
  } else {
    check(underline.size() <= column - 1, "underline longer than column - 1", detail);
  }
  for (std::size_t i = 0; i < underline.size() && i < shown_chars.size(); ++i) {
    check((underline[i] == '\t') == (shown_chars[i] == '\t'), "underline tabs do not follow the shown line", detail);
  }

  // Line 6: the rules expected there, in rule order, each once.
  const std::string message_prefix = pad + " = expected ";
  check(starts_with(lines[5], message_prefix), "report line 6 is not an `expected` message", detail);
  const std::string_view list = lines[5].substr(message_prefix.size());
  std::vector<std::string_view> names;
  if (const std::size_t last = list.find(", or "); last != std::string_view::npos) {
    for (std::string_view name : split(list.substr(0, last), ',')) {
      if (!names.empty()) {
        check(starts_with(name, " "), "rule list separator", detail);
        name.remove_prefix(1);
      }
      names.push_back(name);
    }
    names.push_back(list.substr(last + 5));
    check(names.size() >= 3, "`, or` list of fewer than three rules", detail);
  } else if (const std::size_t pair = list.find(" or "); pair != std::string_view::npos) {
    names.push_back(list.substr(0, pair));
    names.push_back(list.substr(pair + 4));
  } else {
    names.push_back(list);
  }
  int previous = -1;
  for (const std::string_view name : names) {
    int index = -1;
    for (std::size_t i = 0; i < GRAMMAR_RULE_NAMES.size(); ++i) {
      if (GRAMMAR_RULE_NAMES[i] == name) {
        index = static_cast<int>(i);
      }
    }
    check(index >= 0, "report names an unknown rule", detail);
    check(name != "WHITESPACE" && name != "identifier_continue", "report names a silent rule", detail);
    check(index > previous, "report rules out of order or repeated", detail);
    previous = index;
  }
}

// ---------------------------------------------------------------------------
// The built tree against the matches
// ---------------------------------------------------------------------------

// The tokens, operators and grouping of an expression as one flat list:
// "(" left op right ")" for each binary node, op operand for each unary
// node, "call name [" args "]" for each call.
using Tokens = std::vector<std::string>;

std::string bits_of(double value) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return std::to_string(bits);
}

// Escapes resolved as the builder does: a backslash takes the character after
// it, which stands for itself unless it is n, r or t. (The grammar has already
// paired every backslash with its character, left to right.)
std::string unescape(std::string_view inner) {
  std::string out;
  for (std::size_t i = 0; i < inner.size(); ++i) {
    char c = inner[i];
    if (c == '\\' && i + 1 < inner.size()) {
      c = inner[++i];
      c = c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
    }
    out.push_back(c);
  }
  return out;
}

// The name that a primary builds to when it builds to a plain identifier:
// an identifier, or one in any number of parentheses.
std::optional<std::string_view> bare_identifier(const RuleMatch& primary, std::string_view text) {
  const RuleMatch* m = &primary.children[0];
  while (m->rule == GrammarRule::BinaryExpr) {
    if (m->children.size() != 1) {
      return std::nullopt;
    }
    const RuleMatch& unary = m->children[0];
    if (unary.children.size() != 1) {
      return std::nullopt;
    }
    const RuleMatch& call = unary.children[0];
    if (call.children.size() != 1) {
      return std::nullopt;
    }
    m = &call.children[0].children[0];
  }
  if (m->rule != GrammarRule::Identifier) {
    return std::nullopt;
  }
  return text.substr(m->start, m->end - m->start);
}

char32_t first_code_point(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<char32_t>(static_cast<unsigned char>(text[i])); };
  const char32_t b0 = byte(0);
  if (b0 < 0x80) {
    return b0;
  }
  if (b0 < 0xE0) {
    return ((b0 & 0x1F) << 6) | (byte(1) & 0x3F);
  }
  if (b0 < 0xF0) {
    return ((b0 & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
  }
  return ((b0 & 0x07) << 18) | ((byte(1) & 0x3F) << 12) | ((byte(2) & 0x3F) << 6) | (byte(3) & 0x3F);
}

std::size_t code_point_count(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    count += is_char_start(text, i) ? 1 : 0;
  }
  return count;
}

// What the matches say the builder must do.
struct Expected {
  Tokens tokens;
  bool call_of_non_identifier = false;  // builder must fail
  bool integer_out_of_range = false;    // builder must fail
};

void expect_match(const RuleMatch& m, std::string_view text, Expected& e) {
  const std::string_view t = text.substr(m.start, m.end - m.start);
  switch (m.rule) {
    case GrammarRule::Expression:
      expect_match(m.children[0], text, e);
      return;
    case GrammarRule::BinaryExpr: {
      const std::size_t operators = m.children.size() / 2;
      for (std::size_t i = 0; i < operators; ++i) {
        e.tokens.emplace_back("(");
      }
      expect_match(m.children[0], text, e);
      for (std::size_t i = 1; i + 1 < m.children.size(); i += 2) {
        e.tokens.push_back("b" + std::string(text.substr(m.children[i].start, m.children[i].end - m.children[i].start)));
        expect_match(m.children[i + 1], text, e);
        e.tokens.emplace_back(")");
      }
      return;
    }
    case GrammarRule::UnaryExpr:
      for (const RuleMatch& child : m.children) {
        if (child.rule == GrammarRule::UnaryOp) {
          e.tokens.push_back("u" + std::string(text.substr(child.start, child.end - child.start)));
        } else {
          expect_match(child, text, e);
        }
      }
      return;
    case GrammarRule::CallExpr: {
      if (m.children.size() == 1) {
        expect_match(m.children[0], text, e);
        return;
      }
      // The arguments are read even after a bad head: the builder builds them
      // first, so their errors may be the ones reported.
      const std::optional<std::string_view> head = bare_identifier(m.children[0], text);
      if (!head) {
        // The head is built first and may fail on its own.
        Expected inner;
        expect_match(m.children[0], text, inner);
        e.integer_out_of_range = e.integer_out_of_range || inner.integer_out_of_range;
        e.call_of_non_identifier = true;
      }
      e.tokens.push_back("call " + std::string(head.value_or("?")) + " [");
      if (m.children.size() == 3) {
        for (const RuleMatch& argument : m.children[2].children) {
          expect_match(argument, text, e);
          e.tokens.emplace_back(",");
        }
      }
      e.tokens.emplace_back("]");
      return;
    }
    case GrammarRule::Primary:
      expect_match(m.children[0], text, e);
      return;
    case GrammarRule::Integer: {
      errno = 0;
      char* end = nullptr;
      const std::string digits(t);
      const long long value = std::strtoll(digits.c_str(), &end, 10);
      if (errno == ERANGE) {
        e.integer_out_of_range = true;
      }
      e.tokens.push_back("int " + std::to_string(value));
      return;
    }
    case GrammarRule::Float: {
      // Correctly rounded; very long digit strings round (to infinity or
      // zero at the extremes) and never fail.
      const std::string digits(t);
      const double value = std::strtod(digits.c_str(), nullptr);
      e.tokens.push_back("float " + bits_of(value));
      return;
    }
    case GrammarRule::String:
      e.tokens.push_back("str " + unescape(t.substr(1, t.size() - 2)));
      return;
    case GrammarRule::Character: {
      const std::string value = unescape(t.substr(1, t.size() - 2));
      check(code_point_count(value) == 1, "character literal does not hold one character", std::string(text));
      e.tokens.push_back("char " + std::to_string(static_cast<std::uint32_t>(first_code_point(value))));
      return;
    }
    case GrammarRule::Boolean:
      e.tokens.push_back(t == "aye" ? "vow 1" : "vow 0");
      return;
    case GrammarRule::Identifier:
      e.tokens.push_back("name " + std::string(t));
      return;
    default:
      fail("unexpected rule while reading the matches", describe(m, text));
  }
}

void tokens_of(const Expr& expr, const SymbolTable& symbols, Tokens& out) {
  switch (expr.kind()) {
    case ExprKind::IntegerLiteral:
      out.push_back("int " + std::to_string(expr.as<IntegerLiteral>().value));
      return;
    case ExprKind::FloatLiteral:
      out.push_back("float " + bits_of(expr.as<FloatLiteral>().value));
      return;
    case ExprKind::StringLiteral:
      out.push_back("str " + std::string(expr.as<StringLiteral>().value.view()));
      return;
    case ExprKind::BoolLiteral:
      out.push_back(expr.as<BoolLiteral>().value ? "vow 1" : "vow 0");
      return;
    case ExprKind::CharLiteral:
      out.push_back("char " + std::to_string(static_cast<std::uint32_t>(expr.as<CharLiteral>().value)));
      return;
    case ExprKind::Identifier:
      out.push_back("name " + symbols.name(expr.as<Identifier>().name));
      return;
    case ExprKind::Unary: {
      const Unary& unary = expr.as<Unary>();
      out.push_back("u" + std::string(spelling(unary.op)));
      tokens_of(*unary.operand, symbols, out);
      return;
    }
    case ExprKind::Binary: {
      const Binary& binary = expr.as<Binary>();
      out.emplace_back("(");
      tokens_of(*binary.left(), symbols, out);
      out.push_back("b" + std::string(spelling(binary.op)));
      tokens_of(*binary.right(), symbols, out);
      out.emplace_back(")");
      return;
    }
    case ExprKind::Call: {
      const Call& call = expr.as<Call>();
      out.push_back("call " + symbols.name(call.name) + " [");
      for (const Expr& argument : call.arguments()) {
        tokens_of(argument, symbols, out);
        out.emplace_back(",");
      }
      out.emplace_back("]");
      return;
    }
  }
  fail("expression of no known kind");
}

std::string join(const Tokens& tokens) {
  std::string out;
  for (const std::string& token : tokens) {
    out += token;
    out += " | ";
  }
  return out;
}

ExpressionParser& reused_parser() {
  static ExpressionParser parser;
  return parser;
}

void fuzz_one(std::string_view text) {
  std::variant<RuleMatch, std::string> matched = match_expression(text);

  SymbolTable symbols;
  ExprArena nodes;
  Result<Expr> built = parse_expression(text, symbols, nodes);
  check(built.ok() || built.error().kind() == Error::Kind::ExpressionParse,
        "parse_expression failed with a kind other than ExpressionParse", built.ok() ? "" : built.error().display());

  // The same text through a parser that has seen other texts before.
  SymbolTable reused_symbols;
  ExprArena reused_nodes;
  Result<Expr> rebuilt = reused_parser().parse(text, reused_symbols, reused_nodes);
  check(built.ok() == rebuilt.ok(), "reused ExpressionParser disagrees with parse_expression");
  if (built.ok()) {
    Tokens a;
    Tokens b;
    tokens_of(*built, symbols, a);
    tokens_of(*rebuilt, reused_symbols, b);
    check(a == b, "reused ExpressionParser builds another tree", [&] { return join(a) + "\n" + join(b); });
  } else {
    check(built.error() == rebuilt.error(), "reused ExpressionParser reports another error",
          [&] { return built.error().display() + "\n" + rebuilt.error().display(); });
  }

  if (const std::string* report = std::get_if<std::string>(&matched)) {
    check_report(*report, text);
    check(!built.ok(), "rejected text builds a tree", *report);
    check(built.error().message() == *report, "parse_expression does not report the grammar's failure",
          built.error().message() + "\n--- grammar ---\n" + *report);
    return;
  }

  const RuleMatch& root = std::get<RuleMatch>(matched);
  check(root.rule == GrammarRule::Expression && root.start == 0 && root.end == text.size(),
        "root match is not an expression over the whole text", describe(root, text));
  check_tree(root, text);

  Expected expected;
  expect_match(root, text, expected);
  const bool must_fail = expected.call_of_non_identifier || expected.integer_out_of_range;
  if (built.ok()) {
    check(!must_fail, "tree built although a call of a non-identifier or an out-of-range integer is present");
    Tokens got;
    tokens_of(*built, symbols, got);
    check(got == expected.tokens, "built tree differs from the matches",
          [&] { return "expected: " + join(expected.tokens) + "\nbuilt:    " + join(got); });
    return;
  }
  const std::string& message = built.error().message();
  check(message.find('\n') == std::string::npos, "builder error of an accepted text has several lines", message);
  const bool explained =
      message == msg::expression_nested_too_deeply(EXPRESSION_NESTING_LIMIT) ||
      (expected.call_of_non_identifier && message == msg::WITH_NEEDS_IDENTIFIER) ||
      (expected.integer_out_of_range && starts_with(message, "invalid integer `"));
  check(explained, "accepted text fails to build for no reason the matches show", message);
}

}  // namespace
}  // namespace skern::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!skern::is_valid_utf8(text)) {
    return -1;  // not a text the parser can be handed; keep it out of the corpus
  }
  auto body = [text] { skern::fuzz::fuzz_one(text); };
  skern::fuzz::LargeStack::run(body);
  return 0;
}
