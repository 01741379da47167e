// Symbol interning, the function table and the iterative tree destructor.
#include "model/tree.h"

#include <algorithm>
#include <limits>
#include <new>

namespace skern {

namespace {

std::uint64_t hash_name(std::string_view name) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;  // FNV-1a
  for (const char c : name) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
  }
  return hash;
}

std::uint64_t slot_entry(std::uint32_t id, std::uint64_t hash) {
  return (hash & 0xFFFFFFFF00000000ULL) | (std::uint64_t{id} + 1);
}

}  // namespace

// A slot holds the id + 1 in its low half and the high half of the name's
// hash in its high half, so that a slot of another name is passed over
// without looking at that name.
inline std::size_t SymbolTable::probe(std::string_view name, std::uint64_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  const std::uint64_t tag = hash >> 32;
  for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    const std::uint64_t entry = slots_[slot];
    if (entry == 0 || ((entry >> 32) == tag && spelled(static_cast<std::uint32_t>(entry & 0xFFFFFFFFU) - 1, name))) {
      return slot;
    }
  }
}

// Names are short: a byte loop beats a call to memcmp.
inline bool SymbolTable::spelled(std::uint32_t id, std::string_view name) const {
  const std::size_t start = id == 0 ? 0 : ends_[id - 1];
  if (ends_[id] - start != name.size()) {
    return false;
  }
  const char* const bytes = spellings_.data() + start;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (bytes[i] != name[i]) {
      return false;
    }
  }
  return true;
}

void SymbolTable::grow() {
  std::vector<std::uint64_t> slots(slots_.empty() ? 64 : slots_.size() * 2, 0);
  const std::size_t mask = slots.size() - 1;
  for (std::uint32_t id = 0; id < hashes_.size(); ++id) {
    std::size_t slot = hashes_[id] & mask;
    while (slots[slot] != 0) {
      slot = (slot + 1) & mask;
    }
    slots[slot] = slot_entry(id, hashes_[id]);
  }
  slots_ = std::move(slots);
}

Symbol SymbolTable::intern(std::string_view name) {
  if ((hashes_.size() + 1) * 2 > slots_.size()) [[unlikely]] {
    grow();
  }
  const std::uint64_t hash = hash_name(name);
  const std::size_t slot = probe(name, hash);
  if (slots_[slot] != 0) {
    return Symbol{static_cast<std::uint32_t>(slots_[slot] & 0xFFFFFFFFU) - 1};
  }
  return add(name, hash, slot);
}

// Apart from intern, whose every call but a name's first ends above.
Symbol SymbolTable::add(std::string_view name, std::uint64_t hash, std::size_t slot) {
  const auto id = static_cast<std::uint32_t>(names_.size());
  names_.emplace_back(name);
  spellings_.append(name);
  ends_.push_back(spellings_.size());
  hashes_.push_back(hash);
  slots_[slot] = slot_entry(id, hash);
  return Symbol{id};
}

std::optional<Symbol> SymbolTable::find(std::string_view name) const {
  if (slots_.empty()) {
    return std::nullopt;
  }
  const std::size_t slot = probe(name, hash_name(name));
  if (slots_[slot] == 0) {
    return std::nullopt;
  }
  return Symbol{static_cast<std::uint32_t>(slots_[slot] & 0xFFFFFFFFU) - 1};
}

bool FunctionTable::insert(FunctionDecl function) {
  if (contains(function.name)) {
    return false;
  }
  if (function.name.id >= slot_of_.size()) {
    slot_of_.resize(function.name.id + 1, 0);
  }
  functions_.push_back(std::move(function));
  slot_of_[functions_.back().name.id] = static_cast<std::uint32_t>(functions_.size());
  return true;
}

Block::Block(Statement* first, const Statement* last) {
  const auto count = static_cast<std::size_t>(last - first);
  if (count == 0) {
    return;
  }
  if (count > std::numeric_limits<std::uint32_t>::max()) {
    throw std::bad_alloc();
  }
  static_assert(sizeof(Header) % alignof(Statement) == 0);
  storage_ = static_cast<Header*>(::operator new(sizeof(Header) + count * sizeof(Statement)));
  storage_->size = 0;
  storage_->declares = false;
  Statement* const items = this->items();
  for (std::size_t i = 0; i < count; ++i) {
    new (items + i) Statement(std::move(first[i]));
    storage_->declares = storage_->declares || items[i].kind() == StatementKind::Declare;
    storage_->size = static_cast<std::uint32_t>(i + 1);
  }
}

void Block::release() noexcept {
  if (storage_ == nullptr) {
    return;
  }
  Statement* const items = this->items();
  for (std::uint32_t i = 0; i < storage_->size; ++i) {
    items[i].~Statement();
  }
  ::operator delete(static_cast<void*>(storage_));
  storage_ = nullptr;
}

void ExprArena::add_chunk(std::size_t count) {
  // A run longer than a chunk gets a chunk of its own size.
  const std::size_t capacity = std::max(CHUNK_SIZE, count);
  if (capacity > std::numeric_limits<std::size_t>::max() / sizeof(Expr)) {
    throw std::bad_alloc();
  }
  // Left uninitialised, as the nodes are built over it (what
  // make_unique_for_overwrite does, which not every standard library has).
  // NOLINTNEXTLINE(cppcoreguidelines-avoid-c-arrays,modernize-avoid-c-arrays,modernize-make-unique): raw storage
  chunks_.push_back(Chunk{std::unique_ptr<std::byte[]>(new std::byte[capacity * sizeof(Expr)]), 0, capacity});
  used_ = 0;
  capacity_ = capacity;
}

ExprPtr ExprArena::add(Expr&& expr) {
  Expr* slot = reserve(1);
  Expr* node = new (slot) Expr(std::move(expr));
  ++used_;
  chunks_.back().count = used_;
  return node;
}

ExprPtr ExprArena::add_pair(Expr&& first, Expr&& second) {
  Expr* slot = reserve(2);
  Expr* node = new (slot) Expr(std::move(first));
  new (slot + 1) Expr(std::move(second));
  used_ += 2;
  chunks_.back().count = used_;
  return node;
}

ExprList ExprArena::add_run(std::vector<Expr>& run) {
  if (run.empty()) {
    return {};
  }
  Expr* slot = reserve(run.size());
  for (std::size_t i = 0; i < run.size(); ++i) {
    new (slot + i) Expr(std::move(run[i]));
    ++used_;
    chunks_.back().count = used_;
  }
  return {slot, run.size()};
}

std::size_t ExprArena::size() const {
  std::size_t count = 0;
  for (const Chunk& chunk : chunks_) {
    count += chunk.count;
  }
  return count;
}

void ExprArena::destroy(Chunk& chunk, std::size_t from) noexcept {
  auto* nodes = std::launder(reinterpret_cast<Expr*>(chunk.bytes.get()));
  for (std::size_t i = from; i < chunk.count; ++i) {
    nodes[i].~Expr();
  }
  chunk.count = from;
}

void ExprArena::release() noexcept {
  for (Chunk& chunk : chunks_) {
    destroy(chunk, 0);
  }
  chunks_.clear();
  used_ = 0;
  capacity_ = 0;
}

void ExprArena::rewind(Mark mark) noexcept {
  while (chunks_.size() > mark.chunks) {
    destroy(chunks_.back(), 0);
    chunks_.pop_back();
  }
  if (chunks_.empty()) {
    used_ = 0;
    capacity_ = 0;
    return;
  }
  destroy(chunks_.back(), mark.used);
  used_ = mark.used;
  capacity_ = chunks_.back().capacity;
}

void ExprArena::clear() noexcept {
  if (!chunks_.empty() && chunks_.front().capacity == CHUNK_SIZE) {
    rewind(Mark{1, 0});
  } else {
    release();
  }
}

namespace {
// Sources of more than 4 billion lines do not fit in memory anyway.
std::uint32_t narrow_line(std::uint64_t line) {
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(line, std::numeric_limits<std::uint32_t>::max()));
}
}  // namespace

std::optional<Value> literal_value(const Expr& expr) {
  switch (expr.kind()) {
    case ExprKind::IntegerLiteral:
      return Value::blade(expr.as<IntegerLiteral>().value);
    case ExprKind::FloatLiteral:
      return Value::wine(expr.as<FloatLiteral>().value);
    case ExprKind::StringLiteral:
      return Value::scroll(expr.as<StringLiteral>().value);
    case ExprKind::BoolLiteral:
      return Value::vow(expr.as<BoolLiteral>().value);
    case ExprKind::CharLiteral:
      return Value::sigil(expr.as<CharLiteral>().value);
    default:
      return std::nullopt;
  }
}

void StatementLines::add(const Statement& statement, std::uint64_t line) {
  lines_[&statement] = narrow_line(line);
  last_line_ = std::max(last_line_, narrow_line(line));
}

void StatementLines::add_function(Symbol name, std::uint64_t line) {
  if (name.id >= function_lines_.size()) {
    function_lines_.resize(std::size_t{name.id} + 1, 0);
  }
  function_lines_[name.id] = narrow_line(line);
  last_line_ = std::max(last_line_, narrow_line(line));
}

std::vector<std::uint32_t> StatementLines::statement_lines() const {
  std::vector<std::uint32_t> lines;
  lines.reserve(lines_.size());
  for (const auto& [statement, line] : lines_) {
    lines.push_back(line);
  }
  std::sort(lines.begin(), lines.end());
  lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
  return lines;
}

std::uint32_t StatementLines::function_line(Symbol name) const {
  return name.id < function_lines_.size() ? function_lines_[name.id] : 0;
}

std::uint32_t StatementLines::line_of(const Statement& statement) const {
  const auto found = lines_.find(&statement);
  return found == lines_.end() ? 0 : found->second;
}

}  // namespace skern
