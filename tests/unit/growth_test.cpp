// Building a text costs memory in proportion to its length, whatever shape
// the appending statements have. Counted in bytes allocated, which is exact
// and repeatable where time is not: a statement that copied the whole text
// each round would allocate in proportion to the square of its length.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>

#include "interpreter/interpreter.h"
#include "parser/parser.h"

namespace {
std::atomic<std::size_t> allocated{0};
}  // namespace

// Every allocation of this test program is counted.
void* operator new(std::size_t size) {
  allocated += size;
  if (void* memory = std::malloc(size == 0 ? 1 : size)) {  // NOLINT(cppcoreguidelines-no-malloc)
    return memory;
  }
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }  // NOLINT(cppcoreguidelines-no-malloc)
void operator delete(void* memory, std::size_t /*size*/) noexcept {
  std::free(memory);
}  // NOLINT(cppcoreguidelines-no-malloc)

namespace skern {
namespace {

// Output is counted, not kept, so that it allocates nothing.
class CountingOutput final : public TextOutput {
 public:
  Status write(std::string_view text) override {
    bytes += text.size();
    return {};
  }
  std::size_t bytes = 0;
};

// Bytes allocated while running `source`, whose last line speaks a text of
// `length` bytes.
std::size_t bytes_to_run(const std::string& source, std::size_t length) {
  Result<Program> program = parse_program(source);
  EXPECT_TRUE(program.ok()) << program.error().display();
  StringInput input("");
  CountingOutput output;
  const std::size_t before = allocated;
  Status status = run_program(*program, input, output);
  const std::size_t used = allocated - before;
  EXPECT_TRUE(status.ok()) << status.error().display();
  EXPECT_EQ(output.bytes, length + 1);
  return used;
}

constexpr std::size_t kRounds = 20000;

std::string program(std::string_view declarations, std::string_view round) {
  std::string text(declarations);
  text += "on the iron throne:\n    s is a scroll with \"\"\n    the realm marches 20000 times:\n";
  text += round;
  text += "    speak s\n";
  return text;
}

TEST(Growth, AppendingSeveralPiecesStaysLinear) {
  const std::string shapes[] = {
      program("", "        s = s + \"a\"\n"),
      program("", "        s = s + \"a\" + \"b\" + \"c\"\n"),
      program("", "        s = s + (\"a\" + \"b\")\n"),
      program("", "        piece is a scroll with \"ab\"\n        s = s + piece + \"c\"\n"),
      // The text is also read between appends, and held by a call's parameter.
      program("we declare same with t ->\ncouncil says:\n    return t\n",
              "        s = s + \"a\" + (same with \"b\")\n        held is a scroll with same with s\n"),
      // Appended through dynamic scoping, by a function that does not declare it.
      program("we declare add with piece ->\ncouncil says:\n    s = s + piece + \",\"\n", "        add with \"x\"\n"),
      // A variable of the loop body that shares the text until the round ends
      // (in a register that no earlier statement of the body overwrites).
      program("",
              "        s = s + \"a\" + \"b\"\n        first is a blade with 1\n        held is a scroll with \"x\"\n"
              "        held = s\n"),
      // To a parameter, which may hold any kind.
      program("we declare build with t, n ->\ncouncil says:\n    the realm marches n times:\n        t = t + \"a\" + "
              "\"b\"\n"
              "    return t\n",
              "        s = build with \"\", 1\n"),
  };
  const std::size_t lengths[] = {kRounds,     3 * kRounds, 2 * kRounds, 3 * kRounds,
                                 2 * kRounds, 2 * kRounds, 2 * kRounds, 2};
  for (std::size_t i = 0; i < std::size(shapes); ++i) {
    const std::size_t length = lengths[i];
    const std::size_t used = bytes_to_run(shapes[i], length);
    // Doubling buffers and per-round temporaries come to a few times the
    // final length; copying the text every round would come to thousands.
    EXPECT_LT(used, 64 * kRounds + 16 * length) << "shape " << i << ": " << used << " bytes for " << length;
  }
}

// The same in a `while` loop, whose body's scope ends at its jump back.
TEST(Growth, AWhileBodyLetsGoOfItsTextsEachRound) {
  const std::string source =
      "on the iron throne:\n"
      "    s is a scroll with \"\"\n"
      "    n is a blade with 0\n"
      "    while n < 20000:\n"
      "        n = n + 1\n"
      "        s = s + \"a\" + \"b\"\n"
      "        first is a blade with 1\n"
      "        held is a scroll with s\n"
      "    speak s\n";
  const std::size_t used = bytes_to_run(source, 2 * kRounds);
  EXPECT_LT(used, 64 * kRounds + 32 * kRounds) << used << " bytes";
}

}  // namespace
}  // namespace skern
