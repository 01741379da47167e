// Renders trees as compact text, so tests can state a whole shape at once.
#pragma once

#include <string>

#include "model/tree.h"

namespace skern::testing_support {

inline const char* op_name(BinaryOp op) {
  static constexpr const char* names[] = {"Add", "Subtract", "Multiply", "Divide", "Greater", "Less", "Equal", "NotEqual"};
  return names[static_cast<int>(op)];
}

// Integer 1 -> "1", float -> "1.5f", string -> "\"text\"", char -> "'c'",
// identifiers by name, and operator nodes as Binary(l, Op, r) / Unary(x, Op).
inline std::string describe(const Expr& expr, const SymbolTable& symbols) {
  switch (expr.kind()) {
    case ExprKind::IntegerLiteral:
      return std::to_string(expr.as<IntegerLiteral>().value);
    case ExprKind::FloatLiteral: {
      std::string text;
      append_wine(text, expr.as<FloatLiteral>().value);
      return text + "f";
    }
    case ExprKind::StringLiteral:
      return "\"" + std::string(expr.as<StringLiteral>().value.view()) + "\"";
    case ExprKind::BoolLiteral:
      return expr.as<BoolLiteral>().value ? "aye" : "nay";
    case ExprKind::CharLiteral: {
      std::string text = "'";
      append_utf8(text, expr.as<CharLiteral>().value);
      return text + "'";
    }
    case ExprKind::Identifier:
      return symbols.name(expr.as<Identifier>().name);
    case ExprKind::Unary: {
      const Unary& unary = expr.as<Unary>();
      return "Unary(" + describe(*unary.operand, symbols) + ", " + (unary.op == UnaryOp::Negate ? "Negate" : "Not") +
             ")";
    }
    case ExprKind::Binary: {
      const Binary& binary = expr.as<Binary>();
      return "Binary(" + describe(*binary.left(), symbols) + ", " + op_name(binary.op) + ", " +
             describe(*binary.right(), symbols) + ")";
    }
    case ExprKind::Call: {
      const Call& call = expr.as<Call>();
      std::string text = "Call(" + symbols.name(call.name);
      for (const Expr& argument : call.arguments()) {
        text += ", " + describe(argument, symbols);
      }
      return text + ")";
    }
  }
  return "?";
}

}  // namespace skern::testing_support
