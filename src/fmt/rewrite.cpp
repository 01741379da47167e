// A file's new contents written beside it and renamed over it.
#include "fmt/rewrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>

#include "driver/files.h"

namespace skern::fmt {

namespace {

// The temporary file until it is renamed: removed if anything fails before.
class Temporary {
 public:
  explicit Temporary(std::string path_template)
      : path_(std::move(path_template)), fd_(::mkstemp(path_.data())), created_(fd_ >= 0) {}
  Temporary(const Temporary&) = delete;
  Temporary& operator=(const Temporary&) = delete;
  ~Temporary() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
    if (created_ && !renamed_) {
      ::unlink(path_.c_str());
    }
  }

  [[nodiscard]] int fd() const { return fd_; }
  [[nodiscard]] const std::string& path() const { return path_; }
  // Closes the file, reporting what a delayed write error would say.
  Status close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 ? Status() : Status(Error::io(errno));
  }
  void renamed() { renamed_ = true; }

 private:
  std::string path_;
  int fd_ = -1;
  bool created_ = false;
  bool renamed_ = false;
};

struct FreeDeleter {
  void operator()(char* text) const { std::free(text); }  // NOLINT(cppcoreguidelines-no-malloc): realpath's buffer
};

}  // namespace

Status replace_file(const char* path, std::string_view text) {
  // The file itself, not a symbolic link to it: the link stays a link.
  const std::unique_ptr<char, FreeDeleter> resolved(::realpath(path, nullptr));
  if (!resolved) {
    return Error::io(errno);
  }
  const std::string target(resolved.get());
  struct stat info {};
  if (::stat(target.c_str(), &info) != 0) {
    return Error::io(errno);
  }
  // Renaming could replace a file that may not be written; it is not.
  if (::access(target.c_str(), W_OK) != 0) {
    return Error::io(errno);
  }
  const std::size_t slash = target.rfind('/');
  Temporary temporary(target.substr(0, slash + 1) + "." + target.substr(slash + 1) + ".skern-fmt-XXXXXX");
  if (temporary.fd() < 0) {
    return Error::io(errno);
  }
  SKERN_TRY(write_all(temporary.fd(), text));
  // The owner and group stay where the user may keep them; only root can
  // give a file away, so a failure here is no failure. Then the mode, which
  // a change of owner may have cut down.
  [[maybe_unused]] const int owned = ::fchown(temporary.fd(), info.st_uid, info.st_gid);
  if (::fchmod(temporary.fd(), info.st_mode & 07777) != 0) {
    return Error::io(errno);
  }
  if (::fsync(temporary.fd()) != 0) {
    return Error::io(errno);
  }
  SKERN_TRY(temporary.close());
  if (::rename(temporary.path().c_str(), target.c_str()) != 0) {
    return Error::io(errno);
  }
  temporary.renamed();
  return {};
}

}  // namespace skern::fmt
