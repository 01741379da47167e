// Symbol interning, the function table and the iterative tree destructor.
#include "model/tree.h"

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

}  // namespace

std::size_t SymbolTable::probe(std::string_view name, std::uint64_t hash) const {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    const std::uint32_t entry = slots_[slot];
    if (entry == 0 || (hashes_[entry - 1] == hash && names_[entry - 1] == name)) {
      return slot;
    }
  }
}

void SymbolTable::grow() {
  std::vector<std::uint32_t> slots(slots_.empty() ? 64 : slots_.size() * 2, 0);
  const std::size_t mask = slots.size() - 1;
  for (std::uint32_t id = 0; id < names_.size(); ++id) {
    std::size_t slot = hashes_[id] & mask;
    while (slots[slot] != 0) {
      slot = (slot + 1) & mask;
    }
    slots[slot] = id + 1;
  }
  slots_ = std::move(slots);
}

Symbol SymbolTable::intern(std::string_view name) {
  if ((names_.size() + 1) * 2 > slots_.size()) {
    grow();
  }
  const std::uint64_t hash = hash_name(name);
  const std::size_t slot = probe(name, hash);
  if (slots_[slot] != 0) {
    return Symbol{slots_[slot] - 1};
  }
  const auto id = static_cast<std::uint32_t>(names_.size());
  names_.emplace_back(name);
  hashes_.push_back(hash);
  slots_[slot] = id + 1;
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
  return Symbol{slots_[slot] - 1};
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
  items_ = static_cast<Statement*>(::operator new(count * sizeof(Statement)));
  for (std::size_t i = 0; i < count; ++i) {
    new (items_ + i) Statement(std::move(first[i]));
    declares_ = declares_ || items_[i].kind() == StatementKind::Declare;
  }
  size_ = static_cast<std::uint32_t>(count);
}

void Block::release() noexcept {
  for (std::uint32_t i = 0; i < size_; ++i) {
    items_[i].~Statement();
  }
  ::operator delete(static_cast<void*>(items_));
  items_ = nullptr;
  size_ = 0;
}

ExprPtr ExprArena::add(Expr expr) {
  if (used_ == CHUNK_SIZE) {
    // Left uninitialised, as the nodes are built over it.
    chunks_.push_back(std::make_unique_for_overwrite<Chunk>());
    used_ = 0;
  }
  void* slot = chunks_.back()->bytes.data() + used_ * sizeof(Expr);
  Expr* node = new (slot) Expr(std::move(expr));
  ++used_;
  return node;
}

void ExprArena::release() noexcept {
  for (std::size_t chunk = 0; chunk < chunks_.size(); ++chunk) {
    const std::size_t count = chunk + 1 == chunks_.size() ? used_ : CHUNK_SIZE;
    auto* nodes = std::launder(reinterpret_cast<Expr*>(chunks_[chunk]->bytes.data()));
    for (std::size_t i = 0; i < count; ++i) {
      nodes[i].~Expr();
    }
  }
  chunks_.clear();
  used_ = CHUNK_SIZE;
}

}  // namespace skern
