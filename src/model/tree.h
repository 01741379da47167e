// The program tree: expressions, statements, functions and the whole program.
//
// Both trees are closed sets of plain structs held in a std::variant, walked
// with a switch on the variant's index so the compiler sees every case and no
// virtual dispatch sits on the evaluator's path. Names are interned once, while
// parsing, into the program's SymbolTable; nodes hold the small integer Symbol
// and the table holds the text, so the interpreter never hashes a string.
// Every node belongs to exactly one tree (no sharing): a tree's top node lives
// in its statement or call, the nodes below it in the program's ExprArena.
// Trees are immutable once built and carry no positions.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "model/value.h"

namespace skern {

// ---------------------------------------------------------------------------
// Names
// ---------------------------------------------------------------------------

struct Symbol {
  std::uint32_t id = 0;
  friend bool operator==(Symbol, Symbol) = default;
};

// Interned names: each distinct text gets one Symbol, numbered from 0.
class SymbolTable {
 public:
  Symbol intern(std::string_view name);
  [[nodiscard]] std::optional<Symbol> find(std::string_view name) const;
  [[nodiscard]] const std::string& name(Symbol symbol) const { return names_[symbol.id]; }
  [[nodiscard]] std::size_t size() const { return names_.size(); }

 private:
  // Open addressing over the ids: names are short and looked up once each
  // while parsing, so a flat table with a cheap hash beats a node-based map.
  [[nodiscard]] std::size_t probe(std::string_view name, std::uint64_t hash) const;
  void grow();
  std::deque<std::string> names_;
  std::vector<std::uint64_t> hashes_;  // by id
  std::vector<std::uint32_t> slots_;   // id + 1, or 0 for an empty slot; a power of two long
};

// ---------------------------------------------------------------------------
// Expressions
// ---------------------------------------------------------------------------

enum class UnaryOp : std::uint8_t { Negate, Not };
inline constexpr std::array<std::string_view, 2> UNARY_OP_SPELLINGS = {"-", "!"};
static_assert(static_cast<std::size_t>(UnaryOp::Not) + 1 == UNARY_OP_SPELLINGS.size());

enum class BinaryOp : std::uint8_t { Add, Subtract, Multiply, Divide, Greater, Less, Equal, NotEqual };
inline constexpr std::array<std::string_view, 8> BINARY_OP_SPELLINGS = {"+", "-", "*", "/", ">", "<", "==", "!="};
static_assert(static_cast<std::size_t>(BinaryOp::NotEqual) + 1 == BINARY_OP_SPELLINGS.size());

[[nodiscard]] constexpr std::string_view spelling(UnaryOp op) {
  return UNARY_OP_SPELLINGS[static_cast<std::size_t>(op)];
}
[[nodiscard]] constexpr std::string_view spelling(BinaryOp op) {
  return BINARY_OP_SPELLINGS[static_cast<std::size_t>(op)];
}

struct Expr;
// An operand: a node of the ExprArena that holds the tree (see below).
using ExprPtr = const Expr*;

struct IntegerLiteral {
  std::int64_t value;
};
struct FloatLiteral {
  double value;
};
struct StringLiteral {
  Scroll value;  // escapes resolved, quotes removed
};
struct BoolLiteral {
  bool value;
};
struct CharLiteral {
  char32_t value;
};
struct Identifier {
  Symbol name;
};
struct Unary {
  ExprPtr operand;
  UnaryOp op;
};
struct Binary {
  ExprPtr left;
  ExprPtr right;
  BinaryOp op;
};
struct Call {
  Symbol name;
  std::vector<Expr> arguments;
};

// The order of the alternatives is the order of the expression kinds.
using ExprNode =
    std::variant<IntegerLiteral, FloatLiteral, StringLiteral, BoolLiteral, CharLiteral, Identifier, Unary, Binary, Call>;

enum class ExprKind : std::uint8_t {
  IntegerLiteral,
  FloatLiteral,
  StringLiteral,
  BoolLiteral,
  CharLiteral,
  Identifier,
  Unary,
  Binary,
  Call
};
static_assert(static_cast<std::size_t>(ExprKind::Call) + 1 == std::variant_size_v<ExprNode>);

struct Expr {
  ExprNode node;

  template <class Node>
    requires std::is_constructible_v<ExprNode, Node>
  Expr(Node n) : node(std::move(n)) {}  // NOLINT(google-explicit-constructor)
  Expr(Expr&&) noexcept = default;
  Expr& operator=(Expr&&) noexcept = default;
  Expr(const Expr&) = delete;
  Expr& operator=(const Expr&) = delete;
  ~Expr() = default;

  [[nodiscard]] ExprKind kind() const { return static_cast<ExprKind>(node.index()); }
  template <class Node>
  [[nodiscard]] const Node& as() const {
    return *std::get_if<Node>(&node);
  }
  template <class Node>
  [[nodiscard]] const Node* get_if() const {
    return std::get_if<Node>(&node);
  }
};

// The operand nodes of expression trees. A tree's top node lives where the
// tree is used (in a statement, or as a call argument); the nodes below it
// live here, each exactly once, and are released together with the arena.
// Bulk storage makes building a program's trees cheap, and since a node owns
// no other node, no tree depth can make their release recurse.
class ExprArena {
 public:
  ExprArena() = default;
  ExprArena(ExprArena&& other) noexcept
      : chunks_(std::move(other.chunks_)), used_(std::exchange(other.used_, CHUNK_SIZE)) {}
  ExprArena& operator=(ExprArena&& other) noexcept {
    if (this != &other) {
      release();
      chunks_ = std::move(other.chunks_);
      used_ = std::exchange(other.used_, CHUNK_SIZE);
    }
    return *this;
  }
  ExprArena(const ExprArena&) = delete;
  ExprArena& operator=(const ExprArena&) = delete;
  ~ExprArena() { release(); }

  // Moves `expr` into the arena; the node stays where it is until the arena goes.
  ExprPtr add(Expr expr);
  [[nodiscard]] std::size_t size() const {
    return chunks_.empty() ? 0 : (chunks_.size() - 1) * CHUNK_SIZE + used_;
  }

 private:
  static constexpr std::size_t CHUNK_SIZE = 1024;
  // Room for CHUNK_SIZE nodes, built in it one at a time.
  struct Chunk {
    alignas(Expr) std::array<std::byte, CHUNK_SIZE * sizeof(Expr)> bytes;
  };
  void release() noexcept;
  std::vector<std::unique_ptr<Chunk>> chunks_;
  std::size_t used_ = CHUNK_SIZE;  // nodes in the last chunk
};

// ---------------------------------------------------------------------------
// Statements and programs
// ---------------------------------------------------------------------------

struct Statement;

// An ordered run of statements, never empty when the parser built it (but
// for the missing else branch of an `if`). Its storage holds exactly its
// statements, since a block never grows once built.
class Block {
 public:
  Block() = default;
  // Takes the statements of [first, last), moving them.
  Block(Statement* first, const Statement* last);
  Block(Block&& other) noexcept
      : items_(std::exchange(other.items_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        declares_(std::exchange(other.declares_, false)) {}
  Block& operator=(Block&& other) noexcept {
    if (this != &other) {
      release();
      items_ = std::exchange(other.items_, nullptr);
      size_ = std::exchange(other.size_, 0);
      declares_ = std::exchange(other.declares_, false);
    }
    return *this;
  }
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  ~Block() { release(); }

  [[nodiscard]] const Statement* begin() const { return items_; }
  [[nodiscard]] const Statement* end() const;
  [[nodiscard]] std::size_t size() const { return size_; }
  [[nodiscard]] bool empty() const { return size_ == 0; }
  [[nodiscard]] const Statement& operator[](std::size_t index) const;
  // Whether a statement directly in this block declares a variable. Only such
  // a block needs a scope of its own when it runs: nothing else adds to one.
  [[nodiscard]] bool declares() const { return declares_; }

 private:
  void release() noexcept;
  Statement* items_ = nullptr;
  std::uint32_t size_ = 0;
  bool declares_ = false;
};

struct Declare {
  Symbol name;
  DataType type;
  Expr value;
};
struct Assign {
  Symbol name;
  Expr value;
};
struct Input {
  Symbol name;
};
struct Speak {
  Expr value;
};
struct Return {
  Expr value;
};
struct If {
  Block then_block;
  Block else_block;  // empty without `else:`
  Expr condition;
};
struct RealmMarches {
  Block body;
  Expr count;
};
struct While {
  Block body;
  Expr condition;
};
struct ExprStatement {
  Expr expression;
};

using StatementNode = std::variant<Declare, Assign, Input, Speak, Return, If, RealmMarches, While, ExprStatement>;

enum class StatementKind : std::uint8_t {
  Declare,
  Assign,
  Input,
  Speak,
  Return,
  If,
  RealmMarches,
  While,
  ExprStatement
};
static_assert(static_cast<std::size_t>(StatementKind::ExprStatement) + 1 == std::variant_size_v<StatementNode>);

struct Statement {
  StatementNode node;

  template <class Node>
    requires std::is_constructible_v<StatementNode, Node>
  Statement(Node n) : node(std::move(n)) {}  // NOLINT(google-explicit-constructor)

  [[nodiscard]] StatementKind kind() const { return static_cast<StatementKind>(node.index()); }
  template <class Node>
  [[nodiscard]] const Node& as() const {
    return *std::get_if<Node>(&node);
  }
  template <class Node>
  [[nodiscard]] const Node* get_if() const {
    return std::get_if<Node>(&node);
  }
};

inline const Statement* Block::end() const { return items_ + size_; }
inline const Statement& Block::operator[](std::size_t index) const { return items_[index]; }

struct FunctionDecl {
  Symbol name;
  std::vector<Symbol> params;
  Block body;
};

// Declared functions, found by name.
class FunctionTable {
 public:
  // False, and nothing inserted, when the name is taken.
  bool insert(FunctionDecl function);
  [[nodiscard]] const FunctionDecl* find(Symbol name) const {
    if (name.id >= slot_of_.size() || slot_of_[name.id] == 0) {
      return nullptr;
    }
    return &functions_[slot_of_[name.id] - 1];
  }
  [[nodiscard]] bool contains(Symbol name) const { return find(name) != nullptr; }
  [[nodiscard]] std::size_t size() const { return functions_.size(); }
  [[nodiscard]] auto begin() const { return functions_.begin(); }
  [[nodiscard]] auto end() const { return functions_.end(); }

 private:
  std::deque<FunctionDecl> functions_;   // grows without moving what it holds
  std::vector<std::uint32_t> slot_of_;  // by symbol id: index + 1, or 0 for none
};

struct Program {
  SymbolTable symbols;
  ExprArena nodes;
  FunctionTable functions;
  Block main;
};

}  // namespace skern
