// The program tree: expressions, statements, functions and the whole program.
//
// Both trees are closed sets of plain structs, walked with a switch on their
// kind so the compiler sees every case and no virtual dispatch sits on the
// evaluator's path: statements in a std::variant, expression nodes in a
// compact union of their own. Names are interned once, while
// parsing, into the program's SymbolTable; nodes hold the small integer Symbol
// and the table holds the text, so the interpreter never hashes a string.
// Every node belongs to exactly one tree (no sharing): a tree's top node lives
// in its statement or call, the nodes below it in the program's ExprArena.
// Trees are immutable once built and carry no positions.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
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
  // Inlined: a call each would cost as much as the work for a short name.
  [[nodiscard, gnu::always_inline]] std::size_t probe(std::string_view name, std::uint64_t hash) const;
  [[nodiscard, gnu::always_inline]] bool spelled(std::uint32_t id, std::string_view name) const;
  [[gnu::noinline]] Symbol add(std::string_view name, std::uint64_t hash, std::size_t slot);
  void grow();
  std::deque<std::string> names_;      // by id; a deque, so that a name stays where it is
  std::string spellings_;              // the names again, back to back, which probing reads
  std::vector<std::size_t> ends_;      // by id: where its name ends in spellings_
  std::vector<std::uint64_t> hashes_;  // by id
  std::vector<std::uint64_t> slots_;   // id + 1 and a part of the hash, or 0 for an empty slot; a power of two long
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

class Expr;
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

// Each kind of node is one view of a 16-byte Expr, and each begins with the
// kind: the views share that first member, so any of them reads it. A
// program holds millions of nodes, and a tagged variant would take 24 bytes.
struct IntegerLiteral {
  static constexpr ExprKind KIND = ExprKind::IntegerLiteral;
  ExprKind kind_ = KIND;
  std::int64_t value;
  IntegerLiteral(std::int64_t v) : value(v) {}  // NOLINT(google-explicit-constructor)
};
struct FloatLiteral {
  static constexpr ExprKind KIND = ExprKind::FloatLiteral;
  ExprKind kind_ = KIND;
  double value;
  FloatLiteral(double v) : value(v) {}  // NOLINT(google-explicit-constructor)
};
struct StringLiteral {
  static constexpr ExprKind KIND = ExprKind::StringLiteral;
  ExprKind kind_ = KIND;
  Scroll value;                                     // escapes resolved, quotes removed
  StringLiteral(Scroll v) : value(std::move(v)) {}  // NOLINT(google-explicit-constructor)
};
struct BoolLiteral {
  static constexpr ExprKind KIND = ExprKind::BoolLiteral;
  ExprKind kind_ = KIND;
  bool value;
  BoolLiteral(bool v) : value(v) {}  // NOLINT(google-explicit-constructor)
};
struct CharLiteral {
  static constexpr ExprKind KIND = ExprKind::CharLiteral;
  ExprKind kind_ = KIND;
  char32_t value;
  CharLiteral(char32_t v) : value(v) {}  // NOLINT(google-explicit-constructor)
};
struct Identifier {
  static constexpr ExprKind KIND = ExprKind::Identifier;
  ExprKind kind_ = KIND;
  Symbol name;
  Identifier(Symbol n) : name(n) {}  // NOLINT(google-explicit-constructor)
};
struct Unary {
  static constexpr ExprKind KIND = ExprKind::Unary;
  ExprKind kind_ = KIND;
  UnaryOp op;
  ExprPtr operand;
  Unary(ExprPtr o, UnaryOp p) : op(p), operand(o) {}
};
// The two operands stand side by side in the arena, the left one first, so
// that one pointer finds both and a node stays small.
struct Binary {
  static constexpr ExprKind KIND = ExprKind::Binary;
  ExprKind kind_ = KIND;
  BinaryOp op;
  ExprPtr operands;
  Binary(ExprPtr o, BinaryOp p) : op(p), operands(o) {}
  [[nodiscard]] ExprPtr left() const { return operands; }
  [[nodiscard]] ExprPtr right() const;
};
// The arguments stand side by side in the arena. A count that does not fit
// in the node (LONG_CALL or more) stands in an IntegerLiteral node just
// before the first argument.
struct Call {
  static constexpr std::uint32_t LONG_CALL = 0xFFFF;
  static constexpr ExprKind KIND = ExprKind::Call;
  ExprKind kind_ = KIND;
  std::uint16_t count;
  Symbol name;
  const Expr* first_argument;
  Call(const Expr* first, std::uint32_t argument_count, Symbol callee)
      : count(static_cast<std::uint16_t>(std::min(argument_count, LONG_CALL))), name(callee), first_argument(first) {}
  [[nodiscard]] ExprList arguments() const;
};

template <class Node>
inline constexpr bool IS_EXPR_NODE =
    std::is_same_v<Node, IntegerLiteral> || std::is_same_v<Node, FloatLiteral> || std::is_same_v<Node, StringLiteral> ||
    std::is_same_v<Node, BoolLiteral> || std::is_same_v<Node, CharLiteral> || std::is_same_v<Node, Identifier> ||
    std::is_same_v<Node, Unary> || std::is_same_v<Node, Binary> || std::is_same_v<Node, Call>;

class Expr {
 public:
  // clang-format off
  template <class Node>
    requires IS_EXPR_NODE<Node>
  Expr(Node n) {  // NOLINT(google-explicit-constructor,cppcoreguidelines-pro-type-member-init)
    new (&node_) Node(std::move(n));
  }
  // clang-format on
  Expr(Expr&& other) noexcept { take(std::move(other)); }  // NOLINT(cppcoreguidelines-pro-type-member-init)
  Expr& operator=(Expr&& other) noexcept {
    if (this != &other) {
      destroy();
      take(std::move(other));
    }
    return *this;
  }
  Expr(const Expr&) = delete;
  Expr& operator=(const Expr&) = delete;
  ~Expr() { destroy(); }

  [[nodiscard]] ExprKind kind() const { return node_.header.kind_; }
  template <class Node>
  [[nodiscard]] const Node& as() const {
    return *get_if<Node>();
  }
  template <class Node>
  [[nodiscard]] const Node* get_if() const;

 private:
  struct Header {
    ExprKind kind_;
  };
  // NOLINTBEGIN(cppcoreguidelines-pro-type-union-access): the kind says which view holds
  union Node {
    Node() : header{} {}
    ~Node() {}  // NOLINT(modernize-use-equals-default)
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;
    Node(Node&&) = delete;
    Node& operator=(Node&&) = delete;
    Header header;
    IntegerLiteral integer;
    FloatLiteral floating;
    StringLiteral string;
    BoolLiteral vow;
    CharLiteral character;
    Identifier identifier;
    Unary unary;
    Binary binary;
    Call call;
  } node_;

  // Every view but a text's is trivially copied, whole.
  void take(Expr&& other) noexcept {
    if (other.kind() == ExprKind::StringLiteral) {
      new (&node_) StringLiteral(std::move(other.node_.string));
    } else {
      std::memcpy(static_cast<void*>(&node_), static_cast<const void*>(&other.node_), sizeof(Node));
    }
  }
  void destroy() noexcept {
    if (kind() == ExprKind::StringLiteral) {
      node_.string.~StringLiteral();
    }
  }
  // NOLINTEND(cppcoreguidelines-pro-type-union-access)
};
// A program holds millions of these.
static_assert(sizeof(Expr) == 16);
static_assert(std::is_standard_layout_v<Expr>);
// What Expr::take copies as bytes.
static_assert(std::is_trivially_copyable_v<IntegerLiteral> && std::is_trivially_copyable_v<FloatLiteral> &&
              std::is_trivially_copyable_v<BoolLiteral> && std::is_trivially_copyable_v<CharLiteral> &&
              std::is_trivially_copyable_v<Identifier> && std::is_trivially_copyable_v<Unary> &&
              std::is_trivially_copyable_v<Binary> && std::is_trivially_copyable_v<Call>);

template <class Node>
const Node* Expr::get_if() const {
  static_assert(IS_EXPR_NODE<Node>);
  // A union and its members share one address, so the view of the kind held
  // is found at the union's.
  // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast)
  return kind() == Node::KIND ? std::launder(reinterpret_cast<const Node*>(&node_)) : nullptr;
}

inline ExprPtr Binary::right() const { return operands + 1; }
inline ExprList Call::arguments() const {
  if (count < LONG_CALL) {
    return {first_argument, count};
  }
  return {first_argument, static_cast<std::size_t>((first_argument - 1)->as<IntegerLiteral>().value)};
}

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
  ExprPtr add(Expr&& expr);
  // Moves two nodes into the arena side by side, and gives the first.
  ExprPtr add_pair(Expr&& first, Expr&& second);
  // Moves the nodes of `run` into the arena side by side.
  ExprList add_run(std::vector<Expr>& run);
  [[nodiscard]] std::size_t size() const;
  // Lets go of every node, keeping the first chunk's room for the next ones.
  void clear() noexcept;
  // How far the arena is filled; `rewind` lets go of every node added since.
  struct Mark {
    std::size_t chunks = 0;
    std::size_t used = 0;
  };
  [[nodiscard]] Mark mark() const { return Mark{chunks_.size(), used_}; }
  void rewind(Mark mark) noexcept;

 private:
  static constexpr std::size_t CHUNK_SIZE = 1024;
  // Storage for nodes, built in it one at a time; `count` are built.
  struct Chunk {
    // NOLINTNEXTLINE(cppcoreguidelines-avoid-c-arrays,modernize-avoid-c-arrays): raw storage
    std::unique_ptr<std::byte[]> bytes;
    std::size_t count;
    std::size_t capacity;
  };
  // A place for `count` nodes side by side: in the last chunk, while it has
  // room, which is nearly always.
  Expr* reserve(std::size_t count) {
    if (capacity_ - used_ < count) [[unlikely]] {
      add_chunk(count);
    }
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): nodes are built over the raw storage
    return std::launder(reinterpret_cast<Expr*>(chunks_.back().bytes.get())) + used_;
  }
  // A new last chunk with room for at least `count` nodes.
  void add_chunk(std::size_t count);
  // Destroys the chunk's nodes from `from` on, which it then holds no more.
  static void destroy(Chunk& chunk, std::size_t from) noexcept;
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

static_assert(sizeof(Statement) <= 40);

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

// Takes a program's main block a statement at a time, as the parser reads
// it, for a caller that compiles as the parser goes and so never holds the
// block's whole tree. Each statement and its nodes are gone once `take`
// returns; what the statements name stays in the program's symbol table.
class MainBlockSink {
 public:
  MainBlockSink() = default;
  MainBlockSink(const MainBlockSink&) = delete;
  MainBlockSink& operator=(const MainBlockSink&) = delete;
  virtual ~MainBlockSink() = default;
  // The main block begins; the functions declared above it are in the program.
  virtual void begin() = 0;
  virtual void take(const Statement& statement) = 0;
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
// The same for two expressions, each with the table its names are in.
[[nodiscard]] bool same_expression(const Expr& a, const SymbolTable& a_symbols, const Expr& b,
                                   const SymbolTable& b_symbols);

}  // namespace skern
