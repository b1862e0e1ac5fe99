// The tool's input and output: the whole input as one text without a copy where the
// system allows it, and output written straight from the buffer that holds it.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace corvane::qasm3::cli {

// Input that cannot be read, or output that cannot be written (exit status 2).
class IoError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The whole input of a run. A regular file is mapped into memory: nothing is copied,
// and the pages of a long text can be given back while it is read. Standard input and
// other streams are read into one buffer.
class InputText {
 public:
  // Opens `file`, or standard input for "-"; IoError("cannot read <file>: <reason>").
  explicit InputText(const std::string& file);
  InputText(const InputText&) = delete;
  InputText& operator=(const InputText&) = delete;
  ~InputText() { close(); }

  [[nodiscard]] std::string_view text() const noexcept { return {data_, size_}; }

  // Gives back the memory behind the bytes [begin, end) of a mapped file for now;
  // reading them again reads them from the file. Does nothing for a buffer.
  void evict(std::size_t begin, std::size_t end) const noexcept;

  // Gives back all memory of the text; text() is empty afterwards.
  void close() noexcept;

 private:
  void read_stream(int fd, const std::string& shown);

  const char* data_ = nullptr;
  std::size_t size_ = 0;
  bool mapped_ = false;
  std::string buffer_;
};

// Writes all of `bytes` to standard output; IoError when it cannot.
void write_output(std::string_view bytes);

}  // namespace corvane::qasm3::cli
