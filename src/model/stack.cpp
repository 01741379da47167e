// The calling thread's stack bounds, from the platform.
#include "model/stack.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>

#include <pthread.h>

#if defined(__EMSCRIPTEN__)
#include <emscripten/stack.h>
#elif defined(__linux__)
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace skern {

namespace {

#if defined(__linux__) && !defined(__EMSCRIPTEN__)
// The pages the process has mapped, the first field of /proc/self/statm; 0
// when it cannot be read.
std::uintptr_t mapped_pages() {
  const int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);  // NOLINT(cppcoreguidelines-pro-type-vararg)
  if (fd < 0) {
    return 0;
  }
  std::array<char, 64> text{};
  const ssize_t got = ::read(fd, text.data(), text.size());
  ::close(fd);
  std::uintptr_t pages = 0;
  if (got > 0) {
    std::from_chars(text.data(), text.data() + got, pages);
  }
  return pages;
}

// On the process's main thread the stack grows on demand, up to the stack
// limit, and a limit on the address space can stop it sooner: count on half
// of what is left of either, and on no more than this.
constexpr std::uintptr_t MAIN_THREAD_STACK = std::uintptr_t{4} << 20;

std::uintptr_t main_thread_budget() {
  std::uintptr_t budget = MAIN_THREAD_STACK;
  rlimit limit{};
  if (::getrlimit(RLIMIT_STACK, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    budget = std::min<std::uintptr_t>(budget, limit.rlim_cur / 2);
  }
  if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    const std::uintptr_t used = mapped_pages() * static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    budget = std::min<std::uintptr_t>(budget, limit.rlim_cur > used ? (limit.rlim_cur - used) / 4 : 0);
  }
  return budget;
}
#endif

}  // namespace

StackGuard::StackGuard(std::uintptr_t reserve) {
#if defined(__EMSCRIPTEN__)
  // One stack of a size fixed when linking, growing down to its end.
  const std::uintptr_t end = emscripten_stack_get_end();
  const std::uintptr_t size = emscripten_stack_get_base() - end;
  floor_ = end + std::min<std::uintptr_t>(std::max<std::uintptr_t>(reserve, size / 8), size / 2);
#elif defined(__linux__)
  const std::uintptr_t here = position();
  if (::getpid() == ::gettid()) {
    const std::uintptr_t budget = main_thread_budget();
    const std::uintptr_t usable = budget - std::min(reserve, budget / 2);
    floor_ = here > usable ? here - usable : 0;
    return;
  }
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
    void* low = nullptr;
    std::size_t size = 0;
    const int status = pthread_attr_getstack(&attributes, &low, &size);
    pthread_attr_destroy(&attributes);
    if (status == 0 && low != nullptr) {
      const std::uintptr_t kept = std::min<std::uintptr_t>(std::max<std::uintptr_t>(reserve, size / 8), size / 2);
      floor_ = reinterpret_cast<std::uintptr_t>(low) + kept;
    }
  }
#else
  (void)reserve;
#endif
}

// ---------------------------------------------------------------------------
// A large stack for deeply nested source
// ---------------------------------------------------------------------------

namespace {

struct ThreadTask {
  const std::function<int()>* body;
  int result;
};

void* run_task(void* argument) {
  auto* task = static_cast<ThreadTask*>(argument);
  task->result = (*task->body)();
  return nullptr;
}

}  // namespace

int run_with_large_stack(const std::function<int()>& body) {
  // The parsers recurse once per level of nesting in the source. Reserved
  // address space only: pages are touched as the recursion deepens.
  constexpr std::array<std::size_t, 5> sizes = {std::size_t{1} << 28, std::size_t{1} << 26, std::size_t{1} << 24,
                                                std::size_t{1} << 22, std::size_t{1} << 20};
  for (const std::size_t size : sizes) {
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) {
      break;
    }
    ThreadTask task{&body, 1};
    pthread_t thread{};
    const bool started =
        pthread_attr_setstacksize(&attributes, size) == 0 && pthread_create(&thread, &attributes, run_task, &task) == 0;
    pthread_attr_destroy(&attributes);
    if (started) {
      pthread_join(thread, nullptr);
      return task.result;
    }
  }
  return body();
}

}  // namespace skern
