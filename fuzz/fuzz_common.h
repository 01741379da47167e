// Helpers shared by the fuzz targets.
#pragma once

#include <pthread.h>

#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <type_traits>

namespace skern::fuzz {

// A broken invariant is a finding: say which one and stop, so that libFuzzer
// saves the input as a crash.
[[noreturn]] inline void fail(std::string_view what, std::string_view detail = {}) {
  std::fprintf(stderr, "\nfuzz invariant broken: %.*s\n", static_cast<int>(what.size()), what.data());
  if (!detail.empty()) {
    std::fprintf(stderr, "--- detail ---\n%.*s\n--------------\n", static_cast<int>(detail.size()), detail.data());
  }
  std::abort();
}

inline void check(bool condition, std::string_view what, std::string_view detail = {}) {
  if (!condition) {
    fail(what, detail);
  }
}

// The same, with the detail made only when it is needed.
template <class Detail>
  requires std::is_invocable_v<Detail>
void check(bool condition, std::string_view what, const Detail& detail) {
  if (!condition) {
    fail(what, detail());
  }
}

// Runs each body on one long-lived thread with a large stack, as the command
// runs its programs (run_with_large_stack). The parser and the interpreter
// recurse as deep as their nesting and call limits allow, which under
// AddressSanitizer needs far more than the 8 MiB of libFuzzer's own thread.
// run_with_large_stack starts a thread per call, which costs more than most
// inputs; this thread is started once and handed one body at a time.
class LargeStack {
 public:
  template <class Body>
  static void run(Body& body) {
    static LargeStack* const worker = start();  // lives as long as the process
    if (worker == nullptr) {
      body();
      return;
    }
    std::unique_lock lock(worker->mutex_);
    worker->job_ = [](void* context) { (*static_cast<Body*>(context))(); };
    worker->context_ = &body;
    worker->done_ = false;
    worker->changed_.notify_all();
    worker->changed_.wait(lock, [&] { return worker->done_; });
  }

 private:
  static LargeStack* start() {
    auto* worker = new LargeStack;
    // Address space only: pages are touched as the recursion deepens.
    for (const std::size_t size : {std::size_t{1} << 30, std::size_t{1} << 28, std::size_t{1} << 26}) {
      pthread_attr_t attributes;
      if (pthread_attr_init(&attributes) != 0) {
        break;
      }
      pthread_t thread;
      const bool started = pthread_attr_setstacksize(&attributes, size) == 0 &&
                           pthread_create(&thread, &attributes, &LargeStack::loop, worker) == 0;
      pthread_attr_destroy(&attributes);
      if (started) {
        pthread_detach(thread);
        return worker;
      }
    }
    std::fprintf(stderr, "fuzz: no large-stack thread, running on the fuzzer's own stack\n");
    delete worker;
    return nullptr;
  }

  static void* loop(void* self) {
    auto* worker = static_cast<LargeStack*>(self);
    std::unique_lock lock(worker->mutex_);
    while (true) {
      worker->changed_.wait(lock, [&] { return worker->job_ != nullptr; });
      void (*job)(void*) = worker->job_;
      void* context = worker->context_;
      lock.unlock();
      job(context);
      lock.lock();
      worker->job_ = nullptr;
      worker->done_ = true;
      worker->changed_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  void (*job_)(void*) = nullptr;
  void* context_ = nullptr;
  bool done_ = true;
};

}  // namespace skern::fuzz
