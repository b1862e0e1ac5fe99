#include "tool_io.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "corvane/backend/qasm/text_forms.hpp"

namespace corvane::qasm3::cli {
namespace {

// Closes a file descriptor the tool opened when it goes out of scope.
class OpenFile {
 public:
  explicit OpenFile(int fd) noexcept : fd_(fd) {}
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  ~OpenFile() {
    if (fd_ > STDIN_FILENO) ::close(fd_);
  }
  [[nodiscard]] int get() const noexcept { return fd_; }

 private:
  int fd_;
};

[[noreturn]] void raise_unreadable(const std::string& shown, int error) {
  throw IoError("cannot read " + shown + ": " + std::strerror(error));
}

std::size_t page_size() noexcept {
  static const auto size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  return size;
}

}  // namespace

InputText::InputText(const std::string& file) {
  const bool from_stdin = file == "-";
  const std::string shown = from_stdin ? std::string("standard input") : quoted(file);
  const OpenFile fd(from_stdin ? STDIN_FILENO : ::open(file.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) raise_unreadable(shown, errno);
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) raise_unreadable(shown, errno);
  if (S_ISDIR(info.st_mode)) raise_unreadable(shown, EISDIR);
  // A regular file that reports no size (as files of /proc do) is read as a stream.
  if (S_ISREG(info.st_mode) && info.st_size > 0) {
    const auto size = static_cast<std::size_t>(info.st_size);
    void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd.get(), 0);
    if (map != MAP_FAILED) {
      ::madvise(map, size, MADV_SEQUENTIAL);
      data_ = static_cast<const char*>(map);
      size_ = size;
      mapped_ = true;
      return;
    }
  }
  read_stream(fd.get(), shown);
}

void InputText::read_stream(int fd, const std::string& shown) {
  constexpr std::size_t FIRST_READ = std::size_t{1} << 16;
  std::size_t used = 0;
  buffer_.resize(FIRST_READ);
  while (true) {
    if (used == buffer_.size()) buffer_.resize(buffer_.size() * 2);
    const ::ssize_t got = ::read(fd, buffer_.data() + used, buffer_.size() - used);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      raise_unreadable(shown, errno);
    }
    used += static_cast<std::size_t>(got);
  }
  buffer_.resize(used);
  data_ = buffer_.data();
  size_ = used;
}

void InputText::evict(std::size_t begin, std::size_t end) const noexcept {
  if (!mapped_) return;
  const std::size_t page = page_size();
  begin = (begin + page - 1) / page * page;
  end = end / page * page;
  if (end <= begin) return;
  ::madvise(const_cast<char*>(data_) + begin, end - begin, MADV_DONTNEED);
}

void InputText::close() noexcept {
  if (mapped_) ::munmap(const_cast<char*>(data_), size_);
  std::string().swap(buffer_);
  data_ = nullptr;
  size_ = 0;
  mapped_ = false;
}

void write_output(std::string_view bytes) {
  while (!bytes.empty()) {
    const ::ssize_t wrote = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
    if (wrote < 0) {
      if (errno == EINTR) continue;
      throw IoError(std::string("cannot write output: ") + std::strerror(errno));
    }
    bytes.remove_prefix(static_cast<std::size_t>(wrote));
  }
}

}  // namespace corvane::qasm3::cli
