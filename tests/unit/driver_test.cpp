// The command: source files, errors and the run, in process.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "driver/cli.h"

namespace skern {
namespace {

namespace fs = std::filesystem;

class TempFile {
 public:
  explicit TempFile(std::string_view contents) {
    path_ = fs::temp_directory_path() / ("skern-driver-test-" + std::to_string(::getpid()) + "-" +
                                         std::to_string(counter_++) + ".skr");
    std::ofstream(path_, std::ios::binary) << contents;
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() { fs::remove(path_); }
  [[nodiscard]] std::string path() const { return path_.string(); }

 private:
  static inline int counter_ = 0;
  fs::path path_;
};

TEST(ErrorDisplay, EachKindHasItsOwnForm) {
  EXPECT_EQ(Error::parse(7, "block cannot be empty").display(), "parse error on line 7: block cannot be empty");
  EXPECT_EQ(Error::expression("x").display(), "expression parse error: x");
  EXPECT_EQ(Error::runtime("cannot divide by zero").display(), "runtime error: cannot divide by zero");
  EXPECT_EQ(Error::io(2).display(), "I/O error: No such file or directory (os error 2)");
  EXPECT_EQ(Error::io(32).display(), "I/O error: Broken pipe (os error 32)");
  EXPECT_EQ(Error::io_text("stream did not contain valid UTF-8").display(),
            "I/O error: stream did not contain valid UTF-8");
}

TEST(ReadSourceFile, KeepsBytesAsTheyAreIncludingAByteOrderMark) {
  TempFile file("\xEF\xBB\xBFon the iron throne:\r\n");
  Result<std::string> text = read_source_file(file.path().c_str());
  ASSERT_TRUE(text.ok());
  EXPECT_EQ(*text, "\xEF\xBB\xBFon the iron throne:\r\n");
}

TEST(ReadSourceFile, FailuresAreIoErrors) {
  EXPECT_EQ(read_source_file("/nonexistent/skern.skr").error().display(),
            "I/O error: No such file or directory (os error 2)");
  EXPECT_EQ(read_source_file("/").error().display(), "I/O error: Is a directory (os error 21)");
  TempFile latin1("speak \"caf\xE9\"");
  EXPECT_EQ(read_source_file(latin1.path().c_str()).error().display(),
            "I/O error: stream did not contain valid UTF-8");
}

TEST(Run, ParsesEverythingBeforeRunningAnything) {
  StringInput input("");
  StringOutput output;
  Status status = run("on the iron throne:\n    speak 1\n    speak 2 +\n", input, output);
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().kind(), Error::Kind::ExpressionParse);
  EXPECT_EQ(output.text(), "");
}

TEST(Run, OutputBeforeARuntimeErrorStays) {
  StringInput input("");
  StringOutput output;
  Status status = run("on the iron throne:\n    speak 1\n    speak 2\n    speak 1 / 0\n", input, output);
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().display(), "runtime error: cannot divide by zero");
  EXPECT_EQ(output.text(), "1\n2\n");
}

// The main block is compiled as it is read; a council below it may still
// reach its variables by name, call it or fail to parse, and nothing runs
// before the whole file is read.
TEST(Run, CouncilsBelowTheMainBlockAreSeenBeforeItRuns) {
  const std::string reaching =
      "on the iron throne:\n"
      "    the realm marches 2 times:\n"
      "        round is a blade with 7\n"
      "        show with\n"
      "        speak round\n"
      "we declare show with ->\n"
      "council says:\n"
      "    round = round + 1\n";
  StringInput input("");
  StringOutput output;
  ASSERT_TRUE(run(reaching, input, output).ok());
  EXPECT_EQ(output.text(), "8\n8\n");

  StringOutput failed_output;
  const Status failed = run("on the iron throne:\n    speak 1\nwe declare f with ->\ncouncil says:\n    speak (\n",
                            input, failed_output);
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error().kind(), Error::Kind::ExpressionParse);
  EXPECT_EQ(failed_output.text(), "");

  StringOutput repeated_output;
  const Status repeated = run("on the iron throne:\n    speak 1\non the iron throne:\n    speak 2\n", input,
                              repeated_output);
  ASSERT_FALSE(repeated.ok());
  EXPECT_EQ(repeated.error().display(), "parse error on line 3: `on the iron throne` can only appear once");
  EXPECT_EQ(repeated_output.text(), "");
}

// Top-level declarations of a main block compiled as it is read live beside
// the temporaries of the statements between them.
TEST(Run, TopLevelDeclarationsKeepTheirValuesAmongTemporaries) {
  const std::string program =
      "we declare twice with n ->\n"
      "council says:\n"
      "    return n * 2\n"
      "on the iron throne:\n"
      "    a is a blade with 1\n"
      "    speak (a + 1) * (a + 2) * (twice with a + 3)\n"
      "    b is a scroll with \"b\" + \"c\"\n"
      "    speak (a * 10) + (twice with 5)\n"
      "    c is a wine with 0.5\n"
      "    speak b\n"
      "    speak a\n"
      "    speak c\n"
      "    a is a blade with 2\n";
  StringInput input("");
  StringOutput output;
  const Status status = run(program, input, output);
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().display(), "runtime error: `a` is already declared in this scope");
  EXPECT_EQ(output.text(), "48\n20\nbc\n1\n0.5\n");
}

// Calls do not recurse on the machine stack: the test's own thread will do.
TEST(Run, DeepRecursionRunsToTheCallDepthLimitOnAnyStack) {
  const std::string program =
      "we declare down with n ->\n"
      "council says:\n"
      "    if n == 0:\n"
      "        return 0\n"
      "    return 1 + (down with n - 1)\n"
      "on the iron throne:\n"
      "    speak down with 100000\n"
      "    speak down with 1000000\n";
  StringInput input("");
  StringOutput output;
  const Status status = run(program, input, output);
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().display(), "runtime error: calls nest deeper than 200000 levels");
  EXPECT_EQ(output.text(), "100000\n");
}

TEST(FdInput, ReadsLinesWithTheirEndingsAndThenEmptyLines) {
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  const std::string data = "first\r\nsecond\nlast";
  ASSERT_EQ(::write(pipe_fds[1], data.data(), data.size()), static_cast<ssize_t>(data.size()));
  ::close(pipe_fds[1]);
  FdInput input(pipe_fds[0]);
  std::string line;
  ASSERT_TRUE(input.read_line(line).ok());
  EXPECT_EQ(line, "first\r\n");
  ASSERT_TRUE(input.read_line(line).ok());
  EXPECT_EQ(line, "second\n");
  ASSERT_TRUE(input.read_line(line).ok());
  EXPECT_EQ(line, "last");
  ASSERT_TRUE(input.read_line(line).ok());
  EXPECT_EQ(line, "");
  ::close(pipe_fds[0]);
}

TEST(FdOutput, WriteFailuresCarryTheSystemError) {
  FdOutput closed(-1);
  Status status = closed.write("x\n");
  ASSERT_FALSE(status.ok());
  EXPECT_EQ(status.error().display(), "I/O error: Bad file descriptor (os error 9)");
}

}  // namespace
}  // namespace skern
