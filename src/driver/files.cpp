// Source files and descriptors, read whole and written whole.
#include "driver/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>

#include "model/value.h"

namespace skern {

namespace {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  [[nodiscard]] int get() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

Status write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return Error::io(errno);
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return {};
}

Result<std::string> read_source_fd(int fd) {
  try {
    // A regular file is read into a buffer of its size (and one byte more, to
    // meet the end without growing); anything else grows as it comes.
    std::string text;
    struct stat info {};
    constexpr std::size_t chunk = std::size_t{1} << 16;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
      text.resize(static_cast<std::size_t>(info.st_size) + 1);
    }
    std::size_t filled = 0;
    while (true) {
      if (filled == text.size()) {
        text.resize(std::max(text.size() * 2, filled + chunk));
      }
      const ssize_t got = ::read(fd, text.data() + filled, text.size() - filled);
      if (got < 0) {
        if (errno == EINTR) {
          continue;
        }
        return Error::io(errno);
      }
      if (got == 0) {
        break;
      }
      filled += static_cast<std::size_t>(got);
    }
    text.resize(filled);
    if (!is_valid_utf8(text)) {
      return Error::io_text(std::string(msg::INVALID_UTF8));
    }
    return text;
  } catch (const std::bad_alloc&) {
    return Error::runtime(std::string(msg::OUT_OF_MEMORY));
  }
}

Result<std::string> read_source_file(const char* path) {
  const FileDescriptor file(::open(path, O_RDONLY | O_CLOEXEC));  // NOLINT(cppcoreguidelines-pro-type-vararg)
  if (file.get() < 0) {
    return Error::io(errno);
  }
  return read_source_fd(file.get());
}

}  // namespace skern
