// std::bit_cast for standard libraries that lack it (the WebAssembly
// toolchain's among them): GCC and clang have the builtin behind it.
#pragma once

#include <type_traits>

namespace skern {

template <class To, class From>
  requires(sizeof(To) == sizeof(From) && std::is_trivially_copyable_v<To> && std::is_trivially_copyable_v<From>)
[[nodiscard]] constexpr To bit_cast(const From& from) noexcept {
  return __builtin_bit_cast(To, from);
}

}  // namespace skern
