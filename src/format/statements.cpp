// The canonical text of one code line: keyword lines with single spaces,
// expressions printed from the grammar's matches.
#include <optional>

#include "format/layout.h"
#include "parser/parser.h"

namespace skern::format::detail {

namespace {

std::string_view text_of(std::string_view text, const RuleMatch& match) {
  return text.substr(match.start, match.end - match.start);
}

// Expressions, one function per rule of the grammar. The grammar keeps
// operator chains and argument lists flat, so these recurse only where the
// source nests: parentheses and calls, which the grammar bounds.
class ExpressionPrinter {
 public:
  ExpressionPrinter(std::string_view text, std::string& out) : text_(text), out_(out) {}

  void binary_expr(const RuleMatch& match) {
    for (const RuleMatch& child : match.children) {
      if (child.rule == GrammarRule::BinaryOp) {
        out_.push_back(' ');
        out_.append(text_of(text_, child));
        out_.push_back(' ');
      } else {
        unary_expr(child);
      }
    }
  }

 private:
  void unary_expr(const RuleMatch& match) {
    for (const RuleMatch& child : match.children) {
      if (child.rule == GrammarRule::UnaryOp) {
        out_.append(text_of(text_, child));
      } else {
        call_expr(child);
      }
    }
  }

  void call_expr(const RuleMatch& match) {
    for (const RuleMatch& child : match.children) {
      switch (child.rule) {
        case GrammarRule::Primary:
          primary(child);
          break;
        case GrammarRule::WithKw:
          out_.append(" with");
          break;
        case GrammarRule::ArgumentList:
          out_.push_back(' ');
          argument_list(child);
          break;
        default:
          break;
      }
    }
  }

  void argument_list(const RuleMatch& match) {
    bool first = true;
    for (const RuleMatch& argument : match.children) {
      if (!first) {
        out_.append(", ");
      }
      first = false;
      binary_expr(argument);
    }
  }

  // A literal or a name exactly as written; parentheses as written, with
  // nothing just inside them.
  void primary(const RuleMatch& match) {
    for (const RuleMatch& child : match.children) {
      if (child.rule == GrammarRule::BinaryExpr) {
        out_.push_back('(');
        binary_expr(child);
        out_.push_back(')');
      } else {
        out_.append(text_of(text_, child));
      }
    }
  }

  std::string_view text_;
  std::string& out_;
};

// Appends the canonical text of an expression; false if the grammar rejects
// it (which a parsed program's expressions never are).
bool append_expression(std::string_view text, ExpressionParser& expressions, std::string& out) {
  const std::optional<RuleMatch> match = expressions.match(text);
  if (!match || match->children.empty()) {
    return false;
  }
  ExpressionPrinter(text, out).binary_expr(match->children.front());
  return true;
}

}  // namespace

void top_level_text(std::string_view code, std::string& out) {
  static constexpr std::string_view declare = "we declare ";
  FunctionHeader header;
  if (code.substr(0, declare.size()) != declare || read_function_header(code, header)) {
    out.append(code);  // `council says:` or `on the iron throne:`, exact already
    return;
  }
  out.append(declare).append(header.name).append(" with");
  const char* separator = " ";
  for (const std::string_view param : header.params) {
    out.append(separator).append(param);
    separator = ", ";
  }
  out.append(" ->");
}

void statement_text(std::string_view code, ExpressionParser& expressions, std::string& out) {
  const StatementShape shape = statement_shape(code);
  const std::size_t start = out.size();
  std::size_t expression_start = start;
  bool parsed = true;
  const auto expression = [&](std::string_view before, std::string_view after) {
    out.append(before);
    expression_start = out.size();
    parsed = append_expression(shape.expression, expressions, out);
    const std::size_t expression_end = out.size();
    out.append(after);
    return expression_end;
  };
  std::size_t expression_end = start;
  switch (shape.form) {
    case StatementForm::StrayElse:  // `else:`, which parsed, so it follows its `if`
      out.append(code);
      return;
    case StatementForm::If:
      expression_end = expression("if ", ":");
      break;
    case StatementForm::While:
      expression_end = expression("while ", ":");
      break;
    case StatementForm::RealmMarches:
      expression_end = expression("the realm marches ", " times:");
      break;
    case StatementForm::Input:
      out.append(shape.name).append(" speaks for input");
      break;
    case StatementForm::Speak:
      expression_end = expression("speak ", "");
      break;
    case StatementForm::Return:
      expression_end = expression("return ", "");
      break;
    case StatementForm::Declare:
      out.append(shape.name).append(" is a ").append(shape.type);
      expression_end = expression(" with ", "");
      break;
    case StatementForm::Assign:
      out.append(shape.name);
      expression_end = expression(" = ", "");
      break;
    case StatementForm::Expression:
      expression_end = expression("", "");
      break;
  }
  // The parser must read the new text as the same form with the same parts;
  // where it would not, the line stays as it was.
  const std::string_view made = std::string_view(out).substr(start);
  const std::string_view made_expression =
      std::string_view(out).substr(expression_start, expression_end - expression_start);
  const StatementShape again = statement_shape(made);
  if (!parsed || again.form != shape.form || again.name != shape.name || again.type != shape.type ||
      again.expression != made_expression) {
    out.resize(start);
    out.append(code);
  }
}

}  // namespace skern::format::detail
