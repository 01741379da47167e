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

// A run of nodes that stand side by side: the arguments of a call.
class ExprList {
 public:
  ExprList() = default;
  ExprList(const Expr* first, std::size_t count) : first_(first), count_(count) {}
  [[nodiscard]] const Expr* begin() const { return first_; }
  [[nodiscard]] const Expr* end() const;
  [[nodiscard]] std::size_t size() const { return count_; }
  [[nodiscard]] bool empty() const { return count_ == 0; }
  [[nodiscard]] const Expr& operator[](std::size_t index) const;

 private:
  const Expr* first_ = nullptr;
  std::size_t count_ = 0;
};

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
// The two operands stand side by side in the arena, the left one first, so
// that one pointer finds both and a node stays small.
struct Binary {
  ExprPtr operands;
  BinaryOp op;
  [[nodiscard]] ExprPtr left() const { return operands; }
  [[nodiscard]] ExprPtr right() const;
};
// The arguments stand side by side in the arena.
struct Call {
  const Expr* first_argument;
  std::uint32_t argument_count;
  Symbol name;
  [[nodiscard]] ExprList arguments() const { return {first_argument, argument_count}; }
};

// The order of the alternatives is the order of the expression kinds.
using ExprNode = std::variant<IntegerLiteral, FloatLiteral, StringLiteral, BoolLiteral, CharLiteral, Identifier, Unary,
                              Binary, Call>;

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

  // clang-format off
  template <class Node>
    requires std::is_constructible_v<ExprNode, Node>
  Expr(Node n) : node(std::move(n)) {}  // NOLINT(google-explicit-constructor)
  // clang-format on
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
// A program holds millions of these: every alternative fits in 16 bytes.
static_assert(sizeof(Expr) <= 24);

inline ExprPtr Binary::right() const { return operands + 1; }

// The value of a literal, or none for any other expression.
[[nodiscard]] std::optional<Value> literal_value(const Expr& expr);
inline const Expr* ExprList::end() const { return first_ + count_; }
inline const Expr& ExprList::operator[](std::size_t index) const { return first_[index]; }

// The operand nodes of expression trees. A tree's top node lives where the
// tree is used (in a statement, or as a call argument); the nodes below it
// live here, each exactly once, and are released together with the arena.
// Bulk storage makes building a program's trees cheap, and since a node owns
// no other node, no tree depth can make their release recurse.
class ExprArena {
 public:
  ExprArena() = default;
  ExprArena(ExprArena&& other) noexcept
      : chunks_(std::move(other.chunks_)),
        used_(std::exchange(other.used_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  ExprArena& operator=(ExprArena&& other) noexcept {
    if (this != &other) {
      release();
      chunks_ = std::move(other.chunks_);
      used_ = std::exchange(other.used_, 0);
      capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
  }
  ExprArena(const ExprArena&) = delete;
  ExprArena& operator=(const ExprArena&) = delete;
  ~ExprArena() { release(); }

  // Moves `expr` into the arena; the node stays where it is until the arena goes.
  ExprPtr add(Expr expr);
  // Moves two nodes into the arena side by side, and gives the first.
  ExprPtr add_pair(Expr first, Expr second);
  // Moves the nodes of `run` into the arena side by side.
  ExprList add_run(std::vector<Expr>& run);
  [[nodiscard]] std::size_t size() const;

 private:
  static constexpr std::size_t CHUNK_SIZE = 1024;
  // Storage for nodes, built in it one at a time; `count` are built.
  struct Chunk {
    // NOLINTNEXTLINE(cppcoreguidelines-avoid-c-arrays,modernize-avoid-c-arrays): raw storage
    std::unique_ptr<std::byte[]> bytes;
    std::size_t count;
  };
  // A place for `count` nodes side by side.
  Expr* reserve(std::size_t count);
  void release() noexcept;
  std::vector<Chunk> chunks_;
  std::size_t used_ = 0;      // nodes in the last chunk
  std::size_t capacity_ = 0;  // room in the last chunk
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
  Block(Block&& other) noexcept : storage_(std::exchange(other.storage_, nullptr)) {}
  Block& operator=(Block&& other) noexcept {
    if (this != &other) {
      release();
      storage_ = std::exchange(other.storage_, nullptr);
    }
    return *this;
  }
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  ~Block() { release(); }

  [[nodiscard]] const Statement* begin() const;
  [[nodiscard]] const Statement* end() const;
  [[nodiscard]] std::size_t size() const { return storage_ == nullptr ? 0 : storage_->size; }
  [[nodiscard]] bool empty() const { return size() == 0; }
  [[nodiscard]] const Statement& operator[](std::size_t index) const;
  // Whether a statement directly in this block declares a variable. Only such
  // a block needs a scope of its own when it runs: nothing else adds to one.
  [[nodiscard]] bool declares() const { return storage_ != nullptr && storage_->declares; }

 private:
  // One allocation: this header, then exactly the block's statements. A
  // block is one pointer, as statements that hold blocks are common.
  struct alignas(8) Header {
    std::uint32_t size;
    bool declares;
  };
  [[nodiscard]] Statement* items() const;
  void release() noexcept;
  Header* storage_ = nullptr;
};
static_assert(sizeof(Block) == sizeof(void*));

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

  // clang-format off
  template <class Node>
    requires std::is_constructible_v<StatementNode, Node>
  Statement(Node n) : node(std::move(n)) {}  // NOLINT(google-explicit-constructor)
  // clang-format on

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

static_assert(sizeof(Statement) <= 48);

inline Statement* Block::items() const { return reinterpret_cast<Statement*>(storage_ + 1); }
inline const Statement* Block::begin() const { return storage_ == nullptr ? nullptr : items(); }
inline const Statement* Block::end() const { return storage_ == nullptr ? nullptr : items() + storage_->size; }
inline const Statement& Block::operator[](std::size_t index) const { return items()[index]; }

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
  std::deque<FunctionDecl> functions_;  // grows without moving what it holds
  std::vector<std::uint32_t> slot_of_;  // by symbol id: index + 1, or 0 for none
};

// Where each statement of a program stands: its 1-based source line. A run
// needs none of this; the parser records it only for tools that show a run
// by its lines (a debugger, an error's line in the playground).
class StatementLines {
 public:
  void add(const Statement& statement, std::uint64_t line);
  // The line of a function's `we declare` header.
  void add_function(Symbol name, std::uint64_t line);
  // 0 for a statement or function the table does not hold.
  [[nodiscard]] std::uint32_t line_of(const Statement& statement) const;
  [[nodiscard]] std::uint32_t function_line(Symbol name) const;
  [[nodiscard]] std::uint32_t last_line() const { return last_line_; }
  [[nodiscard]] std::size_t size() const { return lines_.size(); }
  // Every line that holds a statement, in order.
  [[nodiscard]] std::vector<std::uint32_t> statement_lines() const;

 private:
  std::unordered_map<const Statement*, std::uint32_t> lines_;
  std::vector<std::uint32_t> function_lines_;  // by symbol id
  std::uint32_t last_line_ = 0;
};

struct Program {
  SymbolTable symbols;
  ExprArena nodes;
  FunctionTable functions;
  Block main;
};

// Whether two programs are the same tree: the same functions in the same
// order with the same parameters and bodies, and the same main block. Names
// are compared by their text, literals by their exact values (a wine by its
// bits). Trees hold no positions, so where each line stood plays no part.
[[nodiscard]] bool same_program(const Program& a, const Program& b);

}  // namespace skern
