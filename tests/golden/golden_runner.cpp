// Runs whole programs through the skern binary and compares what they write.
//
// Every `tests/programs/**/NAME.skr` is one case. Beside it:
//   NAME.stdout  the expected standard output (absent: empty)
//   NAME.stderr  the expected standard error (absent: empty)
//   NAME.status  the expected exit status (absent: 0)
//   NAME.stdin   the standard input to feed (absent: empty)
// Every `examples/NAME.skr` is a case too, with its expectations under
// `tests/examples/`.
//
// SKERN_TEST_WRAPPER, when set, is a command put in front of the binary
// (for example "valgrind -q --error-exitcode=99 --leak-check=full").
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

std::string skern_binary;  // set from --skern=PATH before the tests run

struct Case {
  std::string name;
  fs::path program;       // relative to the source directory
  fs::path expectations;  // path without extension, absolute
};

// Keeps test listings to the program's path instead of a byte dump.
void PrintTo(const Case& test, std::ostream* out) { *out << test.program.string(); }

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string test_name(const fs::path& relative) {
  std::string name = relative.string();
  name = name.substr(0, name.size() - std::string(".skr").size());
  std::replace_if(name.begin(), name.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) == 0; }, '_');
  return name;
}

void collect(std::vector<Case>& cases, const fs::path& source, const std::string& programs,
             const std::string& expectations) {
  const fs::path root = source / programs;
  if (!fs::exists(root)) {
    return;
  }
  std::vector<fs::path> found;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file() && entry.path().extension() == ".skr") {
      found.push_back(entry.path());
    }
  }
  std::sort(found.begin(), found.end());
  for (const fs::path& path : found) {
    const fs::path relative = fs::relative(path, root);
    fs::path base = source / expectations / relative;
    base.replace_extension();
    cases.push_back(Case{test_name(fs::path(programs) / relative), fs::path(programs) / relative, base});
  }
}

std::vector<Case> discover() {
  std::vector<Case> cases;
  const fs::path source = SKERN_SOURCE_DIR;
  collect(cases, source, "tests/programs", "tests/programs");
  collect(cases, source, "examples", "tests/examples");
  return cases;
}

std::vector<std::string> split_words(const char* text) {
  std::vector<std::string> words;
  std::istringstream in(text == nullptr ? "" : text);
  for (std::string word; in >> word;) {
    words.push_back(word);
  }
  return words;
}

struct Outcome {
  std::string out;
  std::string err;
  int status = -1;
};

int open_temporary(std::string& path) {
  std::string pattern = (fs::temp_directory_path() / "skern-golden-XXXXXX").string();
  const int fd = ::mkstemp(pattern.data());
  path = pattern;
  return fd;
}

Outcome run_program(const Case& test) {
  const fs::path stdin_path = fs::path(test.expectations).concat(".stdin");
  std::string out_path;
  std::string err_path;
  const int out_fd = open_temporary(out_path);
  const int err_fd = open_temporary(err_path);
  const int in_fd = ::open(fs::exists(stdin_path) ? stdin_path.c_str() : "/dev/null", O_RDONLY);

  std::vector<std::string> command = split_words(std::getenv("SKERN_TEST_WRAPPER"));
  command.push_back(skern_binary);
  command.push_back(test.program.string());
  std::vector<char*> argv;
  for (std::string& word : command) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);

  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(in_fd, STDIN_FILENO);
    ::dup2(out_fd, STDOUT_FILENO);
    ::dup2(err_fd, STDERR_FILENO);
    if (::chdir(SKERN_SOURCE_DIR) != 0) {
      ::_exit(126);
    }
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  Outcome outcome;
  int status = 0;
  ::waitpid(child, &status, 0);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  ::close(in_fd);
  ::close(out_fd);
  ::close(err_fd);
  outcome.out = read_file(out_path);
  outcome.err = read_file(err_path);
  fs::remove(out_path);
  fs::remove(err_path);
  return outcome;
}

class Golden : public testing::TestWithParam<Case> {};

TEST_P(Golden, WritesExpectedOutput) {
  const Case& test = GetParam();
  const auto expected = [&](const char* extension) {
    const fs::path path = fs::path(test.expectations).concat(extension);
    return fs::exists(path) ? read_file(path) : std::string();
  };
  const std::string status_text = expected(".status");
  const int expected_status = status_text.empty() ? 0 : std::atoi(status_text.c_str());

  const Outcome outcome = run_program(test);
  EXPECT_EQ(outcome.out, expected(".stdout")) << "standard output of " << test.program;
  EXPECT_EQ(outcome.err, expected(".stderr")) << "standard error of " << test.program;
  EXPECT_EQ(outcome.status, expected_status) << "exit status of " << test.program;
}

INSTANTIATE_TEST_SUITE_P(Programs, Golden, testing::ValuesIn(discover()),
                         [](const testing::TestParamInfo<Case>& param_info) { return param_info.param.name; });

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> arguments;
  for (int i = 0; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument.substr(0, 8) == "--skern=") {
      skern_binary = std::string(argument.substr(8));
    } else {
      arguments.push_back(argv[i]);
    }
  }
  int count = static_cast<int>(arguments.size());
  arguments.push_back(nullptr);
  testing::InitGoogleTest(&count, arguments.data());
  if (skern_binary.empty() && !testing::GTEST_FLAG(list_tests)) {
    std::fprintf(stderr, "golden_tests: pass --skern=PATH to the interpreter binary\n");
    return 2;
  }
  return RUN_ALL_TESTS();
}
