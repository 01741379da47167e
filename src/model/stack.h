// How much of the machine stack is left to the calling thread. The parser and
// the interpreter recurse once per nesting level and per call; they check
// here before going deeper, so that no input can exhaust the stack.
#pragma once

#include <cstdint>
#include <functional>

namespace skern {

class StackGuard {
 public:
  // For the calling thread, keeping `reserve` bytes back for the work done
  // between two checks.
  explicit StackGuard(std::uintptr_t reserve);

  [[nodiscard]] bool exhausted() const { return position() < floor_; }
  // Whether fewer than `margin` bytes are left before the stack is exhausted.
  [[nodiscard]] bool near(std::uintptr_t margin) const { return position() < floor_ + margin; }

  // The frame address of the caller, standing for the stack pointer.
  [[gnu::always_inline]] static std::uintptr_t position() {
    return reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  }

 private:
  std::uintptr_t floor_ = 0;
};

// Calls `body` on a thread whose stack is large enough for deep recursion,
// and gives its result; falls back to smaller stacks when memory is short.
int run_with_large_stack(const std::function<int()>& body);

}  // namespace skern
